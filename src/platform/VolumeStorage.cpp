// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/VolumeStorage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/BlkidProbe.h"
#include "platform/DeviceDiscovery.h"
#include "platform/MountTable.h"
#include "platform/TerminalAuthAgent.h"
#include "platform/UDisksClient.h"

namespace quillo {

namespace {

namespace fs = std::filesystem;

// A volume holds at least its boot sector.
constexpr uint64_t kSmallestVolumeBytes = 512;

std::string SystemError(int error) { return std::strerror(error); }

// The loop device an image is attached to, or empty.
std::string LoopDeviceOf(const struct stat& image, const fs::path& sysClassBlock) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysClassBlock, error)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("loop", 0) != 0) continue;
    std::ifstream in(entry.path() / "loop" / "backing_file");
    std::string backing;
    if (!std::getline(in, backing) || backing.empty()) continue;
    struct stat info {};
    if (stat(backing.c_str(), &info) == 0 && info.st_dev == image.st_dev &&
        info.st_ino == image.st_ino)
      return "/dev/" + name;
  }
  return {};
}

std::string MountPointOf(const std::string& path, const struct stat& info,
                         const DriveEnvironment& environment) {
  bool readable = false;
  MountTable mounts = MountTable::Load(environment.MountInfo, readable);
  return S_ISBLK(info.st_mode) ? mounts.MountPointOf(info.st_rdev)
                               : mounts.MountPointOfSource(fs::weakly_canonical(path).string());
}

bool IsReadOnlyError(int error) { return error == EACCES || error == EROFS || error == EPERM; }

// Block.OpenDevice of UDisks2: for writing when the opening is for a pass
// (else for reading, then source.ReadOnly), for reading only when it is for
// an analysis. -1 with `why` when the service has no such device or refuses.
int OpenThroughDiskService(VolumeSource& source, const DriveEnvironment& environment,
                           std::string& why) {
  int denied = errno;
  std::unique_ptr<UDisksClient> service = UDisksClient::Connect();
  UDisksBlock block;
  if (!service || !service->FindBlock(source.Path, block)) {
    why = "cannot open " + source.Path + ": " + SystemError(denied);
    return -1;
  }
  TerminalAuthAgent agent(environment.Interactive && environment.TerminalAgent);
  std::string refusal;
  bool needsAuthorisation = false;
  if (environment.Writes) {
    int fd = service->OpenDevice(block.ObjectPath, true, environment.Interactive, refusal,
                                 needsAuthorisation);
    if (fd >= 0) {
      source.ReadOnly = false;
      return fd;
    }
  }
  // A device that can only be read is still analysed. Reading needs the
  // same authorisation as writing, so a refusal for want of it is final.
  if (!needsAuthorisation) {
    std::string readRefusal;
    int fd = service->OpenDevice(block.ObjectPath, false, environment.Interactive, readRefusal,
                                 needsAuthorisation);
    if (fd >= 0) {
      source.ReadOnly = true;
      return fd;
    }
    if (refusal.empty()) refusal = readRefusal;
  }
  source.NeedsAuthorisation = needsAuthorisation;
  if (needsAuthorisation) {
    source.Described = {NameFileSystem(block.IdType, block.IdVersion), block.IdLabel, block.Size};
    why = "opening " + source.Path +
          " needs the user's authorisation, which this opening was not to ask for"
          " (UDisks2: " + refusal + ")";
    return -1;
  }
  why = "cannot open " + source.Path + ": " + SystemError(denied) +
        "; UDisks2 did not open it either: " + refusal;
  return -1;
}

} // namespace

