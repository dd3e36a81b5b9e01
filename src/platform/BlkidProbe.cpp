// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BlkidProbe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

namespace quillo {

namespace {

// libblkid counts partition positions in 512-byte sectors.
constexpr uint64_t kBlkidSectorBytes = 512;

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

// libblkid's names of the two tables users meet, as they know them.
const std::map<std::string, std::string> kSchemeNames = {{"dos", "MBR"}, {"gpt", "GPT"}};

// Closes a descriptor libblkid was lent.
struct Descriptor {
  explicit Descriptor(int fd) : Fd(fd) {}
  ~Descriptor() {
    if (Fd >= 0) close(Fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Fd;
};

std::string Lookup(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return {};
  return std::string(data);
}

FileSystemTags ReadTags(blkid_probe probe) {
  FileSystemTags tags;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe,
                                    BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe, 0);
  if (blkid_do_safeprobe(probe) != 0) return tags;
  tags.Type = Lookup(probe, "TYPE");
  tags.Uuid = Lookup(probe, "UUID");
  tags.Version = Lookup(probe, "VERSION");
  return tags;
}

} // namespace

FileSystemTags ProbeFileSystemTags(const std::string& path) {
  Probe probe(blkid_new_probe_from_filename(path.c_str()));
  if (!probe) return {};
  return ReadTags(probe.get());
}

FileSystemTags ProbeFileSystemTags(const std::string& path, uint64_t offset, uint64_t length) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Fd < 0) return {};
  Probe probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), file.Fd, blkid_loff_t(offset),
                                       blkid_loff_t(length)) != 0)
    return {};
  return ReadTags(probe.get());
}

std::optional<PartitionTable> ReadPartitionTable(const std::string& path) {
  Probe probe(blkid_new_probe_from_filename(path.c_str()));
  if (!probe) return std::nullopt;
  blkid_partlist partitions = blkid_probe_get_partitions(probe.get());
  blkid_parttable table = partitions ? blkid_partlist_get_table(partitions) : nullptr;
  if (!table) return std::nullopt;
  PartitionTable read;
  std::string scheme = blkid_parttable_get_type(table) ? blkid_parttable_get_type(table) : "";
  auto known = kSchemeNames.find(scheme);
  read.Scheme = known != kSchemeNames.end() ? known->second : scheme;
  bool gpt = read.Scheme == "GPT";
  int count = blkid_partlist_numof_partitions(partitions);
  for (int i = 0; i < count; ++i) {
    blkid_partition partition = blkid_partlist_get_partition(partitions, i);
    blkid_loff_t start = blkid_partition_get_start(partition);
    blkid_loff_t size = blkid_partition_get_size(partition);
    if (start < 0 || size <= 0) continue;
    DiskPartition entry;
    entry.Number = blkid_partition_get_partno(partition);
    entry.Offset = uint64_t(start) * kBlkidSectorBytes;
    entry.Length = uint64_t(size) * kBlkidSectorBytes;
    entry.Extended = blkid_partition_is_extended(partition) != 0;
    if (gpt) {
      const char* guid = blkid_partition_get_type_string(partition);
      entry.TypeGuid = guid ? guid : "";
      std::transform(entry.TypeGuid.begin(), entry.TypeGuid.end(), entry.TypeGuid.begin(),
                     [](unsigned char c) { return char(std::tolower(c)); });
    } else {
      entry.MbrType = blkid_partition_get_type(partition);
    }
    read.Partitions.push_back(entry);
  }
  return read;
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
