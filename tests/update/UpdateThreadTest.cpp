// SPDX-License-Identifier: GPL-2.0-or-later
// The update check end to end against a small HTTP server on 127.0.0.1: the
// fetch into the temporary folder, the version compared, the question and
// its answer, and the seven days of rest after a Yes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "settings/ProfileFile.h"
#include "update/UpdateAddress.h"
#include "update/UpdateThread.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInfoPath = "/infofiles/qvlupdate.upt";
// 1 March 2027, noon.
constexpr TDateTime kFirstMarch = 46447.5;

// Runs the step on the worker's own thread; the window's hand-over is
// exercised by the window tests.
class InlineHandOver final : public WindowHandOver {
public:
  bool RunAndWait(const std::function<void()>& step) override {
    step();
    return true;
  }
  void Cancel() override {}
};

class RecordingQuestion final : public UpdateQuestion {
public:
  bool AskYesNo(const std::string& text, const std::string& title) override {
    std::lock_guard<std::mutex> guard(Lock);
    Texts.push_back(text);
    Titles.push_back(title);
    InfoFileThere = fs::exists(InfoFile);
    return Answer;
  }
  void OpenPage(const std::string& url) override {
    std::lock_guard<std::mutex> guard(Lock);
    Pages.push_back(url);
  }

  std::mutex Lock;
  bool Answer = false;
  fs::path InfoFile;
  bool InfoFileThere = false;
  std::vector<std::string> Texts;
  std::vector<std::string> Titles;
  std::vector<std::string> Pages;
};

class UpdateThreadTest : public ::testing::Test {
protected:
  UpdateThreadTest() {
    fs::create_directory(TempFolder());
    Question.InfoFile = TempFolder() / "qvlupdate.upt";
  }

  fs::path TempFolder() const { return Folder.Path() / "tmp"; }
  fs::path SettingsFile() const { return Folder.Path() / "config.ini"; }
  fs::path InfoFile() const { return TempFolder() / "qvlupdate.upt"; }

  UpdateCheckSetup Setup(const std::string& url) {
    UpdateCheckSetup setup;
    setup.Url = url;
    setup.TempFolder = TempFolder();
    setup.SettingsFile = SettingsFile();
    setup.Time = &Time;
    setup.HandOver = &HandOver;
    setup.Question = &Question;
    return setup;
  }
  void RunCheck(const std::string& url) {
    TUpdateThread check(Setup(url));
    check.WaitUntilFinished();
    EXPECT_TRUE(check.Finished());
    EXPECT_EQ(check.UpdateInfoFile(), InfoFile());
  }
  void RunCheck() { RunCheck(Server.Url(kInfoPath)); }
  void Offer(const std::string& info) { Server.Serve(kInfoPath, info); }
  std::string LastCheck() const {
    return ReadProfileString(SettingsFile(), "update", "lastcheckupdate", "(none)");
  }

  TempDir Folder;
  FakeClock Time{kFirstMarch};
  InlineHandOver HandOver;
  RecordingQuestion Question;
  LocalHttpServer Server;
};

TEST_F(UpdateThreadTest, AsksOnlyWhenTheVersionOnOfferIsNewer) {
  struct Case {
    const char* Info;
    bool Asks;
  };
  const Case cases[] = {
      {"[qvl]\nappver=61\n", false},
      {"[qvl]\nappver=60\n", false},
      {"[qvl]\nUpdateInfo=Take it\n", false}, // no version: 61
      {"[qvl]\nappver=sixty-two\n", false},
      {"[other]\nappver=99\n", false},
      {"not a profile at all", false},
      {"[qvl]\nappver=62\n", true},
      {"[QVL]\r\nAppVer = 100\r\n", true},
  };
  size_t asked = 0;
  for (const Case& c : cases) {
    Offer(c.Info);
    RunCheck();
    if (c.Asks) ++asked;
    EXPECT_EQ(Question.Texts.size(), asked) << c.Info;
    EXPECT_FALSE(fs::exists(InfoFile())) << c.Info;
  }
  // Every check fetched the file once, by its path on the server.
  EXPECT_EQ(Server.Requests(), std::vector<std::string>(std::size(cases), kInfoPath));
  // The question is asked while the file is still there to read.
  EXPECT_TRUE(Question.InfoFileThere);
}

TEST_F(UpdateThreadTest, NewerVersionWithoutTextAsksTheBuiltInQuestionAndNoChangesNothing) {
  Offer("[qvl]\nappver=62\n");
  RunCheck();
  ASSERT_EQ(Question.Texts.size(), 1u);
  EXPECT_EQ(Question.Texts.front(),
            "New Corvana QuilloDefrag version is available now!Would you like to download the "
            "latest version?");
  EXPECT_EQ(Question.Titles.front(), "Corvana QuilloDefrag Update Info");
  EXPECT_TRUE(Question.Pages.empty());
  EXPECT_EQ(LastCheck(), "(none)");
  EXPECT_FALSE(fs::exists(InfoFile()));
}

