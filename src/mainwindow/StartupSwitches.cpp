// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/StartupSwitches.h"

#include <algorithm>
#include <cctype>

#include "mainwindow/MainForm.h"

namespace quillo {

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

} // namespace

bool StartsInTray(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 &&
         (EqualsIgnoringCase(arguments.front(), "/StartUp") ||
          EqualsIgnoringCase(arguments.front(), "/Schedule"));
}

void ApplyStartupSwitches(TMainForm& form, const std::vector<std::string>& arguments) {
  if (!StartsInTray(arguments))
    form.show();
  else if (!form.Tray->IsAvailable())
    form.showMinimized();
}

} // namespace quillo
