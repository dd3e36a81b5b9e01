// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace quillo {

// Where a message for the user goes: a message box in the window, stderr in
// the command-line tool, a recorder in tests. ShowMessage returns when the
// user has dismissed it.
class UserNotifier {
public:
  virtual ~UserNotifier() = default;
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

} // namespace quillo
