// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/LibraryDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "platform/BlockDevice.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

constexpr int kDeviceBlockSize = 4096;
constexpr mode_t kDeviceFileMode = S_IFREG | 0600;

LibraryDevice& Bridge(ntfs_device* dev) { return *static_cast<LibraryDevice*>(dev->d_private); }

int DeviceOpen(ntfs_device* dev, int flags) {
  if (NDevOpen(dev)) {
    errno = EBUSY;
    return -1;
  }
  bool wantsWrite = (flags & O_ACCMODE) != O_RDONLY;
  if (wantsWrite && !Bridge(dev).GetStorage().Writable()) {
    errno = EROFS;
    return -1;
  }
  if (!wantsWrite) NDevSetReadOnly(dev);
  NDevSetOpen(dev);
  return 0;
}

int DeviceClose(ntfs_device* dev) {
  if (!NDevOpen(dev)) {
    errno = EBADF;
    return -1;
  }
  NDevClearOpen(dev);
  return 0;
}

s64 DeviceSeek(ntfs_device* dev, s64 offset, int whence) {
  LibraryDevice& bridge = Bridge(dev);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = int64_t(bridge.Position);
  else if (whence == SEEK_END) base = int64_t(bridge.GetStorage().Size());
  else if (whence != SEEK_SET) {
    errno = EINVAL;
    return -1;
  }
  if (base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  bridge.Position = uint64_t(base + offset);
  return s64(bridge.Position);
}

s64 DevicePread(ntfs_device* dev, void* buf, s64 count, s64 offset) {
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  return Bridge(dev).Read(uint64_t(offset), buf, size_t(count));
}

s64 DevicePwrite(ntfs_device* dev, const void* buf, s64 count, s64 offset) {
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  if (NDevReadOnly(dev)) {
    errno = EROFS;
    return -1;
  }
  return Bridge(dev).LibraryWrite(uint64_t(offset), buf, size_t(count));
}

s64 DeviceRead(ntfs_device* dev, void* buf, s64 count) {
  LibraryDevice& bridge = Bridge(dev);
  s64 got = DevicePread(dev, buf, count, s64(bridge.Position));
  if (got > 0) bridge.Position += uint64_t(got);
  return got;
}

s64 DeviceWrite(ntfs_device* dev, const void* buf, s64 count) {
  LibraryDevice& bridge = Bridge(dev);
  s64 put = DevicePwrite(dev, buf, count, s64(bridge.Position));
  if (put > 0) bridge.Position += uint64_t(put);
  return put;
}

// Durability is the business of the commit, not of the library's syncs.
int DeviceSync(ntfs_device*) { return 0; }

int DeviceStat(ntfs_device* dev, struct stat* buf) {
  std::memset(buf, 0, sizeof(*buf));
  buf->st_mode = kDeviceFileMode;
  buf->st_size = off_t(Bridge(dev).GetStorage().Size());
  buf->st_blksize = kDeviceBlockSize;
  return 0;
}

int DeviceIoctl(ntfs_device*, unsigned long, void*) {
  errno = ENOTTY;
  return -1;
}

ntfs_device_operations kOperations = {
    DeviceOpen, DeviceClose, DeviceSeek,  DeviceRead, DeviceWrite,
    DevicePread, DevicePwrite, DeviceSync, DeviceStat, DeviceIoctl,
};

} // namespace

LibraryDevice::LibraryDevice(BlockStorage& storage, std::string name)
    : Storage(&storage), Name(std::move(name)) {}

ntfs_device* LibraryDevice::NewDevice() {
  Position = 0;
  return ntfs_device_alloc(Name.c_str(), 0, &kOperations, this);
}

int64_t LibraryDevice::Read(uint64_t offset, void* data, size_t length) {
  return Held.Read(*Storage, offset, data, length);
}

void LibraryDevice::NoteUnsyncedData(uint64_t bytes) {
  UnsyncedData = true;
  UnsentBytes += bytes;
  if (UnsentBytes >= kWriteBackBytes) {
    Storage->StartWriteBack();
    UnsentBytes = 0;
  }
}

int64_t LibraryDevice::ReadData(uint64_t offset, void* data, size_t length) {
  return Held.Read(*Storage, offset, data, length, false);
}

bool LibraryDevice::ReadDataPieces(std::span<const ReadPiece> pieces) {
  bool held = false;
  for (const ReadPiece& piece : pieces) held = held || Held.Holds(piece.Offset, piece.Length);
  if (!held) return Storage->ReadPieces(pieces);
  for (const ReadPiece& piece : pieces)
    if (ReadData(piece.Offset, piece.Buffer, piece.Length) != int64_t(piece.Length)) return false;
  return true;
}

int64_t LibraryDevice::LibraryWrite(uint64_t offset, const void* data, size_t length) {
  switch (Writes) {
  case LibraryWrites::Refuse:
    errno = EROFS;
    return -1;
  case LibraryWrites::Discard:
    return int64_t(length);
  case LibraryWrites::Hold:
    if (offset + length > Storage->Size()) {
      errno = ENOSPC;
      return -1;
    }
    return Held.Write(*Storage, offset, data, length) ? int64_t(length) : -1;
  }
  return -1;
}

} // namespace quillo
