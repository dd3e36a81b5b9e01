// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/Language.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "settings/LanguageFolder.h"
#include "settings/TextEncoding.h"
#include "settings/TranslationAction.h"

namespace quillo {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCaptionSuffix = ".Caption";
// The existence test of a root's own caption spells the suffix this way; the
// profile rules make both spellings the same key.
constexpr std::string_view kRootCaptionSuffix = ".caption";
constexpr char kNameEnd = '.';

std::string IndexedKey(const std::string& name, std::string_view part, size_t index) {
  return name + "." + std::string(part) + "[" + std::to_string(index) + "]" +
         std::string(kCaptionSuffix);
}

// Windows lists a folder in name order without regard to case.
bool ListingOrder(const std::string& a, const std::string& b) {
  const std::string lowerA = AsciiLower(a);
  const std::string lowerB = AsciiLower(b);
  return lowerA != lowerB ? lowerA < lowerB : a < b;
}

} // namespace

TLanguage::TLanguage() : TLanguage(LanguageFolder()) {}

TLanguage::TLanguage(fs::path folder) : LanguageDir(std::move(folder)) {
  std::error_code error;
  fs::directory_iterator entries(LanguageDir, error);
  if (error) return;
  std::vector<std::string> entryNames;
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error) break;
    entryNames.push_back(entries->path().filename().string());
  }
  std::sort(entryNames.begin(), entryNames.end(), ListingOrder);
  for (const std::string& entry : entryNames) {
    const size_t dot = entry.find(kNameEnd);
    Names.push_back(dot == std::string::npos ? std::string() : entry.substr(0, dot));
  }
  Current = kInitialLanguage;
}

std::string TLanguage::Lookup(std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
  return CurrentFile().ReadString(section, key, defaultValue);
}

std::string TLanguage::Lookup(const MessageText& text) {
  return Lookup(text.Section, text.Key, text.Default);
}

void TLanguage::SetLanguage(const std::string& name) {
  Current = name;
  for (const auto& translate : TranslatedWindows) translate();
}

void TLanguage::AddTranslatedWindow(std::function<void()> translate) {
  TranslatedWindows.push_back(std::move(translate));
}

void TLanguage::Translate(Component& root) { TranslateWith(CurrentFile(), root); }

void TLanguage::TranslateWith(const ProfileFile& file, Component& root) {
  const std::string& section = root.Name;
  if (!root.Name.empty() &&
      file.ValueExists(section, root.Name + std::string(kRootCaptionSuffix))) {
    root.Caption = file.ReadString(section, root.Name + std::string(kCaptionSuffix), root.Caption);
  }
  for (Component& component : root.Owned) {
    const TranslationAction action = ActionForClass(component.ClassName);
    if (action == TranslationAction::OwnSection) {
      TranslateWith(file, component);
      continue;
    }
    // No key can be formed for a component without a name.
    if (component.Name.empty()) continue;
    switch (action) {
    case TranslationAction::Caption:
      component.Caption = file.ReadString(
          section, component.Name + std::string(kCaptionSuffix), component.Caption);
      break;
    case TranslationAction::Columns:
      for (size_t i = 0; i < component.Columns.size(); ++i) {
        component.Columns[i] =
            file.ReadString(section, IndexedKey(component.Name, "Column", i), component.Columns[i]);
      }
      break;
    case TranslationAction::Items: {
      const int selected = component.ItemIndex;
      for (size_t i = 0; i < component.Items.size(); ++i) {
        component.Items[i] =
            file.ReadString(section, IndexedKey(component.Name, "Items", i), component.Items[i]);
      }
      component.ItemIndex = selected;
      break;
    }
    case TranslationAction::OwnSection:
    case TranslationAction::None:
      break;
    }
  }
}

bool TLanguage::Stamp(const fs::path& path, FileStamp& stamp) {
  std::error_code error;
  stamp.Time = fs::last_write_time(path, error);
  if (error) return false;
  stamp.Size = fs::is_directory(path, error) ? 0 : fs::file_size(path, error);
  return !error;
}

const ProfileFile& TLanguage::CurrentFile() {
  bool reload = !CacheLoaded || CachedLanguage != Current;
  if (!reload) {
    FileStamp now;
    if (CachedPath.empty()) {
      // No file for this language so far: only a change of the folder can
      // bring one.
      Stamp(LanguageDir, now);
      reload = !(now == CachedFolderStamp);
    } else {
      reload = !Stamp(CachedPath, now) || !(now == CachedStamp);
    }
  }
  if (reload) LoadCurrentFile();
  return CachedFile;
}

void TLanguage::LoadCurrentFile() {
  CacheLoaded = true;
  CachedLanguage = Current;
  CachedFile = ProfileFile();
  CachedStamp = FileStamp();
  CachedFolderStamp = FileStamp();
  Stamp(LanguageDir, CachedFolderStamp);
  CachedPath = FindLanguageFile();
  if (CachedPath.empty() || !Stamp(CachedPath, CachedStamp)) {
    CachedPath.clear();
    return;
  }
  std::error_code error;
  const std::string bytes = ReadFileBytes(CachedPath, error);
  if (!error) CachedFile = ProfileFile::Parse(ToDisplayText(bytes));
}

fs::path TLanguage::FindLanguageFile() const {
  const std::string wanted = Current + std::string(kFileExtension);
  std::error_code error;
  fs::directory_iterator entries(LanguageDir, error);
  if (error) return {};
  fs::path best;
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error) break;
    const std::string name = entries->path().filename().string();
    if (!EqualsIgnoringCase(name, wanted)) continue;
    std::error_code typeError;
    if (!fs::is_regular_file(entries->path(), typeError)) continue;
    // Several spellings can sit side by side on Linux; the exact one wins,
    // else the first in listing order.
    if (name == wanted) return entries->path();
    if (best.empty() || ListingOrder(name, best.filename().string())) best = entries->path();
  }
  return best;
}

} // namespace quillo
