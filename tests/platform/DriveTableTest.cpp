// SPDX-License-Identifier: GPL-2.0-or-later
// The drive table over images only: drives.ini, partitions of a whole-disk
// image, the platform queries, locks and mount checks, and discovery over
// a made-up sysfs whose "block devices" are image files, and discovery
// through a stand-in of the desktop's disk service on a private bus.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <cstring>
#include <fstream>

#include "FatEngineRig.h"
#include "DiskServiceStandIn.h"
#include "FatImageKit.h"
#include "TestSupport.h"
#include "platform/DriveConfig.h"
#include "platform/DriveTable.h"
#include "platform/MountTable.h"
#include "platform/VolumeStorage.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSector = 512;
constexpr uint64_t kFirstPartitionStart = 2048;  // sectors
constexpr uint64_t kFirstPartitionSectors = 4096;
constexpr uint64_t kSecondPartitionStart = kFirstPartitionStart + kFirstPartitionSectors;
constexpr uint8_t kPartitionTypeFat32Lba = 0x0C;

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// A disk image with an MBR: partition 1 holds a byte pattern, partition 2
// the small FAT32 fixture.
fs::path MakeDiskImage(const fs::path& dir, std::vector<uint8_t>& firstPartition) {
  std::vector<uint8_t> volume = ReadWholeFile(FixtureImage("small"));
  uint64_t secondSectors = volume.size() / kSector;
  std::vector<uint8_t> disk((kSecondPartitionStart + secondSectors) * kSector, 0);
  auto entry = [&](int index, uint64_t start, uint64_t sectors) {
    size_t at = 446 + size_t(index) * 16;
    disk[at + 4] = kPartitionTypeFat32Lba;
    PutLe32(disk, at + 8, uint32_t(start));
    PutLe32(disk, at + 12, uint32_t(sectors));
  };
  entry(0, kFirstPartitionStart, kFirstPartitionSectors);
  entry(1, kSecondPartitionStart, secondSectors);
  disk[510] = 0x55;
  disk[511] = 0xAA;
  firstPartition.resize(kFirstPartitionSectors * kSector);
  for (size_t i = 0; i < firstPartition.size(); ++i) firstPartition[i] = uint8_t(i * 7 + 3);
  std::copy(firstPartition.begin(), firstPartition.end(),
            disk.begin() + kFirstPartitionStart * kSector);
  std::copy(volume.begin(), volume.end(), disk.begin() + kSecondPartitionStart * kSector);
  fs::path path = dir / "disk.img";
  WriteWholeFile(path, disk);
  return path;
}

// One sector that carries the NTFS signature and nothing else of NTFS.
fs::path MakeNtfsLookalike(const fs::path& dir) {
  std::vector<uint8_t> bytes(1 << 20, 0);
  const uint8_t jump[] = {0xEB, 0x52, 0x90};
  std::memcpy(bytes.data(), jump, 3);
  std::memcpy(bytes.data() + 3, "NTFS    ", 8);
  bytes[11] = 0x00;
  bytes[12] = 0x02; // 512 bytes per sector
  PutLe32(bytes, 72, 0xCAFEF00D);
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  fs::path path = dir / "ntfs.img";
  WriteWholeFile(path, bytes);
  return path;
}

struct TableWorld {
  TableWorld() {
    Environment.ConfigurationFolder = Dir.Path() / "config";
    Environment.SysClassBlock = Dir.Path() / "sys/class/block";
    Environment.DeviceFolder = Dir.Path() / "dev";
    Environment.MountInfo = Dir.Path() / "mountinfo";
    Environment.Discover = false;
    fs::create_directories(Environment.SysClassBlock);
    fs::create_directories(Environment.DeviceFolder);
    WriteText(Environment.MountInfo, "");
  }
  void Configure(const std::string& drives) {
    WriteText(Environment.ConfigurationFolder / "drives.ini", "[drives]\n" + drives);
  }

  TempDir Dir;
  DriveEnvironment Environment;
};

