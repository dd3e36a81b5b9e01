// SPDX-License-Identifier: GPL-2.0-or-later
// The window's binding to the task library: the real libjobsched, in a
// configuration folder of the test's own with a recording systemctl.
#include <gtest/gtest.h>

#include "TaskFixture.h"
#include "WindowTestSupport.h"
#include "mainwindow/JobSchedLibrary.h"
#include "mainwindow/ScheduleTask.h"

namespace quillo::test {
namespace {

constexpr char16_t kProgram[] = u"/opt/quillo/bin/quillodefrag";
// ShortSleepClock::kNow, 46000.5, is noon on 9 December 2025.
constexpr char kWeeklyText[] = "At 22:00 every Monday of every week, starting 2025-12-09";

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class ScheduleTaskTest : public TaskFixture {
protected:
  ShortSleepClock Today;
};

TEST_F(ScheduleTaskTest, WeeklyTaskFromTodayReadBackAndDeleted) {
  ScheduleTask task(JobSchedLibrary::Instance(), Today, kProgram);
  EXPECT_FALSE(task.Exists());
  EXPECT_EQ(Narrow(task.TimeText()), "");

  task.CreateIfMissing();
  EXPECT_TRUE(task.Exists());
  EXPECT_EQ(Narrow(task.TimeText()), kWeeklyText);
  const std::string timer = ReadText(Units() / "quillodefrag-job.timer");
  EXPECT_EQ(Setting(timer, "OnCalendar"), "Mon *-*-* 22:00:00");
  EXPECT_EQ(Setting(ReadText(Units() / "quillodefrag-job.service"), "ExecStart"),
            "\"/opt/quillo/bin/quillodefrag\" \"/Schedule\"");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"--user daemon-reload",
                                               "--user enable --now quillodefrag-job.timer"}));

  // An existing task is left as it is, on a later day too.
  ForgetCalls();
  FakeClock weekLater(ShortSleepClock::kNow + 7);
  ScheduleTask later(JobSchedLibrary::Instance(), weekLater, u"/elsewhere/quillodefrag");
  later.CreateIfMissing();
  EXPECT_EQ(ReadText(Units() / "quillodefrag-job.timer"), timer);
  EXPECT_TRUE(Calls().empty());

  task.Delete();
  EXPECT_FALSE(task.Exists());
  EXPECT_EQ(Narrow(task.TimeText()), "");
  EXPECT_TRUE(ConfigFiles().empty());
  // Deleting again does nothing.
  ForgetCalls();
  task.Delete();
  EXPECT_TRUE(Calls().empty());
}

TEST_F(ScheduleTaskTest, LogOnTaskThroughTheLibrary) {
  TaskLibrary& tasks = JobSchedLibrary::Instance();
  tasks.NewTaskAtLogOn(kLogOnTaskName, kProgram, u"/StartUp");
  EXPECT_TRUE(tasks.IsTaskExist(u"autoquillodefrag.JOB"));
  EXPECT_EQ(Narrow(tasks.GetTaskTime(kLogOnTaskName)), "At log on");
  EXPECT_EQ(Setting(ReadText(Autostart() / "autoquillodefrag-job.desktop"), "Exec"),
            "\"/opt/quillo/bin/quillodefrag\" \"/StartUp\"");
  tasks.DeleteTask(kLogOnTaskName);
  EXPECT_FALSE(tasks.IsTaskExist(kLogOnTaskName));
}

// The window uses the library it is given, and libjobsched without one.
TEST_F(ScheduleTaskTest, WindowTakesItsTaskLibraryFromItsServices) {
  FormRig rig;
  rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  auto standard = rig.Create();
  EXPECT_EQ(&standard->Tasks(), &JobSchedLibrary::Instance());

  class NoTasks final : public TaskLibrary {
  public:
    void NewTaskWeekly(const std::u16string&, const std::u16string&, const std::u16string&,
                       int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {}
    void NewTaskAtLogOn(const std::u16string&, const std::u16string&, const std::u16string&) override {}
    bool IsTaskExist(const std::u16string&) override { return false; }
    void DeleteTask(const std::u16string&) override {}
    std::u16string GetTaskTime(const std::u16string&) override { return u"never"; }
    void EditTask(const std::u16string&) override {}
  } none;
  standard.reset();
  FormServices services = rig.Services();
  services.Tasks = &none;
  TMainForm form(services);
  EXPECT_EQ(&form.Tasks(), &none);
}

} // namespace
} // namespace quillo::test
