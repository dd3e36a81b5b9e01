// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary given hostile input: a long file name full of
// terminal escape sequences on a FAT32 image, and targets and drives.ini
// files that once drew misleading messages (an NTFS boot sector with a
// changed OEM id, an empty image, one image named twice, drives.ini lines
// that cannot be read). Images are made by mkfs.fat and mkntfs under a
// temporary folder.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "FatImageEditor.h"
#include "FatImageKit.h"
#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kFatKilobytes = "34000";
constexpr uint64_t kNtfsImageBytes = uint64_t(8) << 20;
constexpr size_t kNtfsOemOffset = 3;
constexpr size_t kTinyImageBytes = 100;
constexpr const char* kFolderMark = "{dir}";

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// UTF-16 text of an ASCII text, little- or big-endian, with its mark.
std::string Utf16(const std::string& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    bytes += bigEndian ? '\0' : c;
    bytes += bigEndian ? c : '\0';
  }
  return bytes;
}

// ------------------------------------------------------------ messages

struct MessageCase {
  const char* Title;
  // Makes what the case needs in `folder` and `home`; the arguments.
  std::function<std::vector<std::string>(const fs::path& folder, const fs::path& home)> Setup;
  int Exit;
  std::vector<std::string> Told;    // each on standard error exactly once
  std::vector<std::string> NotTold; // what was said before, misleadingly
};

std::ostream& operator<<(std::ostream& out, const MessageCase& c) {
  return out << c.Title;
}

class ClearMessages : public ::testing::TestWithParam<MessageCase> {
protected:
  static void SetUpTestSuite() {
    Images = new TempDir;
    fs::path fat = Images->Path() / "fat32.img";
    ToolResult made = RunProgram("mkfs.fat", {"-C", "-F", "32", fat.string(), kFatKilobytes});
    Failure = made.Exit == 0 ? "" : "mkfs.fat: " + made.Err;
    fs::path ntfs = Images->Path() / "ntfs.img";
    fs::resize_file(fs::path(WriteEmpty(ntfs)), kNtfsImageBytes);
    made = RunProgram("mkntfs", {"-F", "-q", "-Q", ntfs.string()});
    if (made.Exit != 0) Failure += "mkntfs: " + made.Err;
  }
  static void TearDownTestSuite() {
    delete Images;
    Images = nullptr;
  }
  static fs::path WriteEmpty(const fs::path& path) {
    WriteBytes(path, "");
    return path;
  }

public:
  static fs::path Fat(const fs::path& folder) {
    fs::copy_file(Images->Path() / "fat32.img", folder / "a.img");
    return folder / "a.img";
  }
  static fs::path Ntfs(const fs::path& folder) {
    fs::copy_file(Images->Path() / "ntfs.img", folder / "ntfs.img");
    return folder / "ntfs.img";
  }

  static inline TempDir* Images = nullptr;
  static inline std::string Failure;
};