TEST(DriveTable, AnswersThePlatformQueriesFromDrivesIni) {
  TableWorld world;
  fs::path image = CopyFixture("small", world.Dir.Path());
  std::vector<uint8_t> firstPartition;
  fs::path disk = MakeDiskImage(world.Dir.Path(), firstPartition);
  fs::path ntfs = MakeNtfsLookalike(world.Dir.Path());
  world.Configure("c=" + image.string() + "\nE:=" + disk.string() + "#2\nG=" + ntfs.string() +
                  "\nH=" + (world.Dir.Path() / "missing.img").string() +
                  "\nI=" + disk.string() + "#7\nXY=/dev/null\n");
  DriveTable table(world.Environment);

  EXPECT_EQ(table.LogicalDriveStrings(), std::string("C:\\\0E:\\\0G:\\\0H:\\\0I:\\\0\0", 21));
  ASSERT_EQ(table.Warnings().size(), 1u);
  EXPECT_NE(table.Warnings()[0].find("\"XY\" is not a drive letter"), std::string::npos);
  EXPECT_EQ(table.GetDriveType("C:\\"), kDriveFixed);
  EXPECT_EQ(table.GetDriveType("Q:\\"), kDriveNoRootDir);

  struct Case {
    const char* Root;
    bool Answers;
    const char* FileSystem;
  };
  for (const Case& c : {Case{"C:\\", true, "FAT32"}, Case{"E:\\", true, "FAT32"},
                        Case{"G:\\", true, "NTFS"}, Case{"H:\\", false, ""},
                        Case{"I:\\", false, ""}, Case{"Q:\\", false, ""}}) {
    VolumeInformation info;
    EXPECT_EQ(table.GetVolumeInformation(c.Root, 10, info), c.Answers) << c.Root;
    if (c.Answers) {
      EXPECT_EQ(info.FileSystemName, c.FileSystem) << c.Root;
    }
  }
  VolumeInformation info;
  ASSERT_TRUE(table.GetVolumeInformation("C:\\", 10, info));
  EXPECT_EQ(info.VolumeLabel, "QUILLOTEST");
  EXPECT_EQ(info.SerialNumber, 0x1234ABCDu);
  EXPECT_FALSE(table.GetVolumeInformation("C:\\", 5, info));
  ASSERT_TRUE(table.GetVolumeInformation("G:\\", 10, info));
  EXPECT_EQ(info.SerialNumber, 0xCAFEF00Du);

  DiskFreeSpace space;
  ASSERT_TRUE(table.GetFreeSpace("C:\\", space));
  std::string why;
  auto volume = fat::FatVolume::Open("C:", OpenImage(image, true), why);
  DiskFreeSpace expected;
  ASSERT_TRUE(volume->GetFreeSpace("C:\\", expected));
  EXPECT_EQ(space.TotalNumberOfBytes, expected.TotalNumberOfBytes);
  EXPECT_EQ(space.TotalNumberOfFreeBytes, expected.TotalNumberOfFreeBytes);
  ASSERT_TRUE(table.GetFreeSpace("E:\\", space));
  EXPECT_EQ(space.TotalNumberOfFreeBytes, expected.TotalNumberOfFreeBytes);
  EXPECT_FALSE(table.GetFreeSpace("H:\\", space));
}

TEST(DriveTable, SystemKeyNamesTheSystemVolumesLetter) {
  TableWorld world;
  fs::path image = CopyFixture("small", world.Dir.Path());
  struct Case {
    const char* Line;
    char Letter;
    size_t Warnings;
  };
  for (const Case& c : {Case{"", 0, 0}, Case{"system=d\n", 'D', 0}, Case{"SYSTEM=E:\n", 'E', 0},
                        Case{"system=\n", 0, 1}, Case{"system=/dev/sda1\n", 0, 1}}) {
    SCOPED_TRACE(c.Line);
    world.Configure(std::string(c.Line) + "C=" + image.string() + "\n");
    DriveTable table(world.Environment);
    EXPECT_EQ(table.SystemLetter(), c.Letter);
    EXPECT_EQ(table.Warnings().size(), c.Warnings);
    // The key names no volume of its own.
    EXPECT_EQ(table.LogicalDriveStrings(), std::string("C:\\\0\0", 5));
  }
}

