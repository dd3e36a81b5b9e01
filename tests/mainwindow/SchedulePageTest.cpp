// SPDX-License-Identifier: GPL-2.0-or-later
// The schedule page through the program's windows, with the real task
// library in a configuration folder of the test's own and a recording
// systemctl.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "TaskFixture.h"
#include "WindowTestSupport.h"
#include "mainwindow/ProgramWindows.h"

namespace quillo::test {
namespace {

// ShortSleepClock::kNow, 46000.5, is noon on 9 December 2025.
constexpr char kWeeklyText[] = "At 22:00 every Monday of every week, starting 2025-12-09";
constexpr char kWednesdayText[] = "At 06:30 every Wednesday of every week, starting 2025-12-09";
constexpr int kPollMilliseconds = 10;

std::string Text(const QLabel* label) { return label->text().toStdString(); }

// Acts on every dialog of the task library that shows while it lives.
class DialogDriver {
public:
  explicit DialogDriver(std::function<void(QDialog&)> act) : Act(std::move(act)) {
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        ++Shown;
        Act(*dialog);
        if (dialog->isVisible()) dialog->reject();
      }
    });
    Timer.start(kPollMilliseconds);
  }
  int Shown = 0;

private:
  std::function<void(QDialog&)> Act;
  QTimer Timer;
};

class SchedulePageTest : public TaskFixture {
protected:
  void SetUp() override {
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
    Rig.Catalog.Add("E:\\", MakeWindowVolume("E:"));
  }
  void TearDown() override { Windows.reset(); }
  // The program's windows; the language chooser's creation applies the
  // settings for the first time.
  void Start() {
    Windows = std::make_unique<ProgramWindows>(Rig.Services());
    Form = &Windows->MainForm();
    Page = Form->schedule;
    Form->show();
    Form->ShowPage(SideBar::kSchedule);
  }
  bool TaskExists() const { return IsTaskExist(u"QuilloDefrag.job") != 0; }
  std::string TaskTime() const { return TaskFixture::TaskTime(u"QuilloDefrag.job"); }
  std::string Method(int row) const { return RowTexts(Page->ScheduleList, row)[SchedulePage::kMethodColumn]; }
  bool Ticked(int row) const { return Page->ScheduleList->topLevelItem(row)->checkState(0) == Qt::Checked; }
  // Clicks the row's check box as a user does.
  void ClickTick(int row) {
    QTreeWidget* list = Page->ScheduleList;
    QRect cell = list->visualItemRect(list->topLevelItem(row));
    QPoint box(cell.left() + list->style()->pixelMetric(QStyle::PM_IndicatorWidth) / 2 + 2,
               cell.center().y());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    PumpPending();
  }

  FormRig Rig;
  std::unique_ptr<ProgramWindows> Windows;
  TMainForm* Form = nullptr;
  SchedulePage* Page = nullptr;
};

TEST_F(SchedulePageTest, EnablingCreatesTheTaskFromTodayAndDisablingDeletesIt) {
  Start();
  ASSERT_FALSE(TaskExists());
  EXPECT_FALSE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_FALSE(Page->scheduletimelabel->isEnabled());
  EXPECT_FALSE(Page->ComboBox_Action->isEnabled());

  Page->ScheduleCheck->click();
  EXPECT_TRUE(TaskExists());
  EXPECT_EQ(TaskTime(), kWeeklyText);
  EXPECT_EQ(Text(Page->scheduletimelabel), kWeeklyText);
  EXPECT_TRUE(Page->scheduletimelabel->isEnabled());
  EXPECT_TRUE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_TRUE(Page->ComboBox_Action->isEnabled());
  EXPECT_TRUE(Rig.StoredSettings()->EnableSchedule);
  // The task starts this very program, scheduled.
  EXPECT_EQ(Setting(ReadText(Units() / "quillodefrag-job.service"), "ExecStart"),
            "\"" + QCoreApplication::applicationFilePath().toStdString() + "\" \"/Schedule\"");
  const std::vector<std::string> calls = Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "--user enable --now quillodefrag-job.timer"), calls.end());

  Page->ScheduleCheck->click();
  EXPECT_FALSE(TaskExists());
  EXPECT_FALSE(std::filesystem::exists(Units() / "quillodefrag-job.timer"));
  EXPECT_EQ(Text(Page->scheduletimelabel), "");
  EXPECT_FALSE(Page->scheduletimelabel->isEnabled());
  EXPECT_FALSE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_FALSE(Page->ComboBox_Action->isEnabled());
  EXPECT_FALSE(Rig.StoredSettings()->EnableSchedule);
}

