// SPDX-License-Identifier: GPL-2.0-or-later
// The texts of the report tab's figures and the rule of its suggestion.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "QtTestApplication.h"
#include "reportwindow/ReportFigures.h"

namespace quillo::test {
namespace {

TEST(FormatSize, KilobytesMegabytesAndGigabytesWithTwoDecimals) {
  struct Case {
    uint64_t Kilobytes;
    const char* Text;
  };
  for (const Case& c : {Case{0, "0KB"}, Case{512, "512KB"}, Case{1023, "1023KB"},
                        Case{1024, "1.00MB"}, Case{1536, "1.50MB"},
                        // 300 clusters at four kilobytes each
                        Case{1200, "1.17MB"}, Case{1048575, "1024.00MB"},
                        Case{1048576, "1.00GB"}, Case{1572864, "1.50GB"},
                        // No thousands separator however large.
                        Case{5ULL * 1024 * 1048576, "5120.00GB"}}) {
    SCOPED_TRACE(c.Kilobytes);
    EXPECT_EQ(FormatSize(c.Kilobytes, QLocale::c()).toStdString(), c.Text);
  }
}

TEST(FormatSize, UsesTheDecimalSeparatorOfTheLocale) {
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(FormatSize(1536, german).toStdString(), "1,50MB");
  EXPECT_EQ(FormatSize(5ULL * 1024 * 1048576, german).toStdString(), "5120,00GB");
  EXPECT_EQ(FragmentationText(1, 3, german).toStdString(), "25,00%");
}

TEST(FragmentationText, SharesOfTheVolumeCountedOneClusterLarger) {
  struct Case {
    uint64_t Clusters;
    uint32_t Total;
    const char* Text;
  };
  for (const Case& c : {Case{0, 0, "0.00%"}, Case{0, 999, "0.00%"}, Case{110, 999, "11.00%"},
                        Case{1, 2, "33.33%"}, Case{2, 2, "66.67%"},
                        // The largest cluster count does not wrap to a division by zero.
                        Case{0xFFFFFFFFULL, std::numeric_limits<uint32_t>::max(), "100.00%"}}) {
    SCOPED_TRACE(c.Clusters);
    EXPECT_EQ(FragmentationText(c.Clusters, c.Total, QLocale::c()).toStdString(), c.Text);
  }
}

TEST(TimeOfDayText, TheClockTimeInTheLocalesLongFormatWithoutTheZone) {
  EnsureQtApplication();
  // 46000 is a day; 14:03:07 is 50587 seconds into it.
  const TDateTime afternoon = 46000.0 + 50587.0 / 86400.0;
  EXPECT_EQ(TimeOfDayText(afternoon, QLocale(QLocale::German, QLocale::Germany)).toStdString(),
            "14:03:07");
  EXPECT_EQ(TimeOfDayText(afternoon, QLocale(QLocale::English, QLocale::UnitedStates)).toStdString(),
            "2:03:07 PM");
  // Rounded to the millisecond, as the date-time is decoded; a moment before
  // midnight does not become 24:00:00.
  EXPECT_EQ(TimeOfDayText(46000.0 + 3.0 / 86400.0 - 1e-10, QLocale(QLocale::German)).toStdString(),
            "00:00:03");
  EXPECT_EQ(TimeOfDayText(46001.0 - 0.4 / 86400000.0, QLocale(QLocale::German)).toStdString(),
            "00:00:00");
}

TEST(Suggestion, AboveTenPercentDefragOnlyOtherwiseByTheDaysSinceTheLastOptimisation) {
  constexpr TDateTime kNow = 46000.75;
  struct Case {
    const char* Name;
    uint64_t Listed;
    uint32_t Total;
    TDateTime LastOptimize;
    const MessageText* Expected;
  };
  // With 999 clusters the percentage is taken of 1000.
  for (const Case& c : {
           Case{"ElevenPercent", 110, 999, kNow, &messages::kSuggestDefragOnly},
           Case{"TenPercentExactly", 100, 999, kNow, &messages::kNotNeedDefrag},
           Case{"JustBelowElevenIsTen", 109, 999, kNow, &messages::kNotNeedDefrag},
           Case{"TenPercentNeverOptimised", 100, 999, 0, &messages::kSuggestDefragOptimize},
           Case{"OptimisedHoursAgo", 5, 999, kNow - 0.9, &messages::kNotNeedDefrag},
           Case{"OptimisedADayAgo", 5, 999, kNow - 1.0, &messages::kSuggestDefragOptimize},
           Case{"OptimisedLaterThanNow", 5, 999, kNow + 0.5, &messages::kNotNeedDefrag},
           Case{"EmptyReportNeverOptimised", 0, 0, 0, &messages::kSuggestDefragOptimize},
           Case{"EmptyVolumeListed", 5, 0, kNow, &messages::kSuggestDefragOnly},
       }) {
    SCOPED_TRACE(c.Name);
    const MessageText& text = SuggestionFor(c.Listed, c.Total, c.LastOptimize, kNow);
    EXPECT_EQ(text.Section, c.Expected->Section);
    EXPECT_EQ(text.Key, c.Expected->Key);
    EXPECT_EQ(text.Default, c.Expected->Default);
  }
  EXPECT_EQ(messages::kSuggestDefragOnly.Default, "Defrag Only");
  EXPECT_EQ(messages::kSuggestDefragOptimize.Default, "Defrag & Optimize");
  EXPECT_EQ(messages::kNotNeedDefrag.Default, "Not need to defrag");
}

TEST(StatusText, TheFourOutcomesOfAReportEntry) {
  EXPECT_EQ(StatusTextFor(fsAnalyzed)->Key, "Analyzed");
  EXPECT_EQ(StatusTextFor(fsDefragged)->Key, "Defrag");
  EXPECT_EQ(StatusTextFor(fsDefragged)->Default, "Defragged");
  EXPECT_EQ(StatusTextFor(fsNoSpace)->Key, "NoSpace");
  EXPECT_EQ(StatusTextFor(fsUnmovable)->Key, "Unmovable");
  EXPECT_EQ(StatusTextFor(fsNone), nullptr);
  EXPECT_EQ(StatusTextFor(fsTargetInUse), nullptr);
}

} // namespace
} // namespace quillo::test
