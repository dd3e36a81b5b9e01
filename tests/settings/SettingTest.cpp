// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/Setting.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/ProfileWriteError.h"
#include "ScopedVariable.h"
#include "TestSupport.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class SettingTest : public ::testing::Test {
protected:
  fs::path ConfigPath() const { return Dir.Path() / "config" / "config.ini"; }
  TSetting Make() const { return TSetting(ConfigPath(), Dir.Path() / "language"); }

  test::TempDir Dir;
};

TEST_F(SettingTest, FirstStartWritesEveryKeyInOrder) {
  TSetting settings = Make();
  settings.Load();
  settings.Save();
  EXPECT_EQ(ReadAll(ConfigPath()), "[setting]\n"
                                   "StartWithWindows=1\n"
                                   "StopWhenBattary=1\n"
                                   "SilentDefrag=1\n"
                                   "AutoCheckUpdate=1\n"
                                   "CloseMinimize=0\n"
                                   "EnableTrayPrompt=0\n"
                                   "EnableExclude=0\n"
                                   "ExcludeSize=1048576\n"
                                   "Language=English\n"
                                   "LastAutoDefrag=0\n"
                                   "\n"
                                   "[QuilloDefrag]\n"
                                   "EnableQuilloDefrag=1\n"
                                   "EnableCpuLimit=1\n"
                                   "CpuLimitValue=40\n"
                                   "EnableAutoIdleTime=1\n"
                                   "AutoIdleTime=5\n"
                                   "\n"
                                   "[Schedule]\n"
                                   "EnableSchedule=0\n"
                                   "IsOptDefrag_Task=0\n"
                                   "scheduledisk=\n");
}

TEST_F(SettingTest, EveryFieldSurvivesSaveAndLoad) {
  TSetting written = Make();
  written.StartWithWindows = false;
  written.StopWhenBattary = false;
  written.SilentDefrag = false;
  written.AutoCheckUpdate = false;
  written.CloseMinimize = true;
  written.EnableTrayPrompt = true;
  written.EnableExclude = true;
  written.ExcludeSize = 10485760;
  written.Language = "Deutsch";
  written.LastDefragTime[TSetting::DriveIndex('C')] = 40123.5;
  written.LastDefragTime[TSetting::DriveIndex('z')] = 45000.1234567891;
  written.LastOptimizeTime[TSetting::DriveIndex('C')] = 40123.25;
  written.LastAutoDefrag = 40124.75;
  written.EnableQuilloDefrag = false;
  written.EnableCpuLimit = false;
  written.CpuLimitValue = 90;
  written.EnableAutoIdleTime = false;
  written.AutoIdleTime = 10;
  written.EnableSchedule = true;
  written.IsOptDefrag_Task = true;
  written.scheduledisk = "CE";
  written.Save();

  TSetting read = Make();
  read.Load();
  EXPECT_EQ(read.LastDefragTime, written.LastDefragTime);
  EXPECT_EQ(read.LastOptimizeTime, written.LastOptimizeTime);
  EXPECT_EQ(read.LastAutoDefrag, written.LastAutoDefrag);
  EXPECT_FALSE(read.StartWithWindows || read.StopWhenBattary || read.SilentDefrag ||
               read.AutoCheckUpdate || read.EnableQuilloDefrag || read.EnableCpuLimit ||
               read.EnableAutoIdleTime);
  EXPECT_TRUE(read.CloseMinimize && read.EnableTrayPrompt && read.EnableExclude &&
              read.EnableSchedule && read.IsOptDefrag_Task);
  EXPECT_EQ(read.ExcludeSize, 10485760);
  EXPECT_EQ(read.Language, "Deutsch");
  EXPECT_EQ(read.CpuLimitValue, 90);
  EXPECT_EQ(read.AutoIdleTime, 10);
  EXPECT_EQ(read.scheduledisk, "CE");

  // Only the dates that are set are written, each letter's key before the
  // "Optimize_" keys, and "LastAutoDefrag" after both.
  const std::string text = ReadAll(ConfigPath());
  const size_t c = text.find("\nC=40123.5\n");
  const size_t z = text.find("\nZ=45000.1234567891\n");
  const size_t optimizeC = text.find("\nOptimize_C=40123.25\n");
  const size_t lastAuto = text.find("\nLastAutoDefrag=40124.75\n");
  ASSERT_NE(c, std::string::npos);
  ASSERT_NE(z, std::string::npos);
  ASSERT_NE(optimizeC, std::string::npos);
  ASSERT_NE(lastAuto, std::string::npos);
  EXPECT_LT(c, z);
  EXPECT_LT(z, optimizeC);
  EXPECT_LT(optimizeC, lastAuto);
  EXPECT_EQ(text.find("\nD="), std::string::npos);
  EXPECT_EQ(text.find("Optimize_Z"), std::string::npos);
}