VolumeLocation ParseVolumeLocation(const std::string& text) {
  VolumeLocation location{text, 0};
  size_t hash = text.rfind('#');
  if (hash == std::string::npos || hash + 1 == text.size() || hash + 4 < text.size()) return location;
  for (size_t i = hash + 1; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return location;
  // A file whose name really ends in "#<digits>" is taken whole.
  std::error_code error;
  if (fs::exists(text, error)) return location;
  int number = std::stoi(text.substr(hash + 1));
  if (number <= 0) return location;
  return {text.substr(0, hash), number};
}

std::string MountPointOfLocation(const std::string& location, const DriveEnvironment& environment) {
  std::string path = ParseVolumeLocation(location).Path;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return MountPointOf(path, info, environment);
}

bool ResolveVolumeSource(VolumeSource& source, std::string& why) {
  VolumeLocation location = ParseVolumeLocation(source.Location);
  source.Path = location.Path;
  struct stat info {};
  if (stat(source.Path.c_str(), &info) != 0) {
    why = "cannot open " + source.Path + ": " + SystemError(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
    why = source.Path + " is neither an image file nor a block device";
    return false;
  }
  if (location.Partition > 0)
    return FindPartition(source.Path, location.Partition, source.Offset, source.Length, why);
  source.Offset = 0;
  source.Length = 0; // the whole size, once opened
  return true;
}

std::unique_ptr<FileBlockDevice> OpenVolumeStorage(VolumeSource& source,
                                                   const DriveEnvironment& environment,
                                                   std::string& why) {
  if (!ResolveVolumeSource(source, why)) return nullptr;
  struct stat info {};
  if (stat(source.Path.c_str(), &info) != 0) {
    why = "cannot open " + source.Path + ": " + SystemError(errno);
    return nullptr;
  }
  bool block = S_ISBLK(info.st_mode);
  source.NeedsAuthorisation = false;
  source.Described = {};

  std::string mountPoint = MountPointOf(source.Path, info, environment);
  if (!mountPoint.empty()) {
    why = source.Path + " is mounted on " + mountPoint;
    return nullptr;
  }
  if (!block) {
    std::string loop = LoopDeviceOf(info, environment.SysClassBlock);
    if (!loop.empty()) {
      why = source.Path + " is attached to " + loop + "; detach it first";
      return nullptr;
    }
  }

  // O_EXCL on a block device fails while the kernel or another program
  // holds it (a mounted file system, a partition of it in use).
  int exclusive = block ? O_EXCL : 0;
  source.ReadOnly = false;
  int fd = open(source.Path.c_str(), O_RDWR | O_CLOEXEC | exclusive);
  if (fd < 0 && IsReadOnlyError(errno)) {
    source.ReadOnly = true;
    fd = open(source.Path.c_str(), O_RDONLY | O_CLOEXEC | exclusive);
  }
  if (fd < 0 && block && IsReadOnlyError(errno) && environment.AskDiskService) {
    // Block devices belong to root: the desktop's disk service opens the
    // device for us when polkit allows it.
    fd = OpenThroughDiskService(source, environment, why);
    if (fd < 0) return nullptr;
  }
  if (fd < 0) {
    int error = errno;
    why = error == EBUSY ? source.Path + " is in use (mounted, or opened by another program)"
                         : "cannot open " + source.Path + ": " + SystemError(error);
    return nullptr;
  }
  if (!block && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    why = error == EWOULDBLOCK ? source.Path + " is in use by another process"
                               : "cannot lock " + source.Path + ": " + SystemError(error);
    return nullptr;
  }

  uint64_t size = DescriptorSize(fd);
  if (size < kSmallestVolumeBytes) {
    close(fd);
    why = size == 0 ? source.Path + " is empty (0 bytes), too small to hold a volume"
                    : source.Path + " holds only " + std::to_string(size) +
                          " bytes, too small to hold a volume";
    return nullptr;
  }
  if (source.Length == 0) source.Length = size > source.Offset ? size - source.Offset : 0;
  if (source.Offset + source.Length > size || source.Length == 0) {
    close(fd);
    why = source.Location + " lies beyond the end of " + source.Path;
    return nullptr;
  }
  return std::make_unique<FileBlockDevice>(fd, source.Offset, source.Length, source.ReadOnly);
}

std::unique_ptr<FileBlockDevice> ProbeVolumeStorage(const VolumeSource& source) {
  return FileBlockDevice::OpenForProbe(source.Path, source.Offset, source.Length);
}

} // namespace quillo
