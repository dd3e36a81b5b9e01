// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/LibraryLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

constexpr size_t kMessageBytes = 512;
constexpr u32 kKeptLevels =
    NTFS_LOG_LEVEL_ERROR | NTFS_LOG_LEVEL_PERROR | NTFS_LOG_LEVEL_CRITICAL;

thread_local std::string gLastError;

int KeepMessage(const char*, const char*, int, u32 level, void*, const char* format,
                va_list args) {
  int savedErrno = errno;
  if (!(level & kKeptLevels)) return 0;
  char text[kMessageBytes];
  std::vsnprintf(text, sizeof(text), format, args);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  if (level & NTFS_LOG_LEVEL_PERROR) message += std::string(": ") + std::strerror(savedErrno);
  gLastError = message;
  errno = savedErrno;
  return 0;
}

std::once_flag gInstalled;

} // namespace

void LibraryLog::Reset() {
  std::call_once(gInstalled, [] {
    ntfs_log_set_handler(KeepMessage);
    ntfs_log_set_levels(kKeptLevels);
  });
  gLastError.clear();
}

std::string LibraryLog::LastError() { return gLastError; }

} // namespace quillo
