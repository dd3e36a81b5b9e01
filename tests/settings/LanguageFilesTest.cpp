// SPDX-License-Identifier: GPL-2.0-or-later
// Checks the language files shipped in the source tree's "language" folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Language.h"
#include "settings/MessageText.h"
#include "settings/ProfileFile.h"
#include "settings/TextEncoding.h"
#include "TestSupport.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

// Section (lower case) -> key (lower case) -> value, from the raw lines, so
// that a key written twice is caught rather than silently shadowed.
struct KeySet {
  std::map<std::string, std::map<std::string, std::string>> Sections;
  std::vector<std::string> Duplicates;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

KeySet ReadKeySet(const fs::path& path) {
  const ProfileFile profile = ProfileFile::Parse(ReadAll(path));
  KeySet result;
  std::istringstream lines(ReadAll(path));
  std::string section;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const std::string key = line.substr(0, line.find('='));
    auto& keys = result.Sections[AsciiLower(section)];
    if (keys.count(AsciiLower(key)) != 0) result.Duplicates.push_back(section + "/" + key);
    keys[AsciiLower(key)] = profile.ReadString(section, key, "");
  }
  return result;
}

// The format placeholders of a text, in order, and its doubled ampersands.
std::vector<std::string> Placeholders(const std::string& text) {
  static const std::regex pattern("%%|%[-+ #0]*[0-9]*(\\.[0-9]+)?[a-zA-Z]|&&");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    found.push_back(it->str());
  }
  return found;
}

fs::path ShippedFolder() { return test::SourceDir() / "language"; }

std::vector<fs::path> ShippedFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(ShippedFolder())) {
    if (entry.path().extension() == TLanguage::kFileExtension) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(LanguageFilesTest, EnglishHoldsEveryRunTimeTextWithItsBuiltInWording) {
  const KeySet english = ReadKeySet(ShippedFolder() / "English.lng");
  EXPECT_THAT(english.Duplicates, ::testing::IsEmpty());

  std::map<std::string, std::set<std::string>> defaults; // lower-case key -> built-in texts
  for (const MessageText& text : kAllMessageTexts) {
    defaults[AsciiLower(text.Key)].insert(std::string(text.Default));
  }
  const auto& messages = english.Sections.at("m");
  ASSERT_EQ(messages.size(), defaults.size());
  for (const auto& [key, value] : messages) {
    ASSERT_EQ(defaults.count(key), 1u) << key;
    EXPECT_EQ(defaults[key].count(value), 1u) << key << "=" << value;
  }
  for (const MessageText& text : {messages::kSuggestDefragOnly, messages::kSuggestDefragOptimize}) {
    const auto& section = english.Sections.at(AsciiLower(text.Section));
    EXPECT_EQ(section.at(AsciiLower(text.Key)), text.Default);
  }
  for (const char* window : {"mainform", "reportform", "reportcontent", "switchlangform", "aboutform"}) {
    EXPECT_EQ(english.Sections.count(window), 1u) << window;
  }
}

TEST(LanguageFilesTest, EveryTranslationHasExactlyTheKeysOfEnglish) {
  const KeySet english = ReadKeySet(ShippedFolder() / "English.lng");
  const std::vector<fs::path> files = ShippedFiles();
  std::vector<std::string> names;
  for (const fs::path& file : files) names.push_back(file.stem().string());
  EXPECT_THAT(names, ::testing::IsSupersetOf({"Deutsch", "English", "Francais"}));

  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    EXPECT_TRUE(IsValidUtf8(ReadAll(file)));
    const KeySet translation = ReadKeySet(file);
    EXPECT_THAT(translation.Duplicates, ::testing::IsEmpty());
    ASSERT_EQ(translation.Sections.size(), english.Sections.size());
    for (const auto& [section, keys] : english.Sections) {
      ASSERT_EQ(translation.Sections.count(section), 1u) << section;
      const auto& translated = translation.Sections.at(section);
      for (const auto& [key, value] : keys) {
        ASSERT_EQ(translated.count(key), 1u) << section << "/" << key;
        EXPECT_EQ(Placeholders(translated.at(key)), Placeholders(value)) << section << "/" << key;
        EXPECT_FALSE(translated.at(key).empty()) << section << "/" << key;
      }
      EXPECT_EQ(translated.size(), keys.size()) << section;
    }
  }
}

TEST(LanguageFilesTest, ShippedLanguagesAreListedAndLookedUp) {
  TLanguage language(ShippedFolder());
  EXPECT_THAT(language.Names, ::testing::IsSupersetOf({"Deutsch", "English", "Francais"}));
  EXPECT_EQ(language.Lookup(messages::kTurnoff), "Please close other applications");
  language.Current = "deutsch";
  EXPECT_EQ(language.Lookup(messages::kTurnoff), "Bitte schließen Sie alle anderen Anwendungen");
  language.Current = "FRANCAIS";
  EXPECT_EQ(language.Lookup("MainForm", "ScheduleCheck.Caption", ""), "Activer la planification ");
}

} // namespace
} // namespace quillo
