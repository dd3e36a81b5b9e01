// SPDX-License-Identifier: GPL-2.0-or-later
// A loop device over an image file of a test, detached when the object goes,
// whatever the test's outcome.
#pragma once

#include <filesystem>
#include <string>

namespace quillo::test {

class LoopDevice {
public:
  // Attaches `image` to a free loop device. Attached() is false when the
  // machine cannot (not root, no loop support); the test then skips.
  explicit LoopDevice(const std::filesystem::path& image);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool Attached() const { return !Path.empty(); }
  // "/dev/loop3"; empty when not attached.
  const std::string& DevicePath() const { return Path; }

private:
  std::string Path;
};

} // namespace quillo::test
