// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <stdexcept>

namespace quillo {

// A command line the tool cannot make sense of (exit status 2).
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace quillo
