// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/ProfileFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/ProfileWriteError.h"
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

size_t EntryCount(const fs::path& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

const char* const kSample = "; a comment line\n"
                            "[Alpha]\n"
                            "Plain=value\n"
                            "  Padded   =   spaced out  \n"
                            "Double=\"  keeps blanks  \"\n"
                            "Single=' single '\n"
                            "Unbalanced=\"half\n"
                            "Inner=a \"b\" c\n"
                            "Empty=\n"
                            "EqualsInside=a=b\n"
                            "Semicolon=x;y\n"
                            "this line is neither\n"
                            ";Commented=yes\n"
                            "=no key\n"
                            "[beta]\n"
                            "Key=beta value\n"
                            "[ALPHA]\n"
                            "Plain=second copy\n"
                            "Late=from second copy\n";

struct ReadCase {
  const char* Section;
  const char* Key;
  const char* Expected; // nullptr: the default
};

TEST(ProfileFileTest, ReadsValuesByTheProfileRules) {
  const ProfileFile profile = ProfileFile::Parse(kSample);
  const ReadCase cases[] = {
      {"Alpha", "Plain", "value"},
      {"alpha", "PLAIN", "value"},
      {"Alpha", "Padded", "spaced out"},
      {"Alpha", "Double", "  keeps blanks  "},
      {"Alpha", "Single", " single "},
      {"Alpha", "Unbalanced", "\"half"},
      {"Alpha", "Inner", "a \"b\" c"},
      {"Alpha", "Empty", ""},
      {"Alpha", "EqualsInside", "a=b"},
      {"Alpha", "Semicolon", "x;y"},
      {"Alpha", "Commented", nullptr},
      {"Alpha", ";Commented", nullptr},
      {"Alpha", "this line is neither", nullptr},
      {"Alpha", "Missing", nullptr},
      {"Beta", "key", "beta value"},
      {"Beta", "Plain", nullptr},
      {"Alpha", "Late", "from second copy"},
      {"Gamma", "Plain", nullptr},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.Section) + "/" + c.Key);
    EXPECT_EQ(profile.ReadString(c.Section, c.Key, "<default>"),
              c.Expected ? c.Expected : "<default>");
    EXPECT_EQ(profile.ValueExists(c.Section, c.Key), c.Expected != nullptr);
  }
}

TEST(ProfileFileTest, CutsLongValuesAndHandlesLineEndings) {
  const std::string longValue(3000, 'x');
  const ProfileFile profile =
      ProfileFile::Parse("\xEF\xBB\xBF[S]\r\nLong=" + longValue + "\r\nShort=abc\r\n");
  EXPECT_TRUE(profile.ReadString("S", "Long", "") ==
              std::string(ProfileFile::kMaxValueLength, 'x'));
  EXPECT_EQ(profile.ReadString("S", "Short", ""), "abc");

  // A two-byte character straddling the cut is dropped whole.
  std::string accented;
  while (accented.size() < 2100) accented += "\xC3\xA9";
  const std::string cut = ProfileFile::Parse("[S]\nA=" + accented + "\n").ReadString("S", "A", "");
  EXPECT_EQ(cut.size(), ProfileFile::kMaxValueLength - 1);
  EXPECT_TRUE(cut == accented.substr(0, ProfileFile::kMaxValueLength - 1));
}

TEST(ProfileFileTest, TellsWhichLinesNoReadSees) {
  const ProfileFile profile = ProfileFile::Parse("Early=1\r\n"
                                                 "; comment\r\n"
                                                 "\r\n"
                                                 "[Open\r\n"
                                                 "[S]\r\n"
                                                 "Key=value\r\n"
                                                 "  ;indented comment\r\n"
                                                 "no separator\r\n"
                                                 " = orphan\r\n"
                                                 "[]\r\n"
                                                 "Last=ok");
  struct Expected {
    size_t Number;
    const char* Text;
    const char* Why;
  };
  const Expected expected[] = {
      {1, "Early=1", "comes before any [section]"},
      {4, "[Open", "has no closing ']'"},
      {8, "no separator", "is neither a [section] nor a key=value line"},
      {9, " = orphan", "has no key before '='"},
  };
  std::vector<ProfileFile::SkippedLine> skipped = profile.SkippedLines();
  ASSERT_EQ(skipped.size(), std::size(expected));
  for (size_t i = 0; i < skipped.size(); ++i) {
    EXPECT_EQ(skipped[i].Number, expected[i].Number);
    EXPECT_EQ(skipped[i].Text, expected[i].Text);
    EXPECT_EQ(skipped[i].Why, expected[i].Why);
  }
  // Reads are as they were: the skipped lines stay skipped.
  EXPECT_EQ(profile.ReadString("S", "Key", ""), "value");
  EXPECT_FALSE(profile.ValueExists("S", "Early"));
  EXPECT_FALSE(profile.LooksLikeUtf16());
  // A UTF-8 byte-order mark does not shift the numbers.
  EXPECT_EQ(ProfileFile::Parse("\xEF\xBB\xBF[S]\nbad\n").SkippedLines().at(0).Number, 2u);
}

