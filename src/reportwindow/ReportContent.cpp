// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReportContent.h"

#include <algorithm>
#include <array>
#include <string>

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>

#include "reportwindow/ReadableColour.h"
#include "reportwindow/ReportFigures.h"
#include "reportwindow/ReportListItem.h"
#include "reportwindow/WidgetComponents.h"

namespace quillo {

namespace {

using LabelMember = QLabel* TReportContent::*;

// One line of figures: a title ending at the page's centre and its value
// beginning just right of it.
struct FigureLine {
  int Top;
  LabelMember Title;
  const char* TitleName;
  const char* TitleText;
  LabelMember Value;
  const char* ValueName;
  const char* ValueText; // shown until the opening fills it in
};

const std::array<FigureLine, 14> kFigureLines = {{
    {16, &TReportContent::VersionTitle, "VersionTitle", "Corvana QuilloDefrag Version:",
     &TReportContent::Labelxx, "Labelxx", "Beta 6.10"},
    {32, &TReportContent::DiskSizeTitle, "DiskSizeTitle", "Disk Size:",
     &TReportContent::LabelDiskSize, "LabelDiskSize", "0KB"},
    {48, &TReportContent::DiskFreeSizeTitle, "DiskFreeSizeTitle", "Free Size:",
     &TReportContent::LabelDiskFreeSize, "LabelDiskFreeSize", "0KB"},
    {64, &TReportContent::ClustersTitle, "ClustersTitle", "Clusters:",
     &TReportContent::LabelClusters, "LabelClusters", "0"},
    {80, &TReportContent::SectorsPerClusterTitle, "SectorsPerClusterTitle",
     "Sectors Per Cluster:", &TReportContent::LabelsectorsPerCluster, "LabelsectorsPerCluster",
     "0"},
    {96, &TReportContent::BytesPerSectorTitle, "BytesPerSectorTitle", "Bytes Per Sector:",
     &TReportContent::LabelBytesPerSector, "LabelBytesPerSector", "0"},
    {112, &TReportContent::StartTimeTitle, "StartTimeTitle", "Start Defragmentation At:",
     &TReportContent::LabelStartTime, "LabelStartTime", "00:00:00"},
    {128, &TReportContent::EndTimeTitle, "EndTimeTitle", "Complete Defragmentation At:",
     &TReportContent::LabelEndTime, "LabelEndTime", "00:00:00"},
    {144, &TReportContent::ElapsedTimeTitle, "ElapsedTimeTitle", "ElapsedTime:",
     &TReportContent::LabelEclipseTime, "LabelEclipseTime", "00:00:00"},
    {160, &TReportContent::TotalFilesDirsTitle, "TotalFilesDirsTitle", "Total Files/Dirs:",
     &TReportContent::LabelTotalFilesDirs, "LabelTotalFilesDirs", "0"},
    {176, &TReportContent::FragmentedFilesTitle, "FragmentedFilesTitle",
     "Fragmented File Count:", &TReportContent::LabelFragmentedFiles, "LabelFragmentedFiles",
     "0"},
    {192, &TReportContent::DefragmentedFilesTitle, "DefragmentedFilesTitle",
     "Defraged File Count:", &TReportContent::LabelDefragedFiles, "LabelDefragedFiles", "0"},
    {211, &TReportContent::FragmentionBTitle, "FragmentionBTitle", "Fragmentation Before:",
     &TReportContent::FragmentionBContent, "FragmentionBContent", "0.00%"},
    {230, &TReportContent::FragmentionATitle, "FragmentionATitle", "Fragmentation After:",
     &TReportContent::FragmentionAContent, "FragmentionAContent", "0.00%"},
}};

struct ColumnSpec {
  const char* Caption;
  int Width;
};

const std::array<ColumnSpec, ReportListItem::kColumnCount> kColumns = {{
    {"FileName", 180},
    {"Fragment", 80},
    {"Clusters", 70},
    {"Size", 60},
    {"Result", 80},
}};

constexpr int kSuggestionPixelSize = 16;
constexpr uint64_t kBytesPerKilobyte = 1024;
const QColor kEmphasisColour(0, 0, 255);

// Folds only the letters A to Z, so that names sort in byte order otherwise.
int CompareFolded(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    auto fold = [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return (byte >= 'A' && byte <= 'Z') ? byte + ('a' - 'A') : int(byte);
    };
    const int x = fold(a[i]);
    const int y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareNumbers(uint32_t a, uint32_t b) { return a == b ? 0 : (a < b ? -1 : 1); }

int Sign(int value) { return value == 0 ? 0 : (value < 0 ? -1 : 1); }

// The design's blue, or a lighter or darker one where the page's background
// leaves it too little contrast (a dark palette). The page's palette is
// asked: a label learns of a new one only after its page.
void ColourEmphasis(QLabel& label) {
  QPalette palette = label.palette();
  const QColor background = label.parentWidget()->palette().color(QPalette::Window);
  const QColor readable = ReadableOn(kEmphasisColour, background);
  if (palette.color(QPalette::WindowText) == readable) return;
  palette.setColor(QPalette::WindowText, readable);
  label.setPalette(palette);
}

void Emphasise(QLabel& label) {
  QFont font = label.font();
  font.setBold(true);
  label.setFont(font);
  ColourEmphasis(label);
}

QFont SuggestionFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(kSuggestionPixelSize);
  font.setBold(true);
  return font;
}

// The suggestion's picture: a small lit bulb.
QPixmap SuggestionPicture() {
  QPixmap picture(TReportContent::kImageSize, TReportContent::kImageSize);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QRadialGradient glass(QPointF(7.0, 5.5), 7.0);
  glass.setColorAt(0.0, QColor(255, 250, 200));
  glass.setColorAt(1.0, QColor(245, 190, 30));
  painter.setPen(QPen(QColor(170, 120, 0), 1.0));
  painter.setBrush(glass);
  QPainterPath bulb;
  bulb.addEllipse(QRectF(2.5, 0.5, 12.0, 11.0));
  bulb.addRect(QRectF(5.5, 9.0, 6.0, 3.0));
  painter.drawPath(bulb.simplified());
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(120, 120, 130));
  painter.drawRoundedRect(QRectF(5.5, 12.0, 6.0, 4.5), 1.5, 1.5);
  painter.setPen(QPen(QColor(200, 200, 205), 1.0));
  painter.drawLine(QPointF(6.0, 13.5), QPointF(11.0, 13.5));
  return picture;
}

} // namespace

