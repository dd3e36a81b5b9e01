// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobs/DefragNotify.h"

#include "engine/DefragDefine.h"

namespace quillo {

namespace {
constexpr std::intptr_t kCodeMask = 0xFF;
}

void TNotify::Push(uint8_t code) {
  std::lock_guard<std::mutex> guard(Lock);
  Codes.push_back(std::intptr_t(code));
}

uint8_t TNotify::Pop() {
  std::lock_guard<std::mutex> guard(Lock);
  if (Codes.empty()) return ncNone;
  std::intptr_t code = Codes.front();
  Codes.pop_front();
  return uint8_t(code & kCodeMask);
}

} // namespace quillo
