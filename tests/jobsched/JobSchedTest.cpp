// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/JobSched.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "TaskFixture.h"

namespace quillo::test {
namespace {

constexpr char16_t kWeeklyName[] = u"QuilloDefrag.job";
constexpr char16_t kLogOnName[] = u"AutoQuilloDefrag.job";
constexpr char16_t kExecutable[] = u"/opt/quillo/quillodefrag";
constexpr int32_t kMonday = 2;
constexpr int32_t kWednesday = 8;
constexpr int32_t kFriday = 32;
constexpr int32_t kSunday = 1;
constexpr int32_t kSaturday = 64;
constexpr int32_t kEveryDay = 127;

bool HaveProgram(const char* name) {
  return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Exit status and output of a shell command.
std::pair<int, std::string> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, output};
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

class JobSchedTest : public TaskFixture {};

TEST_F(JobSchedTest, WeeklyTaskIsATimerAServiceAndATaskFile) {
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);

  EXPECT_EQ(ConfigFiles(), (std::vector<std::string>{"jobsched/quillodefrag-job.task",
                                                     "systemd/user/quillodefrag-job.service",
                                                     "systemd/user/quillodefrag-job.timer"}));
  EXPECT_EQ(ReadText(Units() / "quillodefrag-job.timer"),
            "# jobsched task: QuilloDefrag.job\n"
            "# At 22:00 every Monday of every week, starting 2024-01-08\n"
            "[Unit]\n"
            "Description=QuilloDefrag.job (weekly task)\n"
            "\n[Timer]\n"
            "OnCalendar=Mon *-*-* 22:00:00\n"
            "AccuracySec=1s\n"
            "\n[Install]\n"
            "WantedBy=timers.target\n");
  EXPECT_EQ(ReadText(Units() / "quillodefrag-job.service"),
            "# jobsched task: QuilloDefrag.job\n"
            "[Unit]\n"
            "Description=QuilloDefrag.job (weekly task)\n"
            "\n[Service]\n"
            "Type=simple\n"
            "ExecStart=\"/opt/quillo/quillodefrag\" \"/Schedule\"\n");
  EXPECT_EQ(ReadText(Tasks() / "quillodefrag-job.task"),
            "# Weekly task of jobsched; the timer and service are made from it.\n"
            "Name=QuilloDefrag.job\n"
            "Executable=/opt/quillo/quillodefrag\n"
            "Parameters=/Schedule\n"
            "IntervalWeeks=1\n"
            "Weekdays=2\n"
            "StartDate=2024-01-08\n"
            "Hour=22\n"
            "Minute=0\n");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"--user daemon-reload", "--user enable --now quillodefrag-job.timer"}));
}

TEST_F(JobSchedTest, NamesCompareWithoutRegardToCase) {
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2026, 12, 9, 22, 0), 1);
  const std::string text = "At 22:00 every Monday of every week, starting 2026-12-09";
  for (const char16_t* name : {u"QuilloDefrag.job", u"quillodefrag.job", u"QUILLODEFRAG.JOB"}) {
    EXPECT_EQ(IsTaskExist(name), 1);
    EXPECT_EQ(TaskTime(name), text);
  }
  ForgetCalls();
  EXPECT_EQ(DeleteTask(u"quillodefrag.job"), 1);
  EXPECT_TRUE(ConfigFiles().empty());
  EXPECT_EQ(IsTaskExist(kWeeklyName), 0);
  EXPECT_EQ(TaskTime(kWeeklyName), "");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"--user disable --now quillodefrag-job.timer", "--user daemon-reload"}));
}

