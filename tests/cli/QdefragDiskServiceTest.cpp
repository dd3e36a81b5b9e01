// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary with the desktop's disk service: a private
// system bus (dbus-daemon) with a stand-in UDisks2 that serves a loop device
// over a FAT32 fixture image. The volume is found through the service, with
// its label and drive model; run as an unprivileged user, who cannot open
// the loop device, qdefrag gets its descriptor from Block.OpenDevice and
// defragments the volume on it; fsck and every file's contents are checked
// afterwards. Partitions of other file systems (ext4, FAT16) are listed
// with what they hold, never opened. A mounted NTFS loop device (mounted with ntfs-3g by the
// stand-in, as the desktop's automounter would) stays mounted and refused
// unless --unmount says otherwise; with it, it is unmounted through the
// service, worked on and mounted again; with a file open on it the service's
// refusal is shown. Needs root (losetup, setpriv, ntfs-3g), else skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "DiskServiceStandIn.h"
#include "ForeignFileSystem.h"
#include "LoopDevice.h"
#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The interpreter with the D-Bus and GLib bindings the stand-in needs.
constexpr const char* kSystemPython = "/usr/bin/python3";
constexpr uid_t kNobody = 65534;
constexpr mode_t kShared = 0755;
constexpr mode_t kRootOnly = 0600;
constexpr const char* kLabel = "QUILLOTEST";
constexpr const char* kModel = "Quillo Test Disk";

fs::path FixtureScript(const char* name) { return SourceDir() / "tests" / "fixtures" / name; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class QdefragWithDiskService : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup and setpriv";
    if (access(kSystemPython, X_OK) != 0) GTEST_SKIP() << "no " << kSystemPython;
    // The unprivileged user must reach the bus socket and its home.
    fs::permissions(Folder.Path(), fs::perms(kShared));
    Image = Folder.Path() / "volume.img";
    Manifest = Folder.Path() / "volume.manifest";
    ToolResult made = RunProgram("python3", {FixtureScript("fat32_image.py").string(), "make",
                                             "--profile", "small", "--image", Image.string(),
                                             "--manifest", Manifest.string()});
    ASSERT_EQ(made.Exit, 0) << made.Err;
    Home = Folder.Path() / "home";
    fs::create_directories(Home);
    ASSERT_EQ(chown(Home.c_str(), kNobody, kNobody), 0);
  }

  json Devices(const std::string& device, bool hintSystem) const {
    json volume = ServedLoopVolume(device, "vfat", "FAT32", fs::file_size(Image));
    volume["uuid"] = "1234-ABCD";
    volume["label"] = kLabel;
    volume["hintSystem"] = hintSystem;
    volume["drive"] = {{"model", kModel}};
    return json::array({volume});
  }

  // The device's entry in `qdefrag list --json`; null, with a failure
  // added, when the list fails or leaves the device out.
  json ListedVolume(const std::string& device) {
    ToolResult listed = RunAsNobody({"list", "--json"});
    if (listed.Exit != 0) {
      ADD_FAILURE() << "qdefrag list failed: " << listed.Err;
      return {};
    }
    json all = listed.Json();
    for (const json& volume : all["volumes"])
      if (volume["target"] == device) return volume;
    ADD_FAILURE() << device << " is not listed: " << listed.Out << listed.Err;
    return {};
  }

  // qdefrag as the unprivileged user.
  ToolResult RunAsNobody(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"--reuid=" + std::to_string(kNobody),
                                 "--regid=" + std::to_string(kNobody), "--clear-groups",
                                 QDEFRAG_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    TempDir output;
    ToolProcess process("setpriv", all, output.Path(), Home);
    return process.Wait();
  }

  TempDir Folder;
  fs::path Image;
  fs::path Manifest;
  fs::path Home;
};

