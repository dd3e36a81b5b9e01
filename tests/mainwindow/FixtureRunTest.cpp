// SPDX-License-Identifier: GPL-2.0-or-later
// The window on real FAT32 images in a drive table of their own: a whole
// "Defrag & Optimize" run ending in the real report window, volumes
// coming and going with drives.ini, and the volumes that cannot be used
// listed with their reason.
#include <gtest/gtest.h>

#include <algorithm>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "FixtureWorld.h"
#include "LoopDevice.h"
#include "WindowTestSupport.h"
#include "mainwindow/DeviceWatch.h"
#include "mainwindow/DriveTableCatalog.h"
#include "mainwindow/ProgramWindows.h"
#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportTab.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

// The world's drive table with one image as drive D:.
const DriveEnvironment& WithDriveD(FixtureWorld& world, const fs::path& image) {
  world.WriteDrives("D=" + image.string() + "\n");
  return world.Environment;
}

// The main window on one image, drive D: of a drive table of its own.
struct ImageWindow {
  ImageWindow(FixtureWorld& world, const fs::path& image) : Catalog(WithDriveD(world, image)) {
    FormServices services = Rig.Services();
    services.Catalog = &Catalog;
    Form = std::make_unique<TMainForm>(services);
  }

  FormRig Rig;
  DriveTableCatalog Catalog;
  std::unique_ptr<TMainForm> Form;
};

// The program's windows, the real report window among them, on the drive
// table of a world.
struct WindowsOnTable {
  explicit WindowsOnTable(FixtureWorld& world) : Catalog(world.Environment) {
    FormServices services = Rig.Services();
    services.Catalog = &Catalog;
    services.Reports = nullptr;
    Windows = std::make_unique<ProgramWindows>(services);
  }
  FormRig Rig;
  DriveTableCatalog Catalog;
  std::unique_ptr<ProgramWindows> Windows;
};

TEST(FixtureRunTest, DefragAndOptimizeOnAFat32ImageEndsInTheReportWindow) {
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "fat32.img";
  fs::path manifest = world.Dir.Path() / "fat32.manifest";
  ASSERT_TRUE(MakeSmallFixture(image, manifest));
  world.WriteDrives("C=" + image.string() + "\n");

  WindowsOnTable on(world);
  FormRig& rig = on.Rig;
  std::unique_ptr<ProgramWindows>& windows = on.Windows;
  TMainForm& form = windows->MainForm();
  ASSERT_TRUE(form.StartedWithVolumes());
  EXPECT_EQ(RowTexts(form.manualdefrag->manulist, 0)[2], "FAT32");
  form.show();

  // When the report window comes up by itself, note what it shows and
  // close it as a user would.
  std::vector<int> rows;
  std::vector<std::string> results;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    TReportForm& report = windows->ReportForm();
    if (!report.isVisible() || !rows.empty()) return;
    for (TReportTab* tab : report.Tabs()) {
      QTreeWidget* list = tab->Content->ReportList;
      rows.push_back(list->topLevelItemCount());
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        results.push_back(list->topLevelItem(i)->text(4).toStdString());
    }
    QTest::mouseClick(report.CloseBtn, Qt::LeftButton);
  });
  watcher.start(20);

  form.manualdefrag->ComboBox_FastOrOptDefrag->setCurrentIndex(ManualPage::kMethodOptimize);
  QTest::mouseClick(form.manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !rows.empty() && !windows->ReportForm().isVisible(); }));

  TDefragThread& job = form.Volumes().Job(0);
  EXPECT_EQ(int(job.State()), int(dsDefragged));
  ASSERT_EQ(rows, std::vector<int>{int(job.Engine().Report->EntryCount())});
  EXPECT_GT(rows.front(), 0);
  for (const std::string& result : results) EXPECT_TRUE(result == "Defragged" || result == "NoSpace") << result;

  std::unique_ptr<TSetting> stored = rig.StoredSettings();
  int c = TSetting::DriveIndex('C');
  EXPECT_DOUBLE_EQ(stored->LastDefragTime[size_t(c)], ShortSleepClock::kNow);
  EXPECT_DOUBLE_EQ(stored->LastOptimizeTime[size_t(c)], ShortSleepClock::kNow);

  // Checked by fsck.fat and mcopy once the window has let the image go.
  windows.reset();
  ExpectSoundFixture(image, manifest);
}

