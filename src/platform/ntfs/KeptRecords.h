// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillo {

// The MFT records in use that the opening pass read and checked, kept (up
// to a bound on memory) so that the analysis walk is answered without
// reading the MFT a second time. Only what a record answer carries is kept:
// the record up to the end of its attributes, fixups applied. Records past
// the bound are read again when asked for. Released as soon as a write
// session begins, since moves rewrite records.
class KeptRecords {
public:
  // Enough for the records of about 120,000 files.
  static constexpr size_t kDefaultBound = size_t(64) << 20;

  KeptRecords() = default;
  ~KeptRecords();
  KeptRecords(const KeptRecords&) = delete;
  KeptRecords& operator=(const KeptRecords&) = delete;

  // Forgets everything and makes room for at most `bound` bytes.
  void Reset(uint64_t recordCount, size_t answerBytes, size_t bound);
  // Keeps a record that passed its checks, while the bound allows.
  void Keep(uint64_t record, const uint8_t* data, size_t bytesInUse);
  // The kept record and its kept length, or null.
  const uint8_t* Find(uint64_t record, size_t& length) const;
  void Release();
  size_t Bytes() const { return Used; }

private:
  static constexpr uint32_t kNotKept = UINT32_MAX;

  struct Slot {
    uint32_t Offset = kNotKept;
    uint32_t Length = 0;
  };
  std::vector<Slot> Slots;
  uint8_t* Pool = nullptr; // mapped for Capacity bytes, Used of them filled
  size_t Capacity = 0;
  size_t Limit = 0; // of Used
  size_t Used = 0;
  size_t AnswerBytes = 0;
};

} // namespace quillo
