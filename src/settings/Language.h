// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Component.h"
#include "settings/MessageText.h"
#include "settings/ProfileFile.h"

namespace quillo {

// The language files: the list of languages found in the language folder,
// the current language, single text lookups and the translation of whole
// windows. A language file "<Name>.lng" is a profile file; its texts
// override the built-in English ones. Main thread only.
class TLanguage {
public:
  static constexpr std::string_view kFileExtension = ".lng";
  static constexpr std::string_view kInitialLanguage = "english";

  // Lists LanguageFolder().
  TLanguage();
  // Lists `folder`. When the folder can be listed, Current becomes
  // "english"; otherwise Names and Current stay empty.
  explicit TLanguage(std::filesystem::path folder);

  // Name of the current language; its file is the one whose name equals the
  // name and ".lng" without regard to case.
  std::string Current;
  // For every entry of the language folder, files and sub-folders alike, the
  // characters before the first "."; sorted by name as a Windows folder
  // listing returns them, duplicates kept.
  std::vector<std::string> Names;

  const std::filesystem::path& Folder() const { return LanguageDir; }

  // The value of `key` in `section` of the current language file, or
  // `defaultValue` when the file or the key is missing. The parsed file is
  // kept and read again only when Current or the file changes.
  std::string Lookup(std::string_view section, std::string_view key,
                     std::string_view defaultValue);
  std::string Lookup(const MessageText& text);

  // Makes `name` current and translates every registered window in the
  // order of registration. Nothing checks that the file exists.
  void SetLanguage(const std::string& name);
  void AddTranslatedWindow(std::function<void()> translate);

  // Translates a window or frame and the components it owns: the section is
  // the root's name; captions, column titles and combo box items are replaced
  // from the keys that exist, and left as they are otherwise.
  void Translate(Component& root);

private:
  struct FileStamp {
    std::filesystem::file_time_type Time{};
    std::uintmax_t Size = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };

  const ProfileFile& CurrentFile();
  void LoadCurrentFile();
  std::filesystem::path FindLanguageFile() const;
  static bool Stamp(const std::filesystem::path& path, FileStamp& stamp);
  static void TranslateWith(const ProfileFile& file, Component& root);

  std::filesystem::path LanguageDir;
  std::vector<std::function<void()>> TranslatedWindows;

  // The parsed file of CachedLanguage, empty when it has no file.
  bool CacheLoaded = false;
  std::string CachedLanguage;
  std::filesystem::path CachedPath;
  FileStamp CachedStamp;
  FileStamp CachedFolderStamp; // to notice a file appearing for a language without one
  ProfileFile CachedFile;
};

} // namespace quillo
