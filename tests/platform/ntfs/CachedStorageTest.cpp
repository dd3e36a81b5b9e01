// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/CachedStorage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace quillo {
namespace {

// Plain bytes; a write can be made to fail after taking its first half, as a
// device that fails mid-request leaves it.
class FlakyStorage final : public BlockStorage {
public:
  explicit FlakyStorage(std::vector<uint8_t>& bytes) : Bytes(bytes) {}
  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    ++Reads;
    if (offset >= Bytes.size()) return 0;
    size_t take = std::min<size_t>(length, Bytes.size() - offset);
    std::memcpy(data, Bytes.data() + offset, take);
    return int64_t(take);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    if (offset + length > Bytes.size()) return false;
    size_t take = FailNext ? length / 2 : length;
    std::memcpy(Bytes.data() + offset, data, take);
    if (FailNext) {
      FailNext = false;
      return false;
    }
    return true;
  }
  bool Sync() override { return true; }
  bool Resize(uint64_t) override { return false; }
  uint64_t Size() const override { return Bytes.size(); }
  bool Writable() const override { return true; }

  std::vector<uint8_t>& Bytes;
  bool FailNext = false;
  int Reads = 0;
};

// The size is not a multiple of the block, so the last block is short.
constexpr size_t kStorageBytes = 37 * CachedStorage::kBlockBytes + 1234;

TEST(CachedStorage, ReadsAlwaysGiveWhatTheStorageHoldsThroughWritesFailuresAndEvictions) {
  std::mt19937 random(20261211);
  std::vector<uint8_t> bytes(kStorageBytes);
  for (uint8_t& byte : bytes) byte = uint8_t(random());
  auto flaky = std::make_unique<FlakyStorage>(bytes);
  FlakyStorage* below = flaky.get();
  CachedStorage cached(std::move(flaky), 5); // few blocks: evictions all the time

  auto offsetNearEnd = [&]() -> uint64_t {
    return random() % 4 == 0 ? kStorageBytes - random() % (2 * CachedStorage::kBlockBytes)
                             : random() % kStorageBytes;
  };
  for (int step = 0; step < 20000; ++step) {
    uint64_t offset = offsetNearEnd();
    size_t length = random() % 3 == 0 ? 1 + random() % 3 * CachedStorage::kBlockBytes
                                      : 1 + random() % 1100;
    switch (random() % 3) {
    case 0: {
      std::vector<uint8_t> data(length);
      for (uint8_t& byte : data) byte = uint8_t(random());
      below->FailNext = random() % 10 == 0;
      bool expected = !below->FailNext;
      if (offset + length > kStorageBytes) {
        below->FailNext = false;
        expected = false;
      }
      ASSERT_EQ(cached.WriteAt(offset, data.data(), length), expected) << "step " << step;
      break;
    }
    default: {
      std::vector<uint8_t> got(length, 0xEE);
      bool metadata = random() % 2 == 0;
      int64_t read = metadata ? cached.ReadMetadataAt(offset, got.data(), length)
                              : cached.ReadAt(offset, got.data(), length);
      size_t want = offset >= kStorageBytes ? 0 : std::min<size_t>(length, kStorageBytes - offset);
      ASSERT_EQ(read, int64_t(want)) << "step " << step;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + want, bytes.begin() + offset))
          << "step " << step << " offset " << offset << " length " << length;
    }
    }
  }
}

TEST(CachedStorage, ByteByByteReadsOfABlockReachTheStorageOnce) {
  std::vector<uint8_t> bytes(kStorageBytes, 0x5A);
  auto flaky = std::make_unique<FlakyStorage>(bytes);
  FlakyStorage* below = flaky.get();
  CachedStorage cached(std::move(flaky));
  uint64_t start = 3 * CachedStorage::kBlockBytes;
  for (uint64_t at = start; at < start + CachedStorage::kBlockBytes; ++at) {
    uint8_t byte = 0;
    ASSERT_EQ(cached.ReadAt(at, &byte, 1), 1);
  }
  EXPECT_EQ(below->Reads, 1);
  EXPECT_EQ(cached.Misses(), 1u);
  // Whole blocks and more are file data: not kept.
  std::vector<uint8_t> data(CachedStorage::kBlockBytes);
  ASSERT_EQ(cached.ReadAt(start, data.data(), data.size()), int64_t(data.size()));
  ASSERT_EQ(cached.ReadAt(start, data.data(), data.size()), int64_t(data.size()));
  EXPECT_EQ(below->Reads, 3);
  // Metadata reads of several blocks are kept: the MFT's bitmap is read
  // whole after every move.
  std::vector<uint8_t> bitmap(3 * CachedStorage::kBlockBytes + 100);
  for (int round = 0; round < 3; ++round)
    ASSERT_EQ(cached.ReadMetadataAt(start + 7, bitmap.data(), bitmap.size()), int64_t(bitmap.size()));
  EXPECT_EQ(below->Reads, 3 + 4 - 1); // the first block was kept already
}

} // namespace
} // namespace quillo
