// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/MessageQueue.h"

namespace quillo {

namespace {
constexpr const char* kProductCaption = "Quillo Defrag";
}

void MessageQueue::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> guard(Lock);
  // The product name as a caption says nothing on a terminal.
  bool plain = caption.empty() || caption == kProductCaption;
  Messages.push_back(plain ? text : caption + ": " + text);
}

std::vector<std::string> MessageQueue::Take() {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<std::string> taken;
  taken.swap(Messages);
  return taken;
}

} // namespace quillo
