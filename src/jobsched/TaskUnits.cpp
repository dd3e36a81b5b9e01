// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskUnits.h"

#include <string_view>

namespace quillo::jobsched {

namespace {

constexpr std::string_view kUnitMark = "# jobsched task: ";
constexpr std::string_view kAutostartMark = "# jobsched log-on task: ";
constexpr const char* kShell = "/bin/sh";
constexpr const char* kShellCommandSwitch = "-c";
// The timer fires within a second of the time set, so that a run set close
// to midnight is not judged by the next day's date.
constexpr const char* kTimerAccuracy = "1s";

// Specifiers in free text such as Description=.
std::string EscapeSpecifiers(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

// A desktop entry's string value.
std::string EscapeDesktopString(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

} // namespace

std::string TaskUnits::Service(const WeeklyTask& task, const CommandLine& command, int64_t today) {
  std::string text = std::string(kUnitMark) + task.Name.Text() + "\n";
  text += "[Unit]\n";
  text += "Description=" + EscapeSpecifiers(task.Name.Text()) + " (weekly task)\n";
  text += "\n[Service]\n";
  text += "Type=simple\n";
  const std::string condition = task.Schedule.RunCondition(today);
  if (!condition.empty()) {
    text += "ExecCondition=" + CommandLine::QuoteForSystemd(kShell) + " " +
            CommandLine::QuoteForSystemd(kShellCommandSwitch) + " " + CommandLine::QuoteForSystemd(condition) + "\n";
  }
  text += "ExecStart=" + command.ForSystemd() + "\n";
  return text;
}

std::string TaskUnits::Timer(const WeeklyTask& task) {
  std::string text = std::string(kUnitMark) + task.Name.Text() + "\n";
  text += "# " + task.Schedule.Describe() + "\n";
  text += "[Unit]\n";
  text += "Description=" + EscapeSpecifiers(task.Name.Text()) + " (weekly task)\n";
  text += "\n[Timer]\n";
  text += "OnCalendar=" + task.Schedule.OnCalendar() + "\n";
  text += std::string("AccuracySec=") + kTimerAccuracy + "\n";
  text += "\n[Install]\n";
  text += "WantedBy=timers.target\n";
  return text;
}

std::string TaskUnits::AutostartEntry(const TaskName& name, const CommandLine& command) {
  std::string text = std::string(kAutostartMark) + name.Text() + "\n";
  text += "[Desktop Entry]\n";
  text += "Type=Application\n";
  text += "Name=" + EscapeDesktopString(name.Text()) + "\n";
  text += "Exec=" + command.ForDesktopEntry() + "\n";
  text += "Terminal=false\n";
  text += "X-GNOME-Autostart-enabled=true\n";
  return text;
}

bool TaskUnits::IsOurUnit(const std::string& text) {
  return std::string_view(text).starts_with(kUnitMark);
}

bool TaskUnits::IsOurAutostartEntry(const std::string& text) {
  return std::string_view(text).starts_with(kAutostartMark);
}

} // namespace quillo::jobsched
