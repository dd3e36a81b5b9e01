// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BlkidProbe.h"

#include <blkid/blkid.h>

#include <memory>

namespace quillo {

namespace {

// libblkid counts partition positions in 512-byte sectors.
constexpr uint64_t kBlkidSectorBytes = 512;

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

std::string Lookup(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return {};
  return std::string(data);
}

} // namespace

FileSystemTags ProbeFileSystemTags(const std::string& path) {
  FileSystemTags tags;
  Probe probe(blkid_new_probe_from_filename(path.c_str()));
  if (!probe) return tags;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(),
                                    BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe.get(), 0);
  if (blkid_do_safeprobe(probe.get()) != 0) return tags;
  tags.Type = Lookup(probe.get(), "TYPE");
  tags.Uuid = Lookup(probe.get(), "UUID");
  tags.Version = Lookup(probe.get(), "VERSION");
  return tags;
}

bool FindPartition(const std::string& path, int number, uint64_t& offset, uint64_t& length,
                   std::string& why) {
  Probe probe(blkid_new_probe_from_filename(path.c_str()));
  if (!probe) {
    why = "cannot read " + path;
    return false;
  }
  blkid_partlist partitions = blkid_probe_get_partitions(probe.get());
  if (!partitions) {
    why = path + " has no partition table";
    return false;
  }
  blkid_partition partition = blkid_partlist_get_partition_by_partno(partitions, number);
  if (!partition) {
    why = path + " has no partition " + std::to_string(number);
    return false;
  }
  blkid_loff_t start = blkid_partition_get_start(partition);
  blkid_loff_t size = blkid_partition_get_size(partition);
  if (start < 0 || size <= 0) {
    why = "partition " + std::to_string(number) + " of " + path + " is empty";
    return false;
  }
  offset = uint64_t(start) * kBlkidSectorBytes;
  length = uint64_t(size) * kBlkidSectorBytes;
  return true;
}

} // namespace quillo