TEST_F(JobSchedTest, SchedulesInCalendarAndWords) {
  struct Case {
    int32_t Interval;
    int32_t Weekdays;
    int32_t Hour;
    int32_t Minute;
    const char* OnCalendar;
    const char* Normalized; // as systemd writes it back
    const char* Text;
  };
  const std::vector<Case> cases = {
      {1, kMonday, 22, 0, "Mon *-*-* 22:00:00", "Mon *-*-* 22:00:00",
       "At 22:00 every Monday of every week, starting 2026-12-09"},
      {2, kMonday | kWednesday | kFriday, 7, 5, "Mon,Wed,Fri *-*-* 07:05:00", "Mon,Wed,Fri *-*-* 07:05:00",
       "At 07:05 every Monday, Wednesday and Friday of every 2 weeks, starting 2026-12-09"},
      {1, kSunday | kSaturday, 0, 0, "Sat,Sun *-*-* 00:00:00", "Sat,Sun *-*-* 00:00:00",
       "At 00:00 every Saturday and Sunday of every week, starting 2026-12-09"},
      {1, kMonday | 4 | kWednesday, 23, 59, "Mon,Tue,Wed *-*-* 23:59:00", "Mon..Wed *-*-* 23:59:00",
       "At 23:59 every Monday, Tuesday and Wednesday of every week, starting 2026-12-09"},
      {52, kEveryDay, 12, 30, "Mon,Tue,Wed,Thu,Fri,Sat,Sun *-*-* 12:30:00", "*-*-* 12:30:00",
       "At 12:30 every day of every 52 weeks, starting 2026-12-09"},
      {3, kSunday, 9, 15, "Sun *-*-* 09:15:00", "Sun *-*-* 09:15:00",
       "At 09:15 every Sunday of every 3 weeks, starting 2026-12-09"},
  };
  const bool haveAnalyze = HaveProgram("systemd-analyze");
  for (const Case& c : cases) {
    ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", c.Interval, c.Weekdays, 2026, 12, 9, c.Hour,
                            c.Minute),
              1)
        << c.Text;
    const std::string timer = ReadText(Units() / "quillodefrag-job.timer");
    EXPECT_EQ(Setting(timer, "OnCalendar"), std::string(c.OnCalendar));
    EXPECT_EQ(TaskTime(kWeeklyName), c.Text);
    if (haveAnalyze) {
      auto [status, output] = RunShell("systemd-analyze calendar '" + std::string(c.OnCalendar) + "'");
      EXPECT_EQ(status, 0) << output;
      EXPECT_NE(output.find(std::string("Normalized form: ") + c.Normalized + "\n"), std::string::npos) << output;
    }
  }
  if (!haveAnalyze) GTEST_SKIP() << "systemd-analyze is not installed; the calendar texts were not checked by systemd";
}

// The service's run condition, run by the shell on chosen dates: a stand-in
// "date" answers "+%F" with the date and passes everything else on.
class RunConditionTest : public TaskFixture {
protected:
  int RunsOn(const std::string& date) {
    const std::string service = ReadText(Units() / "quillodefrag-job.service");
    auto condition = Setting(service, "ExecCondition");
    if (!condition) return -1;
    // "/bin/sh" "-c" "<script>", with systemd's doubled signs and escapes.
    const std::string prefix = "\"/bin/sh\" \"-c\" \"";
    EXPECT_EQ(condition->rfind(prefix, 0), 0u) << *condition;
    std::string quoted = condition->substr(prefix.size(), condition->size() - prefix.size() - 1);
    std::string script;
    for (size_t i = 0; i < quoted.size(); ++i) {
      if ((quoted[i] == '$' || quoted[i] == '%') && i + 1 < quoted.size() && quoted[i + 1] == quoted[i]) {
        ++i;
      } else if (quoted[i] == '\\' && i + 1 < quoted.size()) {
        ++i;
      }
      script += quoted[i];
    }
    const auto bin = Folder.Path() / "fakebin";
    WriteScript(bin / "date", "if [ \"$1\" = \"+%F\" ]; then echo " + date + "; else exec /bin/date \"$@\"; fi\n");
    WriteText(Folder.Path() / "condition.sh", script + "\n");
    auto [status, output] = RunShell("PATH='" + bin.string() + "':\"$PATH\" /bin/sh '" +
                                     (Folder.Path() / "condition.sh").string() + "'");
    EXPECT_TRUE(status == 0 || status == 1) << output;
    return status;
  }
};

