// SPDX-License-Identifier: GPL-2.0-or-later
// The auto defrag page in the window: the options and their captions, the
// buttons, the system volume and its notice, and an automatic run on it
// started by calm ticks.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>

#include "FixtureWorld.h"
#include "WindowTestSupport.h"
#include "mainwindow/DriveTableCatalog.h"
#include "settings/MessageText.h"

namespace quillo::test {
namespace {

constexpr uint32_t kWindowsDirectoryCluster = 4000;

// A volume like the others with a "Windows" directory at its root.
std::shared_ptr<MemoryVolume> MakeSystemVolume(const std::string& volumeName) {
  std::shared_ptr<MemoryVolume> volume = MakeWindowVolume(volumeName);
  uint32_t windows = volume->AddDirectory(MemoryVolume::kRootIndex, "Windows");
  volume->SetRuns(windows, {{kWindowsDirectoryCluster, 1}});
  return volume;
}

class AutoDefragPageTest : public ::testing::Test {
protected:
  void Start() {
    Form = Rig.Create();
    Page = Form->autodefrag;
  }
  void TearDown() override { Form.reset(); }

  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
  AutoDefragPage* Page = nullptr;
};

TEST_F(AutoDefragPageTest, TrackbarsWriteTheirCaptionsAndEnableApply) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  // Written from the first moment, for wherever the trackbars stand.
  EXPECT_EQ(Page->CheckBox_CpuLimit->text().toStdString(),
            "Pause Auto Defrag when resource usage exceeds(%" +
                std::to_string(AutoDefragPage::CpuLimitSteps[size_t(
                    Page->TrackBar_StopDefrag_CPUuage->value())]) +
                ")");
  EXPECT_EQ(Page->CheckBox_Start_AutoDefrag->text().toStdString(),
            "Start Auto Defrag when system idle exceeds(" +
                std::to_string(Page->TrackBar_StartAuto_Time->value()) + " minutes)");
  const char* const percents[] = {"20", "30", "40", "50", "60", "70", "80", "90", "100"};
  for (int position = 8; position >= 0; --position) {
    Page->AutoApplyBtn->setEnabled(false);
    Page->TrackBar_StopDefrag_CPUuage->setValue(position);
    EXPECT_EQ(Page->CheckBox_CpuLimit->text(),
              QStringLiteral("Pause Auto Defrag when resource usage exceeds(%") +
                  QLatin1String(percents[position]) + QStringLiteral(")"));
    EXPECT_TRUE(Page->AutoApplyBtn->isEnabled()) << position;
  }
  for (int minutes : {10, 7, 1}) {
    Page->AutoApplyBtn->setEnabled(false);
    Page->TrackBar_StartAuto_Time->setValue(minutes);
    EXPECT_EQ(Page->CheckBox_Start_AutoDefrag->text().toStdString(),
              "Start Auto Defrag when system idle exceeds(" + std::to_string(minutes) + " minutes)");
    EXPECT_TRUE(Page->AutoApplyBtn->isEnabled()) << minutes;
  }
  // The trackbars hold their ranges.
  Page->TrackBar_StartAuto_Time->setValue(0);
  EXPECT_EQ(Page->TrackBar_StartAuto_Time->value(), 1);
  Page->TrackBar_StopDefrag_CPUuage->setValue(9);
  EXPECT_EQ(Page->TrackBar_StopDefrag_CPUuage->value(), 8);

