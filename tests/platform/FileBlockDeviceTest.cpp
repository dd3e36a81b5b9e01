// SPDX-License-Identifier: GPL-2.0-or-later
// Copies within a device: an image file (whole or a partition window of it)
// copies in the kernel; the FAT device's held directory entries travel with
// the bytes that hold them.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "TestSupport.h"
#include "platform/FileBlockDevice.h"
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

} // namespace
} // namespace quillo::test
