// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/DriveConfig.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "settings/ProfileWriteError.h"

namespace quillo {

namespace {

constexpr const char* kDrivesSection = "drives";
constexpr const char* kLettersSection = "letters";
constexpr const char* kSystemKey = "system";
constexpr const char* kConfirmedSection = "confirmed";
constexpr const char* kConfirmedValue = "yes";
constexpr const char* kUtf16Problem =
    " is UTF-16 text and is ignored; it must be UTF-8 or ANSI text";
// A line quoted in a warning is cut to this many bytes.
constexpr size_t kShownLineBytes = 60;
constexpr const char* kEllipsis = "...";

bool SameKey(const std::string& key, const char* name) {
  if (key.size() != std::char_traits<char>::length(name)) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(key[i])) != name[i]) return false;
  return true;
}

std::string Shortened(const std::string& line) {
  if (line.size() <= kShownLineBytes) return line;
  size_t cut = kShownLineBytes;
  // Never inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
    --cut;
  return line.substr(0, cut) + kEllipsis;
}

} // namespace

char ParseDriveLetter(const std::string& text) {
  if (text.empty() || text.size() > 2) return 0;
  if (text.size() == 2 && text[1] != ':') return 0;
  unsigned char c = static_cast<unsigned char>(text[0]);
  if (!std::isalpha(c) || c > 0x7F) return 0;
  return char(std::toupper(c));
}

DriveConfig DriveConfig::Load(const std::filesystem::path& folder) {
  DriveConfig config;
  config.File = folder / kFileName;
  std::error_code error;
  config.Profile = ProfileFile::Load(config.File, error);
  if (error) config.Problems.push_back(config.File.string() + ": " + error.message());
  if (config.Profile.LooksLikeUtf16()) {
    // One warning for the file: line by line it would be all noise.
    config.Problems.push_back(std::string(kFileName) + kUtf16Problem);
    return config;
  }
  for (const ProfileFile::SkippedLine& line : config.Profile.SkippedLines())
    config.Problems.push_back(std::string(kFileName) + " line " + std::to_string(line.Number) +
                              ": \"" + Shortened(line.Text) + "\" " + line.Why + "; ignored");

  std::set<char> seen;
  for (const std::string& key : config.Profile.Keys(kDrivesSection)) {
    char letter = ParseDriveLetter(key);
    std::string location = config.Profile.ReadString(kDrivesSection, key, "");
    if (SameKey(key, kSystemKey)) {
      config.System = ParseDriveLetter(location);
      if (config.System == 0)
        config.Problems.push_back(std::string(kFileName) + ": system=\"" + location +
                                  "\" is not a drive letter");
    } else if (letter == 0) {
      config.Problems.push_back(std::string(kFileName) + ": \"" + key + "\" is not a drive letter");
    } else if (location.empty()) {
      config.Problems.push_back(std::string(kFileName) + ": " + letter + ": names no volume");
    } else if (!seen.insert(letter).second) {
      config.Problems.push_back(std::string(kFileName) + ": " + letter +
                                ": is given more than once; the first line counts");
    } else {
      config.Configured.push_back({letter, location});
    }
  }
  for (const std::string& uuid : config.Profile.Keys(kLettersSection)) {
    char letter = ParseDriveLetter(config.Profile.ReadString(kLettersSection, uuid, ""));
    if (letter != 0) config.Remembered[uuid] = letter;
  }
  return config;
}

bool DriveConfig::UuidLess::operator()(const std::string& left, const std::string& right) const {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                      [](unsigned char a, unsigned char b) {
                                        return std::toupper(a) < std::toupper(b);
                                      });
}

void DriveConfig::Remember(const std::string& uuid, char letter) {
  Remembered[uuid] = letter;
  Profile.WriteString(kLettersSection, uuid, std::string(1, letter));
  Changed = true;
}

void DriveConfig::AddDrive(char letter, const std::string& location) {
  Profile.WriteString(kDrivesSection, std::string(1, letter), location);
  Configured.push_back({letter, location});
  Changed = true;
}

void DriveConfig::RemoveDrive(char letter) {
  Profile.DeleteKey(kDrivesSection, std::string(1, letter));
  std::erase_if(Configured, [&](const Drive& drive) { return drive.Letter == letter; });
  Changed = true;
}

bool DriveConfig::WritesConfirmed(const std::string& device) const {
  return Profile.ReadString(kConfirmedSection, device, "") == kConfirmedValue;
}

void DriveConfig::ConfirmWrites(const std::string& device) {
  Profile.WriteString(kConfirmedSection, device, kConfirmedValue);
  Changed = true;
}

bool DriveConfig::Save(std::string& why) {
  if (!Changed) return true;
  // Lines added to a UTF-16 file would be unreadable to an editor and to
  // us; the letters go unremembered, as Load has said the file is ignored.
  if (Profile.LooksLikeUtf16()) return true;
  try {
    Profile.Save(File);
  } catch (const ProfileWriteError& error) {
    why = error.what();
    return false;
  }
  Changed = false;
  return true;
}

} // namespace quillo
