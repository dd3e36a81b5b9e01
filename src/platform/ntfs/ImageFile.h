// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/ntfs/BlockStorage.h"

namespace quillo {

// BlockStorage over a file descriptor: an image file, a partition, or a
// journal file.
class ImageFile final : public BlockStorage {
public:
  static std::unique_ptr<BlockStorage> Open(const std::filesystem::path& path, StorageMode mode,
                                            std::string& error);
  ~ImageFile() override;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override;
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override;
  void StartWriteBack() override;
  bool Resize(uint64_t size) override;
  uint64_t Size() const override;
  bool Writable() const override { return IsWritable; }

private:
  ImageFile(int fd, bool writable) : Descriptor(fd), IsWritable(writable) {}
  int Descriptor;
  bool IsWritable;
};

} // namespace quillo
