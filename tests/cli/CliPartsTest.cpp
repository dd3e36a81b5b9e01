// SPDX-License-Identifier: GPL-2.0-or-later
// The parts of qdefrag that need no process: the command line, the texts,
// the progress lines, the JSON strings, the map read-back and the demo.
#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "cli/CommandLine.h"
#include "cli/DemoVolume.h"
#include "cli/JsonWriter.h"
#include "cli/MapPicture.h"
#include "cli/ProgressDisplay.h"
#include "cli/StatusText.h"
#include "cli/UsageError.h"

namespace quillo {
namespace {

// ---------------------------------------------------------------- command line

TEST(CommandLine, SizesWithBinaryMultiples) {
  struct Case {
    const char* Text;
    std::optional<int64_t> Bytes;
  };
  for (Case c :
       {Case{"4096", 4096}, Case{"500M", 500LL << 20}, Case{"2G", 2LL << 30}, Case{"2g", 2LL << 30},
        Case{"10k", 10240}, Case{"1.5G", 3LL << 29}, Case{"2GiB", 2LL << 30},
        Case{"3MB", 3LL << 20}, Case{"1T", 1LL << 40}, Case{"0", 0}, Case{"12B", 12},
        Case{"", std::nullopt}, Case{"M", std::nullopt}, Case{"5X", std::nullopt},
        Case{"1.2.3", std::nullopt}, Case{"-5", std::nullopt}, Case{"99999999999P", std::nullopt}})
    EXPECT_EQ(ParseSize(c.Text), c.Bytes) << c.Text;
}

TEST(CommandLine, SizesTooLargeAreToldApart) {
  struct Case {
    std::string Text;
    bool TooLarge;
  };
  for (const Case& c : {Case{std::string(5000, '9'), true}, Case{"99999999999P", true},
                        Case{"8192P", true}, Case{"1" + std::string(4000, '0') + ".5k", true},
                        Case{"0." + std::string(5000, '0') + "1", false}, Case{"8191P", false},
                        Case{"lots", false}}) {
    bool tooLarge = !c.TooLarge;
    ParseSize(c.Text, tooLarge);
    EXPECT_EQ(tooLarge, c.TooLarge) << c.Text.substr(0, 20);
  }
  EXPECT_EQ(ParseSize("8191P"), int64_t(8191) << 50);
}

TEST(CommandLine, GnuConventions) {
  CommandLine line = ParseCommandLine({"--json", "defrag", "C:", "-ox", "*.iso", "--exc=*.tmp",
                                       "--size-lim", "2G", "--sort=fragments", "--", "-odd.img"});
  EXPECT_EQ(line.Command, Subcommand::Defrag);
  EXPECT_TRUE(line.Optimize);
  EXPECT_TRUE(line.Json);
  EXPECT_EQ(line.Excludes, (std::vector<std::string>{"*.iso", "*.tmp"}));
  EXPECT_EQ(line.SizeLimit, 2LL << 30);
  EXPECT_EQ(line.Sort, SortKey::Fragments);
  EXPECT_EQ(line.Targets, (std::vector<std::string>{"C:", "-odd.img"}));

  CommandLine colour = ParseCommandLine({"analyze", "-mq", "--colo", "demo:", "-s500M"});
  EXPECT_TRUE(colour.Map);
  EXPECT_TRUE(colour.Quiet);
  EXPECT_EQ(colour.Color, ColorChoice::Always);
  EXPECT_EQ(colour.SizeLimit, 500LL << 20);
  EXPECT_EQ(ParseCommandLine({"analyze", "--color=never", "demo:"}).Color, ColorChoice::Never);
  // --help wins over whatever else is wrong.
  EXPECT_TRUE(ParseCommandLine({"bogus", "--help"}).Help);
  EXPECT_THROW(ParseCommandLine({"analyze", "--s", "demo:"}), UsageError); // --size-limit or --sort
}

TEST(CommandLine, WindowMessages) {
  EXPECT_EQ(ParseCommandLine({"window", "--stop-and-exit"}).WindowMessage, 1125);
  EXPECT_EQ(ParseCommandLine({"window", "--show"}).WindowMessage, 1124);
  EXPECT_EQ(ParseCommandLine({"--run-schedule", "window"}).WindowMessage, 1126);
  EXPECT_EQ(ParseCommandLine({"window", "--st"}).Command, Subcommand::Window);
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"window"},
           {"window", "--show", "--stop-and-exit"},
           {"window", "--show", "C:"},
           {"window", "--show", "--optimize"},
           {"analyze", "--stop-and-exit", "demo:"}})
    EXPECT_THROW(ParseCommandLine(wrong), UsageError) << wrong.size();
}

// ---------------------------------------------------------------- texts

