// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/InstanceChannel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace quillo {

namespace {

constexpr const char* kLockSuffix = ".lock";

// Closes the descriptor when the scope ends.
class Descriptor {
public:
  explicit Descriptor(int fd) : Fd(fd) {}
  ~Descriptor() {
    if (Fd >= 0) ::close(Fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return Fd; }

private:
  int Fd;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t written = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(written);
  }
  return true;
}

} // namespace

std::filesystem::path InstanceRuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  std::error_code error;
  std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : temporary;
}

std::filesystem::path InstanceSocketPath() { return InstanceRuntimeFolder() / kInstanceName; }

std::filesystem::path InstanceLockPath() {
  return InstanceRuntimeFolder() / (std::string(kInstanceName) + kLockSuffix);
}

bool SendInstanceMessage(int message) {
  std::string path = InstanceSocketPath().string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.Get() < 0) return false;
  int connected;
  do {
    connected = ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (connected < 0 && errno == EINTR);
  if (connected < 0) return false;
  return WriteAll(socket.Get(), std::to_string(message) + "\n");
}

} // namespace quillo