TReportContent::TReportContent(ReportSortOrder& sortOrder, QWidget* parent)
    : QWidget(parent), SortOrder(sortOrder) {
  setObjectName(QStringLiteral("ReportContent"));
  resize(kDesignWidth, kDesignHeight);
  CreateLabels();
  CreateReportList();
  CreateSuggestion();
  FrameCanResize();
}

void TReportContent::CreateLabels() {
  for (const FigureLine& line : kFigureLines) {
    auto* title = new QLabel(QString::fromUtf8(line.TitleText), this);
    title->setObjectName(QString::fromUtf8(line.TitleName));
    title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* value = new QLabel(QString::fromUtf8(line.ValueText), this);
    value->setObjectName(QString::fromUtf8(line.ValueName));
    this->*line.Title = title;
    this->*line.Value = value;
  }
  Emphasise(*FragmentionBTitle);
  Emphasise(*FragmentionATitle);
  for (const FigureLine& line : kFigureLines) {
    (this->*line.Title)->adjustSize();
    (this->*line.Value)->adjustSize();
    (this->*line.Title)->move((this->*line.Title)->x(), line.Top);
    (this->*line.Value)->move((this->*line.Value)->x(), line.Top);
  }
}

void TReportContent::CreateReportList() {
  ReportList = new QTreeWidget(this);
  ReportList->setObjectName(QStringLiteral("ReportList"));
  ReportList->setColumnCount(ReportListItem::kColumnCount);
  ReportList->setRootIsDecorated(false);
  ReportList->setUniformRowHeights(true);
  ReportList->setItemsExpandable(false);
  ReportList->setAllColumnsShowFocus(true);
  ReportList->setSelectionMode(QAbstractItemView::SingleSelection);
  ReportList->setSelectionBehavior(QAbstractItemView::SelectRows);
  ReportList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* header = ReportList->header();
  header->setStretchLastSection(false);
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setSortIndicatorShown(false);
  QTreeWidgetItem* titles = ReportList->headerItem();
  for (int column = 0; column < ReportListItem::kColumnCount; ++column) {
    titles->setText(column, QString::fromUtf8(kColumns[size_t(column)].Caption));
    titles->setTextAlignment(column, ReportListItem::ColumnAlignment(column));
    ReportList->setColumnWidth(column, kColumns[size_t(column)].Width);
  }
  connect(header, &QHeaderView::sectionClicked, this, &TReportContent::ReportListColumnClick);
}

