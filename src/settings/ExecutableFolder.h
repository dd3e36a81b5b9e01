// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace quillo {

// The folder of the running executable; empty when it cannot be found.
std::filesystem::path ExecutableFolder();

} // namespace quillo