TEST_F(SchedulePageTest, ScheduleConfigAndTheTimeTextEditTheTask) {
  Rig.EditSettings([](TSetting& settings) { settings.EnableSchedule = true; });
  Start();
  ASSERT_EQ(Text(Page->scheduletimelabel), kWeeklyText);

  {
    // The library's dialog: Wednesday instead of Monday, at 06:30.
    DialogDriver driver([](QDialog& dialog) {
      dialog.findChild<QCheckBox*>(QStringLiteral("Monday"))->setChecked(false);
      dialog.findChild<QCheckBox*>(QStringLiteral("Wednesday"))->setChecked(true);
      dialog.findChild<QTimeEdit*>(QStringLiteral("Time"))->setTime(QTime(6, 30));
      dialog.findChild<QPushButton*>(QStringLiteral("Ok"))->click();
    });
    QTest::mouseClick(Page->ScheduleConfigBtn, Qt::LeftButton);
    EXPECT_EQ(driver.Shown, 1);
  }
  EXPECT_EQ(Text(Page->scheduletimelabel), kWednesdayText);
  EXPECT_EQ(TaskTime(), kWednesdayText);
  EXPECT_EQ(Setting(ReadText(Units() / "quillodefrag-job.timer"), "OnCalendar"), "Wed *-*-* 06:30:00");

  // The time text opens the same dialog; cancelling keeps the schedule, and
  // the apply step that follows leaves the edited task as it is.
  QSignalSpy edited(Page, &SchedulePage::SettingsEdited);
  DialogDriver canceller([](QDialog& dialog) { dialog.reject(); });
  QTest::mouseClick(Page->scheduletimelabel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return edited.count() == 1; }));
  EXPECT_EQ(canceller.Shown, 1);
  EXPECT_EQ(Text(Page->scheduletimelabel), kWednesdayText);
  EXPECT_EQ(TaskTime(), kWednesdayText);
}

TEST_F(SchedulePageTest, ChangingTheActionChangesTheMethodOfTheScheduledRowsAtOnce) {
  Rig.EditSettings([](TSetting& settings) {
    settings.EnableSchedule = true;
    settings.scheduledisk = "CE";
    settings.IsOptDefrag_Task = false;
  });
  Start();
  EXPECT_TRUE(Ticked(0));
  EXPECT_FALSE(Ticked(1));
  EXPECT_TRUE(Ticked(2));
  EXPECT_EQ(Method(0), "Fast Defrag");
  EXPECT_EQ(Method(1), "");
  EXPECT_EQ(Method(2), "Fast Defrag");
  ASSERT_EQ(Page->ComboBox_Action->currentIndex(), SchedulePage::kActionFast);

  // "Defrag & Optimize", chosen with the keyboard as a user may.
  Page->ComboBox_Action->setFocus();
  QTest::keyClick(Page->ComboBox_Action, Qt::Key_Down);
  ASSERT_EQ(Page->ComboBox_Action->currentIndex(), SchedulePage::kActionOptimize);
  EXPECT_EQ(Method(0), "Opt Defrag");
  EXPECT_EQ(Method(1), "");
  EXPECT_EQ(Method(2), "Opt Defrag");
  EXPECT_TRUE(Rig.StoredSettings()->IsOptDefrag_Task);

  // Set by the program, the box counts as no choice.
  Page->ComboBox_Action->setCurrentIndex(SchedulePage::kActionFast);
  EXPECT_EQ(Method(0), "Opt Defrag");
  EXPECT_TRUE(Rig.StoredSettings()->IsOptDefrag_Task);
}

TEST_F(SchedulePageTest, ListTicksAreStoredAtOnceOnlyWhileTheScheduleIsOn) {
  Start();
  // Off: a tick waits for the next Apply or OK.
  ClickTick(1);
  EXPECT_TRUE(Ticked(1));
  EXPECT_EQ(Rig.StoredSettings()->scheduledisk, "");

  // Enabling the schedule takes the ticked rows with it.
  Page->ScheduleCheck->click();
  EXPECT_EQ(Rig.StoredSettings()->scheduledisk, "D");
  EXPECT_EQ(Method(1), "Fast Defrag");

  // On: each click is stored at once. An unticked row keeps its method
  // text; the next start shows it empty.
  ClickTick(2);
  EXPECT_EQ(Rig.StoredSettings()->scheduledisk, "DE");
  EXPECT_EQ(Method(2), "Fast Defrag");
  ClickTick(1);
  EXPECT_FALSE(Ticked(1));
  EXPECT_EQ(Rig.StoredSettings()->scheduledisk, "E");
  EXPECT_EQ(Method(1), "Fast Defrag");
}

} // namespace
} // namespace quillo::test