void TReportContent::CreateSuggestion() {
  Image_suggestion = new QLabel(this);
  Image_suggestion->setObjectName(QStringLiteral("Image_suggestion"));
  Image_suggestion->setPixmap(SuggestionPicture());
  Image_suggestion->resize(kImageSize, kImageSize);
  Label_Suggestion_Caption = new QLabel(QStringLiteral("Suggestion:"), this);
  Label_Suggestion_Caption->setObjectName(QStringLiteral("Label_Suggestion_Caption"));
  Label_Suggestion_Caption->setFont(SuggestionFont());
  Label_Suggestion_Caption->adjustSize();
  Label_Suggestion = new QLabel(this);
  Label_Suggestion->setObjectName(QStringLiteral("Label_Suggestion"));
  Label_Suggestion->setFont(SuggestionFont());
  Emphasise(*Label_Suggestion);
  Label_Suggestion->adjustSize();
}

void TReportContent::ShowVolume(const ReportVolume& volume, TLanguage& language,
                                TDateTime lastOptimize, TDateTime now) {
  const TDefragReport& report = *volume.Report;
  const VolumeFigures figures = report.GetVolumeFigures();
  // A run nobody attended skipped the volume: the suggestion line says so,
  // whatever the state of the work done before.
  const bool skipped = !report.Skipped().empty();
  SuggestionShown = volume.State != dsDefragged || skipped;

  SetLabelText(*LabelDiskSize, FormatSize(figures.TotalBytes / kBytesPerKilobyte));
  SetLabelText(*LabelDiskFreeSize, FormatSize(figures.FreeBytes / kBytesPerKilobyte));
  SetLabelText(*LabelClusters, QString::number(figures.TotalClusters));
  SetLabelText(*LabelsectorsPerCluster, QString::number(figures.SectorsPerCluster));
  SetLabelText(*LabelBytesPerSector, QString::number(figures.BytesPerSector));
  if (report.StartTime() != 0) SetLabelText(*LabelStartTime, TimeOfDayText(report.StartTime()));
  if (report.EndTime() != 0) SetLabelText(*LabelEndTime, TimeOfDayText(report.EndTime()));
  SetLabelText(*LabelEclipseTime, QString::fromStdString(report.ElapsedText()));
  SetLabelText(*LabelTotalFilesDirs,
               QString::number(int64_t(report.FileCount) + int64_t(report.DirCount)));
  SetLabelText(*LabelFragmentedFiles, QString::number(int64_t(report.FragmentedDirCount) +
                                                      int64_t(report.FragmentedFileCount)));
  SetLabelText(*LabelDefragedFiles, QString::number(int64_t(report.DefraggedDirCount) +
                                                    int64_t(report.DefraggedFileCount)));

  // The status texts, looked up once per opening.
  std::array<QString, fsUnmovable + 1> statusTexts;
  for (uint8_t status = fsAnalyzed; status <= fsUnmovable; ++status)
    statusTexts[status] = QString::fromStdString(language.Lookup(*StatusTextFor(status)));

  uint64_t all = 0;
  uint64_t notDone = 0;
  QList<QTreeWidgetItem*> rows;
  for (const FILE_INFO& entry : report.Entries()) {
    const QString status = entry.Status < statusTexts.size() ? statusTexts[entry.Status] : QString();
    rows.append(new ReportListItem(entry, status));
    all += entry.Clusters;
    if (entry.Status != fsDefragged) notDone += entry.Clusters;
  }
  ReportList->addTopLevelItems(rows);

  FragmentionATitle->setVisible(!SuggestionShown);
  FragmentionAContent->setVisible(!SuggestionShown);
  Image_suggestion->setVisible(SuggestionShown);
  Label_Suggestion_Caption->setVisible(SuggestionShown);
  Label_Suggestion->setVisible(SuggestionShown);

  const MessageText& suggestion = skipped ? messages::kSkippedNeedsAuthorization
                                          : SuggestionFor(all, figures.TotalClusters, lastOptimize, now);
  SetLabelText(*Label_Suggestion, QString::fromStdString(language.Lookup(suggestion)));
  SetLabelText(*FragmentionBContent, FragmentationText(all, figures.TotalClusters));
  if (volume.State == dsDefragged)
    SetLabelText(*FragmentionAContent, FragmentationText(notDone, figures.TotalClusters));
  FrameCanResize();
}

void TReportContent::NarrowNameColumn() {
  ReportList->setColumnWidth(ReportListItem::kName,
                             ReportList->columnWidth(ReportListItem::kName) - kScrollBarWidth);
}