TEST(DriveTable, OpensEachVolumeForOneUserOnly) {
  TableWorld world;
  fs::path image = CopyFixture("small", world.Dir.Path());
  fs::path ntfs = MakeNtfsLookalike(world.Dir.Path());
  world.Configure("C=" + image.string() + "\nG=" + ntfs.string() + "\nH=" +
                  (world.Dir.Path() / "missing.img").string() + "\n");
  DriveTable table(world.Environment);
  // Another process is played by a second table: the lock is per opening.
  DriveTable other(world.Environment);

  std::string why;
  std::shared_ptr<VolumeDevice> device = table.OpenDevice("C:", why);
  ASSERT_TRUE(device) << why;
  EXPECT_EQ(table.OpenDevice("c:", why), device);
  EXPECT_FALSE(other.OpenDevice("C:", why));
  EXPECT_NE(why.find("in use by another process"), std::string::npos) << why;
  // Queries go to the device in use.
  VolumeInformation info;
  EXPECT_TRUE(other.GetVolumeInformation("C:\\", 10, info));
  device.reset();
  EXPECT_TRUE(other.OpenDevice("C:", why)) << why;

  EXPECT_FALSE(table.OpenDevice("G:", why));
  EXPECT_NE(why.find("NTFS"), std::string::npos) << why;
  EXPECT_FALSE(table.OpenDevice("H:", why));
  EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
  EXPECT_FALSE(table.OpenDevice("Q:", why));
  EXPECT_NE(why.find("names no volume"), std::string::npos) << why;
}

TEST(DriveTable, RefusesImagesAttachedToLoopDevicesOrMounted) {
  TableWorld world;
  fs::path image = CopyFixture("small", world.Dir.Path());
  world.Configure("C=" + image.string() + "\n");
  DriveTable table(world.Environment);
  std::string why;

  WriteText(world.Environment.SysClassBlock / "loop7/loop/backing_file", image.string() + "\n");
  EXPECT_FALSE(table.OpenDevice("C:", why));
  EXPECT_NE(why.find("attached to /dev/loop7"), std::string::npos) << why;
  fs::remove_all(world.Environment.SysClassBlock / "loop7");

  WriteText(world.Environment.MountInfo,
            "36 35 0:44 / /mnt/fuse\\040image rw,relatime shared:1 - fuse " +
                fs::weakly_canonical(image).string() + " rw\n");
  EXPECT_FALSE(table.OpenDevice("C:", why));
  EXPECT_NE(why.find("mounted on /mnt/fuse image"), std::string::npos) << why;
  WriteText(world.Environment.MountInfo, "");
  EXPECT_TRUE(table.OpenDevice("C:", why)) << why;
}

TEST(DriveTable, DefragmentsAPartitionAndLeavesTheRestOfTheDisk) {
  TableWorld world;
  std::vector<uint8_t> firstPartition;
  fs::path disk = MakeDiskImage(world.Dir.Path(), firstPartition);
  world.Configure("D=" + disk.string() + "#2\n");
  DriveTable table(world.Environment);
  std::string why;
  std::shared_ptr<VolumeDevice> device = table.OpenDevice("D:", why);
  ASSERT_TRUE(device) << why;
  {
    FakeClock time;
    InlineDispatcher dispatcher;
    RecordingNotifier notifier;
    TFatDefrag engine("D:", device, EngineServices{time, dispatcher, notifier});
    engine.State = dsAnalyzing;
    engine.Analyze(dmFast);
    engine.State = dsDefragging;
    engine.Defrag(dmFast);
    EXPECT_EQ(engine.Report->DefraggedFileCount.load(), engine.Report->FragmentedFileCount.load());
    EXPECT_GT(engine.Report->DefraggedFileCount.load(), 0);
  }
  device.reset();

  std::vector<uint8_t> bytes = ReadWholeFile(disk);
  EXPECT_TRUE(std::equal(firstPartition.begin(), firstPartition.end(),
                         bytes.begin() + kFirstPartitionStart * kSector));
  fs::path volume = world.Dir.Path() / "partition2.img";
  WriteWholeFile(volume, std::vector<uint8_t>(bytes.begin() + kSecondPartitionStart * kSector, bytes.end()));
  CheckResult check = CheckImage(volume, FixtureManifest("small"), true);
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  for (const std::string& path : ReadManifest(FixtureManifest("small")).Fragmented)
    EXPECT_EQ(check.Runs.at(path), 1) << path;
}

// A made-up sysfs: each "block device" is an image file in the device folder.
void AddBlockDevice(TableWorld& world, const std::string& disk, const std::string& partition,
                    bool removable, const fs::path& content) {
  fs::path devices = world.Dir.Path() / "sys/devices" / disk;
  WriteText(devices / "removable", removable ? "1\n" : "0\n");
  WriteText(devices / partition / "partition", "1\n");
  fs::create_directory_symlink(devices / partition, world.Environment.SysClassBlock / partition);
  fs::copy_file(content, world.Environment.DeviceFolder / partition);
}

