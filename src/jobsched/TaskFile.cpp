// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskFile.h"

#include <charconv>
#include <map>
#include <string_view>

#include "jobsched/CommandLine.h"

namespace quillo::jobsched {

namespace {

constexpr std::string_view kHeader = "# Weekly task of jobsched; the timer and service are made from it.\n";
constexpr const char* kNameKey = "Name";
constexpr const char* kExecutableKey = "Executable";
constexpr const char* kParametersKey = "Parameters";
constexpr const char* kIntervalKey = "IntervalWeeks";
constexpr const char* kWeekdaysKey = "Weekdays";
constexpr const char* kStartDateKey = "StartDate";
constexpr const char* kHourKey = "Hour";
constexpr const char* kMinuteKey = "Minute";

std::optional<int32_t> ParseNumber(std::string_view text) {
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

} // namespace

std::string TaskFile::Write(const WeeklyTask& task) {
  const WeeklySchedule& schedule = task.Schedule;
  std::string text(kHeader);
  auto line = [&text](const char* key, const std::string& value) { text += std::string(key) + "=" + value + "\n"; };
  line(kNameKey, task.Name.Text());
  line(kExecutableKey, task.Executable);
  line(kParametersKey, task.Parameters);
  line(kIntervalKey, std::to_string(schedule.IntervalWeeks));
  line(kWeekdaysKey, std::to_string(schedule.Weekdays));
  line(kStartDateKey, schedule.StartDateText());
  line(kHourKey, std::to_string(schedule.Hour));
  line(kMinuteKey, std::to_string(schedule.Minute));
  return text;
}

std::optional<WeeklyTask> TaskFile::Read(const std::string& text) {
  std::map<std::string, std::string, std::less<>> values;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (line.empty() || line.front() == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    values.emplace(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
  }
  auto value = [&values](const char* key) -> const std::string* {
    auto found = values.find(key);
    return found == values.end() ? nullptr : &found->second;
  };
  auto number = [&value](const char* key) -> std::optional<int32_t> {
    const std::string* text = value(key);
    return text ? ParseNumber(*text) : std::nullopt;
  };

  const std::string* name = value(kNameKey);
  const std::string* executable = value(kExecutableKey);
  const std::string* parameters = value(kParametersKey);
  const std::string* startDate = value(kStartDateKey);
  auto interval = number(kIntervalKey);
  auto weekdays = number(kWeekdaysKey);
  auto hour = number(kHourKey);
  auto minute = number(kMinuteKey);
  if (!name || !executable || !parameters || !startDate || !interval || !weekdays || !hour || !minute) {
    return std::nullopt;
  }
  // "YYYY-MM-DD"
  constexpr size_t kDateLength = 10;
  if (startDate->size() != kDateLength || (*startDate)[4] != '-' || (*startDate)[7] != '-') return std::nullopt;
  auto year = ParseNumber(std::string_view(*startDate).substr(0, 4));
  auto month = ParseNumber(std::string_view(*startDate).substr(5, 2));
  auto day = ParseNumber(std::string_view(*startDate).substr(8, 2));
  auto taskName = TaskName::FromText(*name);
  if (!year || !month || !day || !taskName) return std::nullopt;

  WeeklyTask task{*taskName, *executable, *parameters, WeeklySchedule{*interval, *weekdays, *year, *month, *day, *hour, *minute}};
  if (!task.Schedule.IsValid() || !CommandLine::Make(task.Executable, task.Parameters)) return std::nullopt;
  return task;
}

} // namespace quillo::jobsched
