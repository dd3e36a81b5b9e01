// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs for the letters of a real drive table over image files: a volume
// that is there but refused (locked by another user, mounted) cannot be
// opened; one whose file system cannot be told, or a letter without a
// volume, has no file-system type. A job holds its volume only while a
// command works on it. A loop device the job may not open itself is opened
// through the desktop's disk service (a stand-in UDisks2 on a private bus):
// for reading for an analysis, for writing for a pass; one it opens only
// after a prompt is first opened by a command someone attends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "DeviceOutOfReach.h"
#include "DiskServiceStandIn.h"
#include "JobTestSupport.h"
#include "LoopDevice.h"
#include "platform/DriveTable.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFat32Image = "fat32.img";
constexpr const char* kBlankImage = "blank.img";
// Enough clusters of one sector for mkfs.fat to make FAT32.
constexpr int kImageKiB = 34000;

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

enum class Obstacle { None, LockedByAnotherUser, Mounted, UnknownFileSystem, NoSuchLetter };

struct RefusalCase {
  const char* Name;
  Obstacle What;
  const char* Error; // empty: the job is made
};

class JobOverDriveTable : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(JobOverDriveTable, RefusedVolumesCannotBeOpenedAndUnknownOnesHaveNoType) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  fs::path fat32 = dir.Path() / kFat32Image;
  std::string command = "mkfs.fat -F 32 -s 1 -C '" + fat32.string() + "' " +
                        std::to_string(kImageKiB) + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  fs::path blank = dir.Path() / kBlankImage;
  { std::ofstream(blank).write(std::string(1 << 20, '\0').data(), 1 << 20); }

  DriveEnvironment environment;
  environment.ConfigurationFolder = dir.Path() / "config";
  environment.SysClassBlock = dir.Path() / "sys/class/block";
  environment.DeviceFolder = dir.Path() / "dev";
  environment.MountInfo = dir.Path() / "mountinfo";
  environment.Discover = false;
  fs::create_directories(environment.SysClassBlock);
  fs::create_directories(environment.DeviceFolder);
  WriteText(environment.MountInfo,
            c.What == Obstacle::Mounted
                ? "36 35 0:44 / /mnt/image rw,relatime shared:1 - fuse " +
                      fs::weakly_canonical(fat32).string() + " rw\n"
                : "");
  std::string letterOf = c.What == Obstacle::UnknownFileSystem ? blank.string() : fat32.string();
  WriteText(environment.ConfigurationFolder / "drives.ini", "[drives]\nC=" + letterOf + "\n");

  // Another process working on the image holds its lock.
  int holder = -1;
  if (c.What == Obstacle::LockedByAnotherUser) {
    holder = open(fat32.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  }

  DriveTable table(environment);
  ShortSleepClock time;
  InlineDispatcher dispatcher;
  RecordingNotifier notifier;
  ScriptedFactory factory;
  DefragThreadOptions options;
  options.IdlePriority = false;
  std::string volume = c.What == Obstacle::NoSuchLetter ? "D:" : "C:";
  EXPECT_EQ(ErrorOf([&] {
              TDefragThread job(volume, table, EngineServices{time, dispatcher, notifier}, factory,
                                options);
            }),
            c.Error);
  if (*c.Error == '\0') {
    EXPECT_EQ(factory.Kinds, std::vector<std::string>{"FAT"});
  } else {
    EXPECT_TRUE(factory.Kinds.empty());
  }
  if (holder >= 0) close(holder);
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, JobOverDriveTable,
    ::testing::Values(RefusalCase{"Free", Obstacle::None, ""},
                      RefusalCase{"LockedByAnotherUser", Obstacle::LockedByAnotherUser,
                                  "OpenDiskError"},
                      RefusalCase{"Mounted", Obstacle::Mounted, "OpenDiskError"},
                      RefusalCase{"UnknownFileSystem", Obstacle::UnknownFileSystem,
                                  "GetFileSystemType Error"},
                      RefusalCase{"NoSuchLetter", Obstacle::NoSuchLetter,
                                  "GetFileSystemType Error"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- holding

// Blocks the job thread at its first map hand-over while closed: the job is
// then in the middle of its command.
class GatedDispatcher final : public UiDispatcher {
public:
  void RunAndWait(const std::function<void()>& step) override {
    Hand.Arrive();
    step();
  }
  Gate Hand;
};

// What another program gets when it asks for the volume exclusively:
// O_EXCL on a block device, flock on an image. -1 when refused.
int TakeExclusively(const std::string& path, bool block) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (block ? O_EXCL : 0));
  if (fd < 0 || block) return fd;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  close(fd);
  return -1;
}

bool OthersCanTake(const std::string& path, bool block) {
  int fd = TakeExclusively(path, block);
  if (fd < 0) return false;
  close(fd);
  return true;
}

struct HoldCase {
  const char* Name;
  bool OnLoopDevice;
};

class VolumeHeldWhileWorking : public ::testing::TestWithParam<HoldCase> {};

TEST_P(VolumeHeldWhileWorking, OthersMayTakeTheVolumeWhileTheJobIsParked) {
  TempDir dir;
  fs::path image = dir.Path() / kFat32Image;
  std::string command = "mkfs.fat -F 32 -s 1 -C '" + image.string() + "' " +
                        std::to_string(kImageKiB) + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::optional<LoopDevice> loop;
  std::string location = image.string();
  if (GetParam().OnLoopDevice) {
    loop.emplace(image);
    if (!loop->Attached()) GTEST_SKIP() << "no loop device (needs root)";
    location = loop->DevicePath();
  }
  bool block = GetParam().OnLoopDevice;

  DriveEnvironment environment;
  environment.ConfigurationFolder = dir.Path() / "config";
  environment.SysClassBlock = dir.Path() / "sys/class/block";
  environment.Discover = false;
  fs::create_directories(environment.SysClassBlock);
  WriteText(environment.ConfigurationFolder / "drives.ini", "[drives]\nC=" + location + "\n");

  DriveTable table(environment);
  ShortSleepClock time;
  GatedDispatcher dispatcher;
  RecordingNotifier notifier;
  DefragThreadOptions options;
  options.IdlePriority = false;
  options.ReleaseWhileIdle = true; // as the window makes every job
  {
    TDefragThread job("C:", table, EngineServices{time, dispatcher, notifier},
                      TDefragThread::StandardEngines(), options);
    // Parked from the start, it does not hold the volume.
    ExpectParks(job);
    EXPECT_TRUE(OthersCanTake(location, block));
    job.AnalyzeDeal(dmFast);
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncAnalyzed);
    EXPECT_TRUE(OthersCanTake(location, block));

    // Working, it holds the volume; parked again, it lets it go.
    dispatcher.Hand.Close();
    job.AnalyzeDeal(dmFast);
    ASSERT_TRUE(dispatcher.Hand.WaitForArrivals(dispatcher.Hand.ArrivalCount() + 1));
    EXPECT_FALSE(OthersCanTake(location, block));
    dispatcher.Hand.OpenFully();
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncAnalyzed);
    EXPECT_TRUE(OthersCanTake(location, block));
    EXPECT_EQ(job.OpenRefusal(), "");

    // Taken by another program, the volume is busy for the next command:
    // it is dropped with the reason, and no box waits for an answer.
    int other = TakeExclusively(location, block);
    ASSERT_GE(other, 0);
    job.AnalyzeDeal(dmFast);
    ExpectParks(job);
    EXPECT_EQ(job.PopNotify(), ncNone);
    EXPECT_NE(job.OpenRefusal().find("in use"), std::string::npos) << job.OpenRefusal();
    EXPECT_TRUE(notifier.Messages().empty());
    close(other);
    // Let go, it is tried again with the next command.
    job.AnalyzeDeal(dmFast);
    ExpectParks(job);
    EXPECT_EQ(job.PopNotify(), ncAnalyzed);
    EXPECT_EQ(job.OpenRefusal(), "");
  }
  EXPECT_EQ(std::system(("fsck.fat -n '" + image.string() + "' > /dev/null 2>&1").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Storage, VolumeHeldWhileWorking,
                         ::testing::Values(HoldCase{"Image", false}, HoldCase{"LoopDevice", true}),
                         [](const auto& info) { return std::string(info.param.Name); });


// ---------------------------------------------------------------- disk service

// A drive table with C: on the device, with leave to ask the disk service
// and to prompt.
DriveEnvironment ServiceEnvironment(const fs::path& dir, const std::string& device) {
  DriveEnvironment environment;
  environment.ConfigurationFolder = dir / "config";
  environment.SysClassBlock = dir / "sys/class/block";
  environment.Discover = false;
  environment.AskDiskService = true;
  environment.Interactive = true;
  fs::create_directories(environment.SysClassBlock);
  WriteText(environment.ConfigurationFolder / "drives.ini", "[drives]\nC=" + device + "\n");
  return environment;
}

struct AccessCase {
  const char* Name;
  bool ReleaseWhileIdle;
  // The modes the service is asked for, in order: at the job's creation,
  // then by the analysis and the pass.
  std::vector<std::string> Modes;
};

class AccessThroughDiskService : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessThroughDiskService, AnAnalysisAsksToReadAndAPassToWrite) {
  const AccessCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  TempDir dir;
  fs::path image = dir.Path() / kFat32Image;
  fs::path manifest = dir.Path() / "fat32.manifest";
  fs::path script = SourceDir() / "tests" / "fixtures" / "fat32_image.py";
  std::string make = "python3 '" + script.string() + "' make --profile small --image '" +
                     image.string() + "' --manifest '" + manifest.string() + "' > /dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  {
    LoopDevice loop(image);
    if (!loop.Attached()) GTEST_SKIP() << "no loop device";
    nlohmann::json devices = nlohmann::json::array(
        {ServedLoopVolume(loop.DevicePath(), "vfat", "FAT32", fs::file_size(image))});
    PrivateDiskService service(dir.Path(), devices);
    ASSERT_TRUE(service.IsReady()) << service.Trouble();
    // From here on this thread and the job's cannot open the device
    // themselves, as a desktop user cannot.
    DeviceOutOfReach outOfReach(loop.DevicePath());
    ASSERT_TRUE(outOfReach.Active());

