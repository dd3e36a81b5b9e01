// SPDX-License-Identifier: GPL-2.0-or-later
// The window with the desktop's disk service: a stand-in UDisks2 on a
// private system bus serving loop devices over images of the test's own.
// Devices plugged in and out show up in and leave the list, with their
// labels and drive models in the tooltips. A mounted NTFS volume (mounted
// with ntfs-3g by the stand-in, as the desktop's automounter would) is
// listed as "Mounted" with its mount point; Analyze asks once whether to
// unmount it; no leaves it mounted and untouched, yes unmounts it through
// the service, analyses it and mounts it again, and with a file open on it
// the service's refusal is shown. A run nobody attends (idle-time
// automatic defragmentation, the schedule) skips a volume that the service
// opens only after a prompt, with a notice in the row and in the report,
// while the user's own run still gets through. Such a volume is listed at
// start without any prompt, from what the service tells of it, and opened
// by the user's first command. Partitions of other file systems are listed,
// disabled, with what they hold. Needs root (losetup, ntfs-3g), else skipped.
#include <gtest/gtest.h>

#include <QTest>

#include <unistd.h>

#include <fstream>

#include <QLocale>

#include "DeviceOutOfReach.h"
#include "DiskServiceStandIn.h"
#include "FixtureWorld.h"
#include "ForeignFileSystem.h"
#include "LoopDevice.h"
#include "WindowTestSupport.h"
#include "mainwindow/DeviceWatch.h"
#include "engine/FatDefrag.h"
#include "mainwindow/DriveTableCatalog.h"
#include "mainwindow/StatusTexts.h"
#include "reportwindow/ReportContent.h"
#include "settings/MessageText.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uintmax_t kImageBytes = 16 * 1024 * 1024;
constexpr const char* kLabel = "STICK";
constexpr int kStatusColumn = 1;
constexpr int kFileSystemColumn = 2;
constexpr int kCapacityColumn = 3;

// A FAT32 volume of a loop device as the service describes it.
json FatDevice(const LoopDevice& loop, const std::string& uuid, const std::string& label,
               const std::string& model) {
  json device = ServedLoopVolume(loop.DevicePath(), "vfat", "FAT32", 40u << 20);
  device["uuid"] = uuid;
  device["label"] = label;
  device["drive"] = {{"model", model}};
  return device;
}

// The window over a drive table of the world's environment; the rig
// provides its other services.
struct CatalogWindow {
  explicit CatalogWindow(const DriveEnvironment& environment) : Catalog(environment) {}
  // Starts the window; `adjust` changes its services first.
  TMainForm& Open(const std::function<void(FormServices&)>& adjust = {}) {
    FormServices services = Rig.Services();
    services.Catalog = &Catalog;
    if (adjust) adjust(services);
    Form = std::make_unique<TMainForm>(services);
    return *Form;
  }

  FormRig Rig;
  DriveTableCatalog Catalog;
  std::unique_ptr<TMainForm> Form; // goes first
};

// The row whose tooltip names the device, or -1.
int RowOf(TMainForm& form, const std::string& device) {
  for (int row = 0; row < form.Volumes().Count(); ++row)
    if (form.Volumes().Item(row)->toolTip(0).toStdString().find(device) != std::string::npos)
      return row;
  return -1;
}