TEST_F(UpdateThreadTest, YesOpensThePageAndWritesTodaysDate) {
  struct Case {
    const char* Info;
    const char* Text;
    std::vector<std::string> Pages;
  };
  const Case cases[] = {
      {"[qvl]\nappver=62\n", TUpdateThread::kDefaultQuestion, {kDownloadPage}},
      {"[qvl]\nappver=62\nUpdateInfo=Version 6.20 is out\nApp_Url=https://quillo.example/get\n",
       "Version 6.20 is out", {"https://quillo.example/get"}},
      // Only web pages reach the browser; the date is written all the same.
      {"[qvl]\nappver=62\nApp_Url=file:///etc/passwd\n", TUpdateThread::kDefaultQuestion, {}},
  };
  Question.Answer = true;
  for (const Case& c : cases) {
    fs::remove(SettingsFile());
    Question.Texts.clear();
    Question.Pages.clear();
    Offer(c.Info);
    RunCheck();
    ASSERT_EQ(Question.Texts.size(), 1u) << c.Info;
    EXPECT_EQ(Question.Texts.front(), c.Text);
    EXPECT_EQ(Question.Pages, c.Pages) << c.Info;
    EXPECT_EQ(LastCheck(), "2027-03-01") << c.Info;
  }
}

TEST_F(UpdateThreadTest, AfterAYesTheCheckRestsForSevenDays) {
  Offer("[qvl]\nappver=62\n");
  Question.Answer = true;
  RunCheck();
  ASSERT_EQ(LastCheck(), "2027-03-01");
  ASSERT_EQ(Server.Requests().size(), 1u);

  // 2 to 7 March (late in the day included): no check at all.
  for (TDateTime day = kFirstMarch + 1; day < kFirstMarch + 7; day += 1) {
    Time.Set(day + 0.49);
    RunCheck();
  }
  EXPECT_EQ(Server.Requests().size(), 1u);
  EXPECT_EQ(Question.Texts.size(), 1u);

  // 8 March, just after midnight: the check runs and asks again.
  Question.Answer = false;
  Time.Set(kFirstMarch + 6.51);
  RunCheck();
  EXPECT_EQ(Server.Requests().size(), 2u);
  EXPECT_EQ(Question.Texts.size(), 2u);
  EXPECT_EQ(LastCheck(), "2027-03-01");
}

TEST_F(UpdateThreadTest, TheRestCountsWholeDaysEitherWayAndAnUnreadableDateCountsAsToday) {
  struct Case {
    const char* Stored;
    bool Checks;
  };
  // Today is 1 March 2027, noon.
  const Case cases[] = {
      {"2027-03-01", false}, {"2027-02-23", false}, {"2027-02-22", true},
      {"2027-03-08", false}, {"2027-03-09", true},  {"2020-01-01", true},
      {"01/03/2027", false}, {"", false},           {"yesterday", false},
  };
  Offer("[qvl]\nappver=61\n");
  size_t requests = 0;
  for (const Case& c : cases) {
    WriteProfileString(SettingsFile(), "update", "lastcheckupdate", c.Stored);
    RunCheck();
    if (c.Checks) ++requests;
    EXPECT_EQ(Server.Requests().size(), requests) << c.Stored;
  }
}

TEST_F(UpdateThreadTest, NoServerEndsSilently) {
  Question.Answer = true;
  RunCheck("http://127.0.0.1:" + std::to_string(LocalHttpServer::ClosedPort()) + kInfoPath);
  // A missing file on a server that answers is no success either.
  RunCheck(Server.Url("/elsewhere/qvlupdate.upt"));
  EXPECT_TRUE(Question.Texts.empty());
  EXPECT_FALSE(fs::exists(InfoFile()));
  EXPECT_EQ(LastCheck(), "(none)");
}

TEST_F(UpdateThreadTest, EndingTheProgramAbandonsAFetchThatHangs) {
  Server.HoldAnswers();
  {
    TUpdateThread check(Setup(Server.Url(kInfoPath)));
    ASSERT_TRUE(Server.WaitForRequests(1));
    EXPECT_FALSE(check.Finished());
  }
  EXPECT_TRUE(Question.Texts.empty());
  EXPECT_FALSE(fs::exists(InfoFile()));
}

TEST_F(UpdateThreadTest, NothingIsWrittenThroughALinkLeftAtTheFilesName) {
  const fs::path victim = Folder.Path() / "victim";
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, InfoFile());
  Offer("[qvl]\nappver=62\n");
  RunCheck();
  std::ifstream in(victim);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), "keep me");
  EXPECT_EQ(Question.Texts.size(), 1u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(InfoFile())));
}

TEST(UpdateAddressTest, TheServersPathUnlessTheVariableNamesAnother) {
  ::unsetenv(kUpdateUrlVariable);
  EXPECT_EQ(UpdateFileUrl(), "http://update.quillodefrag.example/infofiles/qvlupdate.upt");
  ::setenv(kUpdateUrlVariable, "", 1);
  EXPECT_EQ(UpdateFileUrl(), "http://update.quillodefrag.example/infofiles/qvlupdate.upt");
  ::setenv(kUpdateUrlVariable, "http://127.0.0.1:8080/u.upt", 1);
  EXPECT_EQ(UpdateFileUrl(), "http://127.0.0.1:8080/u.upt");
  ::unsetenv(kUpdateUrlVariable);
}

} // namespace
} // namespace quillo::test