    DriveTable table(ServiceEnvironment(dir.Path(), loop.DevicePath()));
    ShortSleepClock time;
    InlineDispatcher dispatcher;
    RecordingNotifier notifier;
    DefragThreadOptions options;
    options.IdlePriority = false;
    options.ReleaseWhileIdle = c.ReleaseWhileIdle;
    TDefragThread job("C:", table, EngineServices{time, dispatcher, notifier},
                      TDefragThread::StandardEngines(), options);
    job.AnalyzeDeal(dmFast);
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncAnalyzed) << job.OpenRefusal();
    // The analysis asked for nothing more than reading.
    for (const nlohmann::json& open : service.Opens()) EXPECT_EQ(open["mode"], "r") << open.dump();

    // The pass after it writes: it gets a writable descriptor.
    job.DefragDeal(jcManualDefrag, dmFast);
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncDefragged) << job.OpenRefusal();
    WriteVerdict verdict = job.Engine().Device().GetWriteVerdict();
    EXPECT_EQ(int(verdict.Result), int(WriteVerdict::Kind::Sound)) << verdict.Reason;
    EXPECT_GT(job.Engine().Report->DefraggedFileCount.load(), 0);

    std::vector<std::string> modes;
    for (const nlohmann::json& open : service.Opens()) {
      modes.push_back(open["mode"]);
      EXPECT_TRUE(open["exclusive"].get<bool>()) << open.dump();
      EXPECT_FALSE(open["noUserInteraction"].get<bool>()) << open.dump();
    }
    EXPECT_EQ(modes, c.Modes);
  }
  // Detached: a sound volume with every file as it was.
  std::string check = "python3 '" + script.string() + "' check --image '" + image.string() +
                      "' --manifest '" + manifest.string() + "' --work '" +
                      (dir.Path() / "check").string() + "'";
  FILE* output = popen(check.c_str(), "r");
  ASSERT_NE(output, nullptr);
  std::string facts;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, output)) facts += buffer;
  EXPECT_EQ(pclose(output), 0) << facts;
  int fsck = -1;
  int matching = 0;
  int mismatching = -1;
  std::istringstream lines(facts);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "FSCK") words >> fsck;
    if (kind == "CONTENT") words >> matching >> mismatching;
  }
  EXPECT_EQ(fsck, 0) << facts;
  EXPECT_GT(matching, 0) << facts;
  EXPECT_EQ(mismatching, 0) << facts;
}

