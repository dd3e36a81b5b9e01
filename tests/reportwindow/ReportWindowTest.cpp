// SPDX-License-Identifier: GPL-2.0-or-later
// The report window: its tabs, figures, layout, suggestion and translation.
#include <gtest/gtest.h>

#include <algorithm>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "ReportWindowFixture.h"
#include "reportwindow/ReportFigures.h"

namespace quillo::test {
namespace {

std::string Text(const QLabel* label) { return label->text().toStdString(); }

std::vector<QLabel*> Titles(const TReportContent& page) {
  return {page.VersionTitle,          page.DiskSizeTitle,        page.DiskFreeSizeTitle,
          page.ClustersTitle,         page.SectorsPerClusterTitle, page.BytesPerSectorTitle,
          page.StartTimeTitle,        page.EndTimeTitle,         page.ElapsedTimeTitle,
          page.TotalFilesDirsTitle,   page.FragmentedFilesTitle, page.DefragmentedFilesTitle,
          page.FragmentionBTitle,     page.FragmentionATitle};
}

std::vector<QLabel*> Values(const TReportContent& page) {
  return {page.Labelxx,           page.LabelDiskSize,         page.LabelDiskFreeSize,
          page.LabelClusters,     page.LabelsectorsPerCluster, page.LabelBytesPerSector,
          page.LabelStartTime,    page.LabelEndTime,          page.LabelEclipseTime,
          page.LabelTotalFilesDirs, page.LabelFragmentedFiles, page.LabelDefragedFiles,
          page.FragmentionBContent, page.FragmentionAContent};
}

TEST(ReportWindow, OpensWithNoTabWhenNoVolumeIsTicked) {
  ReportWorld world;
  world.Open();
  EXPECT_TRUE(world.Form->isVisible());
  EXPECT_EQ(world.Form->ReportPages->count(), 0);
  EXPECT_EQ(world.Form->windowTitle().toStdString(), "Report");
  world.Close();
  EXPECT_FALSE(world.Form->isVisible());
}

TEST(ReportWindow, ControlsCarryTheirDesignNamesAndPlaces) {
  ReportWorld world;
  world.AddVolume("C:", 999, dsIdle);
  world.Open();
  TReportForm& form = *world.Form;
  EXPECT_EQ(form.objectName(), "ReportForm");
  EXPECT_EQ(form.ReportPages->objectName(), "ReportPages");
  EXPECT_EQ(form.CloseBtn->objectName(), "CloseBtn");
  EXPECT_EQ(form.CloseBtn->size(), QSize(75, 25));
  EXPECT_EQ(form.CloseBtn->y(), form.height() - (546 - 509));
  EXPECT_EQ(form.ReportPages->geometry(), QRect(0, 0, form.width(), form.height() - (546 - 497)));
  TReportContent& page = world.Page(0);
  EXPECT_EQ(page.objectName(), "ReportContent");
  const std::vector<std::pair<QWidget*, const char*>> named = {
      {page.VersionTitle, "VersionTitle"},   {page.Labelxx, "Labelxx"},
      {page.LabelsectorsPerCluster, "LabelsectorsPerCluster"},
      {page.LabelEclipseTime, "LabelEclipseTime"},
      {page.LabelDefragedFiles, "LabelDefragedFiles"},
      {page.FragmentionBContent, "FragmentionBContent"}, {page.ReportList, "ReportList"},
      {page.Image_suggestion, "Image_suggestion"},
      {page.Label_Suggestion_Caption, "Label_Suggestion_Caption"},
      {page.Label_Suggestion, "Label_Suggestion"}};
  for (const auto& [widget, name] : named) EXPECT_EQ(widget->objectName(), name);
  const std::vector<int> tops = {16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 211, 230};
  for (size_t i = 0; i < tops.size(); ++i) {
    EXPECT_EQ(Titles(page)[i]->y(), tops[i]) << i;
    EXPECT_EQ(Values(page)[i]->y(), tops[i]) << i;
  }
  EXPECT_EQ(page.ReportList->y(), 248);
  EXPECT_EQ(page.Image_suggestion->size(), QSize(17, 17));
  EXPECT_TRUE(page.FragmentionBTitle->font().bold());
  EXPECT_EQ(page.FragmentionBTitle->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_EQ(page.Label_Suggestion->font().pixelSize(), 16);
  EXPECT_TRUE(page.Label_Suggestion->font().bold());
  EXPECT_EQ(page.Label_Suggestion->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST(ReportWindow, OneTabPerTickedVolumeWithTheReportsFigures) {
  ReportWorld world;
  TDefragReport& c = world.AddVolume("C:", 19531250, dsAnalyzed); // 80,000,000,000 bytes
  c.FileCount = 1200;
  c.DirCount = 34;
  c.AddEntry(Entry("C:\\a", fsAnalyzed, 10, 2));
  c.AddEntry(Entry("C:\\d", fsAnalyzed, 4, 3, true));
  c.AddEntry(Entry("C:\\a", fsDefragged, 10, 1));
  TDefragReport& e = world.AddVolume("E:", 1001, dsIdle);
  world.Open();
  ASSERT_EQ(world.Form->ReportPages->count(), 2);
  EXPECT_EQ(world.Form->ReportPages->tabText(0).toStdString(), "C:");
  EXPECT_EQ(world.Form->ReportPages->tabText(1).toStdString(), "E:");
  EXPECT_EQ(world.Form->ReportPages->currentIndex(), 0);

  TReportContent& page = world.Page(0);
  EXPECT_EQ(Text(page.Labelxx), "Beta 6.10");
  EXPECT_EQ(Text(page.LabelDiskSize), "74.51GB");
  EXPECT_EQ(Text(page.LabelDiskFreeSize), "18.63GB");
  EXPECT_EQ(Text(page.LabelClusters), "19531250");
  EXPECT_EQ(Text(page.LabelsectorsPerCluster), "8");
  EXPECT_EQ(Text(page.LabelBytesPerSector), "512");
  // No pass ran: the design texts stay.
  EXPECT_EQ(Text(page.LabelStartTime), "00:00:00");
  EXPECT_EQ(Text(page.LabelEndTime), "00:00:00");
  EXPECT_EQ(Text(page.LabelEclipseTime), "00:00:00");
  EXPECT_EQ(Text(page.LabelTotalFilesDirs), "1234");
  EXPECT_EQ(Text(page.LabelFragmentedFiles), "2");
  EXPECT_EQ(Text(page.LabelDefragedFiles), "1");
  EXPECT_EQ(page.ReportList->topLevelItemCount(), 2);

  // A pass that ran from 12:00:00 to 12:03:07.
  world.Time.Set(46000.5);
  e.MarkStart();
  world.Time.Set(46000.5 + 187.0 / 86400.0);
  e.MarkEnd();
  world.Close();
  world.Open();
  TReportContent& second = world.Page(1);
  EXPECT_EQ(Text(second.LabelStartTime), "12:00:00");
  EXPECT_EQ(Text(second.LabelEndTime), "12:03:07");
  EXPECT_EQ(Text(second.LabelEclipseTime), "00:03:07");
  EXPECT_EQ(Text(second.LabelDiskSize), "3.91MB");
  EXPECT_EQ(Text(second.LabelTotalFilesDirs), "0");
  EXPECT_EQ(second.ReportList->topLevelItemCount(), 0);
  // An empty report: nothing fragmented, and the day rule decides.
  EXPECT_EQ(Text(second.FragmentionBContent), "0.00%");
  EXPECT_EQ(Text(second.Label_Suggestion), "Defrag & Optimize");
}

TEST(ReportWindow, RowsShowNameFragmentsClustersFourKilobyteSizesAndResult) {
  ReportWorld world;
  TDefragReport& report = world.AddVolume("C:", 100000, dsDefragged);
  report.AddEntry(Entry("C:\\big.iso", fsDefragged, 300, 7));
  report.AddEntry(Entry("C:\\Windows", fsNoSpace, 12, 2, true));
  report.AddEntry(Entry("C:\\pagefile.sys", fsUnmovable, 262144, 40));
  report.AddEntry(Entry("C:\\new.txt", fsAnalyzed, 3, 3));
  world.Open();
  TReportContent& page = world.Page(0);
  EXPECT_EQ(ReportWorld::Column(page, 0),
            (std::vector<std::string>{"C:\\big.iso", "C:\\Windows", "C:\\pagefile.sys", "C:\\new.txt"}));
  EXPECT_EQ(ReportWorld::Column(page, 1), (std::vector<std::string>{"7", "2", "40", "3"}));
  EXPECT_EQ(ReportWorld::Column(page, 2), (std::vector<std::string>{"300", "12", "262144", "3"}));
  EXPECT_EQ(ReportWorld::Column(page, 3), (std::vector<std::string>{"1.17MB", "48KB", "1.00GB", "12KB"}));
  EXPECT_EQ(ReportWorld::Column(page, 4),
            (std::vector<std::string>{"Defragged", "NoSpace", "Unmovable", "Analyzed"}));
  QTreeWidgetItem* header = page.ReportList->headerItem();
  const std::vector<std::string> titles = {"FileName", "Fragment", "Clusters", "Size", "Result"};
  const std::vector<Qt::Alignment> alignments = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignRight,
                                                 Qt::AlignRight, Qt::AlignHCenter};
  const std::vector<int> widths = {0, 80, 70, 60, 80};
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(header->text(column).toStdString(), titles[size_t(column)]);
    EXPECT_TRUE(Qt::Alignment(header->textAlignment(column)) & alignments[size_t(column)]);
    EXPECT_TRUE(Qt::Alignment(page.ReportList->topLevelItem(0)->textAlignment(column)) &
                alignments[size_t(column)]);
    if (column > 0) {
      EXPECT_EQ(page.ReportList->columnWidth(column), widths[size_t(column)]);
    }
  }
}

TEST(ReportWindow, TheLayoutPassPutsTitlesBeforeAndValuesAfterTheCentre) {
  ReportWorld world;
  world.AddVolume("C:", 1000, dsAnalyzed).AddEntry(Entry("C:\\a", fsAnalyzed, 200, 2));
  world.AddVolume("D:", 1000, dsDefragged);
  world.Open();
  for (int index : {0, 1}) {
    SCOPED_TRACE(index);
    TReportContent& page = world.Page(index);
    EXPECT_EQ(page.geometry().size(), page.parentWidget()->size());
    const int half = page.width() / 2;
    for (QLabel* title : Titles(page)) EXPECT_EQ(title->x() + title->width(), half) << Text(title);
    for (QLabel* value : Values(page)) EXPECT_EQ(value->x(), half + 5) << Text(value);
    EXPECT_EQ(page.Label_Suggestion_Caption->x() + page.Label_Suggestion_Caption->width(), half);
    EXPECT_EQ(page.Image_suggestion->x(), half - page.Label_Suggestion_Caption->width() - 34);
    EXPECT_EQ(page.Label_Suggestion->x(), half + 5);
    EXPECT_EQ(page.ReportList->x(), 0);
    EXPECT_EQ(page.ReportList->width(), page.width());
    EXPECT_EQ(page.ReportList->columnWidth(0), page.ReportList->width() - 314);
  }
  const TReportForm& form = *world.Form;
  EXPECT_EQ(form.CloseBtn->x(), form.width() / 2 - 75 / 2);
}

TEST(ReportWindow, AFinishedPassShowsTheAfterFigureAndGivesTheSuggestionLineToTheList) {
  ReportWorld world;
  // 1000 clusters counted as 1001: 300 listed, 100 of them still not done.
  TDefragReport& done = world.AddVolume("C:", 1000, dsDefragged);
  done.AddEntry(Entry("C:\\a", fsDefragged, 200, 1));
  done.AddEntry(Entry("C:\\b", fsNoSpace, 100, 4));
  TDefragReport& analysed = world.AddVolume("D:", 1000, dsAnalyzed);
  analysed.AddEntry(Entry("D:\\a", fsAnalyzed, 200, 3));
  analysed.AddEntry(Entry("D:\\b", fsAnalyzed, 100, 4));
  world.Open();

  TReportContent& finished = world.Page(0);
  EXPECT_EQ(Text(finished.FragmentionBContent), "29.97%");
  EXPECT_EQ(Text(finished.FragmentionAContent), "9.99%");
  EXPECT_TRUE(finished.FragmentionATitle->isVisible());
  EXPECT_TRUE(finished.FragmentionAContent->isVisible());
  EXPECT_FALSE(finished.Image_suggestion->isVisible());
  EXPECT_FALSE(finished.Label_Suggestion_Caption->isVisible());
  EXPECT_FALSE(finished.Label_Suggestion->isVisible());
  EXPECT_EQ(finished.ReportList->geometry().bottom() + 1, finished.height());
  // Worked out though hidden: 29 percent.
  EXPECT_EQ(Text(finished.Label_Suggestion), "Defrag Only");

  TReportContent& analysing = world.Page(1);
  EXPECT_EQ(Text(analysing.FragmentionBContent), "29.97%");
  EXPECT_FALSE(analysing.FragmentionATitle->isVisible());
  EXPECT_FALSE(analysing.FragmentionAContent->isVisible());
  EXPECT_TRUE(analysing.Image_suggestion->isVisible());
  EXPECT_TRUE(analysing.Label_Suggestion_Caption->isVisible());
  EXPECT_TRUE(analysing.Label_Suggestion->isVisible());
  const int listBottom = analysing.ReportList->geometry().bottom() + 1;
  // The design's 25 pixels, or the suggestion's line where the font is
  // taller: the line is never cut at the bottom.
  const int lineHeight = std::max(25, 5 + analysing.Label_Suggestion_Caption->height());
  EXPECT_EQ(listBottom, analysing.height() - lineHeight);
  EXPECT_LE(analysing.Label_Suggestion_Caption->geometry().bottom() + 1, analysing.height());
  EXPECT_EQ(analysing.Label_Suggestion->y(), listBottom + 5);
  EXPECT_EQ(analysing.Label_Suggestion_Caption->y(), listBottom + 5);
  EXPECT_EQ(analysing.Image_suggestion->y(), listBottom + 5);
  EXPECT_EQ(Text(analysing.Label_Suggestion_Caption), "Suggestion:");
  EXPECT_EQ(Text(analysing.Label_Suggestion), "Defrag Only");
}

TEST(ReportWindow, TheSuggestionCountsDaysSinceTheLastOptimisationOfTheTabsDrive) {
  ReportWorld world;
  const TDateTime now = world.Time.Now();
  world.Settings.LastOptimizeTime[size_t(TSetting::DriveIndex('D'))] = now - 0.75;
  world.Settings.LastOptimizeTime[size_t(TSetting::DriveIndex('E'))] = now - 3.2;
  // Of 999 + 1 clusters, 110 are above ten percent and 100 are not.
  world.AddVolume("C:", 999, dsAnalyzed).AddEntry(Entry("C:\\f", fsAnalyzed, 110, 2));
  world.AddVolume("D:", 999, dsAnalyzed).AddEntry(Entry("D:\\f", fsAnalyzed, 100, 2));
  world.AddVolume("E:", 999, dsAnalyzed).AddEntry(Entry("E:\\f", fsAnalyzed, 100, 2));
  world.AddVolume("F:", 999, dsAnalyzed).AddEntry(Entry("F:\\f", fsAnalyzed, 100, 2));
  world.Open();
  EXPECT_EQ(Text(world.Page(0).Label_Suggestion), "Defrag Only");
  EXPECT_EQ(Text(world.Page(1).Label_Suggestion), "Not need to defrag");
  EXPECT_EQ(Text(world.Page(2).Label_Suggestion), "Defrag & Optimize");
  // Never optimised.
  EXPECT_EQ(Text(world.Page(3).Label_Suggestion), "Defrag & Optimize");
}

TEST(ReportWindow, EveryOpeningLeavesTheWindowOnePixelWider) {
  ReportWorld world;
  world.AddVolume("C:", 1000, dsAnalyzed);
  TReportForm& form = *world.Form;
  EXPECT_EQ(form.size(), QSize(516, 546));
  world.Open();
  world.Close();
  world.Open();
  world.Close();
  EXPECT_EQ(form.size(), QSize(518, 546));
  world.Open();
  EXPECT_EQ(form.width(), 519);
  EXPECT_EQ(form.ReportPages->width(), 519);
  EXPECT_EQ(form.CloseBtn->x(), 519 / 2 - 75 / 2);
  EXPECT_EQ(world.Page(0).ReportList->width(), world.Page(0).width());
}

TEST(ReportWindow, ClosingFreesTheTabsAndTheNextOpeningReadsTheReportsAgain) {
  ReportWorld world;
  TDefragReport& report = world.AddVolume("C:", 1000, dsAnalyzed);
  report.AddEntry(Entry("C:\\a", fsAnalyzed, 10, 2));
  world.Open();
  QPointer<TReportTab> tab = world.Form->Tabs().at(0);
  QPointer<TReportContent> content = tab->Content;
  // Figures change while the window is open: it keeps what it read.
  report.AddEntry(Entry("C:\\b", fsAnalyzed, 10, 2));
  world.Volumes[0].State = dsDefragged;
  QApplication::processEvents();
  EXPECT_EQ(content->ReportList->topLevelItemCount(), 1);
  EXPECT_FALSE(content->FragmentionAContent->isVisible());
  world.Close();
  EXPECT_TRUE(tab.isNull());
  EXPECT_TRUE(content.isNull());
  EXPECT_EQ(world.Form->ReportPages->count(), 0);
  world.Open();
  TReportContent& page = world.Page(0);
  EXPECT_EQ(page.ReportList->topLevelItemCount(), 2);
  EXPECT_TRUE(page.FragmentionAContent->isVisible());
  // Hidden without closing and shown again: the tabs are built once.
  world.Form->hide();
  world.Open();
  EXPECT_EQ(world.Form->ReportPages->count(), 1);
  // Escape closes as the button does.
  QTest::keyClick(world.Form.get(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(world.Form->isVisible());
  EXPECT_EQ(world.Form->ReportPages->count(), 0);
}

TEST(ReportWindow, ShowModalCentresOnTheMainWindowAndReturnsWhenClosed) {
  ReportWorld world;
  QWidget mainWindow;
  mainWindow.setGeometry(200, 150, 756, 564);
  mainWindow.show();
  TReportForm form(world.Settings, world.Time, &mainWindow);
  world.AddVolume("C:", 1000, dsAnalyzed);
  form.SetVolumeSource([&world] { return world.Volumes; });
  bool checked = false;
  QTimer::singleShot(0, &form, [&] {
    checked = true;
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isModal());
    EXPECT_EQ(form.ReportPages->count(), 1);
    // Centred as placed, before the opening widened it by a pixel.
    const QPoint expected = mainWindow.frameGeometry().center() -
                            QRect(QPoint(0, 0), QSize(516, 546)).center();
    EXPECT_LE((form.pos() - expected).manhattanLength(), 1);
    form.CloseBtn->click();
  });
  form.ShowModal();
  EXPECT_TRUE(checked);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.ReportPages->count(), 0);
}

TEST(ReportWindow, TranslatesTheWindowItsFramesAndTheRunTimeTexts) {
  ReportWorld world;
  world.Settings.Translator.Current = "Deutsch";
  TDefragReport& report = world.AddVolume("C:", 1000, dsAnalyzed);
  report.AddEntry(Entry("C:\\a", fsAnalyzed, 10, 2));
  report.AddEntry(Entry("C:\\b", fsNoSpace, 10, 2));
  // What the language facility does when the language changes while no tab
  // exists.
  world.Form->Translate();
  EXPECT_EQ(world.Form->windowTitle().toStdString(), "Bericht");
  world.Open();
  EXPECT_EQ(world.Form->CloseBtn->text().toStdString(), "Schließen");
  EXPECT_EQ(world.Form->ReportPages->tabText(0).toStdString(), "C:");
  TReportContent& page = world.Page(0);
  EXPECT_EQ(Text(page.DiskSizeTitle), "Größe des Datenträgers:");
  EXPECT_EQ(Text(page.Label_Suggestion_Caption), "Empfehlung:");
  EXPECT_EQ(page.ReportList->headerItem()->text(0).toStdString(), "Dateiname");
  EXPECT_EQ(page.ReportList->headerItem()->text(4).toStdString(), "Ergebnis");
  EXPECT_EQ(ReportWorld::Column(page, 4), (std::vector<std::string>{"Analysiert", "Kein Platz"}));
  EXPECT_EQ(Text(page.Label_Suggestion),
            world.Settings.Translator.Lookup(messages::kSuggestDefragOptimize));
  EXPECT_NE(Text(page.Label_Suggestion), "Defrag & Optimize");
  // Longer titles still end at the centre.
  const int half = page.width() / 2;
  for (QLabel* title : Titles(page)) EXPECT_EQ(title->x() + title->width(), half) << Text(title);
  // The value labels have no keys and keep their figures.
  EXPECT_EQ(Text(page.Labelxx), "Beta 6.10");
}

} // namespace
} // namespace quillo::test
