// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/Setting.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "settings/ConfigurationFolder.h"
#include "settings/LanguageFolder.h"
#include "settings/ProfileFile.h"
#include "settings/ProfileWriteError.h"

namespace quillo {

namespace {

// Save spells the section both ways; the profile rules make them one section.
constexpr std::string_view kSettingSection = "Setting";
constexpr std::string_view kSettingSectionLower = "setting";
constexpr std::string_view kAutoSection = "QuilloDefrag";
constexpr std::string_view kScheduleSection = "Schedule";
constexpr std::string_view kOptimizePrefix = "Optimize_";

constexpr int kDateTimeDigits = 15;
constexpr char kFirstDrive = 'A';

const SettingFields::DateTime kNever = 0;

std::string DriveKey(int index) { return std::string(1, static_cast<char>(kFirstDrive + index)); }
std::string OptimizeKey(int index) { return std::string(kOptimizePrefix) + DriveKey(index); }

int32_t ReadInteger(const ProfileFile& file, std::string_view section, std::string_view key,
                    int32_t defaultValue) {
  const auto text = file.Find(section, key);
  if (!text || text->empty()) return defaultValue;
  const char* first = text->data();
  const char* last = first + text->size();
  if (*first == '+') ++first;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  return (error == std::errc() && end == last) ? value : defaultValue;
}

bool ReadBool(const ProfileFile& file, std::string_view section, std::string_view key,
              bool defaultValue) {
  return ReadInteger(file, section, key, defaultValue ? 1 : 0) != 0;
}

TSetting::DateTime ReadDateTime(const ProfileFile& file, std::string_view section,
                                std::string_view key, TSetting::DateTime defaultValue) {
  const auto text = file.Find(section, key);
  return text ? ParseDateTime(*text, defaultValue) : defaultValue;
}

void WriteBool(ProfileFile& file, std::string_view section, std::string_view key, bool value) {
  file.WriteString(section, key, value ? "1" : "0");
}

void WriteInteger(ProfileFile& file, std::string_view section, std::string_view key,
                  int32_t value) {
  file.WriteString(section, key, std::to_string(value));
}

} // namespace

std::string FormatDateTime(double value) {
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                    kDateTimeDigits);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

double ParseDateTime(std::string_view text, double defaultValue) {
  if (text.empty()) return defaultValue;
  const char* first = text.data();
  const char* last = first + text.size();
  if (*first == '+') ++first;
  double value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || !std::isfinite(value)) return defaultValue;
  return value;
}

TSetting::TSetting() : TSetting(ConfigurationFolder() / kFileName, LanguageFolder()) {}

TSetting::TSetting(std::filesystem::path fileName, std::filesystem::path languageFolder)
    : Translator(std::move(languageFolder)), FileName(std::move(fileName)) {}

int TSetting::DriveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < kFirstDrive || letter >= kFirstDrive + kDriveLetters) return -1;
  return letter - kFirstDrive;
}

