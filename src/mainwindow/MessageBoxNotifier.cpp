// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/MessageBoxNotifier.h"

#include <iostream>

namespace quillo {

MessageBoxNotifier::MessageBoxNotifier(WindowDispatcher& dispatcher, UserNotifier& window)
    : Dispatcher(dispatcher), Window(window) {}

void MessageBoxNotifier::ShowMessage(const std::string& text, const std::string& caption) {
  if (Dispatcher.TryRunOnWindowThread([&] { Window.ShowMessage(text, caption); })) return;
  std::cerr << caption << ": " << text << '\n';
}

} // namespace quillo
