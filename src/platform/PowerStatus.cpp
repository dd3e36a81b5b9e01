// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/PowerStatus.h"

#include <fstream>
#include <string>
#include <system_error>

namespace quillo {

namespace {

constexpr const char* kMainsType = "Mains";

// The first line of a small sysfs file, without its line end; empty when
// the file cannot be read.
std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream stream(file);
  std::string line;
  std::getline(stream, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

} // namespace

uint8_t ReadAcLineStatus(const std::filesystem::path& powerSupplyFolder) {
  std::error_code error;
  std::filesystem::directory_iterator supplies(powerSupplyFolder, error);
  if (error) return kAcLineUnknown;
  bool anyMains = false;
  bool anyOnline = false;
  for (const std::filesystem::directory_entry& supply : supplies) {
    if (FirstLine(supply.path() / "type") != kMainsType) continue;
    std::string online = FirstLine(supply.path() / "online");
    if (online.empty()) continue; // a supply that does not say counts for nothing
    anyMains = true;
    if (online != "0") anyOnline = true;
  }
  if (!anyMains) return kAcLineUnknown;
  return anyOnline ? kAcLineOnline : kAcLineOffline;
}

} // namespace quillo