TEST(DriveTable, DiscoveredVolumesKeepTheirLetters) {
  TableWorld world;
  world.Environment.Discover = true;
  fs::path image = CopyFixture("small", world.Dir.Path());
  fs::path other = world.Dir.Path() / "other.img";
  {
    // The same volume with another serial number, so another UUID.
    std::vector<uint8_t> bytes = ReadWholeFile(image);
    PutLe32(bytes, 67, 0x0BADCAFE);
    WriteWholeFile(other, bytes);
  }
  fs::path blank = world.Dir.Path() / "blank.img";
  WriteWholeFile(blank, std::vector<uint8_t>(1 << 20, 0));
  world.Configure("C=" + image.string() + "\n");
  AddBlockDevice(world, "sdz", "sdz1", false, image);
  AddBlockDevice(world, "sdy", "sdy1", true, image); // removable: left out
  AddBlockDevice(world, "sdx", "sdx1", false, blank); // no file system
  {
    DriveTable table(world.Environment);
    std::vector<DriveTable::Drive> drives = table.Drives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[1].Letter, 'D');
    EXPECT_EQ(drives[1].Location, (world.Environment.DeviceFolder / "sdz1").string());
    EXPECT_TRUE(drives[1].Discovered);
  }
  EXPECT_NE(ReadText(world.Environment.ConfigurationFolder / "drives.ini").find("1234-ABCD=D"),
            std::string::npos);

  // A new volume that sorts first does not take the letter of the old one.
  AddBlockDevice(world, "sda", "sda1", false, other);
  DriveTable table(world.Environment);
  std::vector<DriveTable::Drive> drives = table.Drives();
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[1].Location, (world.Environment.DeviceFolder / "sdz1").string());
  EXPECT_EQ(drives[1].Letter, 'D');
  EXPECT_EQ(drives[2].Location, (world.Environment.DeviceFolder / "sda1").string());
  EXPECT_EQ(drives[2].Letter, 'E');
}

// Without the disk service, libblkid tells what each device holds: file
// systems other than FAT32 and NTFS, made by their own tools, are listed
// under letters of their own and refused with what they hold, without being
// opened; a device without a file system is not a volume.
TEST(DriveTable, DiscoveredDevicesOfOtherFileSystemsAreListedWithWhatTheyHold) {
  TableWorld world;
  world.Environment.Discover = true;
  struct Made {
    const char* Partition;
    std::string Command; // "" leaves the device blank
  };
  const Made made[] = {
      {"sdv1", "mkfs.ext4 -q -F -L OTHER '%s'"},
      {"sdw1", "mkfs.fat -F 16 -s 1 -n SMALL '%s'"},
      {"sdx1", "mkswap '%s'"},
      {"sdy1", ""},
  };
  for (const Made& device : made) {
    fs::path image = world.Dir.Path() / (std::string(device.Partition) + ".img");
    WriteWholeFile(image, std::vector<uint8_t>(8u << 20, 0));
    if (!device.Command.empty()) {
      std::string command = device.Command;
      command.replace(command.find("%s"), 2, image.string());
      ASSERT_EQ(std::system((command + " > /dev/null 2>&1").c_str()), 0) << command;
    }
    AddBlockDevice(world, std::string(device.Partition, 3), device.Partition, false, image);
    // sysfs counts 512-byte sectors.
    WriteText(world.Environment.SysClassBlock / device.Partition / "size",
              std::to_string(fs::file_size(image) / 512) + "\n");
  }
  fs::path ours = CopyFixture("small", world.Dir.Path());
  AddBlockDevice(world, "sdz", "sdz1", false, ours);

  DriveTable table(world.Environment);
  struct Expected {
    char Letter;
    const char* Partition;
    const char* FileSystem;
    const char* Refusal; // empty: opened
  };
  const Expected expected[] = {{'C', "sdv1", "ext4", "not FAT32 or NTFS (ext4)"},
                               {'D', "sdw1", "FAT16", "not FAT32 or NTFS (FAT16)"},
                               {'E', "sdx1", "swap", "not FAT32 or NTFS (swap)"},
                               {'F', "sdz1", "FAT32", ""}};
  std::vector<DriveTable::Drive> drives = table.Drives();
  ASSERT_EQ(drives.size(), std::size(expected));
  for (size_t i = 0; i < drives.size(); ++i) {
    SCOPED_TRACE(expected[i].Partition);
    EXPECT_EQ(drives[i].Letter, expected[i].Letter);
    EXPECT_EQ(drives[i].Location, (world.Environment.DeviceFolder / expected[i].Partition).string());
    EXPECT_EQ(drives[i].FileSystem, expected[i].FileSystem);
    if (drives[i].FileSystem != "FAT32") {
      EXPECT_EQ(drives[i].SizeBytes, 8u << 20);
    }
    std::string volume = std::string(1, expected[i].Letter) + ":";
    std::string why;
    std::shared_ptr<VolumeDevice> device = table.OpenDevice(volume, why);
    if (*expected[i].Refusal == '\0') {
      EXPECT_NE(device, nullptr) << why;
      continue;
    }
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(table.BriefRefusal(volume, why).Brief, expected[i].Refusal) << why;
  }
  // Remembered by their file systems' UUIDs like any other.
  std::string remembered = ReadText(world.Environment.ConfigurationFolder / "drives.ini");
  EXPECT_NE(remembered.find("=C"), std::string::npos) << remembered;
}