// The NTFS fixture image is made once per build by the NTFS tests' target.
TEST(FixtureRunTest, NtfsImageAnalysedAndDefraggedThroughTheWindow) {
  const fs::path fixture = QUILLO_NTFS_FIXTURE_DIR;
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "ntfs.img";
  fs::copy_file(fixture / "volume.img", image);
  ImageWindow window(world, image);
  FormRig& rig = window.Rig;
  std::unique_ptr<TMainForm>& form = window.Form;
  ASSERT_TRUE(form->StartedWithVolumes());
  EXPECT_EQ(RowTexts(form->manualdefrag->manulist, 0)[2], "NTFS");
  form->show();
  TDefragThread& job = form->Volumes().Job(0);

  QTest::mouseClick(form->manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return rig.Reports.Openings == 1; }));
  EXPECT_EQ(rig.Reports.States.front(), std::vector<uint8_t>{dsAnalyzed});
  EXPECT_FALSE(rig.Reports.Entries.front().front().empty());

  QTest::mouseClick(form->manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return rig.Reports.Openings == 2; }));
  EXPECT_EQ(int(job.State()), int(dsDefragged));
  EXPECT_NE(rig.StoredSettings()->LastDefragTime[size_t(TSetting::DriveIndex('D'))], 0);
  form.reset();

  // ntfsfix finds nothing to mend, and every file reads back as written.
  EXPECT_TRUE(RunTool(QStringLiteral("ntfsfix"),
                      {"--no-action", QString::fromStdString(image.string())}));
  std::ifstream manifest(fixture / "manifest.txt");
  std::string line;
  int files = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string digest, crc, size, kind;
    fields >> digest >> crc >> size >> kind;
    std::string path;
    std::getline(fields >> std::ws, path);
    std::optional<std::string> content =
        RunTool(QStringLiteral("ntfscat"), {QString::fromStdString(image.string()),
                                            QString::fromStdString(path)});
    ASSERT_TRUE(content) << path;
    QByteArray bytes = QByteArray::fromStdString(*content);
    EXPECT_EQ(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString(),
              digest)
        << path;
    ++files;
  }
  EXPECT_GT(files, 0);
}

// Named data streams are listed in the report window as "C:\file:stream".
TEST(FixtureRunTest, NamedStreamsAreListedInTheReportWindow) {
  const fs::path fixture = QUILLO_NTFS_FIXTURE_DIR;
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "streams.img";
  fs::copy_file(fixture / "streams.img", image);
  world.WriteDrives("C=" + image.string() + "\n");

  WindowsOnTable on(world);
  std::unique_ptr<ProgramWindows>& windows = on.Windows;
  TMainForm& form = windows->MainForm();
  ASSERT_TRUE(form.StartedWithVolumes());
  form.show();

  std::vector<std::string> cells;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    TReportForm& report = windows->ReportForm();
    if (!report.isVisible() || !cells.empty()) return;
    for (TReportTab* tab : report.Tabs()) {
      QTreeWidget* list = tab->Content->ReportList;
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        for (int column = 0; column < list->columnCount(); ++column)
          cells.push_back(list->topLevelItem(i)->text(column).toStdString());
    }
    QTest::mouseClick(report.CloseBtn, Qt::LeftButton);
  });
  watcher.start(20);
  QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !cells.empty() && !windows->ReportForm().isVisible(); }));
  for (const char* name : {"C:\\streamed.bin:payload", "C:\\streamed.bin"})
    EXPECT_NE(std::find(cells.begin(), cells.end(), name), cells.end()) << name;
}

