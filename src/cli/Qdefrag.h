// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace quillo {

// Exit statuses of qdefrag.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// The whole tool: the arguments without the program name.
int RunQdefrag(const std::vector<std::string>& arguments);

} // namespace quillo
