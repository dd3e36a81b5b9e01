// SPDX-License-Identifier: GPL-2.0-or-later
// What the tool's targets name: the volumes of the platform's drive table
// (by drive letter or by their location), block devices and image files
// given by path (whole, or "image#N" for a partition), and the demo volumes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/MemoryVolume.h"
#include "engine/VolumeDevice.h"
#include "platform/DriveTable.h"
#include "platform/FileIdentity.h"
#include "platform/UnmountedVolume.h"

namespace quillo {

// One line of `qdefrag list`.
struct ListedVolume {
  std::string Letter; // "C:"
  std::string Target;
  std::string FileSystem;
  uint64_t SizeBytes = 0;
  bool Usable = false;
  std::string Why; // when not usable
  // The same in a few words, as the window's status column says it.
  std::string Reason;
};

struct OpenedTarget {
  std::string Target;     // as the user wrote it
  std::string VolumeName; // the letter the job knows it by, "C:"
  std::string FileSystem;
  std::shared_ptr<VolumeDevice> Device; // null when refused
  std::string Refusal;                  // why the target cannot be used
  bool ReadOnly = false;                // only reads are possible
  bool FromDriveTable = false;          // its letter is the drive table's
  std::shared_ptr<MemoryVolume> Demo;   // the demo's volume, for its content check
};

struct RemountOutcome {
  std::string Text;
  bool Failed = false;
};

class TargetTable {
public:
  TargetTable(Clock& clock, DriveEnvironment environment);
  // Mounts again what the run unmounted.
  ~TargetTable();
  TargetTable(const TargetTable&) = delete;
  TargetTable& operator=(const TargetTable&) = delete;

  // The user said to unmount mounted targets for the work (--unmount);
  // without it a mounted target is refused.
  void AllowUnmounting(bool allowed) { Unmounting = allowed; }
  // What was unmounted since the last call, one line each.
  std::vector<std::string> TakeNotices();
  // Mounts again every volume the run unmounted, once nothing holds them:
  // one line for each, saying where or why not.
  std::vector<RemountOutcome> MountAgain();

  OpenedTarget Open(const std::string& target);
  std::vector<ListedVolume> List();
  // Problems of the drive configuration, for standard error.
  std::vector<std::string> Warnings() const { return Drives.Warnings(); }

private:
  OpenedTarget OpenDemo(const std::string& target);
  OpenedTarget OpenLetter(const std::string& target, char letter);
  OpenedTarget OpenLocation(const std::string& target);
  // The drive table's letter of a location, 0 when it has none.
  char LetterOfLocation(const std::string& location) const;
  // Unmounts the block device of `location` when it is mounted and the user
  // allowed it; false with `why` when it stays mounted.
  bool UnmountForWork(const std::string& location, std::string& why);
  // A letter free in the table and in this run, for a volume given by path.
  char FreeLetter();
  // True with `why` when an earlier target of this run named the same file
  // or device by whatever path: the first one holds it.
  bool NamedBefore(const std::string& target, std::string& why);

  struct NamedFile {
    int Partition = 0;
    std::string Target;
  };

  Clock& Time;
  DriveEnvironment Environment;
  DriveTable Drives;
  std::set<char> Taken;
  std::map<FileIdentity, NamedFile> Named; // files and devices given by path
  char NextDemoLetter;
  bool Unmounting = false;
  std::vector<std::unique_ptr<UnmountedVolume>> Unmounted;
  std::vector<std::string> Notices;
};

} // namespace quillo
