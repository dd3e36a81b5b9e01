// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs for the letters of a real drive table over image files: a volume
// that is there but refused (locked by another user, mounted) cannot be
// opened; one whose file system cannot be told, or a letter without a
// volume, has no file-system type.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "JobTestSupport.h"
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

} // namespace
} // namespace quillo::test
