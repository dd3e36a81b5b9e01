// SPDX-License-Identifier: GPL-2.0-or-later
// MFT records as read from an untrusted NTFS volume. The fuzzer's bytes are
// written, record after record, over the MFT of a small volume made by
// mkntfs when the fuzzer starts (from record 16 on, where the first records
// that are no metadata file lie), and marked in use in the MFT bitmap. The
// volume is then opened as qdefrag opens one, from memory and read-only:
// the one pass over the MFT with its record, runlist, file-name and
// attribute-list checks, the checks before writes, and each record answered
// as the analysis asks for it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "engine/VolumeDevice.h"
#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/LibraryDevice.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/NtfsMount.h"
#include "platform/ntfs/NtfsVolume.h"

namespace {

using namespace quillo;

// The smallest volume mkntfs makes, with clusters of one sector so that
// the MFT bitmap and the records lie in clusters of their own.
constexpr uint64_t kImageBytes = uint64_t(2) << 20;
constexpr const char* kMakeVolume =
    "PATH=\"$PATH:/usr/sbin:/sbin\" mkntfs -F -Q -T -q -c 512 -p 0 -H 0 -S 0 ";
// Records 0-15 are the metadata files the library reads to mount at all.
constexpr uint64_t kFirstFuzzedRecord = 16;
constexpr size_t kKeptRecordBytes = 16 << 10;
constexpr unsigned kBitsPerByte = 8;
constexpr int64_t kSequenceShift = 48;

// Storage of a volume in memory; read-only, as an analysis opens it.
class MemoryStorage final : public BlockStorage {
public:
  std::vector<uint8_t> Bytes;

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    if (offset >= Bytes.size()) return 0;
    size_t take = std::min<uint64_t>(length, Bytes.size() - offset);
    std::memcpy(data, Bytes.data() + offset, take);
    return int64_t(take);
  }
  bool WriteAt(uint64_t, const void*, size_t) override { return false; }
  bool Sync() override { return true; }
  bool Resize(uint64_t) override { return false; }
  uint64_t Size() const override { return Bytes.size(); }
  bool Writable() const override { return false; }
};

// The volume mkntfs made, and where its MFT and MFT bitmap lie.
struct BaseVolume {
  std::vector<uint8_t> Image;
  uint64_t MftOffset = 0;
  uint64_t RecordBytes = 0;
  uint64_t RecordCount = 0;
  uint64_t BitmapOffset = 0; // 0: the bitmap is resident, left as it is
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ntfs_mft_record: %s\n", what.c_str());
  std::exit(1);
}

BaseVolume MakeBaseVolume() {
  fuzz::TempFolder folder;
  std::filesystem::path file = folder.Path() / "base.ntfs";
  { std::ofstream create(file, std::ios::binary); }
  std::filesystem::resize_file(file, kImageBytes);
  std::string command = std::string(kMakeVolume) + "'" + file.string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) Fail("mkntfs failed (is ntfs-3g installed?)");

  BaseVolume base;
  std::ifstream in(file, std::ios::binary);
  base.Image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (base.Image.size() != kImageBytes) Fail("cannot read the volume mkntfs made");

  MemoryStorage storage;
  storage.Bytes = base.Image;
  LibraryDevice device(storage, "base");
  NtfsMount mount(device);
  std::string error;
  if (!mount.Mount(false, error)) Fail("the volume mkntfs made does not mount: " + error);
  ntfs_volume* volume = mount.Volume();
  base.RecordBytes = volume->mft_record_size;
  base.MftOffset = uint64_t(volume->mft_lcn) * volume->cluster_size;
  base.RecordCount = uint64_t(volume->mft_na->initialized_size) / base.RecordBytes;
  ntfs_attr* bitmap = volume->mftbmp_na;
  if (NAttrNonResident(bitmap) && ntfs_attr_map_whole_runlist(bitmap) == 0 && bitmap->rl &&
      bitmap->rl[0].lcn >= 0)
    base.BitmapOffset = uint64_t(bitmap->rl[0].lcn) * volume->cluster_size;
  if (base.RecordCount <= kFirstFuzzedRecord) Fail("the MFT mkntfs made is too small");
  return base;
}

const BaseVolume& Base() {
  static const BaseVolume base = MakeBaseVolume();
  return base;
}

fuzz::TempFolder& JournalFolder() {
  static fuzz::TempFolder folder;
  return folder;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Base();
  JournalFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const BaseVolume& base = Base();
  auto storage = std::make_unique<MemoryStorage>();
  storage->Bytes = base.Image;
  uint64_t room = (base.RecordCount - kFirstFuzzedRecord) * base.RecordBytes;
  size_t taken = size_t(std::min<uint64_t>(size, room));
  std::memcpy(storage->Bytes.data() + base.MftOffset + kFirstFuzzedRecord * base.RecordBytes, data,
              taken);
  uint64_t lastRecord = kFirstFuzzedRecord + (taken + base.RecordBytes - 1) / base.RecordBytes;
  if (base.BitmapOffset != 0)
    for (uint64_t record = kFirstFuzzedRecord; record < lastRecord; ++record)
      storage->Bytes[base.BitmapOffset + record / kBitsPerByte] |= uint8_t(1u << (record % kBitsPerByte));

  NtfsVolumeOptions options;
  options.DeviceName = "fuzz.ntfs";
  options.Storage = std::move(storage);
  options.JournalFolder = JournalFolder().Path();
  options.KeptRecordBytes = kKeptRecordBytes;
  std::string why;
  std::shared_ptr<NtfsVolume> volume = NtfsVolume::Open(std::move(options), why);
  if (!volume) return 0;

  Handle handle = volume->OpenVolume("\\\\.\\C:");
  if (handle == kInvalidHandle) return 0;
  for (uint64_t record = 0; record < base.RecordCount; ++record) {
    auto answer = std::make_unique<NtfsFileRecordOutputBuffer>();
    if (volume->GetNtfsFileRecord(handle, int64_t(record), *answer) != kStatusSuccess) continue;
    fuzz::Require(uint64_t(answer->FileReferenceNumber & ((int64_t(1) << kSequenceShift) - 1)) <= record,
                  "a record is answered by itself or one below it");
    fuzz::Require(answer->FileRecordLength <= base.RecordBytes, "an answer is at most a record");
  }
  volume->CloseHandle(handle);
  (void)volume->Notices();
  (void)volume->GetWriteVerdict();
  return 0;
}