TEST_P(ClearMessages, SayWhatIsWrong) {
  ASSERT_EQ(Failure, "") << "the images could not be made";
  const MessageCase& c = GetParam();
  TempDir folder;
  fs::path home = folder.Path() / "home";
  fs::create_directories(home);
  ToolResult result = RunTool(c.Setup(folder.Path(), home), home);
  EXPECT_EQ(result.Exit, c.Exit) << result.Err;
  for (const std::string& told : c.Told) {
    std::string text = Replaced(told, kFolderMark, folder.Path().string());
    EXPECT_EQ(Count(result.Err, text), 1u) << text << "\nin:\n" << result.Err;
  }
  for (const std::string& misleading : c.NotTold)
    EXPECT_EQ(Count(result.Out + result.Err, misleading), 0u) << result.Out << result.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ClearMessages,
    ::testing::Values(
        MessageCase{"NtfsWithAnotherOemId",
                    [](const fs::path& folder, const fs::path&) {
                      fs::path image = ClearMessages::Ntfs(folder);
                      std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
                      file.seekp(kNtfsOemOffset);
                      file.write("MSWIN4.1", 8);
                      return std::vector<std::string>{"analyze", "--quiet", image.string()};
                    },
                    1,
                    {"ntfs.img: looks like NTFS, but its OEM id (byte 3) is \"MSWIN4.1\" "
                     "instead of \"NTFS    \"\n"},
                    {"neither FAT32 nor NTFS"}},
        MessageCase{"EmptyImage",
                    [](const fs::path& folder, const fs::path&) {
                      WriteBytes(folder / "empty.img", "");
                      return std::vector<std::string>{"analyze", "--quiet",
                                                      (folder / "empty.img").string()};
                    },
                    1,
                    {"{dir}/empty.img is empty (0 bytes), too small to hold a volume\n"},
                    {"lies beyond the end"}},
        MessageCase{
            "ImageShorterThanASector",
            [](const fs::path& folder, const fs::path&) {
              WriteBytes(folder / "tiny.img", std::string(kTinyImageBytes, 'x'));
              return std::vector<std::string>{"analyze", "--quiet", (folder / "tiny.img").string()};
            },
            1,
            {"{dir}/tiny.img holds only 100 bytes, too small to hold a volume\n"},
            {"boot sector cannot be read"}},
        MessageCase{
            "SameImageTwice",
            [](const fs::path& folder, const fs::path&) {
              fs::path image = ClearMessages::Fat(folder);
              return std::vector<std::string>{"analyze", "--quiet", image.string(), image.string()};
            },
            1,
            {"a.img: named twice on the command line\n"},
            {"in use by another process"}},
        MessageCase{"SameImageByASymbolicLink",
                    [](const fs::path& folder, const fs::path&) {
                      fs::path image = ClearMessages::Fat(folder);
                      fs::create_symlink(image, folder / "link.img");
                      return std::vector<std::string>{"analyze", "--quiet", image.string(),
                                                      (folder / "link.img").string()};
                    },
                    1,
                    {"link.img: named twice on the command line, also as {dir}/a.img\n"},
                    {"in use by another process"}},
        MessageCase{"SameImageByAHardLinkAndADotPath",
                    [](const fs::path& folder, const fs::path&) {
                      fs::path image = ClearMessages::Fat(folder);
                      fs::create_hard_link(image, folder / "hard.img");
                      return std::vector<std::string>{"analyze", "--quiet",
                                                      (folder / "hard.img").string(),
                                                      (folder / "." / "a.img").string()};
                    },
                    1,
                    {"{dir}/./a.img: named twice on the command line, also as {dir}/hard.img\n"},
                    {"in use by another process"}},
        MessageCase{"MalformedDrivesIniLines",
                    [](const fs::path& folder, const fs::path& home) {
                      fs::path image = ClearMessages::Fat(folder);
                      WriteBytes(home / "drives.ini", "; my drives\n"
                                                      "[drives\n"
                                                      "C=/nowhere.img\n"
                                                      "[drives]\n"
                                                      "D=" +
                                                          image.string() +
                                                          "\n"
                                                          "this is no line\n"
                                                          "\n"
                                                          "  =E\n");
                      return std::vector<std::string>{"list"};
                    },
                    0,
                    {"qdefrag: warning: drives.ini line 2: \"[drives\" has no closing ']'; "
                     "ignored\n",
                     "qdefrag: warning: drives.ini line 3: \"C=/nowhere.img\" comes before any "
                     "[section]; ignored\n",
                     "qdefrag: warning: drives.ini line 6: \"this is no line\" is neither a "
                     "[section] nor a key=value line; ignored\n",
                     "qdefrag: warning: drives.ini line 8: \"  =E\" has no key before '='; "
                     "ignored\n"},
                    {"line 1:", "line 4:", "line 5:", "line 7:"}},
        MessageCase{"Utf16DrivesIni",
                    [](const fs::path& folder, const fs::path& home) {
                      fs::path image = ClearMessages::Fat(folder);
                      WriteBytes(home / "drives.ini",
                                 Utf16("[drives]\r\nD=" + image.string() + "\r\n", false));
                      return std::vector<std::string>{"list"};
                    },
                    0,
                    {"qdefrag: warning: drives.ini is UTF-16 text and is ignored; it must be "
                     "UTF-8 or ANSI text\n",
                     "drives.ini"},
                    {}},
        MessageCase{"Utf16BigEndianDrivesIniWithALongLine",
                    [](const fs::path&, const fs::path& home) {
                      WriteBytes(home / "drives.ini",
                                 Utf16("[drives]\r\nD=/" + std::string(5000, 'x') + "\r\n", true));
                      return std::vector<std::string>{"list"};
                    },
                    0,
                    {"drives.ini is UTF-16 text and is ignored; it must be UTF-8 or ANSI text\n",
                     "drives.ini"},
                    {}}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return info.param.Title; });

// ------------------------------------------------------------ hostile names

