// SPDX-License-Identifier: GPL-2.0-or-later
// Whole runs through the window with the real engines on in-memory volumes:
// the timer drives everything from the press of a button to the report.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QProcess>
#include <QTest>

#include "PrivateSessionBus.h"
#include "WindowTestSupport.h"
#include <fstream>

#include "engine/DateTime.h"
#include "mainwindow/StatusTexts.h"
#include "mainwindow/TaskbarProgress.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

class ManualRunTest : public ::testing::Test {
protected:
  void Start(const std::string& fileSystem = "FAT32") {
    VolumeC = MakeWindowVolume("C:", fileSystem);
    Rig.Catalog.Add("C:\\", VolumeC);
    Form = Rig.Create();
    ASSERT_TRUE(Form->StartedWithVolumes());
    Page = Form->manualdefrag;
  }
  void TearDown() override {
    Analysis.OpenFully();
    Form.reset();
  }
  // The analyses of the jobs wait at the gate Analysis once per step.
  void UseScriptedEngines(bool sleepPerStep = false) {
    ScriptedEngine::Script script;
    script.Steps = 2;
    script.AnalysisGate = &Analysis;
    script.SleepPerStep = sleepPerStep;
    Factory = std::make_unique<ScriptedFactory>(script);
    Rig.Engines = Factory.get();
  }
  // The window thread keeps serving the map while it waits.
  void WaitForAnalysisStep() {
    ASSERT_TRUE(PumpUntil([&] { return Analysis.ArrivalCount() >= 1; }));
  }
  TDefragThread& JobC() { return Form->Volumes().Job(0); }
  bool WaitForReport(int openings = 1) {
    return PumpUntil([&] { return Rig.Reports.Openings >= openings; });
  }

  Gate Analysis{false};
  std::unique_ptr<ScriptedFactory> Factory;
  FormRig Rig;
  std::shared_ptr<MemoryVolume> VolumeC;
  std::unique_ptr<TMainForm> Form;
  ManualPage* Page = nullptr;
};

TEST_F(ManualRunTest, DefragAndOptimizeRunsUntilTheReportOpens) {
  Start();
  Form->show();
  Page->ComboBox_FastOrOptDefrag->setCurrentIndex(ManualPage::kMethodOptimize);
  EXPECT_EQ(Page->Label_Defrag_Introduction->text(),
            "Defrag & Optimize:Improve the efficiency of the whole disk");
  QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
  EXPECT_EQ(int(JobC().Command()), int(jcManualDefrag));
  EXPECT_EQ(int(JobC().Mode()), int(dmOptimize));

  ASSERT_TRUE(WaitForReport());
  EXPECT_EQ(int(JobC().State()), int(dsDefragged));
  EXPECT_EQ(Rig.Reports.CurrentRows.front(), 0);
  // What the report window is given: the finished volume's entries.
  ASSERT_EQ(Rig.Reports.States.front(), std::vector<uint8_t>{dsDefragged});
  const std::vector<FILE_INFO>& entries = Rig.Reports.Entries.front().front();
  ASSERT_EQ(entries.size(), 3u);
  for (const FILE_INFO& entry : entries) EXPECT_EQ(int(entry.Status), int(fsDefragged)) << entry.Name;

  // Both times recorded and saved.
  std::unique_ptr<TSetting> stored = Rig.StoredSettings();
  int c = TSetting::DriveIndex('C');
  EXPECT_DOUBLE_EQ(stored->LastDefragTime[size_t(c)], ShortSleepClock::kNow);
  EXPECT_DOUBLE_EQ(stored->LastOptimizeTime[size_t(c)], ShortSleepClock::kNow);

  // The volume is sound and every file is in one piece, its data kept.
  EXPECT_EQ(VolumeC->CheckConsistency(), "");
  EXPECT_TRUE(AllFilesContiguous(*VolumeC));

  Form->RunStatusTick();
  std::vector<std::string> row = RowTexts(Page->manulist, 0);
  EXPECT_EQ(row[1], "Optimized");
  EXPECT_EQ(row[4], "Last defrag time: " + FormatListTime(ShortSleepClock::kNow));
  const TDefragReport& report = *JobC().Engine().Report;
  EXPECT_GE(report.FileCount, 7); // 4 contiguous and 3 fragmented files
  EXPECT_EQ(Page->TotalFilesDirs->text(), QString::number(report.FileCount + report.DirCount));
  EXPECT_EQ(Page->FragmentedFilesDir->text(), "0");
  EXPECT_EQ(Page->Guage_Progress->value(), int(JobC().Engine().Map->GetProgressBar()));
  EXPECT_TRUE(Page->ViewReportBtn->isEnabled());
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
}

