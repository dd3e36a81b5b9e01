// SPDX-License-Identifier: GPL-2.0-or-later
// What the window does when it is created and closed: the switches of the
// command line, the volumes it leaves out, and closing into the tray.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>

#include <algorithm>
#include <fstream>

#include "WindowTestSupport.h"
#include "mainwindow/StartupSwitches.h"

namespace quillo::test {
namespace {

TEST(StartupSwitchesTest, OnlyOneSwitchInAnyCaseStartsInTheTray) {
  EXPECT_TRUE(StartsInTray({"/StartUp"}));
  EXPECT_TRUE(StartsInTray({"/Schedule"}));
  EXPECT_TRUE(StartsInTray({"/schedule"}));
  EXPECT_TRUE(StartsInTray({"/STARTUP"}));
  EXPECT_FALSE(StartsInTray({}));
  EXPECT_FALSE(StartsInTray({"/Schedule", "/StartUp"}));
  EXPECT_FALSE(StartsInTray({"/Scheduled"}));
  EXPECT_FALSE(StartsInTray({"Schedule"}));
}

class StartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
  }
  void TearDown() override { Form.reset(); }
  void Start(std::vector<std::string> arguments) {
    Rig.Arguments = std::move(arguments);
    Form = Rig.Create();
  }

  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(StartupTest, ScheduledStartDefragmentsTheScheduledVolumes) {
  Rig.EditSettings([](TSetting& settings) {
    settings.scheduledisk = "Dq"; // q names no volume
    settings.IsOptDefrag_Task = false;
    settings.EnableTrayPrompt = true;
  });
  Start({"/Schedule"});
  TDefragThread& jobD = Form->Volumes().Job(1);
  EXPECT_EQ(int(jobD.Command()), int(jcManualDefrag));
  EXPECT_EQ(int(jobD.Mode()), int(dmFast));
  EXPECT_EQ(Form->Tray->LastBalloonText(), "Start scheduled defragment");
  ApplyStartupSwitches(*Form, Rig.Arguments);
  // Started in the tray; where there is none, minimised.
  EXPECT_TRUE(Form->Tray->IsAvailable() ? !Form->isVisible() : Form->isMinimized());
  ASSERT_TRUE(PumpUntil([&] { return jobD.State() == dsDefragged; }));
  EXPECT_EQ(int(Form->Volumes().Job(0).State()), int(dsIdle));
}

TEST_F(StartupTest, ScheduledStartWithoutTrayPromptShowsNoBalloon) {
  Rig.EditSettings([](TSetting& settings) {
    settings.scheduledisk = "C";
    settings.EnableTrayPrompt = false;
  });
  Start({"/Schedule"});
  EXPECT_EQ(Form->Tray->BalloonCount(), 0);
  ASSERT_TRUE(PumpUntil([&] { return Form->Volumes().Job(0).State() == dsDefragged; }));
}

TEST_F(StartupTest, LowerCaseScheduleHidesButRunsNothing) {
  Rig.EditSettings([](TSetting& settings) {
    settings.scheduledisk = "CD";
    settings.EnableTrayPrompt = true;
  });
  Start({"/schedule"});
  EXPECT_EQ(Form->Tray->BalloonCount(), 0);
  for (TDefragThread* job : Form->Volumes().Jobs()) EXPECT_EQ(int(job->State()), int(dsIdle));
  EXPECT_TRUE(StartsInTray(Rig.Arguments));
}

TEST_F(StartupTest, StartUpSwitchShowsItsBalloonWhenPromptsAreOn) {
  Rig.EditSettings([](TSetting& settings) { settings.EnableTrayPrompt = true; });
  Start({"/StartUp"});
  EXPECT_EQ(Form->Tray->LastBalloonText(), "Start up");
}

TEST_F(StartupTest, PlainStartShowsTheWindow) {
  Start({});
  ApplyStartupSwitches(*Form, Rig.Arguments);
  EXPECT_TRUE(Form->isVisible());
  EXPECT_FALSE(Form->isMinimized());
}

TEST_F(StartupTest, SettingsFileHoldsEveryKeyAfterTheFirstStart) {
  std::filesystem::remove(Rig.SettingsFile());
  Start({});
  std::ifstream file(Rig.SettingsFile());
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  for (const char* key : {"StopWhenBattary", "CloseMinimize", "EnableTrayPrompt", "scheduledisk",
                          "LastAutoDefrag"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
}

TEST_F(StartupTest, UnusableVolumesAreListedDisabledAfterTheOthersAndLeftOffTheSchedule) {
  Rig.Catalog.Add("E:\\", MakeWindowVolume("E:", "FAT"));    // FAT16: no engine
  Rig.Catalog.Refuse("F:\\", "mounted");                     // the drive table says no
  Rig.Catalog.Add("G:\\", MakeWindowVolume("G:"), kDriveRemovable);
  Start({});
  QTreeWidget* manual = Form->manualdefrag->manulist;
  ASSERT_EQ(Form->Volumes().Count(), 2);
  ASSERT_EQ(manual->topLevelItemCount(), 4); // not the removable one
  ASSERT_EQ(Form->schedule->ScheduleList->topLevelItemCount(), 2);
  EXPECT_EQ(RowTexts(manual, 1)[0], "D:\\");
  EXPECT_EQ(RowTexts(manual, 2), (std::vector<std::string>{"E:\\", "unsupported file system", "", "", ""}));
  EXPECT_EQ(RowTexts(manual, 3), (std::vector<std::string>{"F:\\", "mounted", "", "", ""}));
  for (int row : {2, 3}) EXPECT_EQ(manual->topLevelItem(row)->flags(), Qt::NoItemFlags);
  EXPECT_TRUE(Rig.Messages.Messages().empty()); // no box: the list tells
  const std::vector<std::string>& why = Form->Volumes().Refusals();
  EXPECT_NE(std::find(why.begin(), why.end(), "E:\\ unsupported file system"), why.end());
  EXPECT_NE(std::find(why.begin(), why.end(), "F:\\ mounted"), why.end());
}

TEST_F(StartupTest, ClosingWithCloseMinimizeGoesToTheTrayWithABalloon) {
  Rig.EditSettings([](TSetting& settings) {
    settings.CloseMinimize = true;
    settings.EnableTrayPrompt = false; // the balloon comes all the same
  });
  Start({});
  Form->show();
  EXPECT_FALSE(Form->close());
  EXPECT_TRUE(Form->Tray->IsAvailable() ? !Form->isVisible() : Form->isMinimized());
  EXPECT_EQ(Form->Tray->LastBalloonText(), "QuilloDefrag is still running in background");
  // The tray's Restore brings it back.
  Form->Tray->TrayMenu_Restore->trigger();
  EXPECT_TRUE(Form->isVisible());
  EXPECT_FALSE(Form->isMinimized());
}

TEST_F(StartupTest, ClosingWithoutCloseMinimizeCloses) {
  Start({});
  Form->show();
  EXPECT_TRUE(Form->close());
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Form->Tray->BalloonCount(), 0);
}

TEST_F(StartupTest, AutoPageLabelsFollowTheSettings) {
  Start({});
  EXPECT_EQ(Form->autodefrag->Label_AutoDefrag_Count->text(), "0 files has been defragmented");
  EXPECT_EQ(Form->autodefrag->Label_LastAutoDefrag->text(),
            "Last Auto Defrag: Never defrag the volume");
}

} // namespace
} // namespace quillo::test
