// SPDX-License-Identifier: GPL-2.0-or-later
// The options page with OK, Apply and Cancel, the settings applied to the
// pages, the engines and the system's tasks, the side bar, the header
// links and the tray menu.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QMouseEvent>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "OptionsWindowRig.h"
#include "mainwindow/JobSchedLibrary.h"
#include "mainwindow/ProgramLinks.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class OptionsPageTest : public ::testing::Test {
protected:
  TMainForm& Start() {
    Form = &Windows.Start();
    return *Form;
  }
  OptionPage& Page() { return *Form->Option; }
  void OpenOptions() { Form->SideBarTileClick(SideBar::kOption); }
  std::vector<int64_t> EngineLimits() {
    std::vector<int64_t> limits;
    for (TDefragThread* job : Form->Volumes().Jobs()) limits.push_back(job->Engine().SizeLimit.load());
    return limits;
  }
  // Sends a click to a label that takes clicks through its owner's filter.
  static void ClickLabel(QWidget* label) {
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(label, &press);
    QCoreApplication::sendEvent(label, &release);
  }

  OptionsWindowRig Windows;
  TMainForm* Form = nullptr;
};

TEST_F(OptionsPageTest, OpeningThePageShowsTheStoredSettingsWithApplyDisabled) {
  Windows.Rig.EditSettings([](TSetting& settings) {
    settings.CloseMinimize = true;
    settings.StopWhenBattary = false;
    settings.EnableExclude = true;
    settings.ExcludeSize = 5120 * 1024;
  });
  Start();
  OpenOptions();
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->Option);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kOption);
  EXPECT_TRUE(Page().CloseSetCheck->isChecked());
  EXPECT_FALSE(Page().BatteryCheck->isChecked());
  EXPECT_TRUE(Page().AutoLoadCheck->isChecked());
  EXPECT_TRUE(Page().CheckBox_Exclude_largefile->isChecked());
  EXPECT_EQ(Page().TrackBar_Exclude_largefile->value(), 5);
  EXPECT_EQ(Page().CheckBox_Exclude_largefile->text(),
            "Exclude large files to defrag,Exclude files larger than 5GB");
  EXPECT_EQ(Page().ComboBox_Language->currentText(), "English");
  EXPECT_FALSE(Page().SettingApplyBtn->isEnabled());
}

TEST_F(OptionsPageTest, EveryOptionChangeEnablesApply) {
  Start();
  OpenOptions();
  std::vector<std::function<void()>> changes = {
      [&] { Page().CloseSetCheck->click(); },  [&] { Page().AutoLoadCheck->click(); },
      [&] { Page().AutoUpdateCheck->click(); }, [&] { Page().TrayCheck->click(); },
      [&] { Page().SilentCheck->click(); },    [&] { Page().BatteryCheck->click(); },
      [&] { Page().CheckBox_Exclude_largefile->click(); },
      [&] { Page().TrackBar_Exclude_largefile->setValue(1); },
      [&] { Page().ComboBox_Language->setCurrentIndex(-1); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    Page().SettingApplyBtn->setEnabled(false);
    changes[i]();
    EXPECT_TRUE(Page().SettingApplyBtn->isEnabled()) << "change " << i;
  }
}

TEST_F(OptionsPageTest, OkStoresAppliesAndReturnsToTheManualPage) {
  Start();
  OpenOptions();
  Page().CloseSetCheck->click();
  Page().TrayCheck->click();
  Page().CheckBox_Exclude_largefile->click();
  Page().TrackBar_Exclude_largefile->setValue(3);
  EXPECT_TRUE(Page().CheckBox_Exclude_largefile->text().endsWith(" 1GB"));
  Page().SettingOkBtn->click();

  const auto stored = Windows.Rig.StoredSettings();
  EXPECT_TRUE(stored->CloseMinimize);
  EXPECT_TRUE(stored->EnableTrayPrompt);
  EXPECT_TRUE(stored->EnableExclude);
  EXPECT_EQ(stored->ExcludeSize, 1048576);
  EXPECT_EQ(EngineLimits(), std::vector<int64_t>(2, int64_t(1073741824)));
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->manualdefrag);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kDefragNow);
}

TEST_F(OptionsPageTest, ApplyStoresStaysOnThePageAndDisablesApply) {
  Start();
  OpenOptions();
  Page().SilentCheck->click();
  Page().SettingApplyBtn->click();
  EXPECT_FALSE(Windows.Rig.StoredSettings()->SilentDefrag);
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->Option);
  EXPECT_FALSE(Page().SettingApplyBtn->isEnabled());
}

