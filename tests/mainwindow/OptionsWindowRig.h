// SPDX-License-Identifier: GPL-2.0-or-later
// The program's windows (main window, report window, language chooser) on
// in-memory volumes, with the task library's files in a folder of the test's
// own and the links that would open recorded.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WindowTestSupport.h"
#include "mainwindow/ProgramWindows.h"

namespace quillo::test {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const std::string& value) : Name(name) {
    if (const char* old = std::getenv(name)) Previous = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (Previous)
      setenv(Name, Previous->c_str(), 1);
    else
      unsetenv(Name);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
  const char* Name;
  std::optional<std::string> Previous;
};

class OptionsWindowRig {
public:
  OptionsWindowRig()
      : ConfigHome("XDG_CONFIG_HOME", (Rig.Folder.Path() / "xdg").string()),
        // Set and empty: the task library asks no service manager.
        NoSystemctl("JOBSCHED_SYSTEMCTL", "") {
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:", "NTFS", 1));
  }

  // Creates the windows; the chooser's creation applies the settings.
  TMainForm& Start() {
    FormServices services = Rig.Services();
    if (!LanguageFolder.empty()) services.LanguageFolder = LanguageFolder;
    services.OpenLink = [this](const std::string& link) { Links.push_back(link); };
    Windows = std::make_unique<ProgramWindows>(services);
    return Windows->MainForm();
  }

  // The log-on entry the task library writes for "AutoQuilloDefrag.job".
  std::filesystem::path AutostartEntry() const {
    return Rig.Folder.Path() / "xdg" / "autostart" / "autoquillodefrag-job.desktop";
  }
  // The weekly timer of "QuilloDefrag.job".
  std::filesystem::path WeeklyTimer() const {
    return Rig.Folder.Path() / "xdg" / "systemd" / "user" / "quillodefrag-job.timer";
  }

  FormRig Rig;
  ScopedEnvironment ConfigHome;
  ScopedEnvironment NoSystemctl;
  // Empty: the shipped language files.
  std::filesystem::path LanguageFolder;
  std::vector<std::string> Links;
  std::unique_ptr<ProgramWindows> Windows;
};

} // namespace quillo::test