// The disk service names the devices: its volumes get letters, with their
// labels and drives, those of other file systems (ext4, FAT16) too, refused
// with what they hold; what it says to ignore, removable media, loop
// devices the system set up and devices without a file system do not. The
// devices are never opened here: their paths name nothing.
TEST(DriveTable, DiskServiceNamesTheVolumesAndTheyKeepTheirLetters) {
  TableWorld world;
  world.Environment.Discover = true;
  world.Environment.AskDiskService = true;
  struct Device {
    const char* Name;
    const char* IdType;
    const char* IdVersion;
    const char* Uuid;
    bool HintSystem;
    bool HintIgnore;
    bool Loop;
    bool Removable;
  };
  const Device devices[] = {
      {"qsdq1", "vfat", "FAT32", "AAAA-0001", false, false, false, false}, // C:
      {"qsdq2", "ntfs", "", "0123456789ABCDEF", false, false, false, false}, // D:
      {"qsdq3", "ext4", "1.0", "e3e3e3e3-0000", false, false, false, false}, // E:
      {"qsdq4", "vfat", "FAT16", "AAAA-0004", false, false, false, false}, // F:
      {"qsdr1", "vfat", "FAT32", "AAAA-0005", false, true, false, false},
      {"qsds1", "vfat", "FAT32", "AAAA-0006", false, false, false, true},
      {"loop7", "vfat", "FAT32", "AAAA-0007", true, false, true, false},
      // A fixed disk's system partition is a volume like any other.
      {"qsdt1", "ntfs", "", "FEDCBA9876543210", true, false, false, false}, // G:
      // A whole disk with a partition table, and an empty partition.
      {"qsdt", "", "", "", true, false, false, false},
      {"qsdt2", "", "", "", true, false, false, false},
  };
  auto describe = [&](const Device& device) {
    return nlohmann::json{{"name", device.Name},
                          {"device", (world.Dir.Path() / "absent" / device.Name).string()},
                          {"idType", device.IdType},
                          {"idVersion", device.IdVersion},
                          {"uuid", device.Uuid},
                          {"label", std::string("L-") + device.Name},
                          {"size", 1 << 20},
                          {"hintSystem", device.HintSystem},
                          {"hintIgnore", device.HintIgnore},
                          {"loop", device.Loop},
                          {"drive", {{"model", std::string("M-") + device.Name},
                                     {"removable", device.Removable}}}};
  };
  nlohmann::json served = nlohmann::json::array();
  for (const Device& device : devices) served.push_back(describe(device));
  PrivateDiskService service(world.Dir.Path(), served);
  ASSERT_TRUE(service.IsReady()) << service.Trouble();

  struct Expected {
    char Letter;
    const char* Name;
    const char* FileSystem;
    // What a list says of it: empty for a volume to open.
    const char* Refusal = "";
  };
  auto expectDrives = [&](const std::vector<Expected>& expected) {
    DriveTable table(world.Environment);
    std::vector<DriveTable::Drive> drives = table.Drives();
    ASSERT_EQ(drives.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(expected[i].Name);
      EXPECT_EQ(drives[i].Letter, expected[i].Letter);
      EXPECT_EQ(drives[i].Location, (world.Dir.Path() / "absent" / expected[i].Name).string());
      EXPECT_TRUE(drives[i].Discovered);
      EXPECT_EQ(drives[i].Label, std::string("L-") + expected[i].Name);
      EXPECT_EQ(drives[i].Model, std::string("M-") + expected[i].Name);
      EXPECT_EQ(drives[i].FileSystem, expected[i].FileSystem);
      if (*expected[i].Refusal == '\0') continue;
      std::string volume = std::string(1, expected[i].Letter) + ":";
      std::string why;
      EXPECT_EQ(table.OpenDevice(volume, why), nullptr);
      EXPECT_NE(why.find(std::string("holds ") + expected[i].FileSystem), std::string::npos) << why;
      EXPECT_EQ(table.BriefRefusal(volume, why).Brief, expected[i].Refusal);
    }
  };
  expectDrives({{'C', "qsdq1", "FAT32"},
                {'D', "qsdq2", "NTFS"},
                {'E', "qsdq3", "ext4", "not FAT32 or NTFS (ext4)"},
                {'F', "qsdq4", "FAT16", "not FAT32 or NTFS (FAT16)"},
                {'G', "qsdt1", "NTFS"}});
  EXPECT_NE(ReadText(world.Environment.ConfigurationFolder / "drives.ini").find("AAAA-0001=C"),
            std::string::npos);

  // A volume plugged in later that sorts first takes no letter of the
  // others.
  served.push_back(describe({"qsda1", "vfat", "FAT32", "AAAA-0000", false, false, false, false}));
  service.Replace(served);
  expectDrives({{'C', "qsdq1", "FAT32"},
                {'D', "qsdq2", "NTFS"},
                {'E', "qsdq3", "ext4", "not FAT32 or NTFS (ext4)"},
                {'F', "qsdq4", "FAT16", "not FAT32 or NTFS (FAT16)"},
                {'G', "qsdt1", "NTFS"},
                {'H', "qsda1", "FAT32"}});
}

