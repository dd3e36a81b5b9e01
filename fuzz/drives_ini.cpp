// SPDX-License-Identifier: GPL-2.0-or-later
// drives.ini as the user wrote it: the configured letters, the remembered
// ones, the warnings, the locations ("image#N") and the drive table built
// from them. Device discovery is off, and the table is only asked what it
// holds: no volume named in the file is ever opened.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "platform/DriveConfig.h"
#include "platform/DriveTable.h"
#include "platform/VolumeStorage.h"

namespace {

using namespace quillo;

constexpr const char* kRememberedUuid = "1234-ABCD";
constexpr char kRememberedLetter = 'Q';

fuzz::TempFolder& Folder() {
  static fuzz::TempFolder folder;
  return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz::Require;
  const std::filesystem::path folder = Folder().Path();
  fuzz::WriteBytes(folder / DriveConfig::kFileName, data, size);

  DriveConfig config = DriveConfig::Load(folder);
  std::set<char> letters;
  for (const DriveConfig::Drive& drive : config.Drives()) {
    Require(drive.Letter >= 'A' && drive.Letter <= 'Z', "a configured letter is A to Z");
    Require(letters.insert(drive.Letter).second, "a letter is configured once");
    Require(!drive.Location.empty(), "a configured letter names a volume");
    (void)ParseVolumeLocation(drive.Location);
  }
  for (const auto& [uuid, letter] : config.RememberedLetters())
    Require(letter >= 'A' && letter <= 'Z', "a remembered letter is A to Z");
  char system = config.SystemLetter();
  Require(system == 0 || (system >= 'A' && system <= 'Z'), "the system letter is A to Z");

  DriveEnvironment environment;
  environment.ConfigurationFolder = folder;
  environment.Discover = false;
  DriveTable table(environment);
  for (const DriveTable::Drive& drive : table.Drives()) {
    std::string root = std::string(1, drive.Letter) + ":\\";
    Require(table.GetDriveType(root) != table.GetDriveType("?:\\"), "a configured letter is a drive");
  }
  (void)table.LogicalDriveStrings();
  (void)table.Warnings();

  // A letter remembered for a discovered volume is written into the same
  // file and found there again, whatever else the file holds.
  config.Remember(kRememberedUuid, kRememberedLetter);
  std::string why;
  Require(config.Save(why), "drives.ini in a folder of our own can be written");
  // A UTF-16 file is ignored as a whole, and left as it is.
  if (ProfileFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size)).LooksLikeUtf16())
    return 0;
  DriveConfig again = DriveConfig::Load(folder);
  auto found = again.RememberedLetters().find(kRememberedUuid);
  Require(found != again.RememberedLetters().end() && found->second == kRememberedLetter,
          "a remembered letter is read back");
  return 0;
}