TEST(DiskServiceWindowTest, PluggedDevicesComeAndGoWithTheirLabelsAndDrives) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  FixtureWorld world;
  fs::path firstImage = world.BlankImage("first.img");
  fs::path secondImage = world.BlankImage("second.img");
  LoopDevice first(firstImage);
  LoopDevice second(secondImage);
  if (!first.Attached() || !second.Attached()) GTEST_SKIP() << "no loop device";
  json firstDevice = FatDevice(first, "1111-AAAA", "FIRST", "Quillo Disk One");
  json secondDevice = FatDevice(second, "2222-BBBB", "SECOND", "Quillo Disk Two");
  PrivateDiskService service(world.Dir.Path(), json::array({firstDevice}));
  ASSERT_TRUE(service.IsReady()) << service.Trouble();

  world.Environment.Discover = true;
  world.Environment.AskDiskService = true;
  CatalogWindow window(world.Environment);
  TMainForm& form = window.Open();
  DeviceWatch watch(window.Catalog.WatchedFile(), nullptr, true);
  ASSERT_TRUE(watch.WatchesDiskService());
  QObject::connect(&watch, &DeviceWatch::VolumesChanged, &form, &TMainForm::RefreshVolumes);
  form.show();
  ASSERT_EQ(form.Volumes().Count(), 1);

  struct Expected {
    const LoopDevice& Loop;
    const char* Label;
    const char* Model;
  };
  auto expectIdentity = [&](const Expected& expected) {
    int row = RowOf(form, expected.Loop.DevicePath());
    ASSERT_GE(row, 0) << expected.Loop.DevicePath();
    std::string tip = form.Volumes().Item(row)->toolTip(0).toStdString();
    EXPECT_NE(tip.find(std::string("Label: ") + expected.Label), std::string::npos) << tip;
    EXPECT_NE(tip.find(std::string("Drive: ") + expected.Model), std::string::npos) << tip;
  };
  expectIdentity({first, "FIRST", "Quillo Disk One"});

  // Plugged in: listed with its own label and drive.
  service.Replace(json::array({firstDevice, secondDevice}));
  ASSERT_TRUE(PumpUntil([&] { return form.Volumes().Count() == 2; }));
  expectIdentity({first, "FIRST", "Quillo Disk One"});
  expectIdentity({second, "SECOND", "Quillo Disk Two"});

  // Unplugged: its row goes, the other stays.
  service.Replace(json::array({secondDevice}));
  ASSERT_TRUE(PumpUntil([&] { return form.Volumes().Count() == 1; }));
  EXPECT_EQ(RowOf(form, first.DevicePath()), -1);
  expectIdentity({second, "SECOND", "Quillo Disk Two"});
}

TEST(DiskServiceWindowTest, AnalyzeAsksToUnmountAndMountsAgainAfterwards) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup and ntfs-3g";
  if (!RunTool(QStringLiteral("sh"), {"-c", "command -v ntfs-3g mkntfs ntfscp python3"}))
    GTEST_SKIP() << "no ntfs-3g tools";
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "stick.img";
  std::ofstream(image, std::ios::binary).close();
  fs::resize_file(image, kImageBytes);
  ASSERT_TRUE(RunTool(QStringLiteral("mkntfs"),
                      {"-F", "-Q", "-q", "-L", kLabel, QString::fromStdString(image.string())}));
  fs::path note = world.Dir.Path() / "note.txt";
  std::ofstream(note) << "a file for the analysis to find\n";
  ASSERT_TRUE(RunTool(QStringLiteral("ntfscp"), {"-f", QString::fromStdString(image.string()),
                                                 QString::fromStdString(note.string()),
                                                 QStringLiteral("note.txt")}));
  LoopDevice loop(image);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device";
  MountCleanup cleanup(loop.DevicePath());
  fs::path mountedAt = world.Dir.Path() / "desktop" / kLabel;
  fs::path mountRoot = world.Dir.Path() / "media";
  json device = ServedLoopVolume(loop.DevicePath(), "ntfs", "", kImageBytes);
  device["label"] = kLabel;
  device["mountAt"] = mountedAt.string();
  device["mountRoot"] = mountRoot.string();
  PrivateDiskService service(world.Dir.Path(), json::array({device}));
  ASSERT_TRUE(service.IsReady()) << service.Trouble();
  ASSERT_EQ(MountPointNow(loop.DevicePath()), mountedAt.string());

  // The kernel's own mount table, as on a desktop.
  world.Environment.MountInfo = "/proc/self/mountinfo";
  world.WriteDrives("C=" + loop.DevicePath() + "\n");
  CatalogWindow window(world.Environment);
  std::vector<std::string> questions;
  bool answer = false;
  TMainForm& form = window.Open([&](FormServices& services) {
    services.ConfirmUnmount = [&](const std::string& question) {
      questions.push_back(question);
      return answer;
    };
  });
  ASSERT_EQ(form.Volumes().Count(), 1) << RowTexts(form.manualdefrag->manulist, 0)[1];
  form.show();
  QTreeWidgetItem* row = form.Volumes().Item(0);
  ASSERT_TRUE(PumpUntil([&] { return row->text(kStatusColumn) == "Mounted"; }))
      << row->text(kStatusColumn).toStdString();
  EXPECT_NE(row->toolTip(kStatusColumn).toStdString().find("Mounted at " + mountedAt.string()),
            std::string::npos)
      << row->toolTip(kStatusColumn).toStdString();
  TDefragThread& job = form.Volumes().Job(0);

  // No: asked once, left mounted and untouched.
  QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "C: (" + loop.DevicePath() + ", '" + kLabel + "', " +
                              row->text(kCapacityColumn).toStdString() + ") is mounted at " +
                              mountedAt.string() + ". Unmount it to work on it?");
  PumpPending();
  EXPECT_EQ(int(job.State()), int(dsIdle));
  EXPECT_TRUE(service.Calls("Unmount").empty());
  EXPECT_EQ(MountPointNow(loop.DevicePath()), mountedAt.string());

  // Yes, with a file open on it: the service's reason, and still mounted.
  answer = true;
  {
    std::ofstream open(mountedAt / "open.txt");
    ASSERT_TRUE(open.is_open());
    QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  }
  ASSERT_EQ(questions.size(), 2u);
  std::vector<RecordedMessage> told = window.Rig.Messages.Messages();
  ASSERT_FALSE(told.empty());
  EXPECT_NE(told.back().Text.find("C: cannot be unmounted"), std::string::npos) << told.back().Text;
  EXPECT_NE(told.back().Text.find("target is busy"), std::string::npos) << told.back().Text;
  PumpPending();
  EXPECT_EQ(int(job.State()), int(dsIdle));
  EXPECT_EQ(MountPointNow(loop.DevicePath()), mountedAt.string());
  EXPECT_TRUE(service.Opens().empty());

  // Yes: unmounted, analysed, and mounted again where the service chose.
  QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_EQ(questions.size(), 3u);
  fs::path mountedAgain = mountRoot / kLabel;
  ASSERT_TRUE(PumpUntil([&] {
    return job.State() == dsAnalyzed && MountPointNow(loop.DevicePath()) == mountedAgain.string();
  })) << int(job.State()) << " " << MountPointNow(loop.DevicePath());
  EXPECT_EQ(service.CallNames(), (std::vector<std::string>{"Unmount", "Unmount", "Mount"}));
  EXPECT_TRUE(job.OpenRefusal().empty()) << job.OpenRefusal();
  EXPECT_GT(job.Engine().Report->FileCount, 0) << "the analysis saw the volume's files";
  ASSERT_TRUE(PumpUntil([&] { return row->text(kStatusColumn) == "Mounted"; }));
  EXPECT_EQ(window.Rig.Messages.Messages().size(), told.size())
      << window.Rig.Messages.Messages().back().Text;
}