  for (QCheckBox* box : {Page->CheckBox_CpuLimit, Page->CheckBox_Start_AutoDefrag}) {
    Page->AutoApplyBtn->setEnabled(false);
    box->click();
    EXPECT_TRUE(Page->AutoApplyBtn->isEnabled()) << box->objectName().toStdString();
  }
}

TEST_F(AutoDefragPageTest, StoredProcessorLimitsShowOnTheNearestPosition) {
  struct Case {
    int Percent;
    int Position;
  };
  for (const Case& c : {Case{20, 0}, Case{40, 2}, Case{45, 2}, Case{100, 8}, Case{5, 0},
                        Case{200, 8}, Case{-30, 0}}) {
    EXPECT_EQ(AutoDefragPage::CpuLimitPosition(c.Percent), c.Position) << c.Percent;
  }
}

TEST_F(AutoDefragPageTest, CaptionsAndNoticeComeFromTheLanguageFile) {
  Rig.EditSettings([](TSetting& settings) { settings.Language = "Deutsch"; });
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  // The window's language as the settings choose it.
  Form->Settings->Translator.SetLanguage(Form->Settings->Language);
  Page->TrackBar_StopDefrag_CPUuage->setValue(2);
  EXPECT_EQ(Page->CheckBox_CpuLimit->text(),
            QStringLiteral("Anhalten bei Auslastung über (%40)"));
  Form->RunStatusTick();
  EXPECT_EQ(Page->Label_NoSystemVolume->text(), QStringLiteral("Kein Windows-Systemlaufwerk gefunden"));
}

TEST_F(AutoDefragPageTest, EnableBoxEnablesTheOptionsItGoverns) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  for (bool ticked : {true, false, true}) {
    Page->AutoApplyBtn->setEnabled(false);
    Page->EnableQuilloCheck->setChecked(!ticked);
    Page->AutoApplyBtn->setEnabled(false);
    Page->EnableQuilloCheck->click();
    ASSERT_EQ(Page->EnableQuilloCheck->isChecked(), ticked);
    EXPECT_EQ(Page->CheckBox_CpuLimit->isEnabled(), ticked);
    EXPECT_EQ(Page->CheckBox_Start_AutoDefrag->isEnabled(), ticked);
    EXPECT_EQ(Page->Button_Optimal_Settings->isEnabled(), ticked);
    EXPECT_TRUE(Page->AutoApplyBtn->isEnabled());
  }
}

TEST_F(AutoDefragPageTest, OptimalSettingsThenCancelLeaveTheStoredSettingsAlone) {
  Rig.EditSettings([](TSetting& settings) {
    settings.CpuLimitValue = 70;
    settings.AutoIdleTime = 9;
  });
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  Form->SideBarTileClick(SideBar::kAutoDefrag);
  ASSERT_EQ(Form->PageControl->currentWidget(), Page);
  QSignalSpy edited(Page, &AutoDefragPage::SettingsEdited);

  Page->EnableQuilloCheck->setChecked(true);
  Page->TrackBar_StopDefrag_CPUuage->setValue(2);
  Page->TrackBar_StartAuto_Time->setValue(5);
  Page->AutoApplyBtn->setEnabled(false);
  // Already on the optimal positions: the captions are written all the same.
  Page->CheckBox_CpuLimit->setText(QString());
  Page->CheckBox_Start_AutoDefrag->setText(QString());
  Page->Button_Optimal_Settings->click();
  EXPECT_EQ(Page->TrackBar_StopDefrag_CPUuage->value(), 2);
  EXPECT_EQ(Page->TrackBar_StartAuto_Time->value(), 5);
  EXPECT_TRUE(Page->CheckBox_CpuLimit->text().endsWith(QStringLiteral("exceeds(%40)")));
  EXPECT_TRUE(Page->CheckBox_Start_AutoDefrag->text().endsWith(QStringLiteral("exceeds(5 minutes)")));
  EXPECT_TRUE(Page->AutoApplyBtn->isEnabled());

  Page->AutoCancelBtn->click();
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->manualdefrag);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kDefragNow);
  EXPECT_EQ(edited.count(), 0);
  std::unique_ptr<TSetting> stored = Rig.StoredSettings();
  EXPECT_EQ(stored->CpuLimitValue, 70);
  EXPECT_EQ(stored->AutoIdleTime, 9);
}

