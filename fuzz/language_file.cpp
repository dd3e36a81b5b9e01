// SPDX-License-Identifier: GPL-2.0-or-later
// A language file dropped into the language folder, in whatever encoding:
// the folder listing, the lookups of single texts and the translation of a
// window whose components are named after the file's own keys.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "settings/Component.h"
#include "settings/Language.h"
#include "settings/MessageText.h"
#include "settings/TextEncoding.h"

namespace {

using namespace quillo;

constexpr const char* kLanguageName = "Fuzz";
constexpr const char* kFileName = "Fuzz.lng";
// One component of each kind of translation, so that every key form is
// looked up: captions, list-view columns, combo-box items, own sections.
constexpr const char* kComponentClasses[] = {"TLabel", "TListView", "TComboBox", "TReportTab"};
constexpr size_t kListEntries = 3;
// A window of a few hundred components is as large as any.
constexpr size_t kMostComponents = 256;

fuzz::TempFolder& Folder() {
  static fuzz::TempFolder folder;
  return folder;
}

// The window a file of these sections and keys would translate.
Component WindowFor(const ProfileFile& file, const std::string& section) {
  Component root;
  root.ClassName = "TForm";
  root.Name = section;
  root.Caption = "caption";
  size_t next = 0;
  for (const std::string& key : file.Keys(section)) {
    if (root.Owned.size() >= kMostComponents) break;
    Component component;
    component.ClassName = kComponentClasses[next++ % std::size(kComponentClasses)];
    component.Name = key.substr(0, key.find('.'));
    component.Caption = key;
    component.Columns.assign(kListEntries, "column");
    component.Items.assign(kListEntries, "item");
    component.ItemIndex = 1;
    if (component.ClassName == std::string("TReportTab")) component.Name = section;
    root.Owned.push_back(std::move(component));
  }
  return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteBytes(Folder().Path() / kFileName, data, size);
  // Read anew each time: the cache goes by the file's time and size.
  TLanguage language(Folder().Path());
  language.SetLanguage(kLanguageName);

  std::string text(reinterpret_cast<const char*>(data), size);
  ProfileFile keys = ProfileFile::Parse(ToDisplayText(text));
  for (const std::string& section : keys.Sections()) {
    for (const std::string& key : keys.Keys(section)) {
      std::string value = language.Lookup(section, key, "");
      fuzz::Require(IsValidUtf8(value), "a text from a language file is shown as UTF-8");
    }
    Component window = WindowFor(keys, section);
    language.Translate(window);
    for (const Component& component : window.Owned)
      if (component.ClassName == std::string("TComboBox"))
        fuzz::Require(component.ItemIndex == 1, "a translation keeps the selected item");
  }
  (void)language.Lookup(messages::kAnalyzed);
  return 0;
}
