// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "settings/Language.h"
#include "settings/SettingFields.h"

namespace quillo {

// The user's options and the per-volume history, kept in config.ini in the
// configuration folder. Owns the language object. Main thread only.
class TSetting : public SettingFields {
public:
  static constexpr std::string_view kFileName = "config.ini";

  // The settings file in ConfigurationFolder(); the languages of
  // LanguageFolder(). Reads nothing from the settings file.
  TSetting();
  TSetting(std::filesystem::path fileName, std::filesystem::path languageFolder);

  // Every key into its field; the default stands for a key that is absent or
  // unreadable.
  void Load();
  // Every field to its key; raises ProfileWriteError when the file cannot be
  // written, leaving the old file as it was.
  void Save();

  TLanguage Translator;
  std::filesystem::path FileName;

  // Index into LastDefragTime and LastOptimizeTime for a drive letter in
  // either case; -1 for anything else.
  static int DriveIndex(char letter);
};

// Date-times are written in decimal with up to 15 significant digits and "."
// as the separator, whatever the locale: 40123.5 for noon on 6 November 2009.
std::string FormatDateTime(double value);
// A value that is not a finite decimal number gives `defaultValue`.
double ParseDateTime(std::string_view text, double defaultValue);

} // namespace quillo