TEST_F(SettingTest, UnreadableValuesFallBackToTheirDefaults) {
  fs::create_directories(ConfigPath().parent_path());
  WriteAll(ConfigPath(), "[Setting]\n"
                         "C=not a number\n"
                         "D=40123,5\n"
                         "E=\n"
                         "F=  +40000.25  \n"
                         "Optimize_C=nan\n"
                         "ExcludeSize=12abc\n"
                         "StartWithWindows=yes\n"
                         "CloseMinimize=2\n"
                         "Language=\n"
                         "[QuilloDefrag]\n"
                         "CpuLimitValue=99999999999\n"
                         "AutoIdleTime=-3\n");
  TSetting settings = Make();
  settings.Load();
  EXPECT_EQ(settings.LastDefragTime[TSetting::DriveIndex('C')], 0);
  EXPECT_EQ(settings.LastDefragTime[TSetting::DriveIndex('D')], 0);
  EXPECT_EQ(settings.LastDefragTime[TSetting::DriveIndex('E')], 0);
  EXPECT_EQ(settings.LastDefragTime[TSetting::DriveIndex('F')], 40000.25);
  EXPECT_EQ(settings.LastOptimizeTime[TSetting::DriveIndex('C')], 0);
  EXPECT_EQ(settings.ExcludeSize, 1048576);
  EXPECT_TRUE(settings.StartWithWindows);
  EXPECT_TRUE(settings.CloseMinimize);
  EXPECT_EQ(settings.Language, "");
  EXPECT_EQ(settings.CpuLimitValue, 40);
  EXPECT_EQ(settings.AutoIdleTime, -3);
}

TEST_F(SettingTest, DateTimesUseFifteenDigitsAndAPointInAnyLocale) {
  // A locale with a decimal comma must not leak into the file.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  const bool commaLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;

  const struct {
    double Value;
    const char* Text;
  } cases[] = {
      {40123.5, "40123.5"},
      {0, "0"},
      {45000.123456789012, "45000.123456789"},
      {1.0 / 3.0, "0.333333333333333"},
      {-693593, "-693593"},
  };
  // Fifteen digits keep a present-day date-time to within 10 microseconds.
  constexpr double kTenMicroseconds = 10.0 / 86400e6;
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.Value), c.Text);
    EXPECT_NEAR(ParseDateTime(c.Text, -1), c.Value, kTenMicroseconds);
  }
  EXPECT_EQ(ParseDateTime("40123,5", -1), -1);
  EXPECT_EQ(ParseDateTime("inf", -1), -1);
  if (commaLocale) std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(SettingTest, UnknownLanguageNameIsKeptOnSave) {
  fs::create_directories(ConfigPath().parent_path());
  WriteAll(ConfigPath(), "[Setting]\nLanguage=Klingon\n");
  TSetting settings = Make();
  settings.Load();
  EXPECT_EQ(settings.Language, "Klingon");
  settings.Save();
  TSetting again = Make();
  again.Load();
  EXPECT_EQ(again.Language, "Klingon");
}