// Partitions of other file systems stay in the list, after the volumes,
// disabled, with what they hold; nothing opens them.
TEST(DiskServiceWindowTest, OtherFileSystemsAreListedDisabledWithWhatTheyHold) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  FixtureWorld world;
  LoopDevice ours(world.BlankImage("ours.img"));
  if (!ours.Attached()) GTEST_SKIP() << "no loop device";
  const auto& foreign = kForeignFileSystems;
  json devices = json::array({FatDevice(ours, "5555-EEEE", "OURS", "Quillo Disk")});
  std::vector<std::unique_ptr<LoopDevice>> loops;
  for (const ForeignFileSystem& kind : foreign) {
    fs::path image = world.Dir.Path() / (std::string(kind.FileSystem) + ".img");
    ASSERT_TRUE(MakeForeignImage(kind, image, 8u << 20)) << kind.Made;
    loops.push_back(std::make_unique<LoopDevice>(image));
    if (!loops.back()->Attached()) GTEST_SKIP() << "no loop device";
    json device = FatDevice(*loops.back(), std::string("0000-") + kind.FileSystem,
                            std::string("L-") + kind.FileSystem, "Quillo Disk");
    device["idType"] = kind.IdType;
    device["idVersion"] = kind.IdVersion;
    device["size"] = fs::file_size(image);
    devices.push_back(device);
  }
  PrivateDiskService service(world.Dir.Path(), devices);
  ASSERT_TRUE(service.IsReady()) << service.Trouble();

  world.Environment.Discover = true;
  world.Environment.AskDiskService = true;
  CatalogWindow window(world.Environment);
  TMainForm& form = window.Open();
  form.show();
  ASSERT_EQ(form.Volumes().Count(), 1);
  QTreeWidget* list = form.manualdefrag->manulist;
  ASSERT_EQ(list->topLevelItemCount(), 1 + int(std::size(foreign)));
  for (size_t i = 0; i < loops.size(); ++i) {
    SCOPED_TRACE(foreign[i].Refusal);
    QTreeWidgetItem* item = list->topLevelItem(1 + int(i));
    EXPECT_EQ(item->text(kStatusColumn).toStdString(), foreign[i].Refusal);
    EXPECT_EQ(item->text(kFileSystemColumn).toStdString(), foreign[i].FileSystem);
    EXPECT_EQ(item->text(kCapacityColumn).toStdString(),
              CapacityText(8u << 20, QLocale().decimalPoint().toStdString()));
    EXPECT_EQ(item->flags(), Qt::NoItemFlags);
    std::string tip = item->toolTip(kStatusColumn).toStdString();
    for (const std::string& part :
         {loops[i]->DevicePath(), std::string("Label: L-") + foreign[i].FileSystem,
          std::string("holds ") + foreign[i].FileSystem})
      EXPECT_NE(tip.find(part), std::string::npos) << part << " in " << tip;
    for (const json& open : service.Opens())
      EXPECT_NE(open["device"], loops[i]->DevicePath()) << open.dump();
  }
  // Looked at once: an obstacle that does not pass by itself.
  EXPECT_EQ(form.Volumes().WaitingCount(), 0);
}

