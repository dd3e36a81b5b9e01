// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/TranslationAction.h"

#include <array>
#include <utility>

namespace quillo {

namespace {

constexpr std::array<std::pair<std::string_view, TranslationAction>, 14> kActions = {{
    {"TLabel", TranslationAction::Caption},
    {"TButton", TranslationAction::Caption},
    {"TGroupBox", TranslationAction::Caption},
    {"TCheckBox", TranslationAction::Caption},
    {"TRzCheckBox", TranslationAction::Caption},
    {"TRzRadioButton", TranslationAction::Caption},
    {"TToolButton", TranslationAction::Caption},
    {"TSpeedButton", TranslationAction::Caption},
    {"TMenuItem", TranslationAction::Caption},
    {"TListView", TranslationAction::Columns},
    {"TRzListView", TranslationAction::Columns},
    {"TComboBox", TranslationAction::Items},
    {"TReportTab", TranslationAction::OwnSection},
    {"TReportContent", TranslationAction::OwnSection},
}};

} // namespace

TranslationAction ActionForClass(std::string_view className) {
  for (const auto& [name, action] : kActions) {
    if (name == className) return action;
  }
  return TranslationAction::None;
}

} // namespace quillo