TEST_F(SettingTest, SaveKeepsUnknownSectionsCommentsAndSpelling) {
  fs::create_directories(ConfigPath().parent_path());
  WriteAll(ConfigPath(), "; written by hand\n"
                         "[Setting]\n"
                         "Language=Deutsch\n"
                         "C=40000\n"
                         "\n"
                         "[update]\n"
                         "lastcheckupdate=2009-11-06\n"
                         "\n"
                         "[Mine]\n"
                         "; my own notes\n"
                         "Anything=goes\n");
  TSetting settings = Make();
  settings.Load();
  settings.LastDefragTime[TSetting::DriveIndex('C')] = 40123.5;
  settings.Save();
  EXPECT_EQ(ReadAll(ConfigPath()), "; written by hand\n"
                                   "[Setting]\n"
                                   "Language=Deutsch\n"
                                   "C=40123.5\n"
                                   "StartWithWindows=1\n"
                                   "StopWhenBattary=1\n"
                                   "SilentDefrag=1\n"
                                   "AutoCheckUpdate=1\n"
                                   "CloseMinimize=0\n"
                                   "EnableTrayPrompt=0\n"
                                   "EnableExclude=0\n"
                                   "ExcludeSize=1048576\n"
                                   "LastAutoDefrag=0\n"
                                   "\n"
                                   "[update]\n"
                                   "lastcheckupdate=2009-11-06\n"
                                   "\n"
                                   "[Mine]\n"
                                   "; my own notes\n"
                                   "Anything=goes\n"
                                   "\n"
                                   "[QuilloDefrag]\n"
                                   "EnableQuilloDefrag=1\n"
                                   "EnableCpuLimit=1\n"
                                   "CpuLimitValue=40\n"
                                   "EnableAutoIdleTime=1\n"
                                   "AutoIdleTime=5\n"
                                   "\n"
                                   "[Schedule]\n"
                                   "EnableSchedule=0\n"
                                   "IsOptDefrag_Task=0\n"
                                   "scheduledisk=\n");
}

// Runs `body` in a child process that cannot write into read-only folders:
// root can, so the child gives up root first. Returns what the child
// reports through the pipe.
template <typename Body> std::string RunUnprivileged(Body body) {
  constexpr uid_t kNobody = 65534;
  int channel[2];
  if (pipe(channel) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    const std::string report = body();
    const ssize_t written = write(channel[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
  }
  close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, got);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return report;
}

TEST_F(SettingTest, ReadOnlyFolderGivesTheWriteError) {
  fs::create_directories(ConfigPath().parent_path());
  TSetting settings = Make();
  settings.Load();
  settings.Save();
  const std::string before = ReadAll(ConfigPath());
  fs::permissions(Dir.Path(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  fs::permissions(ConfigPath().parent_path(),
                  fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(ConfigPath(), fs::perms::owner_read | fs::perms::group_read |
                                    fs::perms::others_read);

  const std::string report = RunUnprivileged([&]() -> std::string {
    settings.Language = "Deutsch";
    try {
      settings.Save();
      return "saved";
    } catch (const ProfileWriteError& error) {
      return error.what();
    }
  });
  EXPECT_EQ(report, "Unable to write to " + ConfigPath().string());
  EXPECT_EQ(ReadAll(ConfigPath()), before);
  fs::permissions(ConfigPath().parent_path(), fs::perms::owner_all);
}

TEST_F(SettingTest, DefaultLocationsFollowTheEnvironment) {
  test::ScopedVariable home("QUILLODEFRAG_HOME", (Dir.Path() / "home").c_str());
  test::ScopedVariable languages("QUILLODEFRAG_LANGUAGE_DIR", test::SourceDir().append("language").c_str());
  TSetting settings;
  EXPECT_EQ(settings.FileName, Dir.Path() / "home" / "config.ini");
  EXPECT_EQ(settings.Translator.Folder(), test::SourceDir() / "language");
  EXPECT_EQ(settings.Translator.Current, "english");
  settings.Load();
  settings.Save();
  EXPECT_TRUE(fs::is_regular_file(Dir.Path() / "home" / "config.ini"));
}

TEST(SettingDriveIndexTest, MapsLettersInEitherCase) {
  EXPECT_EQ(TSetting::DriveIndex('A'), 0);
  EXPECT_EQ(TSetting::DriveIndex('c'), 2);
  EXPECT_EQ(TSetting::DriveIndex('Z'), 25);
  EXPECT_EQ(TSetting::DriveIndex('1'), -1);
  EXPECT_EQ(TSetting::DriveIndex('['), -1);
}

} // namespace
} // namespace quillo
