// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary pointed at what is not a FAT32 or NTFS volume: a
// whole partitioned disk image (MBR, GPT), exFAT, BitLocker, FAT12, FAT16,
// an LVM physical volume and Windows dynamic disks. Each is refused naming
// what it is, by `analyze` and by `qdefrag list`. Images are made under a
// temporary folder with mkfs.fat, mkfs.exfat, mkntfs and sfdisk, or written
// byte by byte from the public formats. And `qdefrag list` keeps its
// columns whatever the length of a target, and gives each unusable volume's
// reason in the window's few words.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint64_t kSector = 512;
constexpr uint64_t kMebibyte = uint64_t(1) << 20;
constexpr const char* kFolderMark = "{dir}";
constexpr size_t kOemOffset = 3;
constexpr size_t kSignatureOffset = 510;
constexpr size_t kBytesPerSectorOffset = 11;
constexpr size_t kSectorsPerClusterOffset = 13;
constexpr size_t kNtfsSectorCountOffset = 40;
constexpr char kBitLockerSectorsPerCluster = 8;
constexpr uint64_t kBitLockerSectors = 16384;

// A sparse file of `bytes` zeros.
fs::path Blank(const fs::path& path, uint64_t bytes) {
  std::ofstream(path, std::ios::binary).close();
  fs::resize_file(path, bytes);
  return path;
}