// A volume the service opens only after a prompt, handed out by a look
// that asks nobody: the job's engine starts without it, an empty map and no
// figures; a run nobody attends leaves it so, and the first attended
// command opens it, sizes the map from the job's thread and analyses it.
TEST(VolumeNeedingAPrompt, IsFirstOpenedByACommandSomeoneAttends) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
  TempDir dir;
  fs::path image = dir.Path() / kFat32Image;
  std::string command = "mkfs.fat -F 32 -s 1 -C '" + image.string() + "' " +
                        std::to_string(kImageKiB) + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  LoopDevice loop(image);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device";
  nlohmann::json served = ServedLoopVolume(loop.DevicePath(), "vfat", "FAT32", fs::file_size(image));
  served["label"] = "WAITING";
  served["needsPrompt"] = true;
  PrivateDiskService service(dir.Path(), nlohmann::json::array({served}));
  ASSERT_TRUE(service.IsReady()) << service.Trouble();
  DeviceOutOfReach outOfReach(loop.DevicePath());
  ASSERT_TRUE(outOfReach.Active());

  DriveTable table(ServiceEnvironment(dir.Path(), loop.DevicePath()));
  std::string why;
  std::shared_ptr<VolumeDevice> device = table.OpenDevice("C:", why, false, false);
  ASSERT_NE(device, nullptr) << why;
  EXPECT_TRUE(device->OpenNeedsAuthorisation());
  VolumeInformation information;
  ASSERT_TRUE(device->GetVolumeInformation("C:\\", 10, information));
  EXPECT_EQ(information.FileSystemName, "FAT32");
  EXPECT_EQ(information.VolumeLabel, "WAITING");

  ShortSleepClock time;
  InlineDispatcher dispatcher;
  RecordingNotifier notifier;
  DefragThreadOptions options;
  options.IdlePriority = false;
  options.ReleaseWhileIdle = true;
  TDefragThread job("C:", device, EngineServices{time, dispatcher, notifier},
                    TDefragThread::StandardEngines(), options);
  device.reset();
  EXPECT_TRUE(job.AwaitsAuthorisation());
  EXPECT_FALSE(job.Engine().Map->IsInitialized());
  EXPECT_EQ(job.Engine().TotalClusters, 0u);

  // Nobody attends: refused without a prompt, and still unopened.
  job.DefragDeal(jcManualDefrag, dmFast, false);
  ExpectParks(job);
  EXPECT_TRUE(job.SkippedUnattended()) << job.OpenRefusal();
  EXPECT_TRUE(job.AwaitsAuthorisation());
  for (const nlohmann::json& open : service.Opens())
    EXPECT_TRUE(open["noUserInteraction"].get<bool>()) << open.dump();

  // Attended: opened with leave to prompt, drawn and analysed.
  job.AnalyzeDeal(dmFast);
  ExpectParks(job);
  ASSERT_EQ(job.PopNotify(), ncAnalyzed) << job.OpenRefusal();
  EXPECT_FALSE(job.AwaitsAuthorisation());
  EXPECT_FALSE(service.Opens().back()["noUserInteraction"].get<bool>());
  EXPECT_TRUE(job.Engine().Map->IsInitialized());
  EXPECT_GT(job.Engine().TotalClusters, 0u);
  EXPECT_GE(job.Engine().Map->TotalClusters(), job.Engine().TotalClusters);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, AccessThroughDiskService,
    ::testing::Values(
        // Kept between commands (qdefrag): opened again for the pass.
        AccessCase{"KeptBetweenCommands", false, {"r", "rw"}},
        // Let go whenever parked (the window): each command opens anew.
        AccessCase{"LetGoBetweenCommands", true, {"r", "r", "rw"}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
