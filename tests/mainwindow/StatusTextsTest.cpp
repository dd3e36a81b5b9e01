// SPDX-License-Identifier: GPL-2.0-or-later
// The texts of the status timer: every state, command and mode; the time
// column; the capacity; the auto page's labels.
#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "engine/DateTime.h"
#include "mainwindow/StatusTexts.h"

namespace quillo::test {
namespace {

using Write = CellUpdate::Write;

struct StatusCase {
  uint8_t State;
  uint8_t Command;
  uint8_t Mode;
  CellUpdate Expected;
};

TEST(StatusTextsTest, StatusColumnForEveryStateCommandAndMode) {
  TLanguage language(SourceDir() / "language");
  const CellUpdate keep{};
  const StatusCase cases[] = {
      {dsAnalyzing, jcManualDefrag, dmFast, {Write::Always, "Analyzing 45%"}},
      {dsAnalyzing, jcManualDefrag, dmOptimize, {Write::Always, "Analyzing 45%"}},
      {dsAnalyzing, jcAnalyze, dmFast, {Write::Always, "Analyzing 45%"}},
      {dsAnalyzing, jcAnalyze, dmOptimize, {Write::Always, "Analyzing 45%"}},
      {dsAnalyzing, jcAutoDefrag, dmFast, {Write::Always, "AutoAnalyze 45%"}},
      {dsAnalyzing, jcAutoDefrag, dmOptimize, {Write::Always, "AutoAnalyze 45%"}},
      {dsAnalyzePaused, jcManualDefrag, dmFast, {Write::WhenChanged, "Pause"}},
      {dsAnalyzePaused, jcAutoDefrag, dmFast, {Write::WhenChanged, "Pause"}},
      {dsAnalyzePaused, jcAnalyze, dmOptimize, {Write::WhenChanged, "Pause"}},
      {dsAnalyzed, jcManualDefrag, dmFast, {Write::WhenChanged, "Analyzed"}},
      {dsAnalyzed, jcAutoDefrag, dmFast, {Write::WhenChanged, "Analyzed"}},
      {dsAnalyzed, jcAnalyze, dmOptimize, {Write::WhenChanged, "Analyzed"}},
      {dsDefragging, jcManualDefrag, dmFast, {Write::Always, "Defragging 45%"}},
      {dsDefragging, jcManualDefrag, dmOptimize, {Write::Always, "Optimizing 45%"}},
      {dsDefragging, jcAutoDefrag, dmFast, {Write::Always, "AutoDefrag 45%"}},
      {dsDefragging, jcAutoDefrag, dmOptimize, {Write::Always, "AutoDefrag 45%"}},
      {dsDefragging, jcAnalyze, dmFast, keep},
      {dsDefragging, jcAnalyze, dmOptimize, keep},
      {dsDefragPaused, jcManualDefrag, dmOptimize, {Write::WhenChanged, "Pause"}},
      {dsDefragPaused, jcAutoDefrag, dmFast, {Write::WhenChanged, "Pause"}},
      {dsDefragPaused, jcAnalyze, dmFast, {Write::WhenChanged, "Pause"}},
      {dsDefragged, jcManualDefrag, dmFast, {Write::WhenChanged, "Defragged"}},
      {dsDefragged, jcManualDefrag, dmOptimize, {Write::WhenChanged, "Optimized"}},
      {dsDefragged, jcAutoDefrag, dmFast, {Write::WhenChanged, "AutoDefragged"}},
      {dsDefragged, jcAutoDefrag, dmOptimize, {Write::WhenChanged, "AutoDefragged"}},
      {dsDefragged, jcAnalyze, dmFast, keep},
      {dsDefragged, jcAnalyze, dmOptimize, keep},
      {dsIdle, jcManualDefrag, dmFast, {Write::WhenChanged, "Idle"}},
      {dsIdle, jcAutoDefrag, dmOptimize, {Write::WhenChanged, "Idle"}},
      {dsIdle, jcAnalyze, dmFast, {Write::WhenChanged, "Idle"}},
      {dsStopping, jcManualDefrag, dmOptimize, {Write::WhenChanged, "Stopping"}},
      {dsStopping, jcAutoDefrag, dmFast, {Write::WhenChanged, "Stopping"}},
      {dsStopping, jcAnalyze, dmFast, {Write::WhenChanged, "Stopping"}},
  };
  for (const StatusCase& c : cases)
    EXPECT_EQ(StatusColumnText(c.State, c.Command, c.Mode, 45, language), c.Expected)
        << "state " << int(c.State) << " command " << int(c.Command) << " mode " << int(c.Mode);
}

TEST(StatusTextsTest, StatusTextsComeFromTheLanguageFile) {
  TempDir folder;
  {
    std::ofstream file(folder.Path() / "Deutsch.lng");
    file << "[M]\nOptimizing=Optimiere\nIdle=Bereit\n";
  }
  TLanguage language(folder.Path());
  language.SetLanguage("Deutsch");
  EXPECT_EQ(StatusColumnText(dsDefragging, jcManualDefrag, dmOptimize, 7, language).Text,
            "Optimiere 7%");
  EXPECT_EQ(StatusColumnText(dsIdle, jcAnalyze, dmFast, 0, language).Text, "Bereit");
  // A key the file lacks gives the key itself.
  EXPECT_EQ(StatusColumnText(dsStopping, jcAnalyze, dmFast, 0, language).Text, "Stopping");
}

TEST(StatusTextsTest, ADeadJobShowsItsErrorInEachLanguage) {
  TLanguage language(SourceDir() / "language");
  EXPECT_EQ(DeadJobStatusText("GetVolumeBitmap Error", language),
            (CellUpdate{Write::WhenChanged, "Error: GetVolumeBitmap Error"}));
  language.SetLanguage("Deutsch");
  EXPECT_EQ(DeadJobStatusText("GetVolumeBitmap Error", language).Text,
            "Fehler: GetVolumeBitmap Error");
  language.SetLanguage("Francais");
  EXPECT_EQ(DeadJobStatusText("GetVolumeBitmap Error", language).Text,
            "Erreur : GetVolumeBitmap Error");
  // Without a language file, the built-in text.
  TempDir empty;
  TLanguage builtIn(empty.Path());
  EXPECT_EQ(DeadJobStatusText("x", builtIn).Text, "Error: x");
}

TEST(StatusTextsTest, TimeColumnShowsNeverLastOrLeftTime) {
  TLanguage language(SourceDir() / "language");
  CalendarTime when{2009, 5, 3, 14, 22, 10, 0};
  TDateTime last = 0;
  ASSERT_TRUE(TryEncodeDateTime(when, last));

  EXPECT_EQ(TimeColumnText(dsIdle, 0, "", language),
            (CellUpdate{Write::WhenChanged, "Never defrag the volume"}));
  EXPECT_EQ(TimeColumnText(dsDefragged, last, "", language),
            (CellUpdate{Write::WhenChanged, "Last defrag time: 2009-05-03,14:22:10"}));
  EXPECT_EQ(TimeColumnText(dsAnalyzing, last, "", language).Text,
            "Last defrag time: 2009-05-03,14:22:10");
  // While the pass runs, the time left replaces both, every tick.
  EXPECT_EQ(TimeColumnText(dsDefragging, last, "0:1:5", language),
            (CellUpdate{Write::Always, "Left time: 0:1:5"}));
  EXPECT_EQ(TimeColumnText(dsDefragging, 0, "0:0:0", language).Text, "Left time: 0:0:0");
}

TEST(StatusTextsTest, DatePatterns) {
  CalendarTime when{2026, 12, 9, 7, 5, 3, 999};
  TDateTime value = 0;
  ASSERT_TRUE(TryEncodeDateTime(when, value));
  EXPECT_EQ(FormatListTime(value), "2026-12-09,07:05:03");
  EXPECT_EQ(FormatAutoPageTime(value), "2026-12-09, 07:05:03");
}

TEST(StatusTextsTest, CapacityInGibibytesWithTheLocaleSeparator) {
  const uint64_t gib = 1024ull * 1024 * 1024;
  EXPECT_EQ(CapacityText(gib, "."), "1.00G");
  EXPECT_EQ(CapacityText(80026361856ull, "."), "74.53G");
  EXPECT_EQ(CapacityText(80026361856ull, ","), "74,53G");
  EXPECT_EQ(CapacityText(gib / 2, "."), "0.50G");
  EXPECT_EQ(CapacityText(0, "."), "0.00G");
}

TEST(StatusTextsTest, AutoPageLabels) {
  TLanguage language(SourceDir() / "language");
  EXPECT_EQ(AutoDefragCountText(12, language), "12 files has been defragmented");
  EXPECT_EQ(LastAutoDefragText(0, language), "Last Auto Defrag: Never defrag the volume");
  CalendarTime when{2026, 1, 2, 3, 4, 5, 0};
  TDateTime value = 0;
  ASSERT_TRUE(TryEncodeDateTime(when, value));
  EXPECT_EQ(LastAutoDefragText(value, language), "Last Auto Defrag: 2026-01-02, 03:04:05");
  TempDir empty;
  TLanguage builtIn(empty.Path());
  EXPECT_EQ(LastAutoDefragText(0, builtIn), "Last Auto Defrag: Never defragged");
}

TEST(StatusTextsTest, IntegerFormats) {
  EXPECT_EQ(FormatWithInteger("Pause Auto Defrag when resource usage exceeds(%%%d)", 40),
            "Pause Auto Defrag when resource usage exceeds(%40)");
  EXPECT_EQ(FormatWithInteger("%d files", -3), "-3 files");
  EXPECT_EQ(FormatWithInteger("no number", 5), "no number");
  EXPECT_EQ(FormatWithInteger("%d and %d", 5), "5 and %d");
}

TEST(StatusTextsTest, TextFormats) {
  EXPECT_EQ(FormatWithText("Error: %s", "disk gone"), "Error: disk gone");
  // The text is taken as it is: a "%d" or "%s" inside it stays.
  EXPECT_EQ(FormatWithText("%s (100%%)", "50%d %s"), "50%d %s (100%)");
  EXPECT_EQ(FormatWithText("%d then %s", "x"), "%d then x");
}

} // namespace
} // namespace quillo::test