Component TReportContent::Describe() const {
  Component frame;
  frame.ClassName = "TReportContent";
  frame.Name = objectName().toStdString();
  for (const FigureLine& line : kFigureLines) {
    frame.Owned.push_back(DescribeWidget(*(this->*line.Title), "TLabel"));
    frame.Owned.push_back(DescribeWidget(*(this->*line.Value), "TLabel"));
  }
  frame.Owned.push_back(DescribeWidget(*ReportList, "TListView"));
  frame.Owned.push_back(DescribeWidget(*Image_suggestion, "TImage"));
  frame.Owned.push_back(DescribeWidget(*Label_Suggestion_Caption, "TLabel"));
  frame.Owned.push_back(DescribeWidget(*Label_Suggestion, "TLabel"));
  return frame;
}

void TReportContent::ApplyTexts(const Component& frame) {
  for (const Component& component : frame.Owned) {
    if (auto* widget = findChild<QWidget*>(QString::fromStdString(component.Name),
                                           Qt::FindDirectChildrenOnly)) {
      ApplyWidgetTexts(*widget, component);
    }
  }
  FrameCanResize();
}

int TReportContent::SuggestionLineHeight() const {
  // The design's line, or more where the desktop's font is taller.
  const int textHeight = std::max(Label_Suggestion_Caption->height(), Label_Suggestion->height());
  return std::max(kSuggestionLineHeight, kSuggestionGap + textHeight);
}

void TReportContent::FrameCanResize() {
  const int half = width() / 2;
  for (const FigureLine& line : kFigureLines) {
    QLabel* title = this->*line.Title;
    title->move(half - title->width(), line.Top);
    (this->*line.Value)->move(half + kValueGap, line.Top);
  }

  // The list keeps its distance to every side of the page, and the
  // suggestion line its distance to the bottom.
  const int listHeight = height() - kListTop - (SuggestionShown ? SuggestionLineHeight() : 0);
  ReportList->setGeometry(0, kListTop, width(), listHeight);
  const int suggestionTop = kListTop + listHeight + kSuggestionGap;
  Image_suggestion->move(half - Label_Suggestion_Caption->width() - 2 * Image_suggestion->width(),
                         suggestionTop);
  Label_Suggestion_Caption->move(half - Label_Suggestion_Caption->width(), suggestionTop);
  Label_Suggestion->move(half + kValueGap, suggestionTop);

  ReportList->setColumnWidth(ReportListItem::kName, ReportList->width() - kOtherColumnsWidth);
}

void TReportContent::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    for (QLabel* label : {FragmentionBTitle, FragmentionATitle, Label_Suggestion}) ColourEmphasis(*label);
  }
}

void TReportContent::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FrameCanResize();
}

void TReportContent::ReportListColumnClick(int column) {
  SortOrder.SortDescending = !SortOrder.SortDescending;
  SortOrder.SortColumn = column;
  SortReportList();
}

int TReportContent::ReportListCompare(const ReportListItem& item1, const ReportListItem& item2,
                                      const ReportSortOrder& order) {
  int result = 0;
  switch (order.SortColumn) {
  case ReportListItem::kName: result = CompareFolded(item1.Name, item2.Name); break;
  case ReportListItem::kFragment: result = CompareNumbers(item1.ExtentCount, item2.ExtentCount); break;
  case ReportListItem::kClusters:
  case ReportListItem::kSize: result = CompareNumbers(item1.Clusters, item2.Clusters); break;
  case ReportListItem::kResult:
    result = Sign(QString::compare(item1.StatusText, item2.StatusText, Qt::CaseInsensitive));
    break;
  default: break;
  }
  return order.SortDescending ? -result : result;
}

void TReportContent::SortReportList() {
  QTreeWidgetItem* current = ReportList->currentItem();
  const QList<QTreeWidgetItem*> selected = ReportList->selectedItems();
  QList<QTreeWidgetItem*> rows = ReportList->invisibleRootItem()->takeChildren();
  std::stable_sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    return ReportListCompare(*static_cast<ReportListItem*>(a), *static_cast<ReportListItem*>(b),
                             SortOrder) < 0;
  });
  ReportList->addTopLevelItems(rows);
  // The list sorts itself; the header only shows by what and which way.
  QHeaderView* header = ReportList->header();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(SortOrder.SortColumn,
                           SortOrder.SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
  if (current != nullptr) ReportList->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
  for (QTreeWidgetItem* row : selected) row->setSelected(true);
}

} // namespace quillo
