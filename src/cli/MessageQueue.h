// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/UserNotifier.h"

namespace quillo {

// The command-line tool's user notifier, one per volume. Job threads leave
// their messages here; the main loop prints them to standard error between
// two progress updates, so that they never cut through a progress line.
class MessageQueue final : public UserNotifier {
public:
  void ShowMessage(const std::string& text, const std::string& caption) override;
  std::vector<std::string> Take();

private:
  std::mutex Lock;
  std::vector<std::string> Messages;
};

} // namespace quillo