TEST_F(OptionsPageTest, CancelStoresNothingAndReopeningShowsTheStoredValues) {
  Start();
  OpenOptions();
  Page().CloseSetCheck->click();
  Page().BatteryCheck->click();
  Page().TrackBar_Exclude_largefile->setValue(6);
  Page().SettingCancelBtn->click();
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->manualdefrag);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kDefragNow);
  const auto stored = Windows.Rig.StoredSettings();
  EXPECT_FALSE(stored->CloseMinimize);
  EXPECT_TRUE(stored->StopWhenBattary);
  EXPECT_EQ(stored->ExcludeSize, 1048576);

  OpenOptions();
  EXPECT_FALSE(Page().CloseSetCheck->isChecked());
  EXPECT_TRUE(Page().BatteryCheck->isChecked());
  EXPECT_EQ(Page().TrackBar_Exclude_largefile->value(), 3);
  EXPECT_FALSE(Page().SettingApplyBtn->isEnabled());
}

TEST_F(OptionsPageTest, EveryEngineTakesTheLargeFileLimitOfTheStep) {
  struct Step {
    int Position;
    int32_t Kilobytes;
    int64_t Bytes;
    const char* Text;
  };
  const Step steps[] = {
      {4, 2097152, 2147483648LL, "2GB"},
      {5, 5242880, 5368709120LL, "5GB"},
      {6, 10485760, 10737418240LL, "10GB"},
  };
  Start();
  OpenOptions();
  Page().CheckBox_Exclude_largefile->setChecked(true);
  for (const Step& step : steps) {
    Page().TrackBar_Exclude_largefile->setValue(step.Position);
    EXPECT_TRUE(Page().CheckBox_Exclude_largefile->text().endsWith(QString(" ") + step.Text));
    Page().SettingApplyBtn->click();
    EXPECT_EQ(Windows.Rig.StoredSettings()->ExcludeSize, step.Kilobytes) << step.Text;
    EXPECT_EQ(EngineLimits(), std::vector<int64_t>(2, step.Bytes)) << step.Text;
  }
  // Off: no limit.
  Page().CheckBox_Exclude_largefile->setChecked(false);
  Page().SettingApplyBtn->click();
  EXPECT_EQ(EngineLimits(), std::vector<int64_t>(2, 0));
}

TEST_F(OptionsPageTest, AnExcludeSizeThatIsNoStepLeavesTheTrackbarWhereItWas) {
  Windows.Rig.EditSettings([](TSetting& settings) {
    settings.EnableExclude = true;
    settings.ExcludeSize = 3000;
  });
  Start();
  EXPECT_EQ(EngineLimits(), std::vector<int64_t>(2, int64_t(3072000)));
  Form->Option->TrackBar_Exclude_largefile->setValue(1);
  OpenOptions();
  EXPECT_EQ(Page().TrackBar_Exclude_largefile->value(), 1);
  EXPECT_EQ(Windows.Rig.StoredSettings()->ExcludeSize, 3000);
  // The next reading of the page stores the step it shows.
  Page().SettingApplyBtn->setEnabled(true);
  Page().SettingApplyBtn->click();
  EXPECT_EQ(Windows.Rig.StoredSettings()->ExcludeSize, 204800);
  EXPECT_EQ(EngineLimits(), std::vector<int64_t>(2, int64_t(209715200)));
}

TEST_F(OptionsPageTest, AutoPageShowsStoredValuesWithinTheTrackbars) {
  struct Case {
    int32_t CpuLimit;
    int CpuPosition; // 20 + 10 × position percent
    int32_t IdleMinutes;
    int IdlePosition;
  };
  const Case cases[] = {{45, 2, 0, 1}, {5, 0, 5, 5}, {200, 8, 30, 10}, {40, 2, 1, 1}};
  for (const Case& c : cases) {
    OptionsWindowRig windows;
    windows.Rig.EditSettings([&](TSetting& settings) {
      settings.CpuLimitValue = c.CpuLimit;
      settings.AutoIdleTime = c.IdleMinutes;
    });
    TMainForm& form = windows.Start();
    EXPECT_EQ(form.autodefrag->TrackBar_StopDefrag_CPUuage->value(), c.CpuPosition) << c.CpuLimit;
    EXPECT_EQ(form.autodefrag->TrackBar_StartAuto_Time->value(), c.IdlePosition) << c.IdleMinutes;
    // The file keeps the value until the page is read again.
    EXPECT_EQ(windows.Rig.StoredSettings()->CpuLimitValue, c.CpuLimit);
    form.StoreFromWindow();
    EXPECT_EQ(windows.Rig.StoredSettings()->CpuLimitValue, 20 + 10 * c.CpuPosition);
    EXPECT_EQ(windows.Rig.StoredSettings()->AutoIdleTime, c.IdlePosition);
  }
}

