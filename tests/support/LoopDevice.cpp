// SPDX-License-Identifier: GPL-2.0-or-later
#include "LoopDevice.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace quillo::test {

namespace {

constexpr size_t kLineBytes = 256;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

} // namespace

LoopDevice::LoopDevice(const std::filesystem::path& image) {
  if (geteuid() != 0) return;
  std::string command = "losetup --find --show " + Quoted(image.string()) + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return;
  std::array<char, kLineBytes> line{};
  std::string read;
  while (fgets(line.data(), int(line.size()), pipe)) read += line.data();
  if (pclose(pipe) != 0) return;
  while (!read.empty() && (read.back() == '\n' || read.back() == ' ')) read.pop_back();
  if (read.rfind("/dev/loop", 0) == 0) Path = read;
}

LoopDevice::~LoopDevice() {
  if (Path.empty()) return;
  std::string command = "losetup -d " + Quoted(Path) + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) {
    // A device still busy (a job of the failed test holds it) is detached
    // by the kernel once it is let go.
  }
}

} // namespace quillo::test
