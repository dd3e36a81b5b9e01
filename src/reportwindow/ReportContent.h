// SPDX-License-Identifier: GPL-2.0-or-later
// TReportContent: the page of one volume in the report window. The volume's
// figures and times, its counters, the fragmentation before and after the
// last pass, a suggestion, and the sortable list of the files the report
// names.
#pragma once

#include <cstdint>

#include <QWidget>

#include "engine/DefragDefine.h"
#include "reportwindow/ReportSortOrder.h"
#include "reportwindow/ReportVolume.h"
#include "settings/Component.h"
#include "settings/Language.h"

class QLabel;
class QTreeWidget;

namespace quillo {

class ReportListItem;

class TReportContent : public QWidget {
  Q_OBJECT

public:
  static constexpr int kDesignWidth = 482;
  static constexpr int kDesignHeight = 467;
  static constexpr int kListTop = 248;
  // Room under the list for the suggestion line, and its distance from the
  // list.
  static constexpr int kSuggestionLineHeight = 25;
  static constexpr int kSuggestionGap = 5;
  static constexpr int kValueGap = 5;
  static constexpr int kImageSize = 17;
  // What the columns other than the first take, with the list's borders and
  // scroll bar.
  static constexpr int kOtherColumnsWidth = 314;
  // Room for the vertical scroll bar when the rows are filled in.
  static constexpr int kScrollBarWidth = 18;

  // `sortOrder` is the window's, shared with its other tabs.
  TReportContent(ReportSortOrder& sortOrder, QWidget* parent);

  // Fills the page from a volume's report: labels, rows, the "after" pair
  // or the suggestion (by the state), the fragmentation texts. The
  // suggestion's day rule measures from `lastOptimize` (0 for never) to
  // `now`.
  void ShowVolume(const ReportVolume& volume, TLanguage& language, TDateTime lastOptimize,
                  TDateTime now);
  // Leaves room for the scroll bar in the name column.
  void NarrowNameColumn();

  // The frame for the language facility (section "ReportContent"), and the
  // translated texts back into the controls.
  Component Describe() const;
  void ApplyTexts(const Component& frame);

  // Handlers.
  void FrameCanResize();
  void ReportListColumnClick(int column);
  // Negative, zero or positive as `item1` sorts before, with or after
  // `item2` under `order`.
  static int ReportListCompare(const ReportListItem& item1, const ReportListItem& item2,
                               const ReportSortOrder& order);

  // Controls, named by their design names (also their objectName()).
  QLabel* VersionTitle = nullptr;
  QLabel* Labelxx = nullptr;
  QLabel* DiskSizeTitle = nullptr;
  QLabel* LabelDiskSize = nullptr;
  QLabel* DiskFreeSizeTitle = nullptr;
  QLabel* LabelDiskFreeSize = nullptr;
  QLabel* ClustersTitle = nullptr;
  QLabel* LabelClusters = nullptr;
  QLabel* SectorsPerClusterTitle = nullptr;
  QLabel* LabelsectorsPerCluster = nullptr;
  QLabel* BytesPerSectorTitle = nullptr;
  QLabel* LabelBytesPerSector = nullptr;
  QLabel* StartTimeTitle = nullptr;
  QLabel* LabelStartTime = nullptr;
  QLabel* EndTimeTitle = nullptr;
  QLabel* LabelEndTime = nullptr;
  QLabel* ElapsedTimeTitle = nullptr;
  QLabel* LabelEclipseTime = nullptr;
  QLabel* TotalFilesDirsTitle = nullptr;
  QLabel* LabelTotalFilesDirs = nullptr;
  QLabel* FragmentedFilesTitle = nullptr;
  QLabel* LabelFragmentedFiles = nullptr;
  QLabel* DefragmentedFilesTitle = nullptr;
  QLabel* LabelDefragedFiles = nullptr;
  QLabel* FragmentionBTitle = nullptr;
  QLabel* FragmentionBContent = nullptr;
  QLabel* FragmentionATitle = nullptr;
  QLabel* FragmentionAContent = nullptr;
  QTreeWidget* ReportList = nullptr;
  QLabel* Image_suggestion = nullptr;
  QLabel* Label_Suggestion_Caption = nullptr;
  QLabel* Label_Suggestion = nullptr;

protected:
  // A new palette (a dark one, say) recolours the emphasised texts.
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  // The room below the list for the suggestion line.
  int SuggestionLineHeight() const;
  void CreateLabels();
  void CreateReportList();
  void CreateSuggestion();
  void SortReportList();

  ReportSortOrder& SortOrder;
  // A finished pass (state 5) shows the "after" pair instead of the
  // suggestion line, and the list takes its room.
  bool SuggestionShown = true;
};

} // namespace quillo
