// SPDX-License-Identifier: GPL-2.0-or-later
// The update check as the main window starts it: only with the setting on
// and a volume listed, the question on the window thread, and a window that
// goes away before the question was asked never asks it.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "LocalHttpServer.h"
#include "WindowTestSupport.h"
#include "settings/ProfileFile.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInfoPath = "/infofiles/qvlupdate.upt";

class AnsweringQuestion final : public UpdateQuestion {
public:
  bool AskYesNo(const std::string& text, const std::string&) override {
    std::lock_guard<std::mutex> guard(Lock);
    Texts.push_back(text);
    Threads.push_back(std::this_thread::get_id());
    return true;
  }
  void OpenPage(const std::string& url) override {
    std::lock_guard<std::mutex> guard(Lock);
    Pages.push_back(url);
  }
  size_t Asked() {
    std::lock_guard<std::mutex> guard(Lock);
    return Texts.size();
  }

  std::mutex Lock;
  std::vector<std::string> Texts;
  std::vector<std::thread::id> Threads;
  std::vector<std::string> Pages;
};

class UpdateCheckTest : public ::testing::Test {
protected:
  UpdateCheckTest() {
    fs::create_directory(TempFolder());
    Server.Serve(kInfoPath, "[qvl]\nappver=62\n");
  }
  fs::path TempFolder() const { return Rig.Folder.Path() / "tmp"; }
  FormServices Services() {
    FormServices services = Rig.Services();
    services.UpdateCheck.Url = Server.Url(kInfoPath);
    services.UpdateCheck.TempFolder = TempFolder();
    services.UpdateCheck.Question = &Question;
    return services;
  }
  std::string LastCheck() const {
    return ReadProfileString(Rig.SettingsFile(), "update", "lastcheckupdate", "(none)");
  }

  LocalHttpServer Server;
  AnsweringQuestion Question;
  FormRig Rig;
};

TEST_F(UpdateCheckTest, StartsAtCreationAndAsksOnTheWindowThread) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  TMainForm form(Services());
  ASSERT_NE(form.UpdateThread(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return form.UpdateThread()->Finished(); }));
  ASSERT_EQ(Question.Asked(), 1u);
  EXPECT_EQ(Question.Threads.front(), std::this_thread::get_id());
  EXPECT_EQ(Question.Pages, std::vector<std::string>{"https://www.quillodefrag.example/?Str=download"});
  // The clock of the window's services says 9 December 2025.
  EXPECT_EQ(LastCheck(), "2025-12-09");
  // The settings keep the date when they are saved.
  form.Settings->Save();
  EXPECT_EQ(LastCheck(), "2025-12-09");
  EXPECT_FALSE(fs::exists(TempFolder() / "qvlupdate.upt"));
}

TEST_F(UpdateCheckTest, NoCheckWithTheSettingOff) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  Rig.EditSettings([](TSetting& settings) { settings.AutoCheckUpdate = false; });
  TMainForm form(Services());
  EXPECT_EQ(form.UpdateThread(), nullptr);
  EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(UpdateCheckTest, NoCheckWithoutAVolume) {
  Rig.Catalog.Refuse("C:\\", "no rights");
  TMainForm form(Services());
  ASSERT_FALSE(form.StartedWithVolumes());
  EXPECT_EQ(form.UpdateThread(), nullptr);
  EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(UpdateCheckTest, AWindowThatGoesFirstNeverAsks) {
  Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
  auto form = std::make_unique<TMainForm>(Services());
  ASSERT_TRUE(Server.WaitForRequests(1));
  // Gone before the window thread ran the question: the check ends at once.
  form.reset();
  PumpPending();
  EXPECT_EQ(Question.Asked(), 0u);
  EXPECT_EQ(LastCheck(), "(none)");
  EXPECT_FALSE(fs::exists(TempFolder() / "qvlupdate.upt"));
}

} // namespace
} // namespace quillo::test
