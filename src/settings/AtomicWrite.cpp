// SPDX-License-Identifier: GPL-2.0-or-later
// Platform seam: the POSIX calls needed for a durable rename. The settings
// library sits below src/platform in the dependency order, so this one small
// piece of operating-system code lives here.
#include "settings/AtomicWrite.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr mode_t kPermissionBits = 07777;
constexpr int kNameAttempts = 100;

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

// Closes a descriptor once; the explicit Close reports the error that a
// delayed write-back may surface there.
class Descriptor {
public:
  explicit Descriptor(int fd) : Fd(fd) {}
  ~Descriptor() {
    if (Fd >= 0) ::close(Fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return Fd; }
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return ::close(fd) == 0;
  }

private:
  int Fd;
};

std::error_code WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    contents.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

// The file a path finally names, following symbolic links; the path itself
// when it does not exist yet.
fs::path ResolveTarget(const fs::path& path, std::error_code& error) {
  const fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) {
    error.clear();
    return path;
  }
  if (error || !fs::is_symlink(status)) return path;
  return fs::weakly_canonical(path, error);
}

// Creates a fresh temporary file beside the target. The name carries the
// process id and a counter; O_EXCL makes a clash with any other file a retry.
int CreateTemporary(const fs::path& folder, const fs::path& target, fs::path& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = folder / ("." + target.filename().string() + "." + std::to_string(::getpid()) +
                          "." + std::to_string(counter++) + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes the rename itself durable. A failure here cannot undo the rename and
// leaves a complete file either way, so it is not reported.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

} // namespace

std::error_code WriteFileAtomically(const fs::path& path, std::string_view contents) {
  std::error_code error;
  const fs::path target = ResolveTarget(path, error);
  if (error) return error;
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  fs::create_directories(folder, error);
  if (error) return error;

  fs::path temporary;
  Descriptor file(CreateTemporary(folder, target, temporary));
  if (file.Get() < 0) return LastError();

  auto fail = [&](std::error_code cause) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return cause;
  };

  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 &&
      ::fchmod(file.Get(), existing.st_mode & kPermissionBits) != 0) {
    return fail(LastError());
  }
  if (auto writeError = WriteAll(file.Get(), contents)) return fail(writeError);
  if (::fsync(file.Get()) != 0) return fail(LastError());
  if (!file.Close()) return fail(LastError());
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(LastError());
  SyncFolder(folder);
  return {};
}

} // namespace quillo
