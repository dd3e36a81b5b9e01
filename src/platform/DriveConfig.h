// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "settings/ProfileFile.h"

namespace quillo {

// drives.ini in the configuration folder. Section "drives" maps letters to
// volumes ("C=/srv/win.img", "D=/dev/sdb1", "E=/srv/disk.img#2"); section
// "letters" remembers the letters given to discovered volumes, by their
// file-system UUID; section "confirmed" the block devices written to
// without asking first. The key "system" of section "drives" names the letter of
// the Windows system volume ("system=C"), the one automatic runs work on.
class DriveConfig {
public:
  static constexpr const char* kFileName = "drives.ini";

  struct Drive {
    char Letter = 0; // 'C'
    std::string Location;
  };

  static DriveConfig Load(const std::filesystem::path& folder);

  const std::vector<Drive>& Drives() const { return Configured; }
  // Lines that could not be used, and why.
  const std::vector<std::string>& Warnings() const { return Problems; }
  // Volume serial numbers compare as the file's keys do: without regard to
  // case ("1234-abcd" in a hand-edited file is the volume 1234-ABCD).
  struct UuidLess {
    bool operator()(const std::string& left, const std::string& right) const;
  };
  using LetterMap = std::map<std::string, char, UuidLess>;
  const LetterMap& RememberedLetters() const { return Remembered; }
  // The system volume's letter; 0 when the file names none.
  char SystemLetter() const { return System; }

  void Remember(const std::string& uuid, char letter);
  // Names a volume under a letter in section "drives", or takes the
  // letter's line off it.
  void AddDrive(char letter, const std::string& location);
  void RemoveDrive(char letter);
  // Section "confirmed": the block devices whose user said not to be asked
  // again before the first write to them ("/dev/sdb1=yes").
  bool WritesConfirmed(const std::string& device) const;
  void ConfirmWrites(const std::string& device);
  // Writes what was remembered since loading, if anything. False with `why`
  // when the file cannot be written.
  bool Save(std::string& why);

private:
  std::filesystem::path File;
  ProfileFile Profile;
  std::vector<Drive> Configured;
  std::vector<std::string> Problems;
  LetterMap Remembered;
  char System = 0;
  bool Changed = false;
};

// "C", "c:" -> 'C'; 0 when the text names no drive letter.
char ParseDriveLetter(const std::string& text);

} // namespace quillo