TEST_F(QdefragWithDiskService, FindsTheVolumeAndDefragmentsItThroughOpenDevice) {
  {
    LoopDevice loop(Image);
    if (!loop.Attached()) GTEST_SKIP() << "no loop device";
    // Only root may open it, as a desktop's disks.
    ASSERT_EQ(chmod(loop.DevicePath().c_str(), kRootOnly), 0);
    PrivateDiskService service(Folder.Path(), Devices(loop.DevicePath(), false));
    ASSERT_TRUE(service.IsReady()) << service.Trouble();

    json found = ListedVolume(loop.DevicePath());
    ASSERT_FALSE(found.is_null());
    EXPECT_EQ(found["fileSystem"], "FAT32");
    EXPECT_GT(found["sizeBytes"].get<uint64_t>(), 0u);
    EXPECT_TRUE(found["usable"].get<bool>()) << found.dump();
    EXPECT_FALSE(service.Opens().empty());
    // Listing only reads, and so does an analysis.
    ToolResult analysed = RunAsNobody({"analyze", "--json", found["letter"]});
    EXPECT_EQ(analysed.Exit, 0) << analysed.Out << analysed.Err;
    for (const json& open : service.Opens()) EXPECT_EQ(open["mode"], "r") << open.dump();

    ToolResult pass = RunAsNobody({"defrag", "--optimize", "--json", found["letter"]});
    EXPECT_EQ(pass.Exit, 0) << pass.Out << pass.Err;
    json volume = pass.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "defragmented") << volume.dump();
    // Asked for writing, exclusively, and allowed to prompt (a terminal
    // user's run).
    std::vector<json> opens = service.Opens();
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens.back()["mode"], "rw");
    EXPECT_TRUE(opens.back()["exclusive"].get<bool>());
    EXPECT_FALSE(opens.back()["noUserInteraction"].get<bool>());
  }
  // Detached: the image holds a sound volume with every file as it was.
  fs::path work = Folder.Path() / "check";
  ToolResult check = RunProgram("python3", {FixtureScript("fat32_image.py").string(), "check",
                                            "--image", Image.string(), "--manifest",
                                            Manifest.string(), "--work", work.string()});
  int fsck = -1;
  int matching = 0;
  int mismatching = -1;
  std::istringstream lines(check.Out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "FSCK") words >> fsck;
    if (kind == "CONTENT") words >> matching >> mismatching;
  }
  EXPECT_EQ(fsck, 0) << check.Out << check.Err;
  EXPECT_GT(matching, 0) << check.Out;
  EXPECT_EQ(mismatching, 0) << check.Out;
}

TEST_F(QdefragWithDiskService, LeavesOutLoopDevicesTheSystemSetUp) {
  LoopDevice loop(Image);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device";
  PrivateDiskService service(Folder.Path(), Devices(loop.DevicePath(), true));
  ASSERT_TRUE(service.IsReady()) << service.Trouble();
  ToolResult listed = RunAsNobody({"list", "--json"});
  ASSERT_EQ(listed.Exit, 0) << listed.Err;
  json all = listed.Json();
  for (const json& volume : all["volumes"])
    EXPECT_NE(volume["target"], loop.DevicePath()) << listed.Out;
}

// A volume the service opens only after a prompt: the list asks without
// one and says so, the user's analysis asks with one.
TEST_F(QdefragWithDiskService, ListsAVolumeThatNeedsAuthorisationWithoutAPrompt) {
  LoopDevice loop(Image);
  if (!loop.Attached()) GTEST_SKIP() << "no loop device";
  ASSERT_EQ(chmod(loop.DevicePath().c_str(), kRootOnly), 0);
  json devices = Devices(loop.DevicePath(), false);
  devices[0]["needsPrompt"] = true;
  PrivateDiskService service(Folder.Path(), devices);
  ASSERT_TRUE(service.IsReady()) << service.Trouble();

  json found = ListedVolume(loop.DevicePath());
  ASSERT_FALSE(found.is_null());
  EXPECT_FALSE(found["usable"].get<bool>());
  EXPECT_EQ(found["reason"], "needs authorization") << found.dump();
  EXPECT_EQ(found["fileSystem"], "FAT32");
  EXPECT_EQ(found["sizeBytes"], fs::file_size(Image));
  std::vector<json> opens = service.Opens();
  ASSERT_FALSE(opens.empty());
  for (const json& open : opens) EXPECT_TRUE(open["noUserInteraction"].get<bool>()) << open.dump();

  ToolResult analysed = RunAsNobody({"analyze", "--json", found["letter"]});
  EXPECT_EQ(analysed.Exit, 0) << analysed.Out << analysed.Err;
  ASSERT_GT(service.Opens().size(), opens.size());
  EXPECT_FALSE(service.Opens().back()["noUserInteraction"].get<bool>());
  EXPECT_EQ(service.Opens().back()["mode"], "r");
}