TEST_F(AutoDefragPageTest, ApplyAsksForTheSettingsToBeStoredAndEndsDisabled) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  QSignalSpy edited(Page, &AutoDefragPage::SettingsEdited);
  // Applying the settings ticks boxes, whose handlers enable Apply.
  QObject::connect(Page, &AutoDefragPage::SettingsEdited, Page,
                   [this] { Page->CheckBox_CpuLimit->toggle(); });
  Page->TrackBar_StartAuto_Time->setValue(3);
  ASSERT_TRUE(Page->AutoApplyBtn->isEnabled());
  Page->AutoApplyBtn->click();
  EXPECT_EQ(edited.count(), 1);
  EXPECT_FALSE(Page->AutoApplyBtn->isEnabled());
}

TEST_F(AutoDefragPageTest, OpeningThePageThroughItsTileShowsTheStoredSettingsAgain) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  QSignalSpy reapply(Page, &AutoDefragPage::SettingsReapplyRequested);
  Page->TrackBar_StartAuto_Time->setValue(2);
  ASSERT_TRUE(Page->AutoApplyBtn->isEnabled());
  Form->SideBarTileClick(SideBar::kAutoDefrag);
  EXPECT_EQ(Form->PageControl->currentWidget(), Page);
  EXPECT_EQ(Form->Side->LitTile(), SideBar::kAutoDefrag);
  EXPECT_EQ(reapply.count(), 1);
  EXPECT_FALSE(Page->AutoApplyBtn->isEnabled());
  // Other tiles do not ask.
  Form->SideBarTileClick(SideBar::kSchedule);
  EXPECT_EQ(reapply.count(), 1);
}

TEST_F(AutoDefragPageTest, StatusLineFollowsTheEnableSetting) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Start();
  Page->ShowStatusLine(false);
  EXPECT_EQ(Page->autoimglabel->text(), QStringLiteral("Auto Defrag is disable"));
  EXPECT_EQ(Page->autoimg->pixmap().toImage(), Page->imgattention->pixmap().toImage());
  Page->ShowStatusLine(true);
  EXPECT_EQ(Page->autoimglabel->text(), QStringLiteral("Auto Defrag is active"));
  EXPECT_EQ(Page->autoimg->pixmap().toImage(), Page->imgok->pixmap().toImage());
}

TEST_F(AutoDefragPageTest, WithoutASystemVolumeNoRunStarts) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
  Start();
  Form->CpuTimer->stop();
  EXPECT_EQ(Form->SystemVolumeRow(), -1);
  EXPECT_FALSE(Page->Label_NoSystemVolume->isHidden());
  EXPECT_EQ(Page->Label_NoSystemVolume->text(), QStringLiteral("No Windows system volume found"));

  Form->CpuPercent = 0;
  Form->DiskPercent = 0;
  Form->AutoDefrag.IdleTicks = AutoDefragScheduler::StartThreshold(Form->Settings->AutoIdleTime);
  Form->RunStatusTick();
  EXPECT_EQ(Form->AutoDefrag.AutoDefragRunning, 0);
  EXPECT_EQ(Form->AutoDefrag.IdleTicks, 0);
  for (int row = 0; row < 2; ++row) EXPECT_EQ(Form->Volumes().Job(row).State(), dsIdle);
}

