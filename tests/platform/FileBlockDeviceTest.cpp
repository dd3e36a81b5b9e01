// SPDX-License-Identifier: GPL-2.0-or-later
// Copies within a device: an image file (whole or a partition window of it)
// copies in the kernel; the FAT device's held directory entries travel with
// the bytes that hold them. Gathered reads: many pieces at once, batched or
// one by one, with the same bytes and the same refusals.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <filesystem>
#include <fstream>
#include <vector>

#include "LoopDevice.h"
#include "TestSupport.h"
#include "platform/FileBlockDevice.h"
#include "platform/ScatterReader.h"
#include "platform/fat/HoldingBlockDevice.h"

namespace quillo::test {
namespace {

constexpr size_t kImageBytes = 4 << 20;
constexpr uint32_t kSectorBytes = 512;

std::vector<uint8_t> Pattern() {
  std::vector<uint8_t> bytes(kImageBytes);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + i / 4099);
  return bytes;
}

std::filesystem::path WriteImage(const TempDir& dir, const std::vector<uint8_t>& bytes) {
  std::filesystem::path path = dir.Path() / "image.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::vector<uint8_t> ReadImage(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<FileBlockDevice> Open(const std::filesystem::path& path, uint64_t window,
                                      bool readOnly) {
  int fd = open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  return std::make_unique<FileBlockDevice>(fd, window, kImageBytes - window, readOnly);
}

// Pieces of a fragmented file: small and large, in no order, some
// overlapping, more than one batch of them.
std::vector<ReadPiece> ScatteredPieces(uint64_t span, std::vector<std::vector<uint8_t>>& buffers) {
  constexpr size_t kPieces = 700;
  constexpr size_t kLargest = 48 << 10;
  std::mt19937 random(20261211);
  std::vector<ReadPiece> pieces;
  buffers.assign(kPieces, {});
  for (size_t i = 0; i < kPieces; ++i) {
    size_t length = 1 + random() % (i % 7 == 0 ? kLargest : 4096);
    uint64_t offset = random() % (span - length);
    buffers[i].assign(length, 0);
    pieces.push_back({offset, buffers[i].data(), length});
  }
  return pieces;
}

struct CopyCase {
  uint64_t Window; // where the device starts in the file
  uint64_t From;
  uint64_t To;
  size_t Length;
};

class FileBlockDeviceCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(FileBlockDeviceCopy, CopiesWithinItsWindowAndTouchesNothingElse) {
  const CopyCase& c = GetParam();
  TempDir dir;
  std::vector<uint8_t> expected = Pattern();
  std::filesystem::path path = WriteImage(dir, expected);
  {
    auto device = Open(path, c.Window, false);
    EXPECT_TRUE(device->CopiesWithin());
    ASSERT_TRUE(device->CopyWithin(c.From, c.To, c.Length));
    ASSERT_TRUE(device->Sync());
  }
  std::memmove(expected.data() + c.Window + c.To, expected.data() + c.Window + c.From, c.Length);
  EXPECT_TRUE(ReadImage(path) == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, FileBlockDeviceCopy,
    ::testing::Values(CopyCase{0, 0, 2 << 20, 4096}, CopyCase{0, 8192, 1 << 20, (1 << 20) + 512},
                      CopyCase{1 << 20, 512, 2 << 20, 3 * 4096},
                      CopyCase{4096, (2 << 20) + 512, 4096, 1 << 20}));

TEST(FileBlockDeviceCopy, ABlockDeviceCopiesThroughItsBufferAndGathersReads) {
  TempDir dir;
  std::vector<uint8_t> expected = Pattern();
  std::filesystem::path path = WriteImage(dir, expected);
  {
    LoopDevice loop(path);
    if (!loop.Attached()) GTEST_SKIP() << "no loop device (needs root)";
    constexpr uint64_t kWindow = 4096;
    int fd = open(loop.DevicePath().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FileBlockDevice device(fd, kWindow, kImageBytes - kWindow, false);
    EXPECT_FALSE(device.CopiesWithin());
    // The kernel does not copy within a block device: each copy is a read
    // and a write, larger and smaller than the one before.
    for (const CopyCase& c : {CopyCase{0, 0, 2 << 20, 3 * 4096}, CopyCase{0, 8192, 1 << 20, 256 << 10},
                              CopyCase{0, 3 << 20, 4096, 512}}) {
      ASSERT_TRUE(device.CopyWithin(c.From, c.To, c.Length));
      std::memmove(expected.data() + kWindow + c.To, expected.data() + kWindow + c.From, c.Length);
    }
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<ReadPiece> pieces = ScatteredPieces(device.Size(), buffers);
    ASSERT_TRUE(device.ReadPieces(pieces));
    for (size_t i = 0; i < pieces.size(); ++i) {
      const uint8_t* at = expected.data() + kWindow + pieces[i].Offset;
      ASSERT_TRUE(std::equal(at, at + pieces[i].Length, buffers[i].begin())) << "piece " << i;
    }
    ASSERT_TRUE(device.Sync());
  }
  EXPECT_TRUE(ReadImage(path) == expected);
}

TEST(FileBlockDeviceCopyRefusal, ReadOnlyOrOutsideTheWindowChangesNothing) {
  TempDir dir;
  std::vector<uint8_t> original = Pattern();
  std::filesystem::path path = WriteImage(dir, original);
  uint64_t window = 1 << 20;
  auto readOnly = Open(path, window, true);
  EXPECT_FALSE(readOnly->CopyWithin(0, 8192, 4096));
  auto writable = Open(path, window, false);
  uint64_t size = writable->Size();
  EXPECT_FALSE(writable->CopyWithin(0, size - 4096, 8192));
  EXPECT_FALSE(writable->CopyWithin(size - 4096, 0, 8192));
  writable.reset();
  EXPECT_TRUE(ReadImage(path) == original);
}

fat::DirEntry EntryOf(uint8_t fill, uint32_t cluster) {
  fat::DirEntry entry;
  std::memset(&entry, fill, sizeof(entry));
  entry.SetFirstCluster(cluster);
  return entry;
}

TEST(HoldingBlockDeviceCopy, HeldEntriesTravelWithTheirBytesAndFollowWritesOverThem) {
  TempDir dir;
  std::vector<uint8_t> original = Pattern();
  std::filesystem::path path = WriteImage(dir, original);
  auto file = Open(path, 0, false);
  fat::HoldingBlockDevice device(*file, kSectorBytes);
  constexpr uint64_t kSource = 64 << 10;
  constexpr uint64_t kTarget = 1 << 20;
  constexpr size_t kLength = 16 << 10;
  constexpr uint64_t kInSource = kSource + 3 * fat::kDirEntryBytes;
  constexpr uint64_t kInTarget = kTarget + 40 * fat::kDirEntryBytes;
  fat::DirEntry held = EntryOf(0x5A, 1234);
  device.Hold(kInSource, held, fat::HoldingBlockDevice::kLinkStage);
  device.Hold(kInTarget, EntryOf(0xA5, 99), fat::HoldingBlockDevice::kLinkStage);

  ASSERT_TRUE(device.CopyWithin(kSource, kTarget, kLength));

  // The copy reads the held entry; the disk under it is not written yet.
  std::vector<uint8_t> copied(kLength);
  ASSERT_TRUE(device.ReadAt(kTarget, copied.data(), kLength));
  std::vector<uint8_t> expected(original.begin() + kSource, original.begin() + kSource + kLength);
  std::memcpy(expected.data() + (kInSource - kSource), &held, sizeof(held));
  EXPECT_TRUE(copied == expected);
  std::vector<uint8_t> disk = ReadImage(path);
  EXPECT_EQ(std::memcmp(disk.data() + kInSource, original.data() + kInSource, sizeof(held)), 0);

  // Releasing brings the copied bytes, not the entry held before the copy.
  ASSERT_TRUE(device.Release(fat::HoldingBlockDevice::kLinkStage));
  disk = ReadImage(path);
  EXPECT_EQ(std::memcmp(disk.data() + kTarget, expected.data(), kLength), 0);
  EXPECT_EQ(std::memcmp(disk.data() + kInSource, &held, sizeof(held)), 0);
}

class GatheredRead : public ::testing::TestWithParam<ScatterReader::Way> {};

TEST_P(GatheredRead, EveryPieceGetsItsBytesAndAPieceAfterTheEndFails) {
  TempDir dir;
  std::vector<uint8_t> image = Pattern();
  std::filesystem::path path = WriteImage(dir, image);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ScatterReader reader(GetParam());
  for (uint64_t base : {uint64_t(0), uint64_t(12345)}) {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<ReadPiece> pieces = ScatteredPieces(kImageBytes - base, buffers);
    ASSERT_TRUE(reader.Read(fd, base, pieces));
    for (size_t i = 0; i < pieces.size(); ++i) {
      const uint8_t* at = image.data() + base + pieces[i].Offset;
      ASSERT_TRUE(std::equal(at, at + pieces[i].Length, buffers[i].begin())) << "piece " << i;
    }
    // The last piece reaches one byte past the end: the whole read fails.
    pieces.back().Offset = kImageBytes - base - pieces.back().Length + 1;
    errno = 0;
    EXPECT_FALSE(reader.Read(fd, base, pieces));
    EXPECT_EQ(errno, EIO);
  }
  close(fd);
  std::vector<uint8_t> byte(1);
  std::vector<ReadPiece> two{{0, byte.data(), 1}, {1, byte.data(), 1}};
  errno = 0;
  EXPECT_FALSE(reader.Read(fd, 0, two));
  EXPECT_EQ(errno, EBADF);
}

INSTANTIATE_TEST_SUITE_P(Ways, GatheredRead,
                         ::testing::Values(ScatterReader::Way::Batched, ScatterReader::Way::OneByOne),
                         [](const auto& info) {
                           return info.param == ScatterReader::Way::Batched ? "Batched" : "OneByOne";
                         });

TEST(GatheredDeviceRead, AWindowReadsItsOwnBytesRefusesPiecesOutsideAndSeesHeldEntries) {
  TempDir dir;
  std::vector<uint8_t> image = Pattern();
  std::filesystem::path path = WriteImage(dir, image);
  constexpr uint64_t kWindow = 1 << 20;
  auto file = Open(path, kWindow, false);
  std::vector<uint8_t> first(4096), second(3 * 4096);
  std::vector<ReadPiece> pieces{{2 << 20, first.data(), first.size()},
                                {8192, second.data(), second.size()}};
  ASSERT_TRUE(file->ReadPieces(pieces));
  EXPECT_EQ(std::memcmp(first.data(), image.data() + kWindow + (2 << 20), first.size()), 0);
  EXPECT_EQ(std::memcmp(second.data(), image.data() + kWindow + 8192, second.size()), 0);
  std::vector<ReadPiece> outside{pieces[0], {file->Size() - 4096, second.data(), second.size()}};
  EXPECT_FALSE(file->ReadPieces(outside));

  // A held entry is read as held, by any piece that covers it.
  fat::HoldingBlockDevice device(*file, kSectorBytes);
  constexpr uint64_t kHeldAt = 8192 + 5 * fat::kDirEntryBytes;
  fat::DirEntry held = EntryOf(0x3C, 777);
  device.Hold(kHeldAt, held, fat::HoldingBlockDevice::kLinkStage);
  ASSERT_TRUE(device.ReadPieces(pieces));
  EXPECT_EQ(std::memcmp(second.data() + (kHeldAt - 8192), &held, sizeof(held)), 0);
  EXPECT_EQ(std::memcmp(first.data(), image.data() + kWindow + (2 << 20), first.size()), 0);
}

} // namespace
} // namespace quillo::test
