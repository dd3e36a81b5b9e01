// SPDX-License-Identifier: GPL-2.0-or-later
// Sorting the report list by clicks on the column titles.
#include <gtest/gtest.h>

#include "ReportWindowFixture.h"

namespace quillo::test {
namespace {

using Cells = std::vector<std::string>;

// Four rows whose keys differ per column.
TDefragReport& FillFourRows(ReportWorld& world, const std::string& volume) {
  TDefragReport& report = world.AddVolume(volume, 100000, dsDefragged);
  report.AddEntry(Entry(volume + "\\beta", fsDefragged, 300, 2));
  report.AddEntry(Entry(volume + "\\Alpha", fsNoSpace, 40, 9));
  report.AddEntry(Entry(volume + "\\_tmp", fsUnmovable, 1001, 5));
  report.AddEntry(Entry(volume + "\\gamma", fsAnalyzed, 7, 3));
  return report;
}

TEST(ReportSorting, EveryClickFlipsTheDirectionAlsoOnAnotherColumn) {
  ReportWorld world;
  FillFourRows(world, "C:");
  world.Open();
  TReportContent& page = world.Page(0);
  // Rows come in the report's order, and no column claims to sort them.
  EXPECT_EQ(ReportWorld::Column(page, 1), (Cells{"2", "9", "5", "3"}));
  QHeaderView& header = *page.ReportList->header();
  EXPECT_FALSE(header.isSortIndicatorShown());

  ReportWorld::ClickColumn(page, 1); // the program's first click: descending
  EXPECT_EQ(ReportWorld::Column(page, 1), (Cells{"9", "5", "3", "2"}));
  // The sorted column shows it, and which way.
  EXPECT_TRUE(header.isSortIndicatorShown());
  EXPECT_EQ(header.sortIndicatorSection(), 1);
  EXPECT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder);
  ReportWorld::ClickColumn(page, 1);
  EXPECT_EQ(ReportWorld::Column(page, 1), (Cells{"2", "3", "5", "9"}));
  EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);
  // Another column: the direction flips again, by cluster count.
  ReportWorld::ClickColumn(page, 3);
  EXPECT_EQ(ReportWorld::Column(page, 2), (Cells{"1001", "300", "40", "7"}));
  EXPECT_EQ(ReportWorld::Column(page, 3), (Cells{"3.91MB", "1.17MB", "160KB", "28KB"}));
  ReportWorld::ClickColumn(page, 2);
  EXPECT_EQ(ReportWorld::Column(page, 2), (Cells{"7", "40", "300", "1001"}));
  EXPECT_EQ(world.Form->SortOrder().SortColumn, 2);
  EXPECT_FALSE(world.Form->SortOrder().SortDescending);
  EXPECT_EQ(header.sortIndicatorSection(), 2);
  EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);
}

TEST(ReportSorting, NamesFoldOnlyTheLettersAndResultsCompareWithoutCase) {
  ReportWorld world;
  FillFourRows(world, "C:");
  world.Open();
  TReportContent& page = world.Page(0);
  ReportWorld::ClickColumn(page, 0); // descending
  ReportWorld::ClickColumn(page, 0); // ascending
  // "_" (0x5F) sorts before every letter once letters are folded to lower case.
  EXPECT_EQ(ReportWorld::Column(page, 0), (Cells{"C:\\_tmp", "C:\\Alpha", "C:\\beta", "C:\\gamma"}));
  ReportWorld::ClickColumn(page, 4); // descending
  EXPECT_EQ(ReportWorld::Column(page, 4), (Cells{"Unmovable", "NoSpace", "Defragged", "Analyzed"}));
}

TEST(ReportSorting, EqualKeysKeepTheirOrder) {
  ReportWorld world;
  TDefragReport& report = world.AddVolume("C:", 100000, dsAnalyzed);
  for (const char* name : {"C:\\c", "C:\\a", "C:\\d", "C:\\b"})
    report.AddEntry(Entry(name, fsAnalyzed, 8, 2));
  world.Open();
  TReportContent& page = world.Page(0);
  ReportWorld::ClickColumn(page, 1);
  EXPECT_EQ(ReportWorld::Column(page, 0), (Cells{"C:\\c", "C:\\a", "C:\\d", "C:\\b"}));
  ReportWorld::ClickColumn(page, 4);
  EXPECT_EQ(ReportWorld::Column(page, 0), (Cells{"C:\\c", "C:\\a", "C:\\d", "C:\\b"}));
}

TEST(ReportSorting, TheDirectionIsSharedByEveryTabAndEveryOpening) {
  ReportWorld world;
  FillFourRows(world, "C:");
  FillFourRows(world, "D:");
  world.Open();
  ReportWorld::ClickColumn(world.Page(0), 1); // descending on C:
  TReportContent& second = world.Page(1);
  ReportWorld::ClickColumn(second, 1); // ascending on D:
  EXPECT_EQ(ReportWorld::Column(second, 1), (Cells{"2", "3", "5", "9"}));
  // The other tab is not sorted again.
  EXPECT_EQ(ReportWorld::Column(world.Page(0), 1), (Cells{"9", "5", "3", "2"}));
  world.Close();
  world.Open();
  TReportContent& reopened = world.Page(0);
  // A new opening lists in the report's order, and the next click goes on
  // from the last direction.
  EXPECT_EQ(ReportWorld::Column(reopened, 1), (Cells{"2", "9", "5", "3"}));
  ReportWorld::ClickColumn(reopened, 1);
  EXPECT_EQ(ReportWorld::Column(reopened, 1), (Cells{"9", "5", "3", "2"}));
}

TEST(ReportSorting, RowsKeepTheirKeysWhenTheJobClearsAndRefillsItsReport) {
  ReportWorld world;
  TDefragReport& report = FillFourRows(world, "C:");
  world.Open();
  TReportContent& page = world.Page(0);
  // A new analysis starts while the window is open.
  report.Clear();
  report.AddEntry(Entry("C:\\other", fsAnalyzed, 1, 2));
  ReportWorld::ClickColumn(page, 2);
  EXPECT_EQ(ReportWorld::Column(page, 0), (Cells{"C:\\_tmp", "C:\\beta", "C:\\Alpha", "C:\\gamma"}));
  ReportWorld::ClickColumn(page, 0);
  EXPECT_EQ(ReportWorld::Column(page, 0), (Cells{"C:\\_tmp", "C:\\Alpha", "C:\\beta", "C:\\gamma"}));
}

TEST(ReportSorting, CompareFollowsTheSortColumnAndDirection) {
  ReportWorld world; // for the application
  const ReportListItem a(Entry("C:\\a", fsDefragged, 10, 3), "Defragged");
  const ReportListItem b(Entry("C:\\B", fsNoSpace, 20, 1), "nospace");
  struct Case {
    int Column;
    int Ascending; // sign of compare(a, b)
  };
  for (const Case& c : {Case{0, -1}, Case{1, 1}, Case{2, -1}, Case{3, -1}, Case{4, -1}}) {
    SCOPED_TRACE(c.Column);
    EXPECT_EQ(TReportContent::ReportListCompare(a, b, {c.Column, false}), c.Ascending);
    EXPECT_EQ(TReportContent::ReportListCompare(a, b, {c.Column, true}), -c.Ascending);
    EXPECT_EQ(TReportContent::ReportListCompare(a, a, {c.Column, true}), 0);
  }
}

} // namespace
} // namespace quillo::test
