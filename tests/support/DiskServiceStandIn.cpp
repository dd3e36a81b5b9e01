// SPDX-License-Identifier: GPL-2.0-or-later
#include "DiskServiceStandIn.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestSupport.h"

namespace quillo::test {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kSystemBusVariable = "DBUS_SYSTEM_BUS_ADDRESS";
// The interpreter with the D-Bus and GLib bindings the stand-in needs.
constexpr const char* kSystemPython = "/usr/bin/python3";
constexpr auto kStartPatience = std::chrono::seconds(30);
constexpr auto kPollStep = std::chrono::milliseconds(20);

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

} // namespace

PrivateDiskService::PrivateDiskService(const fs::path& folder, const json& devices)
    : Folder(folder) {
  if (access(kSystemPython, X_OK) != 0) return;
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
  Service = Start({kSystemPython, (SourceDir() / "tests/fixtures/udisks_standin.py").string(),
                   "--address", Address, "--devices", (folder / "devices.json").string(), "--log",
                   (folder / "calls.log").string(), "--ready", (folder / "ready").string()},
                  folder / "standin.log");
  if (!WaitForFile(folder / "ready")) return;
  setenv(kSystemBusVariable, Address.c_str(), 1);
  Ready = true;
}

PrivateDiskService::~PrivateDiskService() {
  unsetenv(kSystemBusVariable);
  Stop(Service);
  Stop(Bus);
}

void PrivateDiskService::Replace(const json& devices) {
  fs::path file = Folder / "devices.json";
  fs::path next = Folder / "devices.json.new";
  std::ofstream(next) << devices.dump();
  fs::rename(next, file);
  if (Service > 0) kill(Service, SIGUSR1);
}

std::string PrivateDiskService::Trouble() const {
  return ReadFile(Folder / "bus.log") + ReadFile(Folder / "standin.log");
}

std::vector<json> PrivateDiskService::AllCalls() const {
  std::vector<json> calls;
  std::istringstream lines(ReadFile(Folder / "calls.log"));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) calls.push_back(json::parse(line));
  return calls;
}

std::vector<json> PrivateDiskService::Calls(const std::string& kind) const {
  std::vector<json> calls;
  for (const json& call : AllCalls())
    if (call["call"] == kind) calls.push_back(call);
  return calls;
}

std::vector<std::string> PrivateDiskService::CallNames() const {
  std::vector<std::string> names;
  for (const json& call : AllCalls()) names.push_back(call["call"]);
  return names;
}

nlohmann::json ServedLoopVolume(const std::string& device, const std::string& idType,
                                const std::string& idVersion, uintmax_t size) {
  nlohmann::json volume = {{"name", fs::path(device).filename().string()},
                           {"device", device},
                           {"idType", idType},
                           {"size", size},
                           {"loop", true}};
  // NTFS has no version the service tells.
  if (!idVersion.empty()) volume["idVersion"] = idVersion;
  return volume;
}

std::string MountPointNow(const std::string& device) {
  std::istringstream lines(ReadFile("/proc/self/mountinfo"));
  for (std::string line; std::getline(lines, line);) {
    size_t separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream before(line.substr(0, separator));
    std::istringstream after(line.substr(separator + 3));
    std::string id, parent, numbers, root, point, type, source;
    before >> id >> parent >> numbers >> root >> point;
    after >> type >> source;
    if (source == device) return point;
  }
  return {};
}

MountCleanup::~MountCleanup() {
  for (std::string point = MountPointNow(Device); !point.empty(); point = MountPointNow(Device))
    if (umount2(point.c_str(), 0) != 0 && umount2(point.c_str(), MNT_DETACH) != 0) break;
}

} // namespace quillo::test