TEST_F(RunConditionTest, EveryOtherWeekFromTheStartDate) {
  // Start on Wednesday 2030-01-09; weeks run Sunday to Saturday.
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 2, kMonday | kWednesday | kSaturday, 2030, 1, 9,
                          22, 0),
            1);
  struct Case {
    const char* Date;
    bool Runs;
  };
  const std::vector<Case> cases = {
      {"2030-01-07", false}, // Monday of the first week, before the start
      {"2030-01-09", true},  {"2030-01-12", true},  // first week
      {"2030-01-14", false}, {"2030-01-16", false}, {"2030-01-19", false}, // second
      {"2030-01-20", true},  {"2030-01-21", true},  {"2030-01-26", true},  // third
      {"2030-01-28", false}, // fourth
      // Across the year's end: the 52nd and 53rd weeks after the first.
      {"2031-01-04", false}, {"2031-01-06", true}, {"2031-01-11", true}, {"2031-01-13", false},
  };
  for (const Case& c : cases) EXPECT_EQ(RunsOn(c.Date), c.Runs ? 0 : 1) << c.Date;
}

TEST_F(RunConditionTest, WeeklyTaskWaitsForAStartDateAhead) {
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2099, 3, 4, 22, 0), 1);
  EXPECT_EQ(RunsOn("2099-03-02"), 1);
  EXPECT_EQ(RunsOn("2099-03-04"), 0);
  EXPECT_EQ(RunsOn("2099-03-09"), 0);
  // From a start already passed, every firing runs, with no condition at all.
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  EXPECT_EQ(Setting(ReadText(Units() / "quillodefrag-job.service"), "ExecCondition"), std::nullopt);
}

TEST_F(JobSchedTest, UnitsPassSystemdVerification) {
  if (!HaveProgram("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not installed";
  // A program whose path needs quoting and escaping.
  const auto program = Folder.Path() / "Quillo Defrag" / "quillo%de$frag";
  WriteScript(program, "exit 0\n");
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, Wide(program.string()).c_str(), u"/Schedule \"two words\" 100%$HOME", 2, kMonday,
                          2030, 1, 9, 22, 0),
            1);
  const std::string service = ReadText(Units() / "quillodefrag-job.service");
  EXPECT_EQ(Setting(service, "ExecStart"),
            "\"" + (Folder.Path() / "Quillo Defrag" / "quillo%%de$frag").string() + "\" \"/Schedule\" \"two words\" \"100%%$$HOME\"");
  auto [status, output] = RunShell("cd '" + Units().string() +
                                   "' && systemd-analyze verify ./quillodefrag-job.timer ./quillodefrag-job.service");
  EXPECT_EQ(status, 0) << output;
}

