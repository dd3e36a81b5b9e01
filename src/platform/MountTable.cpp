// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/MountTable.h"

#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

namespace quillo {

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      int value = 0;
      bool octal = true;
      for (size_t k = 1; k <= 3; ++k) {
        char c = text[i + k];
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal) {
        out.push_back(char(value));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

} // namespace

MountTable MountTable::Parse(const std::string& text) {
  MountTable table;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::stringstream fields(line);
    std::string id, parent, numbers, root, mountPoint;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint)) continue;
    size_t colon = numbers.find(':');
    if (colon == std::string::npos) continue;
    Mount mount;
    try {
      mount.Major = unsigned(std::stoul(numbers.substr(0, colon)));
      mount.Minor = unsigned(std::stoul(numbers.substr(colon + 1)));
    } catch (const std::exception&) {
      continue;
    }
    mount.MountPoint = Unescape(mountPoint);
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    if (fields >> type >> source) mount.Source = Unescape(source);
    table.Mounts.push_back(std::move(mount));
  }
  return table;
}

MountTable MountTable::Load(const std::filesystem::path& path, bool& readable) {
  std::ifstream in(path);
  readable = bool(in);
  if (!readable) return {};
  std::stringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

std::string MountTable::MountPointOf(dev_t device) const {
  for (const Mount& mount : Mounts)
    if (mount.Major == major(device) && mount.Minor == minor(device)) return mount.MountPoint;
  return {};
}

std::string MountTable::MountPointOfSource(const std::string& path) const {
  for (const Mount& mount : Mounts)
    if (!path.empty() && mount.Source == path) return mount.MountPoint;
  return {};
}

} // namespace quillo
