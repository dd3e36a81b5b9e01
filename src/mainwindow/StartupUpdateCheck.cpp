// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/StartupUpdateCheck.h"

namespace quillo {

StartupUpdateCheck::StartupUpdateCheck(const UpdateCheckServices& services,
                                       const std::filesystem::path& settingsFile, Clock& clock) {
  UpdateCheckSetup setup;
  setup.Url = services.Url;
  setup.TempFolder = services.TempFolder;
  setup.SettingsFile = settingsFile;
  setup.Time = &clock;
  setup.HandOver = &HandOver;
  setup.Question = services.Question ? services.Question : &Box;
  Check = std::make_unique<TUpdateThread>(std::move(setup));
}

// The thread ends before the hand-over it may be waiting on.
StartupUpdateCheck::~StartupUpdateCheck() { Check.reset(); }

} // namespace quillo