TEST_F(OptionsPageTest, AutoPageApplyStoresAndItsTileShowsTheStoredValues) {
  Start();
  AutoDefragPage& page = *Form->autodefrag;
  Form->SideBarTileClick(SideBar::kAutoDefrag);
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->autodefrag);
  EXPECT_FALSE(page.AutoApplyBtn->isEnabled());
  page.TrackBar_StopDefrag_CPUuage->setValue(5);
  page.EnableQuilloCheck->click();
  page.AutoApplyBtn->click();
  const auto stored = Windows.Rig.StoredSettings();
  EXPECT_EQ(stored->CpuLimitValue, 70);
  EXPECT_FALSE(stored->EnableQuilloDefrag);
  EXPECT_EQ(page.autoimglabel->text(), "Auto Defrag is disable");
  EXPECT_FALSE(page.CheckBox_CpuLimit->isEnabled());

  // Unapplied changes give way to the stored values when the tile is used.
  page.TrackBar_StopDefrag_CPUuage->setValue(8);
  page.EnableQuilloCheck->click();
  Form->SideBarTileClick(SideBar::kAutoDefrag);
  EXPECT_EQ(page.TrackBar_StopDefrag_CPUuage->value(), 5);
  EXPECT_FALSE(page.EnableQuilloCheck->isChecked());
  EXPECT_FALSE(page.AutoApplyBtn->isEnabled());
}

TEST_F(OptionsPageTest, StartWithWindowsCreatesAndRemovesTheLogOnEntry) {
  Start();
  // On by default: the first application of the settings registers it.
  ASSERT_TRUE(fs::exists(Windows.AutostartEntry()));
  EXPECT_NE(ReadFileText(Windows.AutostartEntry()).find("/StartUp"), std::string::npos);
  OpenOptions();
  Page().AutoLoadCheck->click();
  Page().SettingApplyBtn->click();
  EXPECT_FALSE(fs::exists(Windows.AutostartEntry()));
  EXPECT_FALSE(Windows.Rig.StoredSettings()->StartWithWindows);
  Page().AutoLoadCheck->click();
  Page().SettingOkBtn->click();
  EXPECT_TRUE(fs::exists(Windows.AutostartEntry()));
  // Written again at every application, also when it was removed meanwhile.
  fs::remove(Windows.AutostartEntry());
  OpenOptions();
  EXPECT_TRUE(fs::exists(Windows.AutostartEntry()));
}