TEST_F(AutoDefragPageTest, CalmTicksDefragmentTheSystemVolumeAutomatically) {
  Rig.EditSettings([](TSetting& settings) { settings.EnableTrayPrompt = true; });
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  std::shared_ptr<MemoryVolume> system = MakeSystemVolume("D:");
  Rig.Catalog.Add("D:\\", system);
  Start();
  Form->CpuTimer->stop();
  ASSERT_EQ(Form->SystemVolumeRow(), 1);
  EXPECT_TRUE(Page->Label_NoSystemVolume->isHidden());

  Form->CpuPercent = 0;
  Form->DiskPercent = 0;
  Form->AutoDefrag.IdleTicks = AutoDefragScheduler::StartThreshold(Form->Settings->AutoIdleTime);
  Form->RunStatusTick();
  TDefragThread& job = Form->Volumes().Job(1);
  EXPECT_EQ(Form->AutoDefrag.AutoDefragRunning, -1);
  EXPECT_EQ(job.Command(), jcAutoDefrag);
  EXPECT_EQ(job.Mode(), dmFast);
  EXPECT_EQ(Form->Volumes().Job(0).Command(), jcAnalyze); // never given one
  EXPECT_EQ(Form->Tray->BalloonCount(), 1);
  // The key shared with the status text; the shipped English file gives
  // both the same wording.
  EXPECT_EQ(Form->Tray->LastBalloonText().toStdString(),
            Form->Language().Lookup(messages::kAutoDefragBalloon));

  // The status timer follows the run to its end and lets it go.
  ASSERT_TRUE(PumpUntil([&] { return Form->AutoDefrag.AutoDefragRunning == 0; }));
  EXPECT_EQ(job.State(), dsDefragged);
  EXPECT_EQ(Form->Settings->LastAutoDefrag, ShortSleepClock::kNow);
  EXPECT_EQ(Form->Settings->LastDefragTime[size_t(TSetting::DriveIndex('D'))], ShortSleepClock::kNow);
  EXPECT_GT(Form->AutoDefragFileCount, 0);
  EXPECT_TRUE(AllFilesContiguous(*system));

  // Defragmented just now: the next idle time starts nothing.
  Form->AutoDefrag.IdleTicks = AutoDefragScheduler::StartThreshold(Form->Settings->AutoIdleTime);
  Form->RunStatusTick();
  EXPECT_EQ(Form->AutoDefrag.AutoDefragRunning, 0);
  EXPECT_EQ(Form->Tray->BalloonCount(), 1);
}

TEST_F(AutoDefragPageTest, BusyTicksPauseTheAutomaticRunAndCalmOnesResumeIt) {
  Rig.Catalog.Add("C:\\", MakeSystemVolume("C:"));
  Start();
  Form->CpuTimer->stop();
  Form->Timer_GetDefragRuntimeData->stop();
  ASSERT_EQ(Form->SystemVolumeRow(), 0);
  TDefragThread& job = Form->Volumes().Job(0);
  // Paused as soon as the job thread takes the command.
  Form->CpuPercent = 0;
  Form->DiskPercent = 0;
  Form->AutoDefrag.IdleTicks = AutoDefragScheduler::StartThreshold(Form->Settings->AutoIdleTime);
  Form->RunStatusTick();
  ASSERT_EQ(Form->AutoDefrag.AutoDefragRunning, -1);
  Form->CpuPercent = 41;
  ASSERT_TRUE(PumpUntil([&] {
    Form->RunStatusTick();
    return IsPaused(job.State());
  }));
  Form->CpuPercent = 40;
  Form->RunStatusTick();
  EXPECT_TRUE(IsRunning(job.State()) || IsAtRest(job.State()));
  ASSERT_TRUE(PumpUntil([&] {
    Form->RunStatusTick();
    return Form->AutoDefrag.AutoDefragRunning == 0;
  }));
  EXPECT_EQ(job.State(), dsDefragged);
}

// An empty FAT32 image with the directories given made at its root by
// mtools.
std::string ImageWithDirectories(FixtureWorld& world, const std::string& name,
                                 const QStringList& directories) {
  std::filesystem::path image = world.BlankImage(name);
  for (const QString& directory : directories)
    RunTool(QStringLiteral("mmd"), {"-i", QString::fromStdString(image.string()), "::/" + directory});
  return image.string();
}

