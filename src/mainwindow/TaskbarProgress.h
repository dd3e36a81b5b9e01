// SPDX-License-Identifier: GPL-2.0-or-later
// The progress of the running jobs where the desktop shows it outside the
// window: in the window's title ("37 % – Quillo Defrag") and on the
// program's task bar or dock entry, through the
// com.canonical.Unity.LauncherEntry signal that KDE's and GNOME's docks read.
#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>

class QWidget;

namespace quillo {

class TaskbarProgress {
public:
  static constexpr const char* kEntryPath = "/com/canonical/unity/launcherentry/quillodefrag";
  static constexpr const char* kEntryInterface = "com.canonical.Unity.LauncherEntry";
  static constexpr const char* kDesktopEntry = "application://quillodefrag.desktop";

  // Signals go out on `bus` (the session bus in the program).
  TaskbarProgress(QWidget& window, QDBusConnection bus);

  // `percent` (0 to 100) while jobs run, nothing when none does; `restingTitle`
  // is the window's title without progress.
  void Show(std::optional<int> percent, const QString& restingTitle);

  static QString TitleWith(int percent, const QString& restingTitle);

private:
  void SendEntryUpdate(std::optional<int> percent);

  QWidget& Window;
  QDBusConnection Bus;
  std::optional<int> Shown;
  bool EverShown = false;
};

} // namespace quillo