enum class Unattended { Automatic, Scheduled };

struct UnattendedCase {
  const char* Name;
  Unattended Kind;
};

class UnattendedRunOnDiskService : public ::testing::TestWithParam<UnattendedCase> {};

// The report window's page of the job's volume, as it would open now.
struct ReportPage {
  ReportPage(TDefragThread& job, TLanguage& language) : Page(Order, nullptr) {
    Page.ShowVolume({job.Engine().Report.get(), job.State()}, language, 0, 0);
  }
  std::string Line() const { return Page.Label_Suggestion->text().toStdString(); }
  bool LineShown() const { return Page.Label_Suggestion->isVisibleTo(&Page); }
  ReportSortOrder Order;
  TReportContent Page;
};

TEST_P(UnattendedRunOnDiskService, SkipsAVolumeThatNeedsAPromptWhileAnAttendedRunGetsThrough) {
  const UnattendedCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "system.img";
  fs::path manifest = world.Dir.Path() / "system.manifest";
  ASSERT_TRUE(MakeSmallFixture(image, manifest));
  LoopDevice loop(image);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device";
  json device = FatDevice(loop, "3333-CCCC", "SYSTEM", "Quillo System Disk");
  // Opened only after polkit asked the user.
  device["needsPrompt"] = true;
  PrivateDiskService service(world.Dir.Path(), json::array({device}));
  ASSERT_TRUE(service.IsReady()) << service.Trouble();
  // The window's threads cannot open the device themselves, as a desktop
  // user's cannot.
  DeviceOutOfReach outOfReach(loop.DevicePath());
  ASSERT_TRUE(outOfReach.Active());

  world.Environment.AskDiskService = true;
  world.Environment.Interactive = true;
  world.WriteDrives("C=" + loop.DevicePath() + "\nsystem=C\n");
  CatalogWindow window(world.Environment);
  window.Rig.EditSettings([&](TSetting& settings) {
    settings.EnableQuilloDefrag = c.Kind == Unattended::Automatic;
    settings.scheduledisk = "C";
  });
  if (c.Kind == Unattended::Scheduled) window.Rig.Arguments = {"/Schedule"};
  TMainForm& form = window.Open();
  ASSERT_EQ(form.Volumes().Count(), 1);
  TDefragThread& job = form.Volumes().Job(0);
  QTreeWidgetItem* row = form.Volumes().Item(0);
  if (c.Kind == Unattended::Automatic) {
    form.CpuTimer->stop();
    form.CpuPercent = 0;
    form.DiskPercent = 0;
    ASSERT_EQ(form.SystemVolumeRow(), 0);
    form.AutoDefrag.IdleTicks = AutoDefragScheduler::StartThreshold(form.Settings->AutoIdleTime);
    form.RunStatusTick();
    EXPECT_EQ(job.Command(), jcAutoDefrag);
  }

  // Skipped: asked without leave to prompt, refused, nothing done; the row
  // and the report say so, and no box waits for an answer.
  ASSERT_TRUE(PumpUntil([&] {
    return job.IsParked() && job.SkippedUnattended() && row->text(kStatusColumn) == "Skipped";
  })) << row->text(kStatusColumn).toStdString() << " " << job.OpenRefusal();
  std::vector<json> opens = service.Opens();
  ASSERT_FALSE(opens.empty());
  EXPECT_TRUE(opens.back()["noUserInteraction"].get<bool>()) << opens.back().dump();
  EXPECT_EQ(opens.back()["mode"], "rw");
  EXPECT_EQ(int(job.State()), int(dsIdle));
  EXPECT_NE(row->toolTip(kStatusColumn).toStdString().find("needs the user's authorisation"),
            std::string::npos)
      << row->toolTip(kStatusColumn).toStdString();
  EXPECT_FALSE(job.Engine().Report->Skipped().empty());
  {
    ReportPage report(job, form.Language());
    EXPECT_TRUE(report.LineShown());
    EXPECT_EQ(report.Line(), form.Language().Lookup(messages::kSkippedNeedsAuthorization));
    EXPECT_EQ(report.Line(), "Skipped: access needs authorization");
  }
  EXPECT_TRUE(window.Rig.Messages.Messages().empty());
  EXPECT_EQ(form.Settings->LastDefragTime[size_t(TSetting::DriveIndex('C'))], 0);

  // The user's own analysis may prompt, and gets through.
  QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] {
    return job.State() == dsAnalyzed && row->text(kStatusColumn) != "Skipped";
  })) << int(job.State()) << " " << job.OpenRefusal();
  opens = service.Opens();
  EXPECT_FALSE(opens.back()["noUserInteraction"].get<bool>()) << opens.back().dump();
  EXPECT_EQ(opens.back()["mode"], "r");
  EXPECT_FALSE(job.SkippedUnattended());
  EXPECT_TRUE(job.Engine().Report->Skipped().empty());
  EXPECT_GT(job.Engine().Report->FileCount, 0);
  ReportPage report(job, form.Language());
  EXPECT_NE(report.Line(), "Skipped: access needs authorization");
}