// An empty NTFS image of 16 MiB with a "WINDOWS" directory at its root, as
// older Windows names it.
std::string NtfsImageWithWindows(FixtureWorld& world) {
  std::filesystem::path image = world.Dir.Path() / "ntfs.img";
  std::ofstream(image).flush();
  std::filesystem::resize_file(image, 16ull << 20);
  QString path = QString::fromStdString(image.string());
  RunTool(QStringLiteral("mkntfs"), {"-F", "-Q", "-q", "-c", "4096", "-p", "0", "-H", "0", "-S",
                                     "0", path});
  RunTool(QStringLiteral(QUILLO_NTFS_FIXTURE_TOOL), {path, "mkdir", "/WINDOWS"});
  return image.string();
}

QByteArray Digest(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

TEST(SystemVolumeOnImagesTest, WindowsDirectoryOrTheDriveTableNamesTheSystemVolume) {
  FixtureWorld world;
  std::string plain = ImageWithDirectories(world, "plain.img", {"Users"});
  std::string windows = ImageWithDirectories(world, "windows.img", {"Windows", "Program Files"});
  std::string lowerCase = ImageWithDirectories(world, "lower.img", {"windows"});
  std::string file = ImageWithDirectories(world, "file.img", {});
  RunTool(QStringLiteral("mcopy"), {"-i", QString::fromStdString(file),
                                    QString::fromStdString((SourceDir() / "LICENSE").string()),
                                    "::/WINDOWS"});
  QByteArray before = Digest(windows);
  world.WriteDrives("C=" + plain + "\nD=" + file + "\nE=" + windows + "\nF=" + lowerCase + "\n");

  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  {
    TMainForm form(services);
    ASSERT_EQ(form.Volumes().Count(), 4);
    // A file named WINDOWS is no directory; the first volume holding one is.
    EXPECT_EQ(form.SystemVolumeRow(), 2);
    form.RunStatusTick();
    EXPECT_TRUE(form.autodefrag->Label_NoSystemVolume->isHidden());

    struct Case {
      const char* SystemLine;
      int Row;
    };
    for (const Case& c : {Case{"system=c\n", 0}, Case{"System=F:\n", 3}, Case{"system=G\n", -1},
                          Case{"system=CD\n", 2}, Case{"", 2}}) {
      SCOPED_TRACE(c.SystemLine);
      world.WriteDrives(std::string(c.SystemLine) + "C=" + plain + "\nD=" + file + "\nE=" +
                        windows + "\nF=" + lowerCase + "\n");
      form.RefreshVolumes();
      ASSERT_EQ(form.Volumes().Count(), 4);
      EXPECT_EQ(form.SystemVolumeRow(), c.Row);
      form.RunStatusTick();
      EXPECT_EQ(form.autodefrag->Label_NoSystemVolume->isHidden(), c.Row >= 0);
    }
    // An unusable value is reported with the table's other problems.
    world.WriteDrives("system=CD\nC=" + plain + "\n");
    catalog.Rescan();
    ASSERT_EQ(catalog.Warnings().size(), 1u);
    EXPECT_NE(catalog.Warnings()[0].find("system=\"CD\" is not a drive letter"), std::string::npos);
  }
  // Looking was reading only.
  EXPECT_EQ(Digest(windows), before);
}

TEST(SystemVolumeOnImagesTest, UpperCaseWindowsDirectoryOnNtfs) {
  FixtureWorld world;
  std::string plain = ImageWithDirectories(world, "plain.img", {"Users"});
  std::string ntfs = NtfsImageWithWindows(world);
  QByteArray before = Digest(ntfs);
  world.WriteDrives("C=" + plain + "\nD=" + ntfs + "\n");
  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  {
    TMainForm form(services);
    ASSERT_EQ(form.Volumes().Count(), 2);
    EXPECT_EQ(RowTexts(form.manualdefrag->manulist, 1)[2], "NTFS");
    EXPECT_EQ(form.SystemVolumeRow(), 1);
  }
  EXPECT_EQ(Digest(ntfs), before);
}

} // namespace
} // namespace quillo::test
