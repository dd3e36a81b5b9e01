// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/BlockDevice.h"
#include "platform/ScatterReader.h"

namespace quillo {

// A window [offset, offset + length) of an open file descriptor: a whole
// image, a block device, or one partition of either. It owns the
// descriptor, and with it any lock taken on it.
class FileBlockDevice final : public BlockDevice {
public:
  FileBlockDevice(int fd, uint64_t offset, uint64_t length, bool readOnly);
  ~FileBlockDevice() override;
  FileBlockDevice(const FileBlockDevice&) = delete;
  FileBlockDevice& operator=(const FileBlockDevice&) = delete;

  // Opens an image or device read-only, without locks; for quick probes.
  // Null when it cannot be opened.
  static std::unique_ptr<FileBlockDevice> OpenForProbe(const std::string& path, uint64_t offset,
                                                       uint64_t length);

  uint64_t Size() const override { return Length; }
  bool ReadOnly() const override { return IsReadOnly; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override;
  void StartWriteBack() override;
  bool CopyWithin(uint64_t from, uint64_t to, size_t length) override;
  bool CopiesWithin() const override { return KernelCopies; }
  bool ReadPieces(std::span<const ReadPiece> pieces) override;
  int Descriptor() const { return Fd; }

private:
  bool InRange(uint64_t offset, size_t length) const;

  int Fd;
  uint64_t Offset;
  uint64_t Length;
  bool IsReadOnly;
  // Set for image files; cleared once the kernel cannot copy within this
  // descriptor. Block devices never can.
  bool KernelCopies = false;
  ScatterReader Scatter;
};

// The size in bytes of an open image or block device; 0 when unknown.
uint64_t DescriptorSize(int fd);

} // namespace quillo