void TSetting::Load() {
  const SettingFields defaults;
  const ProfileFile file = ProfileFile::Load(FileName);

  StartWithWindows = ReadBool(file, kSettingSection, "StartWithWindows", defaults.StartWithWindows);
  StopWhenBattary = ReadBool(file, kSettingSection, "StopWhenBattary", defaults.StopWhenBattary);
  SilentDefrag = ReadBool(file, kSettingSection, "SilentDefrag", defaults.SilentDefrag);
  AutoCheckUpdate = ReadBool(file, kSettingSection, "AutoCheckUpdate", defaults.AutoCheckUpdate);
  CloseMinimize = ReadBool(file, kSettingSection, "CloseMinimize", defaults.CloseMinimize);
  EnableTrayPrompt = ReadBool(file, kSettingSection, "EnableTrayPrompt", defaults.EnableTrayPrompt);
  EnableExclude = ReadBool(file, kSettingSection, "EnableExclude", defaults.EnableExclude);
  ExcludeSize = ReadInteger(file, kSettingSection, "ExcludeSize", defaults.ExcludeSize);
  Language = file.ReadString(kSettingSection, "Language", defaults.Language);

  for (int i = 0; i < kDriveLetters; ++i) {
    LastDefragTime[i] = ReadDateTime(file, kSettingSection, DriveKey(i), kNever);
  }
  for (int i = 0; i < kDriveLetters; ++i) {
    LastOptimizeTime[i] = ReadDateTime(file, kSettingSection, OptimizeKey(i), kNever);
  }
  LastAutoDefrag = ReadDateTime(file, kSettingSection, "LastAutoDefrag", kNever);

  EnableQuilloDefrag =
      ReadBool(file, kAutoSection, "EnableQuilloDefrag", defaults.EnableQuilloDefrag);
  EnableCpuLimit = ReadBool(file, kAutoSection, "EnableCpuLimit", defaults.EnableCpuLimit);
  CpuLimitValue = ReadInteger(file, kAutoSection, "CpuLimitValue", defaults.CpuLimitValue);
  EnableAutoIdleTime =
      ReadBool(file, kAutoSection, "EnableAutoIdleTime", defaults.EnableAutoIdleTime);
  AutoIdleTime = ReadInteger(file, kAutoSection, "AutoIdleTime", defaults.AutoIdleTime);

  EnableSchedule = ReadBool(file, kScheduleSection, "EnableSchedule", defaults.EnableSchedule);
  IsOptDefrag_Task = ReadBool(file, kScheduleSection, "IsOptDefrag_Task", defaults.IsOptDefrag_Task);
  scheduledisk = file.ReadString(kScheduleSection, "scheduledisk", defaults.scheduledisk);
}

void TSetting::Save() {
  std::error_code readError;
  ProfileFile file = ProfileFile::Load(FileName, readError);
  // Rewriting a file that could not be read would drop everything in it.
  if (readError) throw ProfileWriteError(FileName);

  // All keys are written into one new version of the file, which replaces
  // the old one at once.
  WriteBool(file, kSettingSectionLower, "StartWithWindows", StartWithWindows);
  WriteBool(file, kSettingSectionLower, "StopWhenBattary", StopWhenBattary);
  WriteBool(file, kSettingSectionLower, "SilentDefrag", SilentDefrag);
  WriteBool(file, kSettingSectionLower, "AutoCheckUpdate", AutoCheckUpdate);
  WriteBool(file, kSettingSectionLower, "CloseMinimize", CloseMinimize);
  WriteBool(file, kSettingSectionLower, "EnableTrayPrompt", EnableTrayPrompt);
  WriteBool(file, kSettingSection, "EnableExclude", EnableExclude);
  WriteInteger(file, kSettingSection, "ExcludeSize", ExcludeSize);
  file.WriteString(kSettingSectionLower, "Language", Language);

  // A date of 0 is never written, so a letter's key, once there, stays.
  for (int i = 0; i < kDriveLetters; ++i) {
    if (LastDefragTime[i] != kNever) {
      file.WriteString(kSettingSection, DriveKey(i), FormatDateTime(LastDefragTime[i]));
    }
  }
  for (int i = 0; i < kDriveLetters; ++i) {
    if (LastOptimizeTime[i] != kNever) {
      file.WriteString(kSettingSection, OptimizeKey(i), FormatDateTime(LastOptimizeTime[i]));
    }
  }
  file.WriteString(kSettingSection, "LastAutoDefrag", FormatDateTime(LastAutoDefrag));

  WriteBool(file, kAutoSection, "EnableQuilloDefrag", EnableQuilloDefrag);
  WriteBool(file, kAutoSection, "EnableCpuLimit", EnableCpuLimit);
  WriteInteger(file, kAutoSection, "CpuLimitValue", CpuLimitValue);
  WriteBool(file, kAutoSection, "EnableAutoIdleTime", EnableAutoIdleTime);
  WriteInteger(file, kAutoSection, "AutoIdleTime", AutoIdleTime);

  WriteBool(file, kScheduleSection, "EnableSchedule", EnableSchedule);
  WriteBool(file, kScheduleSection, "IsOptDefrag_Task", IsOptDefrag_Task);
  file.WriteString(kScheduleSection, "scheduledisk", scheduledisk);

  file.Save(FileName);
}

} // namespace quillo