constexpr size_t kEntryBytes = 32;
constexpr size_t kAttributeOffset = 11;
constexpr uint8_t kLongNameAttribute = 0x0F;
constexpr uint8_t kLastLongEntry = 0x40;
constexpr uint8_t kSequenceMask = 0x1F;
constexpr size_t kUnitsPerEntry = 13;
// Where a long-name entry keeps its 13 UTF-16 units.
constexpr size_t kUnitOffsets[kUnitsPerEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
constexpr uint16_t kNameEnd = 0x0000;
constexpr uint16_t kNamePadding = 0xFFFF;

// Gives the entry whose short entry lies at `shortEntry` a new long name, in
// the long-name entries it has; false when they do not precede it in one
// piece or the name does not fit. The checksum covers the short name only.
bool WriteLongName(std::vector<uint8_t>& image, uint64_t shortEntry, const std::u16string& name) {
  std::vector<uint64_t> entries; // the first 13 units first
  for (uint64_t at = shortEntry - kEntryBytes;
       at >= kEntryBytes && image[at + kAttributeOffset] == kLongNameAttribute; at -= kEntryBytes)
    entries.push_back(at);
  if (entries.empty()) return false;
  uint8_t last = image[entries.back()];
  if (!(last & kLastLongEntry) || (last & kSequenceMask) != entries.size()) return false;
  if (name.size() > entries.size() * kUnitsPerEntry) return false;
  for (size_t k = 0; k < entries.size() * kUnitsPerEntry; ++k) {
    uint16_t unit = k < name.size()    ? uint16_t(name[k])
                    : k == name.size() ? kNameEnd
                                       : kNamePadding;
    uint64_t at = entries[k / kUnitsPerEntry] + kUnitOffsets[k % kUnitsPerEntry];
    image[at] = uint8_t(unit);
    image[at + 1] = uint8_t(unit >> 8);
  }
  return true;
}

// A fragmented directory of the fixture whose name takes two long-name
// entries, and what it is called now: a window title, a screen clearing, a
// C1 CSI and a DEL.
constexpr const char* kRenamed = "Frag/Crowded Directory";
const std::u16string kHostileName = u"\x1b]0;pwned\x07\x1b[2J\x9b\x7f dir";
constexpr const char* kHostileUtf8 = "\x1b]0;pwned\x07\x1b[2J\xC2\x9B\x7f dir";
constexpr const char* kHostileShown = "\\x1b]0;pwned\\x07\\x1b[2J\\xc2\\x9b\\x7f dir";

void ExpectNothingATerminalActsOn(const ToolResult& result, const std::string& run) {
  for (const std::string& output : {result.Out, result.Err}) {
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << run << ":\n" << output;
    EXPECT_EQ(output.find('\x07'), std::string::npos) << run;
    EXPECT_EQ(output.find('\x7f'), std::string::npos) << run;
    EXPECT_EQ(output.find("\xC2\x9B"), std::string::npos) << run;
  }
}

TEST(QdefragHostileNames, ReachTheTerminalEscapedAndTheJsonReportIntact) {
  TempDir folder;
  fs::path image = CopyFixture("small", folder.Path());
  std::vector<uint8_t> bytes = ReadWholeFile(image);
  uint64_t shortEntry = FatImageEditor(bytes).EntryOffset(kRenamed);
  ASSERT_TRUE(WriteLongName(bytes, shortEntry, kHostileName));
  WriteWholeFile(image, bytes);
  fs::path home = folder.Path() / "home";
  const std::string volumePath = std::string("\\Frag\\") + kHostileUtf8;

  ToolResult report = RunTool({"analyze", "--json", image.string()}, home);
  ASSERT_EQ(report.Exit, 0) << report.Err;
  ExpectNothingATerminalActsOn(report, "analyze --json");
  const json volume = report.Json()["volumes"][0];
  bool found = false;
  for (const json& entry : volume["entries"])
    found = found || (entry["name"] == volume["volume"].get<std::string>() + volumePath &&
                      entry["directory"].get<bool>());
  EXPECT_TRUE(found) << volume["entries"].dump();

  // The analysis, then a pass that moves the directory and what lies in it.
  for (const char* command : {"analyze", "defrag"}) {
    ToolResult text = RunTool({command, image.string()}, home);
    ASSERT_EQ(text.Exit, 0) << text.Err;
    ExpectNothingATerminalActsOn(text, command);
    EXPECT_NE(text.Out.find(std::string("\\Frag\\") + kHostileShown), std::string::npos)
        << text.Out;
  }
}

} // namespace
} // namespace quillo::test
