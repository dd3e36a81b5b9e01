// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

namespace quillo {

// A job's completion queue: the job thread pushes a NotifyCode when a command
// ends normally, the UI thread takes them, oldest first. The lock is held for
// one append or one removal only.
class TNotify {
public:
  void Push(uint8_t code);
  // The oldest code, removed; 0 (ncNone) when the queue is empty.
  uint8_t Pop();

private:
  std::mutex Lock;
  // Pointer-sized entries; only the low byte is meaningful.
  std::deque<std::intptr_t> Codes;
};

} // namespace quillo