// Partitions of other file systems are listed with what they hold, and not
// opened: neither by qdefrag nor by the service on its behalf.
TEST_F(QdefragWithDiskService, ListsOtherFileSystemsWithWhatTheyHold) {
  constexpr uintmax_t kForeignBytes = 8u << 20;
  const auto& foreign = kForeignFileSystems;
  LoopDevice ours(Image);
  if (!ours.Attached()) GTEST_SKIP() << "no loop device";
  json devices = Devices(ours.DevicePath(), false);
  std::vector<std::unique_ptr<LoopDevice>> loops;
  for (const ForeignFileSystem& kind : foreign) {
    fs::path image = Folder.Path() / (std::string(kind.IdType) + kind.IdVersion + ".img");
    ASSERT_TRUE(MakeForeignImage(kind, image, kForeignBytes)) << kind.Made;
    loops.push_back(std::make_unique<LoopDevice>(image));
    if (!loops.back()->Attached()) GTEST_SKIP() << "no loop device";
    json device =
        ServedLoopVolume(loops.back()->DevicePath(), kind.IdType, kind.IdVersion, kForeignBytes);
    device["uuid"] = std::string("0000-") + kind.IdVersion;
    devices.push_back(device);
  }
  PrivateDiskService service(Folder.Path(), devices);
  ASSERT_TRUE(service.IsReady()) << service.Trouble();

  ToolResult listed = RunAsNobody({"list", "--json"});
  ASSERT_EQ(listed.Exit, 0) << listed.Err;
  json all = listed.Json();
  for (size_t i = 0; i < loops.size(); ++i) {
    SCOPED_TRACE(foreign[i].Refusal);
    json found;
    for (const json& volume : all["volumes"])
      if (volume["target"] == loops[i]->DevicePath()) found = volume;
    ASSERT_FALSE(found.is_null()) << listed.Out;
    EXPECT_FALSE(found["usable"].get<bool>());
    EXPECT_EQ(found["reason"], foreign[i].Refusal);
    EXPECT_EQ(found["fileSystem"], foreign[i].FileSystem) << found.dump();
    EXPECT_EQ(found["sizeBytes"], kForeignBytes) << found.dump();
    for (const json& open : service.Opens())
      EXPECT_NE(open["device"], loops[i]->DevicePath()) << open.dump();
  }
  // The text list says it on the line below the volume.
  ToolResult text = RunAsNobody({"list"});
  ASSERT_EQ(text.Exit, 0) << text.Err;
  for (size_t i = 0; i < loops.size(); ++i)
    EXPECT_NE(text.Out.find(loops[i]->DevicePath() + " holds " + foreign[i].FileSystem +
                            ", neither FAT32 nor NTFS"),
              std::string::npos)
        << text.Out;
}

// A mounted NTFS volume on a loop device that only root may open, as a
// desktop's stick; the tests run qdefrag as the unprivileged user.
class QdefragOnMountedVolume : public QdefragWithDiskService {
protected:
  static constexpr const char* kFileName = "notes.bin";
  static constexpr size_t kFileBytes = 300000;
  static constexpr uintmax_t kImageBytes = 16 * 1024 * 1024;

  void SetUp() override {
    QdefragWithDiskService::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (RunProgram("sh", {"-c", "command -v ntfs-3g mkntfs ntfscp"}).Exit != 0)
      GTEST_SKIP() << "no ntfs-3g tools";
    NtfsImage = Folder.Path() / "stick.img";
    std::ofstream(NtfsImage, std::ios::binary).close();
    fs::resize_file(NtfsImage, kImageBytes);
    ToolResult made = RunProgram("mkntfs", {"-F", "-Q", "-q", "-L", "STICK", NtfsImage.string()});
    ASSERT_EQ(made.Exit, 0) << made.Err;
    Contents.resize(kFileBytes);
    for (size_t i = 0; i < Contents.size(); ++i) Contents[i] = char((i * 7919) >> 5);
    fs::path source = Folder.Path() / kFileName;
    std::ofstream(source, std::ios::binary) << Contents;
    ToolResult copied = RunProgram("ntfscp", {"-f", NtfsImage.string(), source.string(), kFileName});
    ASSERT_EQ(copied.Exit, 0) << copied.Err;
    MountedAt = Folder.Path() / "desktop" / "STICK";
    MountRoot = Folder.Path() / "media";
  }

  json MountedDevices(const std::string& device) const {
    json volume = ServedLoopVolume(device, "ntfs", "", fs::file_size(NtfsImage));
    volume["uuid"] = "51D0C0DE0BADF00D";
    volume["label"] = "STICK";
    volume["mountAt"] = MountedAt.string();
    volume["mountRoot"] = MountRoot.string();
    volume["drive"] = {{"model", kModel}};
    return json::array({volume});
  }

  // The letter the drive table gave the device.
  std::string LetterOf(const std::string& device) {
    json volume = ListedVolume(device);
    return volume.is_null() ? std::string() : volume["letter"].get<std::string>();
  }