TEST(DriveTable, RememberedLettersAreFoundWhateverTheCaseOfTheSerialNumber) {
  TableWorld world;
  // Hand-edited: lower case, and a value that is no letter for another case.
  world.Configure("[letters]\n1234-abcd=F\n5678-ef01=)x\n");
  fs::path folder = world.Environment.ConfigurationFolder;
  DriveConfig config = DriveConfig::Load(folder);
  auto found = config.RememberedLetters().find("1234-ABCD");
  ASSERT_NE(found, config.RememberedLetters().end());
  EXPECT_EQ(found->second, 'F');

  config.Remember("5678-EF01", 'Q');
  std::string why;
  ASSERT_TRUE(config.Save(why)) << why;
  DriveConfig again = DriveConfig::Load(folder);
  found = again.RememberedLetters().find("5678-EF01");
  ASSERT_NE(found, again.RememberedLetters().end());
  EXPECT_EQ(found->second, 'Q');
  EXPECT_EQ(again.RememberedLetters().size(), 2u);
}

TEST(MountTable, FindsMountsByDeviceNumberAndSource) {
  MountTable table = MountTable::Parse(
      "22 1 8:17 / /media/My\\040Disk rw,relatime shared:7 - vfat /dev/sdb1 rw\n"
      "23 1 0:50 / /mnt/img rw master:1 - fuse /srv/win.img rw\n"
      "garbage line\n");
  EXPECT_EQ(table.MountPointOf(makedev(8, 17)), "/media/My Disk");
  EXPECT_EQ(table.MountPointOf(makedev(8, 16)), "");
  EXPECT_EQ(table.MountPointOfSource("/srv/win.img"), "/mnt/img");
  EXPECT_EQ(table.MountPointOfSource("/srv/other.img"), "");
}

TEST(VolumeLocation, ReadsAPartitionSuffix) {
  struct Case {
    const char* Text;
    const char* Path;
    int Partition;
  };
  for (const Case& c : {Case{"/srv/disk.img#2", "/srv/disk.img", 2},
                        Case{"/dev/sdb1", "/dev/sdb1", 0},
                        Case{"/srv/a#b.img", "/srv/a#b.img", 0},
                        Case{"/srv/disk.img#", "/srv/disk.img#", 0},
                        Case{"/srv/disk.img#0", "/srv/disk.img#0", 0},
                        Case{"/srv/disk.img#12", "/srv/disk.img", 12}}) {
    VolumeLocation location = ParseVolumeLocation(c.Text);
    EXPECT_EQ(location.Path, c.Path) << c.Text;
    EXPECT_EQ(location.Partition, c.Partition) << c.Text;
  }
}

} // namespace
} // namespace quillo::test