TEST_F(ManualRunTest, SettingsThatCannotBeSavedAreReportedAndTheTickEnds) {
  fs::path blocked = Rig.Folder.Path() / "blocked";
  std::ofstream(blocked) << "a file, not a folder\n";
  Rig.SettingsFileOverride = blocked / "config.ini";
  Start();
  // Already the first save, at start, cannot be written.
  ASSERT_EQ(Rig.Messages.Messages().size(), 1u);
  EXPECT_EQ(Rig.Messages.Messages().front().Text, "Unable to write to " + (blocked / "config.ini").string());
  Form->show();
  QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Rig.Messages.Messages().size() == 2; }));
  EXPECT_EQ(Rig.Messages.Messages().back().Text, "Unable to write to " + (blocked / "config.ini").string());
  // The rest of that tick did not run: no report was opened.
  EXPECT_EQ(Rig.Reports.Openings, 0);
}

TEST_F(ManualRunTest, FastRunRecordsOnlyTheDefragTime) {
  Start();
  Form->show();
  QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(WaitForReport());
  std::unique_ptr<TSetting> stored = Rig.StoredSettings();
  int c = TSetting::DriveIndex('C');
  EXPECT_DOUBLE_EQ(stored->LastDefragTime[size_t(c)], ShortSleepClock::kNow);
  EXPECT_DOUBLE_EQ(stored->LastOptimizeTime[size_t(c)], 0);
  Form->RunStatusTick();
  EXPECT_EQ(RowTexts(Page->manulist, 0)[1], "Defragged");
}

TEST_F(ManualRunTest, AnalysisRecordsNoTimeAndOpensTheReport) {
  Start();
  Form->show();
  QTest::mouseClick(Page->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(WaitForReport());
  EXPECT_EQ(Rig.Reports.States.front(), std::vector<uint8_t>{dsAnalyzed});
  std::unique_ptr<TSetting> stored = Rig.StoredSettings();
  EXPECT_DOUBLE_EQ(stored->LastDefragTime[size_t(TSetting::DriveIndex('C'))], 0);
  Form->RunStatusTick();
  EXPECT_EQ(RowTexts(Page->manulist, 0)[1], "Analyzed");
  EXPECT_EQ(RowTexts(Page->manulist, 0)[4], "Never defrag the volume");
  EXPECT_EQ(Page->FragmentedFilesDir->text(), "3");
}

TEST_F(ManualRunTest, AnalysisFinishingWhileHiddenOpensTheReport) {
  Start();
  ASSERT_FALSE(Form->isVisible());
  JobC().AnalyzeDeal(dmFast);
  ASSERT_TRUE(WaitForReport());
  EXPECT_EQ(Rig.Reports.Openings, 1);
}

TEST_F(ManualRunTest, DefragFinishingWhileHiddenDoesNotOpenTheReport) {
  Start();
  ASSERT_FALSE(Form->isVisible());
  JobC().DefragDeal(jcManualDefrag, dmFast);
  // The completion is taken (the time is saved), but no report opens.
  ASSERT_TRUE(PumpUntil(
      [&] { return Form->Settings->LastDefragTime[size_t(TSetting::DriveIndex('C'))] != 0; }));
  EXPECT_NE(Rig.StoredSettings()->LastDefragTime[size_t(TSetting::DriveIndex('C'))], 0);
  Form->RunStatusTick();
  EXPECT_EQ(Rig.Reports.Openings, 0);
}

TEST_F(ManualRunTest, PowerOffBoxShowsTheCountdownInsteadOfTheReport) {
  Start();
  Form->show();
  Page->CheckBox_auto_shutdown->click();
  ASSERT_EQ(Rig.Messages.Messages().size(), 1u);
  EXPECT_EQ(Rig.Messages.Messages().front().Text, "Please close other applications");
  QTest::mouseClick(Page->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Rig.PowerOff.Shown == 1; }));
  EXPECT_TRUE(Form->Timer_GetDefragRuntimeData->isActive());
  Form->RunStatusTick();
  EXPECT_EQ(Rig.Reports.Openings, 0);
  // Unticking shows nothing.
  Page->CheckBox_auto_shutdown->click();
  EXPECT_EQ(Rig.Messages.Messages().size(), 1u);
}

TEST_F(ManualRunTest, OnBatteryARunningJobStopsWithinOneTick) {
  Rig.EditSettings([](TSetting& settings) { settings.StopWhenBattary = true; });
  UseScriptedEngines();
  Start();
  JobC().AnalyzeDeal(dmFast);
  WaitForAnalysisStep();
  Form->RunStatusTick();
  EXPECT_EQ(int(JobC().State()), int(dsAnalyzing));
  Rig.LineStatus = 255; // unknown: nothing happens
  Form->RunStatusTick();
  EXPECT_EQ(int(JobC().State()), int(dsAnalyzing));
  Rig.LineStatus = 0;
  Form->RunStatusTick();
  EXPECT_EQ(int(JobC().State()), int(dsStopping));
  Analysis.OpenFully();
  ASSERT_TRUE(PumpUntil([&] { return JobC().State() == dsIdle; }));
}

TEST_F(ManualRunTest, OnBatteryAPausedJobStaysPaused) {
  UseScriptedEngines(true);
  Start();
  JobC().AnalyzeDeal(dmFast);
  WaitForAnalysisStep();
  JobC().PauseDeal();
  Rig.LineStatus = 0;
  Form->RunStatusTick();
  EXPECT_EQ(int(JobC().State()), int(dsAnalyzePaused));
  JobC().StopDeal();
  Analysis.OpenFully();
  ASSERT_TRUE(PumpUntil([&] { return JobC().State() == dsIdle; }));
}

