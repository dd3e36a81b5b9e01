// SPDX-License-Identifier: GPL-2.0-or-later
// The schedule page through the window, with the real task library in a
// configuration folder of the test's own and a recording systemctl.
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

namespace quillo::test {
namespace {

// ShortSleepClock::kNow, 46000.5, is noon on 9 December 2025.
constexpr char kWeeklyText[] = "At 22:00 every Monday of every week, starting 2025-12-09";
constexpr int kPollMilliseconds = 10;

std::string Text(const QLabel* label) { return label->text().toStdString(); }

class SchedulePageTest : public TaskFixture {
protected:
  void SetUp() override {
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
    Rig.Catalog.Add("E:\\", MakeWindowVolume("E:"));
  }
  void TearDown() override { Form.reset(); }
  void Start() {
    Form = Rig.Create();
    Page = Form->schedule;
  }
  std::string TaskTime() const { return TaskFixture::TaskTime(u"QuilloDefrag.job"); }
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
  std::unique_ptr<TMainForm> Form;
  SchedulePage* Page = nullptr;
};

TEST_F(SchedulePageTest, EnablingCreatesTheTaskFromTodayAndShowsItsTime) {
  Start();
  Form->show();
  QSignalSpy edited(Page, &SchedulePage::SettingsEdited);
  ASSERT_FALSE(IsTaskExist(u"QuilloDefrag.job"));
  EXPECT_FALSE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_FALSE(Page->scheduletimelabel->isEnabled());

  Page->ScheduleCheck->click();
  EXPECT_TRUE(IsTaskExist(u"QuilloDefrag.job"));
  EXPECT_EQ(TaskTime(), kWeeklyText);
  EXPECT_EQ(Text(Page->scheduletimelabel), kWeeklyText);
  EXPECT_TRUE(Page->scheduletimelabel->isEnabled());
  EXPECT_TRUE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_EQ(edited.count(), 1);
  // The task starts this very program, scheduled.
  EXPECT_EQ(Setting(ReadText(Units() / "quillodefrag-job.service"), "ExecStart"),
            "\"" + QCoreApplication::applicationFilePath().toStdString() + "\" \"/Schedule\"");

  Page->ScheduleCheck->click();
  EXPECT_FALSE(Page->scheduletimelabel->isEnabled());
  EXPECT_FALSE(Page->ScheduleConfigBtn->isEnabled());
  EXPECT_EQ(edited.count(), 2);
}

TEST_F(SchedulePageTest, ScheduleConfigAndTheTimeTextEditTheTask) {
  Start();
  Form->show();
  Page->ScheduleCheck->click();
  ASSERT_EQ(Text(Page->scheduletimelabel), kWeeklyText);
  QSignalSpy edited(Page, &SchedulePage::SettingsEdited);

  // The library's dialog: Wednesday instead of Monday, at 06:30.
  int dialogs = 0;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      ++dialogs;
      dialog->findChild<QCheckBox*>(QStringLiteral("Monday"))->setChecked(false);
      dialog->findChild<QCheckBox*>(QStringLiteral("Wednesday"))->setChecked(true);
      dialog->findChild<QTimeEdit*>(QStringLiteral("Time"))->setTime(QTime(6, 30));
      dialog->findChild<QPushButton*>(QStringLiteral("Ok"))->click();
      if (dialog->isVisible()) dialog->reject();
    }
  });
  driver.start(kPollMilliseconds);
  QTest::mouseClick(Page->ScheduleConfigBtn, Qt::LeftButton);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Text(Page->scheduletimelabel), "At 06:30 every Wednesday of every week, starting 2025-12-09");
  EXPECT_EQ(edited.count(), 1);

  // The time text opens the same dialog; cancelling keeps the schedule.
  QObject::disconnect(&driver, nullptr, nullptr, nullptr);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      ++dialogs;
      dialog->reject();
    }
  });
  QTest::mouseClick(Page->scheduletimelabel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return edited.count() == 2; }));
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(Text(Page->scheduletimelabel), "At 06:30 every Wednesday of every week, starting 2025-12-09");
}

TEST_F(SchedulePageTest, ListClicksCountOnlyWhileTheStoredScheduleIsOn) {
  Start();
  Form->show();
  QSignalSpy edited(Page, &SchedulePage::SettingsEdited);
  ClickTick(1);
  EXPECT_EQ(Page->ScheduleList->topLevelItem(1)->checkState(0), Qt::Checked);
  EXPECT_EQ(edited.count(), 0);

  Form->Settings->EnableSchedule = true;
  ClickTick(2);
  EXPECT_EQ(Page->ScheduleList->topLevelItem(2)->checkState(0), Qt::Checked);
  EXPECT_EQ(edited.count(), 1);
}

TEST_F(SchedulePageTest, OnlyTheUsersChoiceOfActionCounts) {
  Start();
  QSignalSpy edited(Page, &SchedulePage::SettingsEdited);
  Page->ComboBox_Action->setCurrentIndex(SchedulePage::kActionOptimize);
  EXPECT_EQ(edited.count(), 0);
  Page->ComboBox_Action->setEnabled(true);
  Form->show();
  QTest::keyClick(Page->ComboBox_Action, Qt::Key_Up);
  EXPECT_EQ(Page->ComboBox_Action->currentIndex(), SchedulePage::kActionFast);
  EXPECT_EQ(edited.count(), 1);
}

} // namespace
} // namespace quillo::test
