// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace quillo {

// What the translation of a window needs to know about one component,
// independent of the window toolkit. A window layer describes its widgets
// with these, lets TLanguage::Translate change the texts, and writes the
// changed texts back.
struct Component {
  // The kind of control, named as in the translation table
  // (TranslationAction.h): "TLabel", "TButton", "TListView", "TComboBox", ...
  std::string ClassName;
  std::string Name;
  std::string Caption;
  std::vector<std::string> Columns; // list views: column titles
  std::vector<std::string> Items;   // combo boxes: item texts
  int ItemIndex = -1;               // combo boxes: selected item, -1 for none
  // The components this one owns, in creation order: for a window or frame,
  // every component placed on it, whatever its parent control.
  std::vector<Component> Owned;
};

} // namespace quillo
