// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {
constexpr mode_t kCreatedFileMode = 0600;
}

std::unique_ptr<BlockStorage> ImageFile::Open(const std::filesystem::path& path, StorageMode mode,
                                              std::string& error) {
  int flags = O_CLOEXEC;
  switch (mode) {
  case StorageMode::ReadOnly: flags |= O_RDONLY; break;
  case StorageMode::ReadWrite: flags |= O_RDWR; break;
  case StorageMode::CreateReadWrite: flags |= O_RDWR | O_CREAT; break;
  }
  int fd = ::open(path.c_str(), flags, kCreatedFileMode);
  if (fd < 0) {
    error = "cannot open " + path.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<BlockStorage>(new ImageFile(fd, mode != StorageMode::ReadOnly));
}

ImageFile::~ImageFile() { ::close(Descriptor); }

int64_t ImageFile::ReadAt(uint64_t offset, void* data, size_t length) {
  auto* at = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(Descriptor, at + done, length - done, off_t(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += size_t(got);
  }
  return int64_t(done);
}

bool ImageFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (!IsWritable) {
    errno = EROFS;
    return false;
  }
  const auto* at = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t put = ::pwrite(Descriptor, at + done, length - done, off_t(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) {
      errno = ENOSPC;
      return false;
    }
    done += size_t(put);
  }
  return true;
}

void ImageFile::StartWriteBack() {
  if (IsWritable) ::sync_file_range(Descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool ImageFile::Sync() { return !IsWritable || ::fsync(Descriptor) == 0; }

bool ImageFile::Resize(uint64_t size) {
  return IsWritable && ::ftruncate(Descriptor, off_t(size)) == 0;
}

uint64_t ImageFile::Size() const {
  // lseek to the end works for files and block devices alike.
  off_t end = ::lseek(Descriptor, 0, SEEK_END);
  return end < 0 ? 0 : uint64_t(end);
}

} // namespace quillo
