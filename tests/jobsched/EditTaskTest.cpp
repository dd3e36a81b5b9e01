// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/JobSched.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "TaskFixture.h"

namespace quillo::test {
namespace {

constexpr char16_t kWeeklyName[] = u"QuilloDefrag.job";
constexpr char16_t kExecutable[] = u"/opt/quillo/quillodefrag";
constexpr int32_t kMonday = 2;
constexpr int kPollMilliseconds = 10;

// One application for the whole test program, drawn off screen.
class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application = new QApplication(Argc, Argv);
  }
  void TearDown() override { delete Application; }

private:
  int Argc = 1;
  char Name[16] = "jobsched_tests";
  char* Argv[2] = {Name, nullptr};
  QApplication* Application = nullptr;
};

[[maybe_unused]] const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Acts on the schedule dialog once it shows; every dialog the act leaves
// open is cancelled, so that a test never hangs on one.
class DialogDriver {
public:
  explicit DialogDriver(std::function<void(QDialog&)> act) : Act(std::move(act)) {
    Timer.setInterval(kPollMilliseconds);
    QObject::connect(&Timer, &QTimer::timeout, [this] { Poll(); });
    Timer.start();
  }
  int Shown = 0;

private:
  void Poll() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      ++Shown;
      EXPECT_EQ(dialog->objectName(), QStringLiteral("JobschedScheduleDialog"));
      Act(*dialog);
      if (dialog->isVisible()) dialog->reject();
      return;
    }
  }
  std::function<void(QDialog&)> Act;
  QTimer Timer;
};

QCheckBox& Day(QDialog& dialog, const char* name) {
  auto* box = dialog.findChild<QCheckBox*>(QString::fromLatin1(name));
  EXPECT_NE(box, nullptr) << name;
  return *box;
}

class EditTaskTest : public TaskFixture {
protected:
  void SetUp() override {
    ASSERT_EQ(NewTaskWeekly(kWeeklyName, kExecutable, u"/Schedule", 1, kMonday, 2026, 12, 9, 22, 0), 1);
    ForgetCalls();
  }
  std::string Timer() const { return ReadText(Units() / "quillodefrag-job.timer"); }
  std::string Service() const { return ReadText(Units() / "quillodefrag-job.service"); }
};

TEST_F(EditTaskTest, OkRewritesTheTask) {
  DialogDriver driver([](QDialog& dialog) {
    EXPECT_TRUE(dialog.isModal());
    EXPECT_TRUE(dialog.windowTitle().contains(QStringLiteral("QuilloDefrag.job")));
    auto* time = dialog.findChild<QTimeEdit*>(QStringLiteral("Time"));
    auto* interval = dialog.findChild<QSpinBox*>(QStringLiteral("IntervalWeeks"));
    ASSERT_NE(time, nullptr);
    ASSERT_NE(interval, nullptr);
    // The dialog opens on the task's schedule.
    EXPECT_TRUE(Day(dialog, "Monday").isChecked());
    EXPECT_FALSE(Day(dialog, "Wednesday").isChecked());
    EXPECT_EQ(time->time(), QTime(22, 0));
    EXPECT_EQ(interval->value(), 1);

    Day(dialog, "Monday").setChecked(false);
    Day(dialog, "Wednesday").setChecked(true);
    Day(dialog, "Friday").setChecked(true);
    time->setTime(QTime(6, 30));
    interval->setValue(3);
    dialog.findChild<QPushButton*>(QStringLiteral("Ok"))->click();
  });
  // The lower-case form of the name, as the time label's click uses it.
  EXPECT_EQ(EditTask(u"quillodefrag.job"), 1);
  EXPECT_EQ(driver.Shown, 1);
  EXPECT_EQ(TaskTime(kWeeklyName), "At 06:30 every Wednesday and Friday of every 3 weeks, starting 2026-12-09");
  EXPECT_EQ(Setting(Timer(), "OnCalendar"), "Wed,Fri *-*-* 06:30:00");
  EXPECT_TRUE(Setting(Service(), "ExecCondition").has_value()) << "every third week";
  EXPECT_EQ(Setting(ReadText(Tasks() / "quillodefrag-job.task"), "Name"), "QuilloDefrag.job");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"--user daemon-reload", "--user enable --now quillodefrag-job.timer"}));
}

TEST_F(EditTaskTest, CancelKeepsTheTask) {
  const std::string timer = Timer();
  const std::string service = Service();
  DialogDriver driver([](QDialog& dialog) {
    Day(dialog, "Sunday").setChecked(true);
    dialog.findChild<QSpinBox*>(QStringLiteral("IntervalWeeks"))->setValue(4);
    dialog.reject();
  });
  EXPECT_EQ(EditTask(kWeeklyName), 0);
  EXPECT_EQ(driver.Shown, 1);
  EXPECT_EQ(Timer(), timer);
  EXPECT_EQ(Service(), service);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(EditTaskTest, OkNeedsAWeekday) {
  DialogDriver driver([](QDialog& dialog) {
    QPushButton* ok = dialog.findChild<QPushButton*>(QStringLiteral("Ok"));
    EXPECT_TRUE(ok->isEnabled());
    Day(dialog, "Monday").setChecked(false);
    EXPECT_FALSE(ok->isEnabled());
    Day(dialog, "Saturday").setChecked(true);
    EXPECT_TRUE(ok->isEnabled());
    Day(dialog, "Saturday").setChecked(false);
    ok->click(); // disabled: nothing happens, and the driver cancels
  });
  EXPECT_EQ(EditTask(kWeeklyName), 0);
  EXPECT_EQ(TaskTime(kWeeklyName), "At 22:00 every Monday of every week, starting 2026-12-09");
}

TEST_F(EditTaskTest, NoDialogForALogOnOrMissingTask) {
  ASSERT_EQ(NewTaskAtLogOn(u"AutoQuilloDefrag.job", kExecutable, u"/StartUp"), 1);
  DialogDriver driver([](QDialog&) {});
  EXPECT_EQ(EditTask(u"AutoQuilloDefrag.job"), 0);
  EXPECT_EQ(EditTask(u"Missing.job"), 0);
  EXPECT_EQ(driver.Shown, 0);
  EXPECT_EQ(TaskTime(u"AutoQuilloDefrag.job"), "At log on");
}

} // namespace
} // namespace quillo::test