void WriteAt(const fs::path& path, uint64_t offset, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(std::streamoff(offset));
  file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string Le(uint64_t value, size_t bytes) {
  std::string text;
  for (size_t i = 0; i < bytes; ++i) text += char(uint8_t(value >> (8 * i)));
  return text;
}

// Runs a maker program; a failure ends the test with its words.
void Make(const std::string& program, const std::vector<std::string>& arguments) {
  ToolResult made = RunProgram(program, arguments);
  if (made.Exit != 0)
    throw std::runtime_error(program + " failed (" + std::to_string(made.Exit) + "): " + made.Err);
}

// An sfdisk script laid on an image file.
void Partition(const fs::path& disk, const std::string& script) {
  fs::path input = disk.parent_path() / "sfdisk.script";
  std::ofstream(input) << script;
  Make("sh", {"-c", "sfdisk --quiet --no-reread --no-tell-kernel \"$0\" < \"$1\"", disk.string(),
              input.string()});
}

// Formats a separate file with `format` and copies it into the disk at
// `startSector`, leaving the rest of the disk as it is.
void FormatInto(const fs::path& disk, uint64_t startSector, uint64_t bytes,
                const std::function<void(const fs::path&)>& format) {
  fs::path part = disk.parent_path() / "part.img";
  Blank(part, bytes);
  format(part);
  Make("dd", {"if=" + part.string(), "of=" + disk.string(), "bs=512",
              "seek=" + std::to_string(startSector), "conv=notrunc,sparse", "status=none"});
  fs::remove(part);
}

void Ntfs(const fs::path& file) { Make("mkntfs", {"-F", "-q", "-Q", file.string()}); }
void Exfat(const fs::path& file) { Make("mkfs.exfat", {"-L", "X", file.string()}); }

// A boot sector as BitLocker leaves it: NTFS's layout under the OEM id
// "-FVE-FS-".
std::string BitLockerBootSector() {
  std::string sector(kSector, '\0');
  sector.replace(0, 3, "\xEB\x58\x90");
  sector.replace(kOemOffset, 8, "-FVE-FS-");
  sector.replace(kBytesPerSectorOffset, 2, Le(kSector, 2));
  sector[kSectorsPerClusterOffset] = kBitLockerSectorsPerCluster;
  sector.replace(kNtfsSectorCountOffset, 8, Le(kBitLockerSectors, 8));
  sector.replace(kSignatureOffset, 2, "\x55\xAA");
  return sector;
}

// An LVM2 label in sector 1 with its PV header, as pvcreate writes them.
std::string LvmLabel(uint64_t deviceBytes) {
  std::string label = "LABELONE";
  label += Le(1, 8);  // the sector it lies in
  label += Le(0, 4);  // checksum, not checked by a reader that only names it
  label += Le(32, 4); // where the PV header starts
  label += "LVM2 001";
  label += "Q3dw7xA1bC2dE3fG4hI5jK6lM7nO8pQ9"; // PV UUID, 32 characters
  label += Le(deviceBytes, 8);
  return label;
}

// ------------------------------------------------------------ refusals

struct ForeignCase {
  const char* Title;
  // Makes the image in `folder`; the target to name.
  std::function<std::string(const fs::path& folder)> Setup;
  std::string Why; // the whole reason; {dir} is the folder
};

std::ostream& operator<<(std::ostream& out, const ForeignCase& c) { return out << c.Title; }

class ForeignTargets : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(ForeignTargets, AreRefusedNamingWhatTheyAre) {
  const ForeignCase& c = GetParam();
  TempDir folder;
  std::string target;
  try {
    target = c.Setup(folder.Path());
  } catch (const std::exception& error) {
    FAIL() << "the image could not be made: " << error.what();
  }
  std::string why = Replaced(c.Why, kFolderMark, folder.Path().string());
  fs::path home = folder.Path() / "home";
  fs::create_directories(home);

  ToolResult analyzed = RunTool({"analyze", "--quiet", target}, home);
  EXPECT_EQ(analyzed.Exit, 1) << analyzed.Err;
  EXPECT_EQ(Count(analyzed.Err, "qdefrag: " + target + ": " + why + "\n"), 1u) << analyzed.Err;
  EXPECT_EQ(Count(analyzed.Err, "neither FAT32 nor NTFS"), 0u) << analyzed.Err;

  // The drive table tells the same under a letter.
  std::ofstream(home / "drives.ini") << "[drives]\nK=" << target << "\n";
  ToolResult listed = RunTool({"list"}, home);
  EXPECT_EQ(listed.Exit, 0) << listed.Err;
  EXPECT_EQ(Count(listed.Out, "no      " + target + "\n        " + why + "\n"), 1u)
      << listed.Out;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ForeignTargets,
    ::testing::Values(
        ForeignCase{"MbrDiskWithoutAPartitionNumber",
                    [](const fs::path& folder) {
                      fs::path disk = Blank(folder / "disk.img", 100 * kMebibyte);
                      Partition(disk, "label: dos\nstart=2048, size=64MiB, type=c\n"
                                      "size=32MiB, type=7\n");
                      // 65536 KiB at sector 2048, inside the image.
                      Make("mkfs.fat", {"-F", "32", "-s", "1", "--offset", "2048", disk.string(), "65536"});
                      FormatInto(disk, 2048 + 64 * 2048, 32 * kMebibyte, Ntfs);
                      return disk.string();
                    },
                    "{dir}/disk.img is a partitioned disk (MBR): #1 FAT32 64 MiB, #2 NTFS 32 MiB; "
                    "name a partition as {dir}/disk.img#N"},
        ForeignCase{"GptDiskWithoutAPartitionNumber",
                    [](const fs::path& folder) {
                      fs::path disk = Blank(folder / "gpt.img", 100 * kMebibyte);
                      Partition(disk, "label: gpt\n"
                                      "start=2048, size=16MiB, "
                                      "type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                                      "size=64MiB, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                                      "size=1MiB, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n");
                      FormatInto(disk, 2048, 16 * kMebibyte, Exfat);
                      Make("mkfs.fat", {"-F", "32", "-s", "1", "--offset", std::to_string(2048 + 16 * 2048),
                                        disk.string(), "65536"});
                      return disk.string();
                    },
                    "{dir}/gpt.img is a partitioned disk (GPT): #1 exFAT 16 MiB, #2 FAT32 64 MiB, "
                    "#3 unknown 1 MiB; name a partition as {dir}/gpt.img#N"},
        ForeignCase{"ExfatPartitionOfAGptDisk",
                    [](const fs::path& folder) {
                      fs::path disk = Blank(folder / "gpt.img", 40 * kMebibyte);
                      Partition(disk, "label: gpt\nstart=2048, size=16MiB, "
                                      "type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n");
                      FormatInto(disk, 2048, 16 * kMebibyte, Exfat);
                      return disk.string() + "#1";
                    },
                    "exFAT is not supported (only FAT32 and NTFS)"},
        ForeignCase{"ExfatImage",
                    [](const fs::path& folder) {
                      fs::path image = Blank(folder / "exfat.img", 16 * kMebibyte);
                      Exfat(image);
                      return image.string();
                    },
                    "exFAT is not supported (only FAT32 and NTFS)"},
        ForeignCase{"BitLocker",
                    [](const fs::path& folder) {
                      fs::path image = Blank(folder / "bitlocker.img", 8 * kMebibyte);
                      WriteAt(image, 0, BitLockerBootSector());
                      return image.string();
                    },
                    "BitLocker-encrypted (OEM id \"-FVE-FS-\"): unlock it and turn BitLocker off "
                    "in Windows first; nothing on an encrypted volume can be read or moved "
                    "offline"},
        // The cluster counts are fsck.fat's for these mkfs.fat settings.
        ForeignCase{"Fat16",
                    [](const fs::path& folder) {
                      fs::path image = folder / "fat16.img";
                      Make("mkfs.fat", {"-C", "-F", "16", "-s", "2", "-S", "512", image.string(),
                                        "20480"});
                      return image.string();
                    },
                    "FAT16 is not supported (only FAT32 and NTFS): it has 20,383 clusters; FAT32 "
                    "has at least 65,525"},
        ForeignCase{"Fat12",
                    [](const fs::path& folder) {
                      fs::path image = folder / "fat12.img";
                      Make("mkfs.fat", {"-C", "-F", "12", "-s", "1", "-S", "512", image.string(),
                                        "1440"});
                      return image.string();
                    },
                    "FAT12 is not supported (only FAT32 and NTFS): it has 2,847 clusters; FAT32 "
                    "has at least 65,525"},
        ForeignCase{"LvmPhysicalVolume",
                    [](const fs::path& folder) {
                      fs::path image = Blank(folder / "pv.img", 8 * kMebibyte);
                      WriteAt(image, kSector, LvmLabel(8 * kMebibyte));
                      return image.string();
                    },
                    "an LVM physical volume (LVM2 label in sector 1, PV UUID "
                    "Q3dw7x-A1bC-2dE3-fG4h-I5jK-6lM7-nO8pQ9): its file systems lie in logical "
                    "volumes, which are not supported (only FAT32 and NTFS)"},
        ForeignCase{"DynamicDiskByItsMbrType",
                    [](const fs::path& folder) {
                      fs::path disk = Blank(folder / "dynamic.img", 16 * kMebibyte);
                      Partition(disk, "label: dos\nstart=2048, type=42\n");
                      return disk.string();
                    },
                    "a Windows dynamic disk (partition #1 has the LDM type 0x42): volumes on "
                    "dynamic disks are not supported, only FAT32 and NTFS on basic disks and "
                    "images"},
        ForeignCase{"DynamicDiskByItsDatabaseAtTheEnd",
                    [](const fs::path& folder) {
                      fs::path disk = Blank(folder / "ldm.img", 8 * kMebibyte);
                      WriteAt(disk, 8 * kMebibyte - kSector, "PRIVHEAD");
                      return disk.string();
                    },
                    "a Windows dynamic disk (LDM database header \"PRIVHEAD\" in sector 16383): "
                    "volumes on dynamic disks are not supported, only FAT32 and NTFS on basic "
                    "disks and images"}),
    [](const ::testing::TestParamInfo<ForeignCase>& info) { return info.param.Title; });

// ------------------------------------------------------------ list columns

// The column of `row` where the word under `title` of `header` starts,
// checked to be where the title starts.
void ExpectUnder(const std::string& header, const std::string& title, const std::string& row,
                 const std::string& word) {
  size_t column = header.find(title);
  ASSERT_NE(column, std::string::npos);
  EXPECT_EQ(row.compare(column, word.size(), word), 0)
      << "\"" << word << "\" not under " << title << ":\n" << header << "\n" << row;
  EXPECT_EQ(row[column - 1], ' ') << row;
}

TEST(QdefragList, JsonGivesEachUnusableVolumeItsReasonInAFewWords) {
  TempDir folder;
  fs::path usable = folder.Path() / "usable.img";
  fs::path busy = folder.Path() / "busy.img";
  for (const fs::path& image : {usable, busy}) Make("mkfs.fat", {"-C", "-F", "32", image.string(), "34000"});
  fs::path ext4 = Blank(folder.Path() / "ext4.img", 8 * kMebibyte);
  Make("mkfs.ext4", {"-q", "-F", ext4.string()});
  fs::path fat16 = folder.Path() / "fat16.img";
  Make("mkfs.fat", {"-C", "-F", "16", fat16.string(), "16384"});
  fs::path home = folder.Path() / "home";
  fs::create_directories(home);
  std::ofstream(home / "drives.ini") << "[drives]\nC=" << usable.string() << "\nD="
                                     << (folder.Path() / "missing.img").string() << "\nE="
                                     << ext4.string() << "\nF=" << fat16.string()
                                     << "\nG=" << busy.string() << "\n";
  int holder = open(busy.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  ToolResult listed = RunTool({"list", "--json"}, home);
  close(holder);
  ASSERT_EQ(listed.Exit, 0) << listed.Err;
  std::map<std::string, json> volumes;
  json all = listed.Json();
  for (const json& volume : all["volumes"]) volumes[volume["letter"]] = volume;
  EXPECT_TRUE(volumes["C:"]["reason"].is_null());
  const std::map<std::string, std::string> expected = {{"D:", "image missing"},
                                                       {"E:", "not FAT32 or NTFS (ext4)"},
                                                       {"F:", "not FAT32 or NTFS (FAT16)"},
                                                       {"G:", "in use by another program"}};
  for (const auto& [letter, reason] : expected) {
    SCOPED_TRACE(letter);
    EXPECT_FALSE(volumes[letter]["usable"].get<bool>());
    EXPECT_EQ(volumes[letter]["reason"], reason);
    EXPECT_FALSE(volumes[letter]["why"].get<std::string>().empty());
  }
}

TEST(QdefragList, KeepsItsColumnsWhateverTheTargetLength) {
  TempDir folder;
  fs::path shortImage = folder.Path() / "a.img";
  // A deep folder whose name also holds an escape sequence.
  fs::path deep = folder.Path();
  for (int level = 0; level < 3; ++level) deep /= std::string(90, char('p' + level));
  deep /= "evil\x1b[2Jname";
  fs::create_directories(deep);
  fs::path longImage = deep / "volume.img";
  for (const fs::path& image : {shortImage, longImage})
    Make("mkfs.fat", {"-C", "-F", "32", image.string(), "34000"});
  fs::path missing = deep / "missing.img";
  fs::path home = folder.Path() / "home";
  fs::create_directories(home);
  std::ofstream(home / "drives.ini") << "[drives]\nK=" << shortImage.string()
                                     << "\nL=" << longImage.string()
                                     << "\nM=" << missing.string() << "\n";

  ToolResult listed = RunTool({"list"}, home);
  ASSERT_EQ(listed.Exit, 0) << listed.Err;
  EXPECT_EQ(listed.Out.find('\x1b'), std::string::npos) << listed.Out;
  std::istringstream lines(listed.Out);
  std::string header;
  std::getline(lines, header);
  std::map<std::string, std::string> rows;
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 2 && line[1] == ':') rows[line.substr(0, 2)] = line;
  auto shown = [](const fs::path& path) { return Replaced(path.string(), "\x1b", "\\x1b"); };

  struct Expected {
    std::string Letter, FileSystem, Usable, Target;
  };
  for (const Expected& row : {Expected{"K:", "FAT32", "yes", shown(shortImage)},
                              Expected{"L:", "FAT32", "yes", shown(longImage)},
                              Expected{"M:", "-", "no", shown(missing)}}) {
    SCOPED_TRACE(row.Letter);
    ASSERT_TRUE(rows.count(row.Letter)) << listed.Out;
    const std::string& line = rows[row.Letter];
    ExpectUnder(header, "FILESYSTEM", line, row.FileSystem);
    ExpectUnder(header, "USABLE", line, row.Usable + " ");
    ExpectUnder(header, "TARGET", line, row.Target);
    EXPECT_EQ(line.substr(header.find("TARGET")), row.Target);
    size_t size = header.find("SIZE");
    EXPECT_NE(line[size], ' ') << line;
    EXPECT_EQ(line[size - 1], ' ') << line;
  }
  // Why M: cannot be used, on a line of its own below it.
  EXPECT_EQ(Count(listed.Out, rows["M:"] + "\n        cannot open " + shown(missing) +
                                  ": No such file or directory\n"),
            1u)
      << listed.Out;
}

} // namespace
} // namespace quillo::test
