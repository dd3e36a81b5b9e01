// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsLibraryVersion.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

std::string NtfsLibraryFile() {
  // Any function of the library tells which file it came from.
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ntfs_umount), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return std::filesystem::path(info.dli_fname).filename().string();
}

std::string NtfsLibraryVersion() {
  std::string version = QUILLO_LIBNTFS3G_VERSION;
  const std::string file = NtfsLibraryFile();
  if (!file.empty()) version += " (" + file + ")";
  return version;
}

} // namespace quillo
