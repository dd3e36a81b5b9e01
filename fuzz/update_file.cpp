// SPDX-License-Identifier: GPL-2.0-or-later
// The update check's information file, which comes from the network: the
// whole check runs against a loopback HTTP server that answers with the
// fuzzer's bytes, through the fetch into the temporary folder, the version
// read from it, the question, and the page handed to the browser. The date
// of the last check (config.ini) is read with the same reader.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "LocalHttpServer.h"
#include "engine/Clock.h"
#include "settings/ProfileFile.h"
#include "update/CheckDate.h"
#include "update/UpdateThread.h"

namespace {

using namespace quillo;

constexpr const char* kInfoPath = "/infofiles/qvlupdate.upt";
// 1 March 2027, noon.
constexpr TDateTime kNow = 46447.5;

class FixedClock final : public Clock {
public:
  TDateTime Now() override { return kNow; }
  void Sleep(uint32_t) override {}
};

// The question runs on the check's own thread; the window's hand-over has
// tests of its own.
class InlineHandOver final : public WindowHandOver {
public:
  bool RunAndWait(const std::function<void()>& step) override {
    step();
    return true;
  }
  void Cancel() override {}
};

// Says Yes, so that the page and the date are used too.
class YesQuestion final : public UpdateQuestion {
public:
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  void OpenPage(const std::string& url) override {
    std::string start = url.substr(0, std::string_view("https://").size());
    for (char& c : start) c = char(std::tolower(static_cast<unsigned char>(c)));
    fuzz::Require(start.rfind("http://", 0) == 0 || start.rfind("https://", 0) == 0,
                  "only web pages are handed to the browser");
  }
};

struct Rig {
  fuzz::TempFolder Folder;
  test::LocalHttpServer Server;
  FixedClock Time;
  InlineHandOver HandOver;
  YesQuestion Question;
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Rig& rig = TheRig();
  std::string body(reinterpret_cast<const char*>(data), size);
  rig.Server.Serve(kInfoPath, body);

  UpdateCheckSetup setup;
  setup.Url = rig.Server.Url(kInfoPath);
  setup.TempFolder = rig.Folder.Path();
  setup.SettingsFile = rig.Folder.Path() / "config.ini";
  setup.Time = &rig.Time;
  setup.HandOver = &rig.HandOver;
  setup.Question = &rig.Question;
  std::error_code ignored;
  std::filesystem::remove(setup.SettingsFile, ignored);
  {
    TUpdateThread check(setup);
    check.WaitUntilFinished();
    fuzz::Require(!std::filesystem::exists(check.UpdateInfoFile()),
                  "the information file is removed after the check");
  }

  // Every value of the file as the date of the last check.
  ProfileFile file = ProfileFile::Parse(body);
  for (const std::string& section : file.Sections()) {
    for (const std::string& key : file.Keys(section)) {
      std::string value = file.ReadString(section, key, "");
      if (std::optional<TDateTime> day = ParseCheckDate(value))
        fuzz::Require(FormatCheckDate(*day) == value, "a date read is written the same way");
    }
  }
  return 0;
}
