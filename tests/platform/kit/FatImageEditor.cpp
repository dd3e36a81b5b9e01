// SPDX-License-Identifier: GPL-2.0-or-later
#include "FatImageEditor.h"

#include <cstring>
#include <stdexcept>

#include "engine/TextCodec.h"
#include "platform/fat/FatNamespace.h"
#include "platform/fat/FatTable.h"

namespace quillo::test {

namespace {

// "." is slot 0 of a directory, ".." slot 1.
constexpr uint64_t kDotDotSlot = 1;
// ".." becomes "._", a name a subdirectory may have.
constexpr uint8_t kRenamedDotDotByte = '_';

// Reads from a byte vector the editor changes under it.
class VectorDevice final : public BlockDevice {
public:
  explicit VectorDevice(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}
  uint64_t Size() const override { return Bytes.size(); }
  bool ReadOnly() const override { return true; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset + length > Bytes.size()) return false;
    std::memcpy(buffer, Bytes.data() + offset, length);
    return true;
  }
  bool WriteAt(uint64_t, const void*, size_t) override { return false; }
  bool Sync() override { return true; }

private:
  const std::vector<uint8_t>& Bytes;
};

std::vector<std::u16string> Components(const std::string& path) {
  std::vector<std::u16string> out;
  size_t at = 0;
  while (at <= path.size()) {
    size_t next = path.find('/', at);
    if (next == std::string::npos) next = path.size();
    std::u16string wide;
    Utf8ToUtf16(path.substr(at, next - at), wide);
    if (!wide.empty()) out.push_back(wide);
    at = next + 1;
  }
  return out;
}

} // namespace

struct FatImageEditor::Lookup {
  fat::Location Where;
  uint64_t Offset = 0;
  std::vector<uint32_t> Chain;
};

FatImageEditor::FatImageEditor(std::vector<uint8_t>& bytes) : Bytes(bytes) {
  fat::BootSector boot;
  std::memcpy(&boot, Bytes.data(), sizeof(boot));
  std::string why = fat::ValidateBootSector(boot, Bytes.size(), Geometry);
  if (!why.empty()) throw std::runtime_error(why);
}

FatImageEditor::~FatImageEditor() = default;

FatImageEditor::Lookup FatImageEditor::Find(const std::string& path) const {
  VectorDevice device(Bytes);
  fat::FatTable table;
  std::string why = table.Load(device, Geometry);
  if (!why.empty()) throw std::runtime_error(why);
  fat::FatNamespace names(device, Geometry, table);
  Lookup found;
  std::string problem;
  if (names.Lookup(Components(path), found.Where, problem) != fat::LookupResult::Found)
    throw std::runtime_error("not on the image: " + path);
  table.ReadChain(found.Where.Entry.FirstCluster, found.Chain);
  if (!found.Where.IsRoot) {
    fat::DirectoryRead parent = names.ReadDirectory(found.Where.ParentCluster);
    found.Offset = parent.Data->SlotOffset(Geometry, found.Where.Entry.Slot);
  }
  return found;
}

std::vector<uint32_t> FatImageEditor::Chain(const std::string& path) const {
  return Find(path).Chain;
}

uint64_t FatImageEditor::EntryOffset(const std::string& path) const { return Find(path).Offset; }

uint32_t FatImageEditor::FatEntry(uint32_t cluster) const {
  fat::Le32 value;
  std::memcpy(&value, Bytes.data() + Geometry.FatOffset(0) + cluster * fat::kFatEntryBytes, 4);
  return value.Get();
}

void FatImageEditor::SetFatEntry(uint32_t cluster, uint32_t value, int copy) {
  fat::Le32 raw;
  raw.Set(value);
  for (uint32_t c = 0; c < Geometry.FatCount; ++c)
    if (copy < 0 || uint32_t(copy) == c)
      std::memcpy(Bytes.data() + Geometry.FatOffset(c) + cluster * fat::kFatEntryBytes, &raw, 4);
}

void FatImageEditor::SetFirstCluster(const std::string& path, uint32_t cluster) {
  uint64_t offset = EntryOffset(path);
  fat::DirEntry entry;
  std::memcpy(&entry, Bytes.data() + offset, sizeof(entry));
  entry.SetFirstCluster(cluster);
  std::memcpy(Bytes.data() + offset, &entry, sizeof(entry));
}

uint64_t FatImageEditor::DotDotOffset(const std::string& directory) const {
  std::vector<uint32_t> chain = Chain(directory);
  if (chain.empty()) throw std::runtime_error("no clusters: " + directory);
  return Geometry.ClusterOffset(chain.front()) + kDotDotSlot * fat::kDirEntryBytes;
}

void FatImageEditor::RenameDotDot(const std::string& directory) {
  uint64_t offset = DotDotOffset(directory);
  if (Bytes[offset] != '.' || Bytes[offset + 1] != '.')
    throw std::runtime_error("no \"..\" entry in " + directory);
  Bytes[offset + 1] = kRenamedDotDotByte;
}

void FatImageEditor::SetDotDotCluster(const std::string& directory, uint32_t cluster) {
  uint64_t offset = DotDotOffset(directory);
  fat::DirEntry entry;
  std::memcpy(&entry, Bytes.data() + offset, sizeof(entry));
  entry.SetFirstCluster(cluster);
  std::memcpy(Bytes.data() + offset, &entry, sizeof(entry));
}

} // namespace quillo::test