INSTANTIATE_TEST_SUITE_P(Runs, UnattendedRunOnDiskService,
                         ::testing::Values(UnattendedCase{"Automatic", Unattended::Automatic},
                                           UnattendedCase{"Scheduled", Unattended::Scheduled}),
                         [](const auto& info) { return std::string(info.param.Name); });

enum class Listing { Discovered, Configured };

struct AuthorisationCase {
  const char* Name;
  Listing How;
};

class VolumeNeedingAuthorisation : public ::testing::TestWithParam<AuthorisationCase> {};

// The picture an ordinary analysis of `image` draws, on this thread.
MapImage ReferencePicture(const fs::path& folder, const fs::path& image, uint8_t mode) {
  DriveEnvironment environment;
  environment.ConfigurationFolder = folder / "config";
  environment.SysClassBlock = folder / "sys/class/block";
  environment.Discover = false;
  fs::create_directories(environment.ConfigurationFolder);
  fs::create_directories(environment.SysClassBlock);
  std::ofstream(environment.ConfigurationFolder / "drives.ini") << "[drives]\nC=" << image.string()
                                                                << "\n";
  DriveTable table(environment);
  std::string why;
  std::shared_ptr<VolumeDevice> device = table.OpenDevice("C:", why);
  if (!device) {
    ADD_FAILURE() << why;
    return {};
  }
  ShortSleepClock clock;
  InlineDispatcher dispatcher;
  RecordingNotifier notifier;
  TFatDefrag engine("C:", device, EngineServices{clock, dispatcher, notifier});
  engine.State = dsAnalyzing;
  engine.Analyze(mode);
  EXPECT_EQ(int(engine.State.load()), int(dsAnalyzed));
  return engine.Map->GetImage();
}

