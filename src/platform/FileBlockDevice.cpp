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
    : Fd(fd), Offset(offset), Length(length), IsReadOnly(readOnly) {}

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

bool FileBlockDevice::Sync() {
  if (IsReadOnly) return true;
  while (fdatasync(Fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

} // namespace quillo
