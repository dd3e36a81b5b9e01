// SPDX-License-Identifier: GPL-2.0-or-later
#include "ForeignFileSystem.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace quillo::test {

bool MakeForeignImage(const ForeignFileSystem& kind, const std::filesystem::path& image,
                      uintmax_t bytes) {
  std::ofstream(image, std::ios::binary).close();
  std::filesystem::resize_file(image, bytes);
  // mkfs.fat tells its version on standard output.
  std::string command = std::string(kind.Made) + " '" + image.string() + "' > /dev/null";
  return std::system(command.c_str()) == 0;
}

} // namespace quillo::test
