// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary with the desktop's disk service: a private
// system bus (dbus-daemon) with a stand-in UDisks2 that serves a loop device
// over a FAT32 fixture image. The volume is found through the service, with
// its label and drive model; run as an unprivileged user, who cannot open
// the loop device, qdefrag gets its descriptor from Block.OpenDevice and
// defragments the volume on it; fsck and every file's contents are checked
// afterwards. Needs root (losetup, setpriv), else skipped.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "LoopDevice.h"
#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kSystemBusVariable = "DBUS_SYSTEM_BUS_ADDRESS";
// The interpreter with the D-Bus and GLib bindings the stand-in needs.
constexpr const char* kSystemPython = "/usr/bin/python3";
constexpr uid_t kNobody = 65534;
constexpr auto kStartPatience = std::chrono::seconds(30);
constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr mode_t kShared = 0755;
constexpr mode_t kRootOnly = 0600;
constexpr const char* kLabel = "QUILLOTEST";
constexpr const char* kModel = "Quillo Test Disk";

fs::path FixtureScript(const char* name) { return SourceDir() / "tests" / "fixtures" / name; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

pid_t Start(const std::vector<std::string>& command, const fs::path& log) {
  pid_t pid = fork();
  if (pid == 0) {
    std::freopen(log.c_str(), "w", stdout);
    std::freopen(log.c_str(), "a", stderr);
    std::vector<char*> argv;
    for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// Waits until `path` exists: a socket, or a file with something in it.
bool WaitForFile(const fs::path& path) {
  auto deadline = std::chrono::steady_clock::now() + kStartPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::socket) return true;
    if (status.type() == fs::file_type::regular && fs::file_size(path, error) > 0) return true;
    std::this_thread::sleep_for(kPollStep);
  }
  return false;
}

// A system bus of the test's own with the stand-in UDisks2 on it, both
// ended with the object, and the address in DBUS_SYSTEM_BUS_ADDRESS
// meanwhile.
class PrivateDiskService {
public:
  PrivateDiskService(const fs::path& folder, const json& devices) : Folder(folder) {
    fs::path socket = folder / "system_bus_socket";
    std::ofstream(folder / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type><listen>unix:path="
        << socket.string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
           "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "</policy></busconfig>\n";
    Address = "unix:path=" + socket.string();
    Bus = Start({"dbus-daemon", "--nofork", "--config-file=" + (folder / "bus.conf").string()},
                folder / "bus.log");
    if (!WaitForFile(socket)) return;
    std::ofstream(folder / "devices.json") << devices.dump();
    Service = Start({kSystemPython, FixtureScript("udisks_standin.py").string(), "--address",
                     Address, "--devices", (folder / "devices.json").string(), "--log",
                     OpenLog().string(), "--ready", (folder / "ready").string()},
                    folder / "standin.log");
    if (!WaitForFile(folder / "ready")) return;
    setenv(kSystemBusVariable, Address.c_str(), 1);
    Ready = true;
  }
  ~PrivateDiskService() {
    unsetenv(kSystemBusVariable);
    Stop(Service);
    Stop(Bus);
  }
  PrivateDiskService(const PrivateDiskService&) = delete;
  PrivateDiskService& operator=(const PrivateDiskService&) = delete;

  bool IsReady() const { return Ready; }
  std::string Trouble() const {
    return ReadFile(Folder / "bus.log") + ReadFile(Folder / "standin.log");
  }
  fs::path OpenLog() const { return Folder / "open.log"; }
  // The OpenDevice calls the service answered, in order.
  std::vector<json> Opens() const {
    std::vector<json> calls;
    std::istringstream lines(ReadFile(OpenLog()));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) calls.push_back(json::parse(line));
    return calls;
  }

private:
  fs::path Folder;
  std::string Address;
  pid_t Bus = -1;
  pid_t Service = -1;
  bool Ready = false;
};

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
    return json::array({{{"name", fs::path(device).filename().string()},
                         {"device", device},
                         {"idType", "vfat"},
                         {"idVersion", "FAT32"},
                         {"uuid", "1234-ABCD"},
                         {"label", kLabel},
                         {"size", fs::file_size(Image)},
                         {"hintSystem", hintSystem},
                         {"loop", true},
                         {"drive", {{"model", kModel}}}}});
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

    ToolResult listed = RunAsNobody({"list", "--json"});
    ASSERT_EQ(listed.Exit, 0) << listed.Err;
    json found;
    json all = listed.Json();
    for (const json& volume : all["volumes"])
      if (volume["target"] == loop.DevicePath()) found = volume;
    ASSERT_FALSE(found.is_null()) << listed.Out;
    EXPECT_EQ(found["fileSystem"], "FAT32");
    EXPECT_GT(found["sizeBytes"].get<uint64_t>(), 0u);
    EXPECT_TRUE(found["usable"].get<bool>()) << found.dump();
    EXPECT_FALSE(service.Opens().empty());

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

} // namespace
} // namespace quillo::test
