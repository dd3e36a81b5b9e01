// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the fuzz targets: a private temporary folder for the
// parsers that read files, and a read-only in-memory device.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BlockDevice.h"

namespace quillo::fuzz {

// A folder of the process's own under the temporary folder, removed when
// the process ends normally. Files the parsers read are written only here.
class TempFolder {
public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillo-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    Folder = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return Folder; }

private:
  std::filesystem::path Folder;
};

inline void WriteBytes(const std::filesystem::path& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    std::abort();
  }
}

// The fuzzer's bytes at the start of a device of `size` bytes that reads
// zeros beyond them, so that a large volume costs no memory. Writes are
// refused: the code under test only reads.
class SparseDevice final : public BlockDevice {
public:
  SparseDevice(const uint8_t* data, size_t length, uint64_t size)
      : Bytes(data, data + length), DeviceBytes(std::max<uint64_t>(size, length)) {}

  uint64_t Size() const override { return DeviceBytes; }
  bool ReadOnly() const override { return true; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset > DeviceBytes || length > DeviceBytes - offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, length);
    if (offset < Bytes.size()) {
      size_t take = std::min<uint64_t>(length, Bytes.size() - offset);
      std::memcpy(out, Bytes.data() + offset, take);
    }
    return true;
  }
  bool WriteAt(uint64_t, const void*, size_t) override { return false; }
  bool Sync() override { return true; }

private:
  std::vector<uint8_t> Bytes;
  uint64_t DeviceBytes;
};

// Stops the fuzzer with a message when a promise of the code under test is
// broken; libFuzzer keeps the input that did it.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

} // namespace quillo::fuzz
