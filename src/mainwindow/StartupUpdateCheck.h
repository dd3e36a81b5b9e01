// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <memory>

#include "engine/Clock.h"
#include "mainwindow/UpdateHandOver.h"
#include "mainwindow/UpdateQuestionBox.h"
#include "update/UpdateCheckServices.h"
#include "update/UpdateThread.h"

namespace quillo {

// The update check that the main window starts once: the thread with its
// hand-over to the window thread and its question box. Going away ends the
// check at once, whatever it was doing.
class StartupUpdateCheck {
public:
  StartupUpdateCheck(const UpdateCheckServices& services, const std::filesystem::path& settingsFile,
                     Clock& clock);
  ~StartupUpdateCheck();
  StartupUpdateCheck(const StartupUpdateCheck&) = delete;
  StartupUpdateCheck& operator=(const StartupUpdateCheck&) = delete;

  TUpdateThread& Thread() { return *Check; }

private:
  UpdateHandOver HandOver;
  UpdateQuestionBox Box;
  std::unique_ptr<TUpdateThread> Check;
};

} // namespace quillo
