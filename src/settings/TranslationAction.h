// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string_view>

namespace quillo {

// What translating a window does with one component it owns.
enum class TranslationAction {
  None,       // panels, pages, pictures, trackbars, timers, tray icon, ...
  Caption,    // text := name + ".Caption"
  Columns,    // column i := name + ".Column[i].Caption"
  Items,      // item i := name + ".Items[i].Caption", selection kept
  OwnSection, // translated by itself, its name being the section
};

// Decided by the exact class name; subclasses of the listed kinds are not
// translated.
TranslationAction ActionForClass(std::string_view className);

} // namespace quillo
