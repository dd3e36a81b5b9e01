// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/KeptRecords.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace quillo {

namespace {
// Huge pages make filling tens of megabytes cost a few hundred page faults
// instead of thousands.
constexpr size_t kHugePageBytes = size_t(2) << 20;
} // namespace

KeptRecords::~KeptRecords() { Release(); }

void KeptRecords::Reset(uint64_t recordCount, size_t answerBytes, size_t bound) {
  Release();
  AnswerBytes = answerBytes;
  // Offsets into the pool are 32-bit.
  Limit = size_t(std::min<uint64_t>({bound, recordCount * answerBytes, kNotKept}));
  if (Limit == 0) return;
  Capacity = (Limit + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  void* memory = mmap(nullptr, Capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    // Without room to keep them, records are simply read again.
    Capacity = 0;
    Limit = 0;
    return;
  }
  madvise(memory, Capacity, MADV_HUGEPAGE);
  Pool = static_cast<uint8_t*>(memory);
  Slots.resize(size_t(recordCount));
}

void KeptRecords::Keep(uint64_t record, const uint8_t* data, size_t bytesInUse) {
  if (record >= Slots.size()) return;
  size_t length = std::min(bytesInUse, AnswerBytes);
  if (Used + length > Limit) return;
  Slots[size_t(record)] = {uint32_t(Used), uint32_t(length)};
  std::memcpy(Pool + Used, data, length);
  Used += length;
}

const uint8_t* KeptRecords::Find(uint64_t record, size_t& length) const {
  if (record >= Slots.size() || Slots[size_t(record)].Offset == kNotKept) return nullptr;
  const Slot& slot = Slots[size_t(record)];
  length = slot.Length;
  return Pool + slot.Offset;
}

void KeptRecords::Release() {
  std::vector<Slot>().swap(Slots);
  if (Pool) munmap(Pool, Capacity);
  Pool = nullptr;
  Capacity = 0;
  Limit = 0;
  Used = 0;
}

} // namespace quillo