TEST_P(VolumeNeedingAuthorisation, IsListedWithoutAPromptAndOpenedByTheUsersFirstCommand) {
  const AuthorisationCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  FixtureWorld world;
  fs::path image = world.Dir.Path() / "desktop.img";
  fs::path manifest = world.Dir.Path() / "desktop.manifest";
  ASSERT_TRUE(MakeSmallFixture(image, manifest));
  // What the analysis must draw: that of the same volume read directly.
  fs::path copy = world.Dir.Path() / "reference.img";
  fs::copy_file(image, copy);
  MapImage expected = ReferencePicture(world.Dir.Path() / "reference", copy, dmOptimize);
  ASSERT_GT(expected.Pixels.size(), 0u);
  {
    LoopDevice loop(image);
    if (!loop.Attached()) GTEST_SKIP() << "no loop device";
    json device = FatDevice(loop, "4444-DDDD", "DESKTOP", "Quillo Desktop Disk");
    device["size"] = fs::file_size(image);
    // Opened only after polkit asked the user.
    device["needsPrompt"] = true;
    PrivateDiskService service(world.Dir.Path(), json::array({device}));
    ASSERT_TRUE(service.IsReady()) << service.Trouble();
    DeviceOutOfReach outOfReach(loop.DevicePath());
    ASSERT_TRUE(outOfReach.Active());

    world.Environment.AskDiskService = true;
    world.Environment.Interactive = true;
    if (c.How == Listing::Discovered)
      world.Environment.Discover = true;
    else
      world.WriteDrives("C=" + loop.DevicePath() + "\n");
    CatalogWindow window(world.Environment);
    TMainForm& form = window.Open([](FormServices& services) {
      services.ConfirmWrite = [](const std::string&) { return WriteAnswer{true, false}; };
    });
    ASSERT_EQ(form.Volumes().Count(), 1) << RowTexts(form.manualdefrag->manulist, 0)[1];
    form.show();
    TDefragThread& job = form.Volumes().Job(0);
    QTreeWidgetItem* row = form.Volumes().Item(0);

    // Listed without a prompt, from what the service told of it; the map
    // stays empty.
    std::vector<json> opens = service.Opens();
    ASSERT_FALSE(opens.empty());
    for (const json& open : opens) EXPECT_TRUE(open["noUserInteraction"].get<bool>()) << open.dump();
    EXPECT_TRUE(job.AwaitsAuthorisation());
    EXPECT_FALSE(job.Engine().Map->IsInitialized());
    ASSERT_TRUE(PumpUntil([&] { return row->text(kStatusColumn) == "Needs authorization"; }))
        << row->text(kStatusColumn).toStdString();
    EXPECT_EQ(row->text(kFileSystemColumn), "FAT32");
    EXPECT_EQ(row->text(kCapacityColumn).toStdString(),
              CapacityText(fs::file_size(image), QLocale().decimalPoint().toStdString()));
    std::string tip = row->toolTip(kStatusColumn).toStdString();
    for (const std::string& part : {loop.DevicePath(), std::string("Label: DESKTOP"),
                                    std::string("Analyze or GO asks for")})
      EXPECT_NE(tip.find(part), std::string::npos) << part << " in " << tip;
    EXPECT_EQ(service.Opens().size(), opens.size()) << "the status timer opened nothing";

    // The user's analysis may prompt: it opens the volume and draws it.
    form.manualdefrag->ComboBox_FastOrOptDefrag->setCurrentIndex(ManualPage::kMethodOptimize);
    QTest::mouseClick(form.manualdefrag->ManuAnalyzeBtn, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return job.State() == dsAnalyzed && job.IsParked(); }))
        << int(job.State()) << " " << job.OpenRefusal();
    std::vector<json> after = service.Opens();
    ASSERT_GT(after.size(), opens.size());
    EXPECT_FALSE(after.back()["noUserInteraction"].get<bool>()) << after.back().dump();
    EXPECT_EQ(after.back()["mode"], "r");
    EXPECT_FALSE(job.AwaitsAuthorisation());
    ASSERT_TRUE(PumpUntil([&] { return row->text(kStatusColumn) != "Needs authorization"; }));
    job.Engine().Map->ApplyPendingChanges();
    const MapImage& drawn = job.Engine().Map->GetImage();
    EXPECT_EQ(drawn.Width, expected.Width);
    EXPECT_EQ(drawn.Height, expected.Height);
    EXPECT_TRUE(drawn.Pixels == expected.Pixels) << "the map differs from the volume's";

    // GO writes through a descriptor opened for writing.
    QTest::mouseClick(form.manualdefrag->ManuDefragBtn, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return job.State() == dsDefragged && job.IsParked(); }))
        << int(job.State()) << " " << job.OpenRefusal();
    EXPECT_EQ(service.Opens().back()["mode"], "rw");
    EXPECT_FALSE(service.Opens().back()["noUserInteraction"].get<bool>());
    WriteVerdict verdict = job.Engine().Device().GetWriteVerdict();
    EXPECT_EQ(int(verdict.Result), int(WriteVerdict::Kind::Sound)) << verdict.Reason;
    EXPECT_GT(job.Engine().Report->DefraggedFileCount.load(), 0);
  }
  // Detached: a sound volume with every file as it was.
  ExpectSoundFixture(image, manifest);
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeNeedingAuthorisation,
                         ::testing::Values(AuthorisationCase{"Discovered", Listing::Discovered},
                                           AuthorisationCase{"Configured", Listing::Configured}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
