// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskStore.h"

#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "jobsched/Systemctl.h"
#include "jobsched/TaskFile.h"
#include "jobsched/TaskUnits.h"

namespace quillo::jobsched {

namespace {

namespace fs = std::filesystem;

constexpr const char* kTimerSuffix = ".timer";
constexpr const char* kServiceSuffix = ".service";
constexpr const char* kTaskFileSuffix = ".task";
constexpr const char* kAutostartSuffix = ".desktop";
constexpr const char* kTemporarySuffix = ".XXXXXX";
// Our files are a few hundred bytes; anything far larger is not one of them.
constexpr std::streamsize kMaxFileSize = 65536;
constexpr int kTmBaseYear = 1900;

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(size_t(kMaxFileSize) + 1, '\0');
  file.read(text.data(), kMaxFileSize + 1);
  if (file.bad() || file.gcount() > kMaxFileSize) return std::nullopt;
  text.resize(size_t(file.gcount()));
  return text;
}

// Written whole or not at all: a half-written unit must never be loaded.
bool WriteFileAtomically(const fs::path& path, const std::string& text) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
  std::string temporary = path.string() + kTemporarySuffix;
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return false;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = write(descriptor, text.data() + written, text.size() - written);
    if (count <= 0) break;
    written += size_t(count);
  }
  const bool complete = written == text.size() && fsync(descriptor) == 0;
  if (close(descriptor) != 0 || !complete || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool IsAbsentOrOurs(const fs::path& path, bool (*isOurs)(const std::string&)) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return true;
  auto text = ReadFile(path);
  return text && isOurs(*text);
}

bool IsPresentAndOurs(const fs::path& path, bool (*isOurs)(const std::string&)) {
  auto text = IsFile(path) ? ReadFile(path) : std::nullopt;
  return text && isOurs(*text);
}

bool RemoveFile(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
  return !error;
}

int64_t Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return WeeklySchedule::DayNumber(local.tm_year + kTmBaseYear, local.tm_mon + 1, local.tm_mday);
}

} // namespace

TaskStore::TaskStore(TaskFolders folders) : Folders(std::move(folders)) {}

fs::path TaskStore::TimerPath(const TaskName& name) const {
  return Folders.Units / (name.Stem() + kTimerSuffix);
}

fs::path TaskStore::ServicePath(const TaskName& name) const {
  return Folders.Units / (name.Stem() + kServiceSuffix);
}

fs::path TaskStore::TaskFilePath(const TaskName& name) const {
  return Folders.Tasks / (name.Stem() + kTaskFileSuffix);
}

fs::path TaskStore::AutostartPath(const TaskName& name) const {
  return Folders.Autostart / (name.Stem() + kAutostartSuffix);
}

bool TaskStore::CreateWeekly(const WeeklyTask& task) {
  auto command = CommandLine::Make(task.Executable, task.Parameters);
  if (!command || !task.Schedule.IsValid()) return false;
  if (!IsAbsentOrOurs(TimerPath(task.Name), &TaskUnits::IsOurUnit) ||
      !IsAbsentOrOurs(ServicePath(task.Name), &TaskUnits::IsOurUnit) ||
      !IsAbsentOrOurs(AutostartPath(task.Name), &TaskUnits::IsOurAutostartEntry)) {
    return false;
  }
  if (!WriteFileAtomically(TaskFilePath(task.Name), TaskFile::Write(task)) ||
      !WriteFileAtomically(ServicePath(task.Name), TaskUnits::Service(task, *command, Today())) ||
      !WriteFileAtomically(TimerPath(task.Name), TaskUnits::Timer(task))) {
    RemoveWeekly(task.Name);
    return false;
  }
  RemoveLogOn(task.Name);
  const std::string timer = task.Name.Stem() + kTimerSuffix;
  Systemctl::RunAll({{"daemon-reload"}, {"enable", "--now", timer}});
  return true;
}

bool TaskStore::CreateAtLogOn(const TaskName& name, const CommandLine& command) {
  if (!IsAbsentOrOurs(AutostartPath(name), &TaskUnits::IsOurAutostartEntry) ||
      !IsAbsentOrOurs(TimerPath(name), &TaskUnits::IsOurUnit) ||
      !IsAbsentOrOurs(ServicePath(name), &TaskUnits::IsOurUnit)) {
    return false;
  }
  if (!WriteFileAtomically(AutostartPath(name), TaskUnits::AutostartEntry(name, command))) return false;
  RemoveWeekly(name);
  return true;
}

bool TaskStore::WeeklyExists(const TaskName& name) const {
  return LoadWeekly(name).has_value() && IsPresentAndOurs(TimerPath(name), &TaskUnits::IsOurUnit) &&
         IsPresentAndOurs(ServicePath(name), &TaskUnits::IsOurUnit);
}

bool TaskStore::LogOnExists(const TaskName& name) const {
  return IsPresentAndOurs(AutostartPath(name), &TaskUnits::IsOurAutostartEntry);
}

bool TaskStore::Exists(const TaskName& name) const {
  return WeeklyExists(name) || LogOnExists(name);
}

bool TaskStore::Delete(const TaskName& name) {
  const bool weeklyGone = RemoveWeekly(name);
  const bool logOnGone = RemoveLogOn(name);
  return weeklyGone && logOnGone;
}

bool TaskStore::RemoveWeekly(const TaskName& name) {
  const bool timerOurs = IsPresentAndOurs(TimerPath(name), &TaskUnits::IsOurUnit);
  const bool serviceOurs = IsPresentAndOurs(ServicePath(name), &TaskUnits::IsOurUnit);
  const std::string timer = name.Stem() + kTimerSuffix;
  // Stopped while its unit file is still there for systemctl to find.
  if (timerOurs) Systemctl::RunAll({{"disable", "--now", timer}});
  bool removed = RemoveFile(TaskFilePath(name));
  if (timerOurs) removed = RemoveFile(TimerPath(name)) && removed;
  if (serviceOurs) removed = RemoveFile(ServicePath(name)) && removed;
  if (timerOurs || serviceOurs) Systemctl::RunAll({{"daemon-reload"}});
  return removed;
}

bool TaskStore::RemoveLogOn(const TaskName& name) {
  if (!LogOnExists(name)) return true;
  return RemoveFile(AutostartPath(name));
}

std::optional<std::string> TaskStore::Describe(const TaskName& name) const {
  if (WeeklyExists(name)) return LoadWeekly(name)->Schedule.Describe();
  if (LogOnExists(name)) return std::string(kLogOnDescription);
  return std::nullopt;
}

std::optional<WeeklyTask> TaskStore::LoadWeekly(const TaskName& name) const {
  auto text = IsFile(TaskFilePath(name)) ? ReadFile(TaskFilePath(name)) : std::nullopt;
  if (!text) return std::nullopt;
  auto task = TaskFile::Read(*text);
  if (!task || task->Name.Stem() != name.Stem()) return std::nullopt;
  return task;
}

} // namespace quillo::jobsched
