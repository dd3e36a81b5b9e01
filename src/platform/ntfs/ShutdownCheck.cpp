// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ShutdownCheck.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

// Windows writes version 2.0 restart pages when it keeps the volume's
// metadata cached for Fast Startup (and after an abrupt end).
constexpr int kCachedRestartMajor = 2;
constexpr int kCachedRestartMinor = 0;

std::string Unclean(const std::string& why) {
  return "Windows was not shut down cleanly on this volume (" + why +
         "): start Windows and shut it down fully, or run chkdsk.";
}

// Nothing is damaged: Windows holds the volume's state in memory saved to
// disk, and only Windows can finish with it. chkdsk would throw that away.
std::string Resting(const std::string& why) {
  return "Windows is not shut down on this volume (" + why +
         "): start Windows and shut it down fully (turn Fast Startup off, or hold Shift while "
         "choosing Shut down).";
}

// Empty when $LogFile is clean.
std::string CheckLogFile(ntfs_volume* volume) {
  ntfs_inode* inode = ntfs_inode_open(volume, FILE_LogFile);
  if (!inode) return std::string("$LogFile cannot be opened: ") + std::strerror(errno);
  std::string result;
  ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
  if (!data) {
    result = std::string("$LogFile cannot be read: ") + std::strerror(errno);
  } else {
    RESTART_PAGE_HEADER* restart = nullptr;
    if (!ntfs_check_logfile(data, &restart))
      result = Unclean("its $LogFile is damaged");
    else if (!ntfs_is_logfile_clean(data, restart))
      result = Unclean("its $LogFile holds unfinished transactions");
    else if (restart && sle16_to_cpu(restart->major_ver) == kCachedRestartMajor &&
             sle16_to_cpu(restart->minor_ver) == kCachedRestartMinor)
      result = Resting("Fast Startup kept its metadata in Windows' cache");
    std::free(restart);
    ntfs_attr_close(data);
  }
  ntfs_inode_close(inode);
  return result;
}

} // namespace

std::string CheckCleanShutdown(ntfs_volume* volume) {
  errno = 0;
  if (ntfs_volume_check_hiberfile(volume, 0) < 0) {
    if (errno == EPERM) return Resting("it is hibernated");
    return std::string("hiberfil.sys cannot be checked: ") + std::strerror(errno);
  }
  std::string logFile = CheckLogFile(volume);
  if (!logFile.empty()) return logFile;
  if (volume->flags & VOLUME_IS_DIRTY) return Unclean("it is marked dirty");
  return {};
}

} // namespace quillo