  // Attaches the image to a loop device (root's alone with `rootOnly`, as
  // a desktop user finds a disk) and has the stand-in service mount it.
  // Loop is not attached where the machine has no loop devices. After the
  // test the service stops, the mount goes and the device is detached, in
  // that order.
  void MountOnLoop(bool rootOnly) {
    Loop.emplace(NtfsImage);
    if (!Loop->Attached()) return;
    Cleanup.emplace(Loop->DevicePath());
    if (rootOnly) {
      ASSERT_EQ(chmod(Loop->DevicePath().c_str(), kRootOnly), 0);
    }
    Service.emplace(Folder.Path(), MountedDevices(Loop->DevicePath()));
    ASSERT_TRUE(Service->IsReady()) << Service->Trouble();
  }

  fs::path NtfsImage;
  fs::path MountedAt;
  fs::path MountRoot;
  std::string Contents;
  // Destroyed in the reverse order.
  std::optional<LoopDevice> Loop;
  std::optional<MountCleanup> Cleanup;
  std::optional<PrivateDiskService> Service;
};

TEST_F(QdefragOnMountedVolume, StaysMountedAndRefusedWithoutUnmount) {
  ASSERT_NO_FATAL_FAILURE(MountOnLoop(true));
  if (!Loop->Attached()) GTEST_SKIP() << "no loop device";
  ASSERT_EQ(MountPointNow(Loop->DevicePath()), MountedAt.string());
  std::string letter = LetterOf(Loop->DevicePath());

  for (const std::string& target : {letter, Loop->DevicePath()}) {
    ToolResult run = RunAsNobody({"analyze", "--json", target});
    EXPECT_EQ(run.Exit, 1) << run.Out << run.Err;
    json volume = run.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "refused") << volume.dump();
    EXPECT_NE(volume["error"].get<std::string>().find("mounted on " + MountedAt.string()),
              std::string::npos)
        << volume.dump();
  }
  EXPECT_TRUE(Service->Calls("Unmount").empty());
  EXPECT_TRUE(Service->Opens().empty());
  EXPECT_EQ(MountPointNow(Loop->DevicePath()), MountedAt.string());
}

TEST_F(QdefragOnMountedVolume, UnmountsForTheWorkAndMountsAgain) {
  ASSERT_NO_FATAL_FAILURE(MountOnLoop(true));
  if (!Loop->Attached()) GTEST_SKIP() << "no loop device";
  std::string letter = LetterOf(Loop->DevicePath());

  ToolResult run = RunAsNobody({"defrag", "--unmount", "--json", letter});
  EXPECT_EQ(run.Exit, 0) << run.Out << run.Err;
  json volume = run.Json()["volumes"][0];
  EXPECT_EQ(volume["outcome"], "defragmented") << volume.dump();
  // Unmounted first, opened through the service for the pass, mounted again
  // last, where the service chose.
  std::vector<std::string> calls = Service->CallNames();
  ASSERT_GE(calls.size(), 3u) << run.Err;
  EXPECT_EQ(calls.front(), "Unmount");
  EXPECT_EQ(calls.back(), "Mount");
  EXPECT_EQ(Service->Opens().back()["mode"], "rw");
  EXPECT_FALSE(Service->Calls("Unmount").front()["noUserInteraction"].get<bool>());
  fs::path mountedAgain = MountRoot / "STICK";
  EXPECT_EQ(MountPointNow(Loop->DevicePath()), mountedAgain.string());
  EXPECT_NE(run.Err.find(Loop->DevicePath() + " unmounted from " + MountedAt.string()),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find(Loop->DevicePath() + " mounted again on " + mountedAgain.string()),
            std::string::npos)
      << run.Err;
  // The file reads back whole through the mount.
  EXPECT_EQ(ReadFile(mountedAgain / kFileName), Contents);
}

TEST_F(QdefragOnMountedVolume, ShowsTheServiceRefusalWhileFilesAreOpen) {
  ASSERT_NO_FATAL_FAILURE(MountOnLoop(false));
  if (!Loop->Attached()) GTEST_SKIP() << "no loop device";
  std::string letter = LetterOf(Loop->DevicePath());
  {
    std::ifstream open(MountedAt / kFileName);
    ASSERT_TRUE(open.is_open());
    ToolResult run = RunAsNobody({"analyze", "--unmount", "--json", letter});
    EXPECT_EQ(run.Exit, 1) << run.Out << run.Err;
    json volume = run.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "refused") << volume.dump();
    std::string error = volume["error"];
    EXPECT_NE(error.find("cannot be unmounted"), std::string::npos) << error;
    EXPECT_NE(error.find("target is busy"), std::string::npos) << error;
  }
  EXPECT_EQ(Service->Calls("Unmount").size(), 1u);
  EXPECT_TRUE(Service->Opens().empty());
  EXPECT_TRUE(Service->Calls("Mount").empty());
  EXPECT_EQ(MountPointNow(Loop->DevicePath()), MountedAt.string());
}


} // namespace
} // namespace quillo::test