TEST(StatusTexts, StateCommandAndModeTable) {
  struct Case {
    uint8_t State, Command, Mode;
    const char* Text;
  };
  for (Case c : {Case{dsAnalyzing, jcAnalyze, dmFast, "Analyzing 45%"},
                 Case{dsAnalyzing, jcManualDefrag, dmOptimize, "Analyzing 45%"},
                 Case{dsAnalyzing, jcAutoDefrag, dmFast, "AutoAnalyze 45%"},
                 Case{dsAnalyzePaused, jcAnalyze, dmFast, "Pause"},
                 Case{dsAnalyzed, jcManualDefrag, dmFast, "Analyzed"},
                 Case{dsDefragging, jcManualDefrag, dmFast, "Defragging 45%"},
                 Case{dsDefragging, jcManualDefrag, dmOptimize, "Optimizing 45%"},
                 Case{dsDefragging, jcAutoDefrag, dmFast, "AutoDefrag 45%"},
                 Case{dsDefragPaused, jcManualDefrag, dmFast, "Pause"},
                 Case{dsDefragged, jcManualDefrag, dmFast, "Defragged"},
                 Case{dsDefragged, jcManualDefrag, dmOptimize, "Optimized"},
                 Case{dsDefragged, jcAutoDefrag, dmFast, "AutoDefragged"},
                 Case{dsIdle, jcAnalyze, dmFast, "Idle"},
                 Case{dsStopping, jcManualDefrag, dmFast, "Stopping"}})
    EXPECT_EQ(JobStatusText(c.State, c.Command, c.Mode, 45), c.Text);
}

TEST(StatusTexts, SizesResultsAndSuggestions) {
  EXPECT_EQ(FormatSize(512), "512KB");
  EXPECT_EQ(FormatSize(1536), "1.50MB");
  EXPECT_EQ(FormatSize(1048576), "1.00GB");
  EXPECT_EQ(FileResultText(fsAnalyzed), "Analyzed");
  EXPECT_EQ(FileResultText(fsDefragged), "Defragged");
  EXPECT_EQ(FileResultText(fsNoSpace), "NoSpace");
  EXPECT_EQ(FileResultText(fsUnmovable), "Unmovable");
  EXPECT_EQ(SuggestionText(11, 0), "Defrag Only");
  EXPECT_EQ(SuggestionText(10, 0), "Not need to defrag");
  EXPECT_EQ(SuggestionText(10, 3), "Defrag & Optimize");
  EXPECT_EQ(SuggestionText(0, -1), "Defrag & Optimize");
  EXPECT_EQ(TimeOfDayText(46000.0 + (14 * 3600 + 22 * 60 + 10) / 86400.0), "14:22:10");
}

// ---------------------------------------------------------------- progress

TEST(Progress, FileNamesAreCutInTheMiddleOnCharacterBorders) {
  EXPECT_EQ(ProgressDisplay::Shorten("C:\\short.txt", 40), "C:\\short.txt");
  std::string shortened =
      ProgressDisplay::Shorten("C:\\Documents\\Letters\\2024\\draft-1234.doc", 24);
  EXPECT_EQ(shortened, "C:\\Docu...draft-1234.doc");
  EXPECT_EQ(shortened.size(), 24u);
  // Multi-byte characters are counted as one and never split.
  std::string wide = ProgressDisplay::Shorten(
      "C:\\\xC3\xA9t\xC3\xA9\\\xC3\xA9t\xC3\xA9-\xC3\xA9t\xC3\xA9.txt", 12);
  EXPECT_EQ(wide, "C:\\...t\xC3\xA9.txt");
  EXPECT_EQ(ProgressDisplay::Shorten("C:\\a\\very\\long\\name", 5), "");
}

TEST(Progress, PlainLinesAtMostOnceASecondAndEveryLastLine) {
  std::ostringstream out;
  ProgressDisplay progress(out, /*live=*/false, 0);
  auto start = ProgressDisplay::Clock::time_point{} + std::chrono::hours(1);
  auto at = [&](int milliseconds) { return start + std::chrono::milliseconds(milliseconds); };
  ProgressItem item{"Q: demo:", "Analyzing 10%", "", "Q:\\a", false};
  progress.Show({item}, at(0));
  item.Status = "Analyzing 20%";
  progress.Show({item}, at(200)); // too soon
  progress.Show({item}, at(1000));
  progress.Show({item}, at(2000)); // unchanged
  item.Status = "Analyzed";
  item.File.clear();
  item.Final = true;
  progress.Show({item}, at(2100)); // the last line comes at once
  progress.Show({item}, at(4000)); // and only once
  EXPECT_EQ(out.str(), "Q: demo:  Analyzing 10%  Q:\\a\n"
                       "Q: demo:  Analyzing 20%  Q:\\a\n"
                       "Q: demo:  Analyzed\n");
}