TEST_F(JobSchedTest, LogOnTaskIsAnAutostartEntry) {
  ASSERT_EQ(NewTaskAtLogOn(kLogOnName, u"/opt/Quillo Defrag/quillo$defrag", u"/StartUp"), 1);
  EXPECT_EQ(ConfigFiles(), std::vector<std::string>{"autostart/autoquillodefrag-job.desktop"});
  EXPECT_EQ(ReadText(Autostart() / "autoquillodefrag-job.desktop"),
            "# jobsched log-on task: AutoQuilloDefrag.job\n"
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=AutoQuilloDefrag.job\n"
            "Exec=\"/opt/Quillo Defrag/quillo\\\\$defrag\" \"/StartUp\"\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(IsTaskExist(u"autoquillodefrag.job"), 1);
  EXPECT_EQ(TaskTime(kLogOnName), "At log on");
  EXPECT_TRUE(Calls().empty());

  // Made again at every application of the settings: still one entry.
  ASSERT_EQ(NewTaskAtLogOn(kLogOnName, kExecutable, u"/StartUp"), 1);
  EXPECT_EQ(Setting(ReadText(Autostart() / "autoquillodefrag-job.desktop"), "Exec"),
            "\"/opt/quillo/quillodefrag\" \"/StartUp\"");
  EXPECT_EQ(ConfigFiles().size(), 1u);

  if (HaveProgram("desktop-file-validate")) {
    auto [status, output] = RunShell("desktop-file-validate '" + (Autostart() / "autoquillodefrag-job.desktop").string() + "'");
    EXPECT_EQ(status, 0) << output;
  }
  EXPECT_EQ(DeleteTask(kLogOnName), 1);
  EXPECT_TRUE(ConfigFiles().empty());
  EXPECT_EQ(IsTaskExist(kLogOnName), 0);
}

TEST_F(JobSchedTest, OneKindReplacesTheOther) {
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  ForgetCalls();
  ASSERT_EQ(NewTaskAtLogOn(kWeeklyName, kExecutable, u"/StartUp"), 1);
  EXPECT_EQ(ConfigFiles(), std::vector<std::string>{"autostart/quillodefrag-job.desktop"});
  EXPECT_EQ(Calls(), (std::vector<std::string>{"--user disable --now quillodefrag-job.timer", "--user daemon-reload"}));
  ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  EXPECT_EQ(ConfigFiles().size(), 3u);
  EXPECT_EQ(TaskTime(kWeeklyName), "At 22:00 every Monday of every week, starting 2024-01-08");
}

TEST_F(JobSchedTest, DeletingAMissingTaskDoesNothing) {
  EXPECT_EQ(DeleteTask(u"Missing.job"), 1);
  EXPECT_FALSE(std::filesystem::exists(Config));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(IsTaskExist(u"Missing.job"), 0);
  EXPECT_EQ(TaskTime(u"Missing.job"), "");
  EXPECT_EQ(EditTask(u"Missing.job"), 0);
}

TEST_F(JobSchedTest, FilesTheLibraryDidNotWriteAreLeftAlone) {
  const std::string ownTimer = "[Timer]\nOnCalendar=daily\n";
  const std::string ownEntry = "[Desktop Entry]\nType=Application\nExec=/usr/bin/backup\n";
  WriteText(Units() / "backup-job.timer", ownTimer);
  WriteText(Autostart() / "backup-job.desktop", ownEntry);
  EXPECT_EQ(NewTaskWeekly(u"Backup.job", kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0), 0);
  EXPECT_EQ(NewTaskAtLogOn(u"Backup.job", kExecutable, u""), 0);
  EXPECT_EQ(IsTaskExist(u"Backup.job"), 0);
  EXPECT_EQ(TaskTime(u"Backup.job"), "");
  EXPECT_EQ(DeleteTask(u"Backup.job"), 1);
  EXPECT_EQ(ReadText(Units() / "backup-job.timer"), ownTimer);
  EXPECT_EQ(ReadText(Autostart() / "backup-job.desktop"), ownEntry);
  EXPECT_EQ(ConfigFiles().size(), 2u);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(JobSchedTest, BadArgumentsWriteNothing) {
  struct Case {
    const char* What;
    const char16_t* Name;
    const char16_t* Executable;
    const char16_t* Parameters;
    int32_t Interval, Weekdays, Year, Month, Day, Hour, Minute;
  };
  const char16_t loneSurrogate[] = {u'a', char16_t(0xD800), u'b', 0};
  const std::vector<Case> cases = {
      {"no weekday", kWeeklyName, kExecutable, u"", 1, 0, 2024, 1, 8, 22, 0},
      {"unknown weekday bit", kWeeklyName, kExecutable, u"", 1, 128 | kMonday, 2024, 1, 8, 22, 0},
      {"negative mask", kWeeklyName, kExecutable, u"", 1, -1, 2024, 1, 8, 22, 0},
      {"interval 0", kWeeklyName, kExecutable, u"", 0, kMonday, 2024, 1, 8, 22, 0},
      {"interval 53", kWeeklyName, kExecutable, u"", 53, kMonday, 2024, 1, 8, 22, 0},
      {"30 February", kWeeklyName, kExecutable, u"", 1, kMonday, 2026, 2, 30, 22, 0},
      {"29 February of a common year", kWeeklyName, kExecutable, u"", 1, kMonday, 2027, 2, 29, 22, 0},
      {"month 13", kWeeklyName, kExecutable, u"", 1, kMonday, 2026, 13, 1, 22, 0},
      {"hour 24", kWeeklyName, kExecutable, u"", 1, kMonday, 2024, 1, 8, 24, 0},
      {"minute 60", kWeeklyName, kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 60},
      {"relative program", kWeeklyName, u"quillodefrag", u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"open quote", kWeeklyName, kExecutable, u"\"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0},
      {"line break in a parameter", kWeeklyName, kExecutable, u"/Schedule\nExecStartPre=/bin/rm", 1, kMonday, 2024,
       1, 8, 22, 0},
      {"line break in the name", u"Quillo\n[Service]", kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"empty name", u"", kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"name reading as an option", u"-now.job", kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"no name", nullptr, kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"no program", kWeeklyName, nullptr, u"", 1, kMonday, 2024, 1, 8, 22, 0},
      {"broken text", loneSurrogate, kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NewTaskWeekly(c.Name, c.Executable, c.Parameters, c.Interval, c.Weekdays, c.Year, c.Month, c.Day, c.Hour,
                            c.Minute),
              0)
        << c.What;
    EXPECT_TRUE(ConfigFiles().empty()) << c.What;
  }
  EXPECT_EQ(NewTaskAtLogOn(kLogOnName, u"relative/quillodefrag", u"/StartUp"), 0);
  EXPECT_EQ(NewTaskAtLogOn(kLogOnName, kExecutable, nullptr), 0);
  EXPECT_TRUE(ConfigFiles().empty());
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(IsTaskExist(nullptr), 0);
  EXPECT_EQ(TaskTime(nullptr), "");
}

TEST_F(JobSchedTest, NamesBeyondPlainLettersGetEscapedFileNames) {
  ASSERT_EQ(NewTaskWeekly(u"Nächtlich Defrag.job", kExecutable, u"", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  EXPECT_TRUE(std::filesystem::exists(Units() / "n\\xc3\\xa4chtlich\\x20defrag-job.timer"));
  EXPECT_EQ(IsTaskExist(u"NÄCHTLICH DEFRAG.JOB"), 0) << "only ASCII letters fold";
  EXPECT_EQ(IsTaskExist(u"NäCHTLICH DEFRAG.JOB"), 1);
  EXPECT_EQ(Calls().back(), "--user enable --now n\\xc3\\xa4chtlich\\x20defrag-job.timer");
}

TEST_F(JobSchedTest, TheConfigurationFolderFollowsTheEnvironment) {
  ConfigHome.Set(std::nullopt);
  ASSERT_EQ(NewTaskAtLogOn(kLogOnName, kExecutable, u"/StartUp"), 1);
  EXPECT_TRUE(std::filesystem::exists(Folder.Path() / "home" / ".config" / "autostart" / "autoquillodefrag-job.desktop"));
  // A relative folder is not a valid setting: the default applies.
  ConfigHome.Set("relative/config");
  EXPECT_EQ(IsTaskExist(kLogOnName), 1);
  EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST_F(JobSchedTest, AMissingServiceManagerIsIgnored) {
  Systemctl.Set((Folder.Path() / "no-such-systemctl").string());
  EXPECT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  EXPECT_EQ(IsTaskExist(kWeeklyName), 1);
  Systemctl.Set("");
  EXPECT_EQ(DeleteTask(kWeeklyName), 1);
  EXPECT_TRUE(ConfigFiles().empty());
}

TEST_F(JobSchedTest, AHungServiceManagerIsStoppedAndTheRestSkipped) {
  const auto pidFile = Folder.Path() / "systemctl.pid";
  WriteScript(Folder.Path() / "bin" / "systemctl",
              "echo \"$*\" >> '" + CallLog().string() + "'\necho $$ > '" + pidFile.string() + "'\nexec sleep 600\n");
  EXPECT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2024, 1, 8, 22, 0), 1);
  EXPECT_EQ(Calls(), std::vector<std::string>{"--user daemon-reload"});
  const pid_t child = std::stoi(ReadText(pidFile));
  EXPECT_EQ(kill(child, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(IsTaskExist(kWeeklyName), 1);
}

} // namespace
} // namespace quillo::test