TEST(ProfileFileTest, RecognisesUtf16Text) {
  struct Case {
    std::string Text;
    bool Utf16;
  };
  for (const Case& c : {Case{std::string("\xFF\xFE[\0S\0]\0", 8), true},
                        Case{std::string("\xFE\xFF\0[\0S\0]", 8), true},
                        Case{std::string("[\0S\0]\0", 6), true},
                        Case{std::string("\0[\0S\0]", 6), true},
                        Case{"\xEF\xBB\xBF[S]", false}, Case{"[S]\nK=\xFF\xFE", false},
                        Case{std::string("\0", 1), true}, Case{std::string("\0\0[S]", 5), true},
                        Case{"", false}, Case{"x", false}})
    EXPECT_EQ(ProfileFile::Parse(c.Text).LooksLikeUtf16(), c.Utf16) << c.Text;
}

TEST(ProfileFileTest, MissingFileGivesDefaults) {
  test::TempDir dir;
  EXPECT_EQ(ReadProfileString(dir.Path() / "absent.ini", "S", "K", "fallback"), "fallback");
  std::error_code error;
  ProfileFile::Load(dir.Path() / "absent.ini", error);
  EXPECT_FALSE(error);
}

TEST(ProfileFileTest, WriteReplacesInPlaceAndKeepsEverythingElse) {
  ProfileFile profile = ProfileFile::Parse("; settings of someone\n"
                                           "[Unknown]\n"
                                           "Other=1 ; not a comment\n"
                                           "\n"
                                           "[Setting]\n"
                                           "  language = Deutsch\n"
                                           "Keep=yes\n"
                                           "; trailing remark\n"
                                           "\n"
                                           "[Last]\n"
                                           "X=1\n");
  profile.WriteString("setting", "Language", "English");
  profile.WriteString("SETTING", "Added", "new");
  profile.WriteString("Fresh", "K", "v");
  profile.WriteString("last", "x", "2");
  EXPECT_EQ(profile.Text(), "; settings of someone\n"
                            "[Unknown]\n"
                            "Other=1 ; not a comment\n"
                            "\n"
                            "[Setting]\n"
                            "language=English\n"
                            "Keep=yes\n"
                            "Added=new\n"
                            "; trailing remark\n"
                            "\n"
                            "[Last]\n"
                            "X=2\n"
                            "\n"
                            "[Fresh]\n"
                            "K=v\n");
}

TEST(ProfileFileTest, WriteKeepsLineEndingsAndByteOrderMark) {
  ProfileFile profile = ProfileFile::Parse("\xEF\xBB\xBF[A]\r\nK=1\r\n");
  profile.WriteString("A", "K", "2");
  profile.WriteString("A", "L", "3");
  EXPECT_EQ(profile.Text(), "\xEF\xBB\xBF[A]\r\nK=2\r\nL=3\r\n");
}

TEST(ProfileFileTest, WrittenLineBreaksCannotStartNewLines) {
  ProfileFile profile;
  profile.WriteString("A", "K", "one\n[B]\rX=1");
  EXPECT_EQ(profile.Text(), "[A]\nK=one [B] X=1\n");
  EXPECT_FALSE(profile.ValueExists("B", "X"));
  EXPECT_THROW(profile.WriteString("A", "K=", "v"), std::invalid_argument);
  EXPECT_THROW(profile.WriteString("A\n", "K", "v"), std::invalid_argument);
  EXPECT_THROW(profile.WriteString("A", "", "v"), std::invalid_argument);
}

TEST(ProfileFileTest, SingleWriteCreatesFileAndFolders) {
  test::TempDir dir;
  const fs::path path = dir.Path() / "deeper" / "config.ini";
  WriteProfileString(path, "update", "lastcheckupdate", "2009-11-06");
  WriteProfileString(path, "update", "other", "x");
  EXPECT_EQ(ReadAll(path), "[update]\nlastcheckupdate=2009-11-06\nother=x\n");
  EXPECT_EQ(ReadProfileString(path, "UPDATE", "LastCheckUpdate", ""), "2009-11-06");
  // Only the file itself is left behind: no temporary files.
  EXPECT_EQ(EntryCount(path.parent_path()), 1u);
}

TEST(ProfileFileTest, SaveFollowsSymbolicLinkAndKeepsPermissions) {
  test::TempDir dir;
  const fs::path real = dir.Path() / "real.ini";
  const fs::path link = dir.Path() / "link.ini";
  WriteAll(real, "[A]\nK=1\n");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(real, link);

  WriteProfileString(link, "A", "K", "2");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadAll(real), "[A]\nK=2\n");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ProfileFileTest, FailedWriteNamesTheFileAndLeavesItIntact) {
  test::TempDir dir;
  // A folder where the file's folder should be cannot hold the file.
  WriteAll(dir.Path() / "blocked", "a file, not a folder");
  const fs::path path = dir.Path() / "blocked" / "config.ini";
  try {
    WriteProfileString(path, "A", "K", "1");
    FAIL() << "the write should have failed";
  } catch (const ProfileWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + path.string());
  }

  // A target that cannot be replaced by a file leaves no temporary behind.
  const fs::path folderTarget = dir.Path() / "target";
  fs::create_directory(folderTarget);
  EXPECT_THROW(ProfileFile().Save(folderTarget), ProfileWriteError);
  EXPECT_TRUE(fs::is_directory(folderTarget));
  EXPECT_EQ(EntryCount(dir.Path()), 2u);
}

} // namespace
} // namespace quillo
