// SPDX-License-Identifier: GPL-2.0-or-later
#include "VolumeMover.h"

#include <gtest/gtest.h>

#include <memory>

namespace quillo::test {

int64_t Total(const std::vector<Extent>& extents) {
  int64_t total = 0;
  for (const Extent& e : extents) total += e.Length;
  return total;
}

VolumeMover::VolumeMover(VolumeDevice& volume) : Volume(volume) {
  VolumeAt = Volume.OpenVolume("\\\\.\\C:");
  EXPECT_NE(VolumeAt, kInvalidHandle);
  DiskGeometry geometry;
  EXPECT_TRUE(Volume.GetGeometry("C:\\", geometry));
  ClusterCount = geometry.TotalNumberOfClusters;
}

VolumeMover::~VolumeMover() {
  if (VolumeAt != kInvalidHandle) Volume.CloseHandle(VolumeAt);
}

Handle VolumeMover::Open(const std::string& path) {
  Handle handle = Volume.CreateFile(path, kGenericRead, kFileShareRead, kFileFlagBackupSemantics);
  EXPECT_NE(handle, kInvalidHandle) << path;
  return handle;
}

std::vector<Extent> VolumeMover::Extents(Handle file) {
  std::vector<Extent> out;
  RetrievalPointersBuffer answer{};
  IoStatusBlock iosb;
  int64_t vcn = 0;
  while (true) {
    NtStatus status = Volume.GetRetrievalPointers(file, vcn, answer, iosb);
    if (status != kStatusSuccess && status != kStatusBufferOverflow) break;
    int64_t previous = answer.StartingVcn;
    for (uint32_t i = 0; i < answer.ExtentCount; ++i) {
      out.push_back({answer.Extents[i].Lcn, answer.Extents[i].NextVcn - previous});
      previous = answer.Extents[i].NextVcn;
    }
    if (status == kStatusSuccess) break;
    vcn = previous;
  }
  return out;
}

NtStatus VolumeMover::Move(Handle file, int64_t vcn, int64_t lcn, uint32_t count) {
  IoStatusBlock iosb;
  return Volume.MoveFile(VolumeAt, MoveFileData{file, vcn, lcn, count}, iosb);
}

int64_t VolumeMover::FreeRunFromTheEnd(int64_t length) {
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  std::vector<bool> used(ClusterCount);
  for (int64_t lcn = 0; lcn < int64_t(ClusterCount);) {
    IoStatusBlock iosb;
    NtStatus status = Volume.GetVolumeBitmap(VolumeAt, lcn, *bitmap, iosb);
    if (status != kStatusSuccess && status != kStatusBufferOverflow) return -1;
    int64_t count = std::min<int64_t>(bitmap->BitmapSize, kBitmapCapacityClusters);
    for (int64_t k = 0; k < count; ++k)
      used[size_t(bitmap->StartingLcn + k)] = (bitmap->Buffer[k >> 3] >> (k & 7)) & 1;
    lcn = bitmap->StartingLcn + count;
  }
  int64_t run = 0;
  for (int64_t lcn = int64_t(ClusterCount) - 1; lcn >= 0; --lcn) {
    run = used[size_t(lcn)] ? 0 : run + 1;
    if (run == length) return lcn;
  }
  return -1;
}

} // namespace quillo::test