// A volume whose writes the device refuses: the pass runs to its end, but
// the row says "Refused" with the reason as its tooltip, no time of
// defragmentation is stored, and the image is untouched.
TEST(FixtureRunTest, ARefusedPassIsShownAsRefusedAndStoresNoTime) {
  const fs::path fixture = QUILLO_NTFS_FIXTURE_DIR;
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "ntfs.img";
  fs::copy_file(fixture / "volume.img", image);
  // Clusters of a file marked free in $Bitmap: moves could overwrite it.
  QProcess damage;
  damage.start(QStringLiteral(QUILLO_NTFS_FIXTURE_TOOL),
               {QString::fromStdString(image.string()), "bitmap-clear", "/fragmented-b.bin"});
  ASSERT_TRUE(damage.waitForFinished(60000));
  ASSERT_EQ(damage.exitCode(), 0);
  auto digest = [&] {
    QFile file(QString::fromStdString(image.string()));
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
  };
  QByteArray before = digest();
  ImageWindow window(world, image);
  FormRig& rig = window.Rig;
  std::unique_ptr<TMainForm>& form = window.Form;
  ASSERT_TRUE(form->StartedWithVolumes());
  form->show();
  TDefragThread& job = form->Volumes().Job(0);
  QTest::mouseClick(form->manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return rig.Reports.Openings == 1; }));
  EXPECT_EQ(int(job.State()), int(dsDefragged));
  QTreeWidgetItem* row = form->manualdefrag->manulist->topLevelItem(0);
  ASSERT_TRUE(PumpUntil([&] { return row->text(1) == QStringLiteral("Refused"); }))
      << row->text(1).toStdString();
  EXPECT_TRUE(row->toolTip(1).contains(QStringLiteral("Writes are refused"))) << row->toolTip(1).toStdString();
  EXPECT_EQ(rig.StoredSettings()->LastDefragTime[size_t(TSetting::DriveIndex('D'))], 0);
  EXPECT_EQ(rig.StoredSettings()->LastOptimizeTime[size_t(TSetting::DriveIndex('D'))], 0);
  form.reset();
  EXPECT_EQ(digest(), before);
}