TEST_F(ManualRunTest, TrayAnimatesWhileAJobRuns) {
  UseScriptedEngines();
  Start();
  Form->Timer_GetDefragRuntimeData->stop(); // the test ticks by itself
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
  EXPECT_EQ(Form->Tray->FrameTag, -1);
  JobC().AnalyzeDeal(dmFast);
  WaitForAnalysisStep();
  std::vector<int> frames;
  for (int tick = 0; tick < 8; ++tick) {
    Form->RunStatusTick();
    frames.push_back(Form->Tray->IconIndex());
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 3, 4, 5, 0, 1}));
  JobC().StopDeal();
  Analysis.OpenFully();
  ASSERT_TRUE(PumpUntil([&] { return JobC().State() == dsIdle; }));
  Form->RunStatusTick();
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
  EXPECT_EQ(Form->Tray->FrameTag, -1);
}

// A message bus of the test's own, and a monitor of the dock's signals on it.
class PrivateBus {
public:
  PrivateBus() : Address(Bus.Address) {
    Monitor.setProcessChannelMode(QProcess::MergedChannels);
    Monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--address"), Address,
                   QStringLiteral("type='signal',interface='com.canonical.Unity.LauncherEntry'")});
    // Listening once it has its name.
    PumpUntil([&] { return Heard().contains("NameAcquired") || Monitor.state() == QProcess::NotRunning; });
  }
  ~PrivateBus() {
    Monitor.kill();
    Monitor.waitForFinished();
  }
  QString Heard() {
    Output += QString::fromUtf8(Monitor.readAll());
    return Output;
  }

  PrivateSessionBus Bus;
  QString Address;
  QProcess Monitor;
  QString Output;
};

TEST_F(ManualRunTest, TitleAndTaskBarEntryShowTheProgressWhileAJobRuns) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address.isEmpty()) << "no dbus-daemon";
  Rig.DesktopBus = [&bus] {
    return QDBusConnection::connectToBus(bus.Address, QStringLiteral("quillo-desktop-test"));
  };
  UseScriptedEngines();
  Start();
  Form->Timer_GetDefragRuntimeData->stop(); // the test ticks by itself
  Form->RunStatusTick();
  EXPECT_EQ(Form->windowTitle().toStdString(), "Quillo Defrag");
  JobC().AnalyzeDeal(dmFast);
  WaitForAnalysisStep();
  Form->RunStatusTick();
  const int percent = int(JobC().Engine().Map->GetProgressBar());
  EXPECT_EQ(Form->windowTitle(), TaskbarProgress::TitleWith(percent, QStringLiteral("Quillo Defrag")));
  EXPECT_EQ(Form->windowTitle().toStdString(), std::to_string(percent) + " % \u2013 Quillo Defrag");
  JobC().StopDeal();
  Analysis.OpenFully();
  ASSERT_TRUE(PumpUntil([&] { return JobC().State() == dsIdle; }));
  Form->RunStatusTick();
  EXPECT_EQ(Form->windowTitle().toStdString(), "Quillo Defrag");
  // The dock heard the bar appear with the progress, then go.
  ASSERT_TRUE(PumpUntil([&] { return bus.Heard().count("member=Update") >= 2; })) << bus.Heard().toStdString();
  const QString heard = bus.Heard();
  EXPECT_TRUE(heard.contains("path=/com/canonical/unity/launcherentry/quillodefrag"));
  EXPECT_TRUE(heard.contains("string \"application://quillodefrag.desktop\""));
  const QString first = heard.section("member=Update", 1, 1);
  const QString last = heard.section("member=Update", -1);
  EXPECT_TRUE(first.contains("boolean true")) << first.toStdString();
  EXPECT_TRUE(first.contains(QStringLiteral("double %1").arg(percent / 100.0))) << first.toStdString();
  EXPECT_TRUE(last.contains("boolean false")) << last.toStdString();
  Form.reset();
  QDBusConnection::disconnectFromBus(QStringLiteral("quillo-desktop-test"));
}

TEST_F(ManualRunTest, IdleVolumeShowsZeroTotalsAfterAStoppedRun) {
  Start();
  Form->show();
  QTest::mouseClick(Page->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(WaitForReport());
  Form->RunStatusTick();
  EXPECT_NE(Page->TotalFilesDirs->text(), "0");
  // A new command that is stopped leaves the job idle: the totals read 0.
  JobC().DefragDeal(jcManualDefrag, dmOptimize);
  JobC().StopDeal();
  ASSERT_TRUE(PumpUntil([&] { return JobC().State() == dsIdle && JobC().IsParked(); }));
  Form->RunStatusTick();
  EXPECT_EQ(Page->TotalFilesDirs->text(), "0");
  EXPECT_EQ(Page->FragmentedFilesDir->text(), "0");
}

} // namespace
} // namespace quillo::test
