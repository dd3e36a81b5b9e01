// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ntfs/MovePlan.h"

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

class AttributeListLinks;
class ClusterOwners;
class KeptRecords;

// What the pass over the MFT hands on besides the catalog, each when given:
// the records to keep for the analysis (within KeptBytes), the clusters every
// record owns, and the records that attribute lists name.
struct CatalogSinks {
  KeptRecords* Kept = nullptr;
  size_t KeptBytes = 0;
  ClusterOwners* Owners = nullptr;
  AttributeListLinks* Lists = nullptr;
};

enum class StreamKind : uint8_t {
  None,        // no unnamed $DATA (for a directory: no $I30 allocation)
  Resident,    // the data lives in the record
  NonResident, // clusters of its own; the runs are in the catalog
  Unknown,     // spread over extent records: ask the library
};

// What one pass over the MFT learns about every record: whether it is in
// use, its sequence number, its name and parent for building paths, and
// what the analysis asks of a file (attributes, last write, size, runs).
struct CatalogEntry {
  uint64_t LastWriteTime = 0; // FILETIME from $STANDARD_INFORMATION
  uint64_t DataSize = 0;      // of the unnamed $DATA
  uint32_t FileAttributes = 0;
  uint32_t Parent = 0;
  uint32_t NameOffset = 0; // into the name pool
  uint32_t RunOffset = 0;  // into the run pool, for a non-resident stream
  uint32_t RunCount = 0;
  uint16_t NameLength = 0; // UTF-16 units
  uint16_t Sequence = 0;
  uint16_t ParentSequence = 0;
  uint8_t NameRank = 0;    // 0: no usable name yet
  bool InUse = false;
  bool Directory = false;
  bool Extent = false;     // an extent record of some base record
  bool Changed = false;    // moved since the pass: the library knows better
  bool NamedStreams = false; // a named $DATA in the base record
  StreamKind Stream = StreamKind::None;
};

// Reads the whole MFT once, in large batches, and checks every record in use
// on the way: its update sequence (fixups), its layout, and the runlist of
// every non-resident attribute against the volume. Paths are built from the
// $FILE_NAME attributes collected here (those of extent records count for
// their base record), the Win32 name preferred and the DOS name never used.
class MftCatalog {
public:
  // False when the MFT cannot be read or a record in use is damaged; `error`
  // then names the record and the damage. What else the pass learns goes to
  // the sinks given.
  bool Build(ntfs_volume* volume, std::string& error, const CatalogSinks& sinks = {});

  uint64_t RecordCount() const { return Entries.size(); }
  const CatalogEntry* Entry(uint64_t record) const;
  // The path from the root ("\dir\file", "\" for the root itself). False
  // when a link of the chain is missing, belongs to a reused record (its
  // sequence number moved on) or loops.
  bool PathOf(uint64_t record, std::u16string& out) const;
  // A file inside $Extend, at any depth.
  bool IsUnderExtend(uint64_t record) const;
  // The entry as the pass read it, or null once the record has changed.
  const CatalogEntry* Current(uint64_t record) const;
  // The runs of a non-resident stream (joined; Lcn -1 for holes); empty
  // when the catalog holds none.
  std::span<const ClusterRun> Runs(uint64_t record) const;
  // A move rewrote the record: its entry no longer tells its runs.
  void MarkChanged(uint64_t record);
  // The base record of an extent record as the pass read it; 0 for others.
  uint64_t BaseOf(uint64_t record) const;

private:
  bool ScanRecord(ntfs_volume* volume, uint64_t record, void* data, bool inBitmap,
                  const CatalogSinks& sinks, std::string& error);
  // `name` points to `length` UTF-16LE units inside a record.
  void AddName(uint64_t owner, uint64_t parentReference, uint8_t nameSpace, const uint8_t* name,
               uint8_t length);
  // Appends the runs, joined, to the pool; where they start.
  uint32_t AddRuns(const std::vector<ClusterRun>& runs, uint32_t& count);

  std::vector<CatalogEntry> Entries;
  std::u16string Names;
  std::vector<ClusterRun> RunPool;
  std::vector<ClusterRun> Held; // scratch: the runs one attribute holds
  // Extent records and their base records, in record order.
  std::vector<std::pair<uint32_t, uint32_t>> ExtentBases;
};

} // namespace quillo
