// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "engine/UserNotifier.h"
#include "mainwindow/WindowDispatcher.h"

namespace quillo {

// The job threads' way to the user: the message is shown by the window's
// message box on the window thread, and the job thread waits until it has
// been dismissed. Once the window has closed its hand-over the message goes
// to stderr instead.
class MessageBoxNotifier final : public UserNotifier {
public:
  // Both must outlive the notifier; `window` is used on the window thread only.
  MessageBoxNotifier(WindowDispatcher& dispatcher, UserNotifier& window);
  void ShowMessage(const std::string& text, const std::string& caption) override;

private:
  WindowDispatcher& Dispatcher;
  UserNotifier& Window;
};

} // namespace quillo
