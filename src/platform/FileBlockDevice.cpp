// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/FileBlockDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillo {

uint64_t DescriptorSize(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return 0;
  if (S_ISREG(info.st_mode)) return uint64_t(info.st_size);
  if (S_ISBLK(info.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
  }
  return 0;
}

FileBlockDevice::FileBlockDevice(int fd, uint64_t offset, uint64_t length, bool readOnly)
    : Fd(fd), Offset(offset), Length(length), IsReadOnly(readOnly) {
  struct stat info {};
  KernelCopies = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

FileBlockDevice::~FileBlockDevice() {
  if (Fd >= 0) close(Fd);
}

std::unique_ptr<FileBlockDevice> FileBlockDevice::OpenForProbe(const std::string& path,
                                                               uint64_t offset, uint64_t length) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  uint64_t size = DescriptorSize(fd);
  if (length == 0) length = size > offset ? size - offset : 0;
  return std::make_unique<FileBlockDevice>(fd, offset, length, true);
}

bool FileBlockDevice::InRange(uint64_t offset, size_t length) const {
  return offset <= Length && length <= Length - offset;
}

bool FileBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!InRange(offset, length)) return false;
  auto* at = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    ssize_t done = pread(Fd, at, length, off_t(Offset + offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    offset += uint64_t(done);
    length -= size_t(done);
  }
  return true;
}

bool FileBlockDevice::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (IsReadOnly || !InRange(offset, length)) return false;
  auto* at = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t done = pwrite(Fd, at, length, off_t(Offset + offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    offset += uint64_t(done);
    length -= size_t(done);
  }
  return true;
}

bool FileBlockDevice::CopyWithin(uint64_t from, uint64_t to, size_t length) {
  if (IsReadOnly || !InRange(from, length) || !InRange(to, length)) return false;
  // Within an image file the kernel copies from page cache to page cache,
  // one copy instead of a read and a write through our memory.
  auto in = loff_t(Offset + from);
  auto out = loff_t(Offset + to);
  size_t done = 0;
  while (KernelCopies && done < length) {
    ssize_t copied = copy_file_range(Fd, &in, Fd, &out, length - done, 0);
    if (copied < 0 && errno == EINTR) continue;
    // Some file systems cannot, for good: they take the plain way from now
    // on. Other failures take it for what is left.
    if (copied < 0 && (errno == EINVAL || errno == EXDEV || errno == EOPNOTSUPP ||
                       errno == ENOSYS || errno == EBADF))
      KernelCopies = false;
    if (copied <= 0) break;
    done += size_t(copied);
  }
  return done == length || BlockDevice::CopyWithin(from + done, to + done, length - done);
}

bool FileBlockDevice::ReadPieces(std::span<const ReadPiece> pieces) {
  for (const ReadPiece& piece : pieces)
    if (!InRange(piece.Offset, piece.Length)) return false;
  return Scatter.Read(Fd, Offset, pieces);
}

void FileBlockDevice::StartWriteBack() {
  if (IsReadOnly) return;
  // Only the window this device covers; failure is harmless (Sync decides).
  sync_file_range(Fd, off_t(Offset), off_t(Length), SYNC_FILE_RANGE_WRITE);
}

bool FileBlockDevice::Sync() {
  if (IsReadOnly) return true;
  while (fdatasync(Fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

} // namespace quillo
