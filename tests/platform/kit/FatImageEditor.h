// SPDX-License-Identifier: GPL-2.0-or-later
// Damages a FAT32 image in memory on purpose: chains, FAT entries and
// directory entries of named files, found through the volume's own layout.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fat/FatLayout.h"

namespace quillo::test {

class FatImageEditor {
public:
  // `bytes` must hold a sound FAT32 image and outlive the editor.
  explicit FatImageEditor(std::vector<uint8_t>& bytes);
  ~FatImageEditor();

  const fat::FatLayout& Layout() const { return Geometry; }
  // The clusters of a file or directory ("Frag/Large/large_000.bin").
  std::vector<uint32_t> Chain(const std::string& path) const;
  // The byte offset of its short directory entry.
  uint64_t EntryOffset(const std::string& path) const;
  uint32_t FatEntry(uint32_t cluster) const;
  // Sets an entry in every FAT copy, or only in `copy`.
  void SetFatEntry(uint32_t cluster, uint32_t value, int copy = -1);
  void SetFirstCluster(const std::string& path, uint32_t cluster);
  // Changes one byte of the name of a directory's ".." entry, so that it
  // reads as a subdirectory called "._" that leads where ".." led.
  void RenameDotDot(const std::string& directory);
  // Points the ".." entry (renamed or not) of a directory at `cluster`.
  void SetDotDotCluster(const std::string& directory, uint32_t cluster);

private:
  struct Lookup;
  Lookup Find(const std::string& path) const;
  // The byte offset of a directory's ".." entry, its second slot.
  uint64_t DotDotOffset(const std::string& directory) const;

  std::vector<uint8_t>& Bytes;
  fat::FatLayout Geometry;
};

} // namespace quillo::test
