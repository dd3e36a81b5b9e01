// SPDX-License-Identifier: GPL-2.0-or-later
// NTFS test images made by tests/fixtures/make_ntfs_image.py, and the
// independent tools that check them: libntfs-3g read directly, ntfscat,
// ntfsresize, The Sleuth Kit and libfsntfs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/ntfs/NtfsVolume.h"

namespace quillo::test {

struct ManifestEntry {
  std::string Sha256;
  uint32_t Crc = 0;
  uint64_t Size = 0;
  std::string Kind; // empty resident contiguous fragmented sparse compressed
  std::string Path; // from the root, "/" separators
  std::string Stream; // a named data stream of the file at Path; empty: its own data
  // As the manifest writes it.
  std::string Shown() const { return Stream.empty() ? Path : Path + ":" + Stream; }
};

struct CommandResult {
  int ExitCode = -1;
  std::string Output; // stdout and stderr
};

// Runs a program (no shell) and collects its output.
CommandResult RunCommand(const std::vector<std::string>& argv);

// The pristine fixtures (volume.img with manifest.txt; streams.img, whose
// files have named streams, with streams-manifest.txt), made once per build.
const std::filesystem::path& FixtureDir();
inline constexpr const char* kFixtureImageName = "volume.img";
inline constexpr const char* kStreamsImageName = "streams.img";
inline constexpr const char* kStreamsManifestName = "streams-manifest.txt";
// A manifest line's path is "/file" or, for a named stream, "/file:stream".
std::vector<ManifestEntry> ReadManifest(const std::filesystem::path& dir,
                                        const std::string& name = "manifest.txt");
// A private copy of a fixture image inside `dir`.
std::filesystem::path CopyFixtureImage(const std::filesystem::path& dir,
                                       const std::string& name = kFixtureImageName);

// Every file of the manifest read with libntfs-3g directly (not through our
// device) and compared with its size and CRC; empty when all match.
std::string CompareWithManifest(const std::filesystem::path& image,
                                const std::vector<ManifestEntry>& manifest);
// ntfscat of every file piped through sha256 against the manifest; empty
// when all match.
std::string CompareWithNtfscat(const std::filesystem::path& image,
                               const std::vector<ManifestEntry>& manifest);
// ntfsresize --info --no-action: a full check of runlists against the
// bitmap. Empty when it passes, otherwise its output.
std::string CheckWithNtfsResize(const std::filesystem::path& image);

// The record number of a path, by The Sleuth Kit's ifind.
int64_t RecordOf(const std::filesystem::path& image, const std::string& path);
struct TskRun {
  int64_t Lcn = -1; // -1: sparse
  int64_t Length = 0;
};
// The runs of a file's unnamed $DATA, or of a named one, as The Sleuth Kit's
// istat -r shows them.
std::vector<TskRun> TskRuns(const std::filesystem::path& image, int64_t record,
                            const std::string& stream = "");
// Allocated runs that do not follow one another on disk, holes skipped.
int TskFragments(const std::vector<TskRun>& runs);

// Files and directories in use, counted with libntfs-3g directly: every base
// record from 1 on (record 0 is the MFT's own).
struct RecordCounts {
  int32_t Files = 0;
  int32_t Directories = 0;
};
RecordCounts CountRecords(const std::filesystem::path& image);

// Whether $MFTMirr holds the same bytes as the MFT's first records.
bool MirrorMatchesMft(const std::filesystem::path& image);
// Records whose in-use flag and bit in the MFT's bitmap disagree, read with
// libntfs-3g directly; empty when none do.
std::string MftBitmapDisagreements(const std::filesystem::path& image);
// Every name in use, with its record, as The Sleuth Kit lists them
// (fls -r -p -u), for "as before" checks.
std::string TskNamesInUse(const std::filesystem::path& image);
// The time lines of a record as The Sleuth Kit's istat shows them (those of
// $STANDARD_INFORMATION and of each $FILE_NAME), for "unchanged" checks.
std::string RecordTimes(const std::filesystem::path& image, int64_t record);

// The volume flags as libntfs-3g reads them (bit 0: dirty).
uint16_t VolumeFlags(const std::filesystem::path& image);
// Bytes of the whole image, for "nothing was written" checks.
std::string ImageDigest(const std::filesystem::path& image);

// Writes `bytes` into one of the first attribute of `type` of a metadata
// record (0-3, which $MFTMirr mirrors: both copies are written), at `offset`
// from the attribute's start, or from its value's start when `inValue`.
// Empty when done, else why not.
std::string PatchRecordAttribute(const std::filesystem::path& image, uint64_t record,
                                 uint32_t type, size_t offset, bool inValue,
                                 const std::vector<uint8_t>& bytes);

// An NtfsVolume on an image, its journal in `journal`; the opener (by
// default ImageFile::Open) opens the image and the journal. `groupMoves` 1
// commits every move as an update of its own.
std::shared_ptr<NtfsVolume> OpenVolume(const std::filesystem::path& image,
                                       const std::filesystem::path& journal, std::string& why,
                                       StorageOpener opener = {},
                                       StorageMode mode = StorageMode::ReadWrite,
                                       uint32_t groupMoves = NtfsVolumeOptions::kDefaultGroupMoves);

} // namespace quillo::test