TEST(Progress, LiveLinesAreRedrawnInPlace) {
  std::ostringstream out;
  ProgressDisplay progress(out, /*live=*/true, 40);
  ProgressItem first{"Q: demo:", "Analyzing 10%", "", "Q:\\Documents\\Letters\\draft-1234.doc",
                     false};
  ProgressItem second{"R: demo:fat32", "Defragging 3%", "Left time: 0:0:9", "", false};
  progress.Show({first, second}, {});
  progress.Message("qdefrag: hello");
  std::string text = out.str();
  // Drawn, then moved up over both lines and cleared for the message, then drawn again.
  // 39 columns: one short of the terminal's width.
  EXPECT_EQ(text.find("\x1b[2KQ: demo:  Analyzing 10%  Q:\\...1234.doc\n"), 0u) << text;
  EXPECT_NE(text.find("\x1b[2F\x1b[Jqdefrag: hello\n\x1b[2KQ: demo:"), std::string::npos) << text;
  EXPECT_NE(text.find("R: demo:fat32  Defragging 3%  Left time: 0:0:9\n"), std::string::npos);
}

// ---------------------------------------------------------------- JSON

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
  EXPECT_EQ(JsonWriter::Escape("C:\\dir\\\"x\"\n\t\x01"),
            "\"C:\\\\dir\\\\\\\"x\\\"\\n\\t\\u0001\"");
  EXPECT_EQ(JsonWriter::Escape("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  // A stray byte, an overlong form and a surrogate each become U+FFFD.
  EXPECT_EQ(JsonWriter::Escape("a\xFF"
                               "b"),
            "\"a\xEF\xBF\xBD"
            "b\"");
  EXPECT_EQ(JsonWriter::Escape("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonWriter::Escape("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

// ---------------------------------------------------------------- map

TEST(MapRead, CellsReadBackWithCategoryAndPaleness) {
  InlineDispatcher dispatcher;
  TDefragMap map(1628 * 10, dispatcher);
  map.InitMap(TDefragMap::kMapWidth, TDefragMap::kMapHeight, TDefragMap::kCellSize,
              TDefragMap::kCellSize);
  map.PaintRange(0, 10, mcFragmented, false);     // cell 0
  map.PaintRange(10, 20, mcDirectory, true);      // cells 1 and 2, pale
  map.PaintRange(1627 * 10, 10, mcTarget, false); // the last cell
  MapPicture picture = MapPicture::Capture(map);
  ASSERT_EQ(picture.Columns, 74);
  ASSERT_EQ(picture.Rows, 22);
  EXPECT_EQ(picture.CategoryAt(0, 0), mcFragmented);
  EXPECT_FALSE(picture.Pale[0]);
  EXPECT_EQ(picture.CategoryAt(1, 0), mcDirectory);
  EXPECT_EQ(picture.CategoryAt(2, 0), mcDirectory);
  EXPECT_TRUE(picture.Pale[1]);
  EXPECT_EQ(picture.CategoryAt(3, 0), mcFree);
  EXPECT_EQ(picture.CategoryAt(73, 21), mcTarget);
  EXPECT_EQ(picture.DigitRows()[0].substr(0, 4), "6440");

  std::ostringstream plain;
  picture.Print(plain, false);
  EXPECT_EQ(plain.str().substr(0, 5), "#dd..");
  EXPECT_NE(plain.str().find("# Fragmented"), std::string::npos);
  EXPECT_NE(plain.str().find("t Moving to"), std::string::npos);
  EXPECT_EQ(plain.str().find("Excluded"), std::string::npos); // not on this map
  std::ostringstream colour;
  picture.Print(colour, true);
  // The map's own colour of a fragmented cell, 255, 51, 51.
  EXPECT_EQ(colour.str().find("\x1b[38;2;255;51;51m\u2588"), 0u);
}

// ---------------------------------------------------------------- demo

TEST(Demo, TargetsAndASoundFragmentedVolume) {
  EXPECT_EQ(ParseDemoTarget("demo:")->FileSystem, "NTFS");
  EXPECT_EQ(ParseDemoTarget("DEMO:FAT32")->FileSystem, "FAT32");
  EXPECT_FALSE(ParseDemoTarget("demo:ext4"));
  EXPECT_TRUE(LooksLikeDemoTarget("demo:ext4"));
  EXPECT_FALSE(ParseDemoTarget("/dev/sdb1"));

  for (const char* fileSystem : {"NTFS", "FAT32"}) {
    DemoSpec spec;
    spec.FileSystem = fileSystem;
    auto volume = BuildDemoVolume(spec, "Q:", 46000.5);
    auto again = BuildDemoVolume(spec, "Q:", 46000.5);
    EXPECT_EQ(volume->CheckConsistency(), "");
    ASSERT_EQ(volume->FileCount(), again->FileCount());
    int fragmented = 0;
    int files = 0;
    for (uint32_t i = 1; i < volume->FileCount(); ++i) {
      const MemoryFile& file = volume->File(i);
      EXPECT_EQ(file.Name, again->File(i).Name);
      if (file.Directory) continue;
      ++files;
      fragmented += file.Runs.size() > 1;
    }
    EXPECT_GT(files, 200) << fileSystem;
    EXPECT_GT(fragmented, files / 10) << fileSystem;
    EXPECT_LT(volume->FreeClusterCount(), 16384u * 3 / 4);
  }
}

} // namespace
} // namespace quillo