TEST(FixtureRunTest, UnusableVolumesStayListedDisabledWithTheirReason) {
  FixtureWorld world;
  fs::path usable = world.BlankImage("usable.img");
  fs::path busy = world.BlankImage("busy.img");
  fs::path ext4 = world.Dir.Path() / "ext4.img";
  std::ofstream(ext4).flush();
  fs::resize_file(ext4, 8ull << 20);
  ASSERT_TRUE(RunTool(QStringLiteral("mkfs.ext4"), {"-q", "-F", QString::fromStdString(ext4.string())}));
  fs::path fat16 = world.Dir.Path() / "fat16.img";
  ASSERT_TRUE(RunTool(QStringLiteral("mkfs.fat"),
                      {"-F", "16", "-C", QString::fromStdString(fat16.string()), "16384"}));
  fs::path missing = world.Dir.Path() / "missing.img";
  world.WriteDrives("C=" + usable.string() + "\nD=" + missing.string() + "\nE=" + ext4.string() +
                    "\nF=" + fat16.string() + "\nG=" + busy.string() + "\n");
  // Another program works on G: when the window starts.
  int holder = open(busy.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  TMainForm form(services);
  QTreeWidget* manual = form.manualdefrag->manulist;
  ASSERT_EQ(form.Volumes().Count(), 1);
  ASSERT_EQ(manual->topLevelItemCount(), 5);
  EXPECT_EQ(form.schedule->ScheduleList->topLevelItemCount(), 1);

  struct Expected {
    const char* Root;
    const char* Status;
    fs::path Location;
  };
  const Expected expected[] = {
      {"D:\\", "image missing", missing},
      {"E:\\", "not FAT32 or NTFS (ext4)", ext4},
      {"F:\\", "not FAT32 or NTFS (FAT16)", fat16},
      {"G:\\", "in use by another program", busy},
  };
  for (int i = 0; i < 4; ++i) {
    const Expected& want = expected[i];
    SCOPED_TRACE(want.Root);
    QTreeWidgetItem* item = manual->topLevelItem(i + 1);
    EXPECT_EQ(RowTexts(manual, i + 1)[0], want.Root);
    EXPECT_EQ(RowTexts(manual, i + 1)[1], want.Status);
    EXPECT_FALSE(item->flags() & Qt::ItemIsEnabled);
    EXPECT_FALSE(item->flags() & Qt::ItemIsUserCheckable);
    // The tooltip names the image first, then the whole reason.
    QStringList tip = item->toolTip(0).split(QLatin1Char('\n'));
    ASSERT_GE(tip.size(), 2) << item->toolTip(0).toStdString();
    EXPECT_EQ(tip.front().toStdString(), want.Location.string());
    EXPECT_EQ(item->toolTip(1), item->toolTip(0));
  }
  // The usable volume's tooltip tells its image and label.
  QTreeWidgetItem* first = manual->topLevelItem(0);
  EXPECT_TRUE(first->toolTip(0).startsWith(QString::fromStdString(usable.string())))
      << first->toolTip(0).toStdString();

  // Let go, the busy volume is looked at again at a later tick and gets
  // rows and a job before the unusable ones.
  close(holder);
  for (int tick = 0; tick < 20 && form.Volumes().Count() < 2; ++tick) form.RunStatusTick();
  ASSERT_EQ(form.Volumes().Count(), 2);
  EXPECT_EQ(RowTexts(manual, 1)[0], "G:\\");
  EXPECT_TRUE(manual->topLevelItem(1)->flags() & Qt::ItemIsEnabled);
  EXPECT_EQ(manual->topLevelItemCount(), 5);
  EXPECT_EQ(RowTexts(manual, 4)[0], "F:\\");
  EXPECT_EQ(form.schedule->ScheduleList->topLevelItemCount(), 2);
  // A job's volume is not held while it is idle.
  EXPECT_TRUE(form.Volumes().Job(1).Engine().ReleaseWhileIdle);
  ASSERT_TRUE(form.Volumes().Job(1).WaitUntilParked(std::chrono::seconds(30)));
  int other = open(busy.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  close(other);

  // Gone from the table, unusable volumes leave the list too.
  world.WriteDrives("C=" + usable.string() + "\nG=" + busy.string() + "\n");
  form.RefreshVolumes();
  EXPECT_EQ(manual->topLevelItemCount(), 2);
}

TEST(FixtureRunTest, ImagesAndPartitionsAreAddedAndRemovedThroughTheListsMenu) {
  FixtureWorld world;
  fs::path first = world.BlankImage("first.img");
  fs::path second = world.BlankImage("second.img");
  // A disk image whose partition 1 holds the FAT32 volume.
  fs::path disk = world.Dir.Path() / "disk.img";
  std::ofstream(disk).flush();
  fs::resize_file(disk, 48ull << 20);
  ASSERT_TRUE(RunTool(QStringLiteral("sh"),
                      {"-c", "printf 'label: dos\\nstart=2048, type=c\\n' | sfdisk --quiet "
                             "--no-reread --no-tell-kernel \"$0\"",
                       QString::fromStdString(disk.string())}));
  ASSERT_TRUE(RunTool(QStringLiteral("mkfs.fat"), {"-F", "32", "-s", "1", "--offset", "2048",
                                                   QString::fromStdString(disk.string()), "40000"}));
  fs::path missing = world.Dir.Path() / "missing.img";
  world.WriteDrives("C=" + first.string() + "\nD=" + missing.string() + "\n");

  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  std::string chosen;
  services.ChooseImage = [&] { return chosen; };
  TMainForm form(services);
  QTreeWidget* manual = form.manualdefrag->manulist;
  ASSERT_EQ(form.Volumes().Count(), 1);
  auto drives = [&] {
    std::ifstream in(world.Environment.ConfigurationFolder / "drives.ini");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };

  // An image and a partition of a disk image get the next free letters.
  for (const std::string& location : {second.string(), disk.string() + "#1"}) {
    chosen = location;
    form.VolumeActions->AddImage();
  }
  ASSERT_EQ(form.Volumes().Count(), 3);
  EXPECT_EQ(RowTexts(manual, 1)[0], "E:\\");
  EXPECT_EQ(RowTexts(manual, 2)[0], "F:\\");
  EXPECT_EQ(RowTexts(manual, 2)[2], "FAT32");
  EXPECT_NE(drives().find("E=" + second.string() + "\n"), std::string::npos) << drives();
  EXPECT_NE(drives().find("F=" + disk.string() + "#1"), std::string::npos) << drives();
  EXPECT_TRUE(rig.Messages.Messages().empty());

  // The same image again, or one that is not there, is refused with why.
  for (const std::string& location : {second.string(), (world.Dir.Path() / "none.img").string()}) {
    chosen = location;
    form.VolumeActions->AddImage();
  }
  ASSERT_EQ(rig.Messages.Messages().size(), 2u);
  EXPECT_NE(rig.Messages.Messages()[0].Text.find("listed already, as E:"), std::string::npos);
  EXPECT_EQ(form.Volumes().Count(), 3);

  // Remove takes a usable volume and the missing image off, rows and all.
  form.VolumeActions->Remove("E:\\");
  form.VolumeActions->Remove("D:\\");
  EXPECT_EQ(form.Volumes().Count(), 2);
  EXPECT_EQ(manual->topLevelItemCount(), 2);
  EXPECT_EQ(drives().find("E="), std::string::npos) << drives();
  EXPECT_EQ(drives().find("D="), std::string::npos) << drives();
  EXPECT_EQ(RowTexts(manual, 1)[0], "F:\\");
}

TEST(FixtureRunTest, GoAsksOnceBeforeTheFirstWriteToABlockDevice) {
  FixtureWorld world;
  fs::path deviceImage = world.BlankImage("device.img");
  fs::path image = world.BlankImage("image.img");
  LoopDevice loop(deviceImage);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device (needs root)";
  world.WriteDrives("C=" + loop.DevicePath() + "\nD=" + image.string() + "\n");

  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  std::vector<std::string> questions;
  WriteAnswer answer;
  services.ConfirmWrite = [&](const std::string& question) {
    questions.push_back(question);
    return answer;
  };
  TMainForm form(services);
  ASSERT_EQ(form.Volumes().Count(), 2);
  form.show();
  for (int row : {0, 1}) form.Volumes().Item(row)->setCheckState(0, Qt::Checked);
  PumpPending();
  TDefragThread& device = form.Volumes().Job(0);
  TDefragThread& file = form.Volumes().Job(1);
  auto passDone = [&](TDefragThread& job, int reports) {
    return PumpUntil([&] { return rig.Reports.Openings == reports && job.State() == dsDefragged; });
  };

  // No: the device is left alone, the image is worked on without a word.
  answer = {false, false};
  QTest::mouseClick(form.manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("C: is the disk partition " + loop.DevicePath()), std::string::npos)
      << questions[0];
  EXPECT_NE(questions[0].find("offline"), std::string::npos);
  EXPECT_NE(questions[0].find("journals"), std::string::npos);
  ASSERT_TRUE(passDone(file, 1));
  EXPECT_EQ(int(device.State()), int(dsIdle));

  // Yes, and not again: asked once more, then never.
  answer = {true, true};
  form.Volumes().Item(1)->setCheckState(0, Qt::Unchecked);
  PumpPending();
  QTest::mouseClick(form.manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_EQ(questions.size(), 2u);
  ASSERT_TRUE(passDone(device, 2));
  std::ifstream drives(world.Environment.ConfigurationFolder / "drives.ini");
  std::stringstream text;
  text << drives.rdbuf();
  EXPECT_NE(text.str().find("[confirmed]"), std::string::npos) << text.str();
  QTest::mouseClick(form.manualdefrag->ManuDefragBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return rig.Reports.Openings == 3; }));
  EXPECT_EQ(questions.size(), 2u);
}

TEST(FixtureRunTest, VolumesComeAndGoWithTheDriveTable) {
  FixtureWorld world;
  fs::path first = world.BlankImage("first.img");
  fs::path second = world.BlankImage("second.img");
  world.WriteDrives("C=" + first.string() + "\n");

  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  TMainForm form(services);
  DeviceWatch watch(catalog.WatchedFile());
  QObject::connect(&watch, &DeviceWatch::VolumesChanged, &form, &TMainForm::RefreshVolumes);
  QTreeWidget* manual = form.manualdefrag->manulist;
  QTreeWidget* schedule = form.schedule->ScheduleList;
  ASSERT_EQ(manual->topLevelItemCount(), 1);
  // Every job lets its volume go while idle, so that the desktop may mount
  // it while the window runs.
  EXPECT_TRUE(form.Volumes().Job(0).Engine().ReleaseWhileIdle);

  // A volume added later gets rows at the end of both lists, and its
  // engine too lets the volume go while idle.
  world.WriteDrives("C=" + first.string() + "\nE=" + second.string() + "\n");
  ASSERT_TRUE(PumpUntil([&] { return manual->topLevelItemCount() == 2; }));
  EXPECT_EQ(RowTexts(manual, 1)[0], "E:\\");
  EXPECT_EQ(RowTexts(schedule, 1)[0], "E:\\");
  EXPECT_TRUE(form.Volumes().Job(1).Engine().ReleaseWhileIdle);
  EXPECT_EQ(form.Volumes().Map(1).Image()->parentWidget(), form.manualdefrag);

  // Make E: current, then take C: away: E: stays current as row 0.
  manual->topLevelItem(1)->setCheckState(0, Qt::Checked);
  PumpPending();
  ASSERT_EQ(form.CurrentVolumeIndex, 1);
  world.WriteDrives("E=" + second.string() + "\n");
  ASSERT_TRUE(PumpUntil([&] { return manual->topLevelItemCount() == 1; }));
  EXPECT_EQ(RowTexts(manual, 0)[0], "E:\\");
  EXPECT_EQ(schedule->topLevelItemCount(), 1);
  EXPECT_EQ(form.CurrentVolumeIndex, 0);

  // The current volume itself goes: the first row becomes current.
  world.WriteDrives("C=" + first.string() + "\n");
  ASSERT_TRUE(PumpUntil([&] {
    return manual->topLevelItemCount() == 1 && RowTexts(manual, 0)[0] == "C:\\";
  }));
  EXPECT_EQ(form.CurrentVolumeIndex, 0);
  form.RunStatusTick();
  EXPECT_FALSE(form.Volumes().Map(0).Image()->isHidden());
}

TEST(FixtureRunTest, NoUsableVolumeExplainsWhy) {
  FixtureWorld world;
  fs::path blank = world.Dir.Path() / "zero.img";
  std::ofstream(blank) << std::string(1 << 20, '\0');
  world.WriteDrives("C=" + blank.string() + "\nD=" + (world.Dir.Path() / "absent.img").string() + "\n");
  FormRig rig;
  DriveTableCatalog catalog(world.Environment);
  FormServices services = rig.Services();
  services.Catalog = &catalog;
  TMainForm form(services);
  EXPECT_FALSE(form.StartedWithVolumes());
  EXPECT_FALSE(form.Timer_GetDefragRuntimeData->isActive());
  EXPECT_FALSE(form.CpuTimer->isActive());
  ASSERT_EQ(rig.Messages.Messages().size(), 1u);
  const std::string text = rig.Messages.Messages().front().Text;
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "Open volume error!You can try to run the application by administrator account");
  // The second line names each refused volume with its reason.
  std::string reasons = text.substr(text.find('\n') + 1);
  EXPECT_NE(reasons.find("C:\\ "), std::string::npos) << reasons;
  EXPECT_NE(reasons.find("D:\\ "), std::string::npos) << reasons;
}

} // namespace
} // namespace quillo::test