TEST_F(OptionsPageTest, TheWeeklyTaskFollowsEnableScheduleAtEveryApply) {
  Windows.Rig.EditSettings([](TSetting& settings) {
    settings.EnableSchedule = true;
    settings.IsOptDefrag_Task = true;
    settings.scheduledisk = "DZ"; // there is no Z:
  });
  Start();
  TaskLibrary& tasks = JobSchedLibrary::Instance();
  SchedulePage& schedule = *Form->schedule;
  auto expectScheduleOn = [&](bool on) {
    EXPECT_EQ(tasks.IsTaskExist(kScheduleTaskName), on);
    EXPECT_EQ(schedule.ScheduleCheck->isChecked(), on);
    EXPECT_EQ(schedule.scheduletimelabel->text().isEmpty(), !on);
    EXPECT_EQ(schedule.ScheduleConfigBtn->isEnabled(), on);
    EXPECT_EQ(schedule.scheduletimelabel->isEnabled(), on);
    EXPECT_EQ(schedule.ComboBox_Action->isEnabled(), on);
  };
  expectScheduleOn(true);
  EXPECT_EQ(schedule.ComboBox_Action->currentIndex(), 1);
  EXPECT_EQ(schedule.ScheduleList->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(schedule.ScheduleList->topLevelItem(1)->checkState(0), Qt::Checked);
  EXPECT_EQ(RowTexts(schedule.ScheduleList, 1)[3], "Opt Defrag");

  // The box's click reads, saves and applies the settings.
  Form->SideBarTileClick(SideBar::kSchedule);
  schedule.ScheduleCheck->click();
  EXPECT_FALSE(Windows.Rig.StoredSettings()->EnableSchedule);
  expectScheduleOn(false);

  schedule.ScheduleCheck->click();
  EXPECT_EQ(Windows.Rig.StoredSettings()->scheduledisk, "D");
  expectScheduleOn(true);
  // The options page's Apply stores the schedule as the page shows it.
  OpenOptions();
  schedule.ScheduleCheck->setChecked(false);
  Page().SettingApplyBtn->setEnabled(true);
  Page().SettingApplyBtn->click();
  expectScheduleOn(false);
  schedule.ScheduleCheck->setChecked(true);
  Page().SettingApplyBtn->setEnabled(true);
  Page().SettingApplyBtn->click();
  expectScheduleOn(true);

  // A task removed behind the program's back is made again.
  tasks.DeleteTask(kScheduleTaskName);
  OpenOptions();
  expectScheduleOn(true);
}

TEST_F(OptionsPageTest, LinksOpenTheirAddresses) {
  Start();
  const std::string download = ProductPageLink(kProductDownload);
  const std::string purchase = ProductPageLink(kProductPurchase);
  EXPECT_EQ(download, "https://www.quillodefrag.example/quillodefrag.html?Str=download");
  ClickLabel(Form->Header->LabelCheckUpdate);
  ClickLabel(Form->Header->LabelFeedBack);
  Form->SideBarTileClick(SideBar::kDonate);
  Form->Tray->TrayMenu_HomePage->trigger();
  Form->Tray->TrayMenu_FeedBack->trigger();
  EXPECT_EQ(Windows.Links,
            (std::vector<std::string>{download, purchase, purchase, std::string(kHomePageLink), purchase}));
  // Donate has no page.
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->manualdefrag);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kDefragNow);
}

TEST_F(OptionsPageTest, TilesLightOnHoverAndStayLitForTheActivePage) {
  Start();
  QLabel* overlay = Form->Side->findChild<QLabel*>("Overlay_Tile_Schedule");
  QLabel* donate = Form->Side->findChild<QLabel*>("Overlay_Tile_Donate");
  ASSERT_NE(overlay, nullptr);
  ASSERT_NE(donate, nullptr);
  auto hover = [](QWidget* widget, QEvent::Type type) {
    if (type == QEvent::Enter) {
      QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
      QCoreApplication::sendEvent(widget, &enter);
    } else {
      QEvent leave(QEvent::Leave);
      QCoreApplication::sendEvent(widget, &leave);
    }
  };
  hover(overlay, QEvent::Enter);
  EXPECT_FALSE(Form->Side->ImageSchedule->isHidden());
  hover(overlay, QEvent::Leave);
  EXPECT_TRUE(Form->Side->ImageSchedule->isHidden());
  ClickLabel(overlay);
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->schedule);
  hover(overlay, QEvent::Enter);
  hover(overlay, QEvent::Leave);
  EXPECT_FALSE(Form->Side->ImageSchedule->isHidden());
  EXPECT_TRUE(Form->Side->ImageDefragNow->isHidden());
  hover(donate, QEvent::Enter);
  EXPECT_FALSE(Form->Side->ImageDonate->isHidden());
  hover(donate, QEvent::Leave);
  EXPECT_TRUE(Form->Side->ImageDonate->isHidden());
}

TEST_F(OptionsPageTest, TrayClicksAndRestoreShowTheWindow) {
  Start();
  const QSystemTrayIcon::ActivationReason reasons[] = {QSystemTrayIcon::Trigger,
                                                       QSystemTrayIcon::DoubleClick};
  for (QSystemTrayIcon::ActivationReason reason : reasons) {
    Form->hide();
    emit Form->Tray->trayicon->activated(reason);
    EXPECT_TRUE(Form->isVisible()) << reason;
  }
  Form->hide();
  emit Form->Tray->trayicon->activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(Form->isVisible());
  Form->Tray->TrayMenu_Restore->trigger();
  EXPECT_TRUE(Form->isVisible());
  QStringList items;
  for (QAction* action : Form->Tray->TrayMenu->actions()) items << action->text();
  EXPECT_EQ(items, QStringList({"Restore QuilloDefrag", "", "HomePage", "FeedBack", "About Quillo Defrag", "Exit"}));
}

} // namespace
} // namespace quillo::test
