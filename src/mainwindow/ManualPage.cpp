// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ManualPage.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>

#include <exception>

#include "engine/DefragDefine.h"
#include "jobs/DefragThread.h"
#include "mainwindow/Pictures.h"
#include "settings/Language.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {

constexpr int kButtonTop = 121;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kLegendTop = 402;
constexpr int kLegendLeft = 14;
constexpr int kLegendWidth = 592;
constexpr int kSquareSize = 10;
constexpr int kSquareGap = 4;
constexpr int kLegendTextHeight = 14;
constexpr int kTotalsTop = 433;
constexpr int kTotalsHeight = 17;
constexpr int kNumberGap = 6;
constexpr int kNumberWidth = 48;
// Room of a check box's square and the space after it.
constexpr int kCheckBoxIndicator = 24;
// Translated texts too long for the legend or the totals line shrink down
// to this size at most.
constexpr int kSmallestFontPixels = 8;
constexpr int kSmallestLegendGap = 6;
constexpr int kVolumeIconSize = 16;
constexpr int kImageListSize = 4;

struct LegendEntry {
  QLabel* ManualPage::*Square;
  const char* SquareName;
  const char* Picture; // nullptr: painted at start-up
  QLabel* ManualPage::*Label;
  const char* LabelName;
  const char* Caption;
};

const LegendEntry kLegend[] = {
    {&ManualPage::Image_Free_Space, "Image_Free_Space", "legend_free",
     &ManualPage::Label_Legend_FreeSpace, "Label_Legend_FreeSpace", "Free Space"},
    {&ManualPage::Image_Rarely_used, "Image_Rarely_used", "legend_rare",
     &ManualPage::Label_Legend_RarelyUsed, "Label_Legend_RarelyUsed", "Rarely Used"},
    {&ManualPage::Image_Frequent_used, "Image_Frequent_used", nullptr,
     &ManualPage::Label_Legend_FrequentlyUsed, "Label_Legend_FrequentlyUsed", "Frequently Used"},
    {&ManualPage::Image_Directory, "Image_Directory", "legend_directory",
     &ManualPage::Label_Legend_Directory, "Label_Legend_Directory", "Directory"},
    {&ManualPage::Image_Mft, "Image_Mft", "legend_mft", &ManualPage::Label_Legend_Mft,
     "Label_Legend_Mft", "MFT"},
    {&ManualPage::Image_Excluded, "Image_Excluded", "legend_excluded",
     &ManualPage::Label_Legend_Excluded, "Label_Legend_Excluded", "Excluded"},
    {&ManualPage::Image_Fragmented, "Image_Fragmented", "legend_fragmented",
     &ManualPage::Label_Legend_Fragmented, "Label_Legend_Fragmented", "Fragmented"},
    {&ManualPage::Image_Moving_to, "Image_Moving_to", "legend_moving",
     &ManualPage::Label_Legend_MovingTo, "Label_Legend_MovingTo", "Moving to"},
};

void Place(QWidget* button, const ButtonLayout& layout) {
  button->setVisible(layout.Visible);
  button->setEnabled(layout.Enabled);
}

} // namespace

ManualPage::ManualPage(QWidget* parent, ManualPageHost& host) : QWidget(parent), Host(host) {
  setObjectName(QStringLiteral("manualdefrag"));

  manulist = MakeCheckList(this, "manulist",
                           {{"Volume", 90}, {"Status", 100}, {"File System", 75},
                            {"Capacity", 70}, {"Time", 235}},
                           QRect(14, 3, 592, 112));
  manulist->setSelectionMode(QAbstractItemView::MultiSelection);
  manulist->viewport()->installEventFilter(this);

  ManuDefragBtn = MakeButton(this, "ManuDefragBtn", "&GO",
                             QRect(kGoLeft, kButtonTop, kButtonWidth, kButtonHeight));
  ManuPauseBtn = MakeButton(this, "ManuPauseBtn", "Pause",
                            QRect(kGoLeft, kButtonTop, kButtonWidth, kButtonHeight));
  ManuResumeBtn = MakeButton(this, "ManuResumeBtn", "Resume",
                             QRect(15, kButtonTop, kButtonWidth, kButtonHeight));
  ComboBox_FastOrOptDefrag = MakeDropDown(this, "ComboBox_FastOrOptDefrag",
                                          {"Defrag", "Defrag & Optimize"},
                                          QRect(104, kButtonTop, 140, kButtonHeight));
  ManuStopBtn = MakeButton(this, "ManuStopBtn", "S&top",
                           QRect(257, kButtonTop, kButtonWidth, kButtonHeight));
  ManuAnalyzeBtn = MakeButton(this, "ManuAnalyzeBtn", "A&nalyze",
                              QRect(kAnalyzeLeft, kButtonTop, kButtonWidth, kButtonHeight));
  ViewReportBtn = MakeButton(this, "ViewReportBtn", "&View Report",
                             QRect(514, kButtonTop, 92, kButtonHeight));
  // Before the first layout: GO, Pause, Stop and View Report disabled, the
  // method box hidden.
  ManuDefragBtn->setEnabled(false);
  ManuPauseBtn->setEnabled(false);
  ManuStopBtn->setEnabled(false);
  ViewReportBtn->setEnabled(false);
  ComboBox_FastOrOptDefrag->hide();

  Label_Defrag_Introduction =
      MakeLabel(this, "Label_Defrag_Introduction",
                QString::fromUtf8(messages::kDefragIntroduction.Default.data(),
                                  qsizetype(messages::kDefragIntroduction.Default.size())),
                QRect(14, 150, 595, 34));
  Label_Defrag_Introduction->setWordWrap(true);
  Label_Defrag_Introduction->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  Guage_Progress = MakeGauge(this, "Guage_Progress", QRect(13, 184, 593, 25));
  Guage_Progress->setStyleSheet(QStringLiteral(
      "QProgressBar { border: none; background: palette(base); }"
      "QProgressBar::chunk { background: rgb(219, 228, 248); }"));

  DiskBevel = new QFrame(this);
  DiskBevel->setObjectName(QStringLiteral("DiskBevel"));
  DiskBevel->setGeometry(13, 215, 594, 178);
  DiskBevel->setFrameStyle(QFrame::Box | QFrame::Plain);
  DiskBevel->setStyleSheet(QStringLiteral("QFrame#DiskBevel { border: 1px solid rgb(160, 160, 160); }"));

  CreateLegend();

  Label_TotalFilesDirs_Title =
      MakeLabel(this, "Label_TotalFilesDirs_Title", QStringLiteral("Total Files and Dirs:"), QRect());
  TotalFilesDirs = MakeLabel(this, "TotalFilesDirs", "0", QRect());
  Label_FragmentedFilesDir_Title = MakeLabel(this, "Label_FragmentedFilesDir_Title",
                                             QStringLiteral("Fragmented Files and Dirs:"), QRect());
  FragmentedFilesDir = MakeLabel(this, "FragmentedFilesDir", "0", QRect());
  CheckBox_auto_shutdown = MakeCheckBox(this, "CheckBox_auto_shutdown",
                                        QStringLiteral("Turn off computer after defragment"), QRect());
  PlaceTotals();

  QIcon plain = PictureIcon(QStringLiteral("volume_plain"), kVolumeIconSize);
  for (int i = 0; i < kImageListSize; ++i)
    ManuImageList << (i == kCurrentVolumeImage ? PictureIcon(QStringLiteral("volume_current"),
                                                             kVolumeIconSize)
                                               : plain);

  connect(ManuDefragBtn, &QPushButton::clicked, this, &ManualPage::ManuDefragBtnClick);
  connect(ManuAnalyzeBtn, &QPushButton::clicked, this, &ManualPage::ManuAnalyzeBtnClick);
  connect(ManuPauseBtn, &QPushButton::clicked, this, &ManualPage::ManuPauseBtnClick);
  connect(ManuResumeBtn, &QPushButton::clicked, this, &ManualPage::ManuResumeBtnClick);
  connect(ManuStopBtn, &QPushButton::clicked, this, &ManualPage::ManuStopBtnClick);
  connect(ViewReportBtn, &QPushButton::clicked, this, &ManualPage::ViewReportBtnClick);
  connect(ComboBox_FastOrOptDefrag, &QComboBox::currentIndexChanged, this,
          &ManualPage::ComboBox_FastOrOptDefragChange);
  connect(CheckBox_auto_shutdown, &QCheckBox::clicked, this,
          &ManualPage::CheckBox_auto_shutdownClick);
  connect(manulist, &QTreeWidget::itemChanged, this, &ManualPage::manulistCheckChange);
  connect(manulist, &QTreeWidget::itemClicked, this, &ManualPage::manulistItemClick);
  connect(manulist, &QTreeWidget::itemSelectionChanged, this, &ManualPage::MirrorTicks);
}

void ManualPage::CreateLegend() {
  for (const LegendEntry& entry : kLegend) {
    QPixmap picture = entry.Picture ? Picture(QString::fromLatin1(entry.Picture), kSquareSize,
                                              kSquareSize)
                                    : QPixmap();
    this->*entry.Square = MakePicture(this, entry.SquareName, picture,
                                      QRect(0, 0, kSquareSize, kSquareSize));
    this->*entry.Label =
        MakeLabel(this, entry.LabelName, QString::fromUtf8(entry.Caption), QRect());
  }
  PlaceLegend();
}

void ManualPage::PlaceLegend() {
  // The eight squares and captions share the list's width evenly; captions
  // too long for it (a translation) get a smaller font.
  QFont legendFont = font();
  auto used = [&](const QFontMetrics& metrics) {
    int width = 0;
    for (const LegendEntry& entry : kLegend)
      width += kSquareSize + kSquareGap + metrics.horizontalAdvance((this->*entry.Label)->text());
    return width;
  };
  const int gaps = int(std::size(kLegend)) - 1;
  while (legendFont.pixelSize() > kSmallestFontPixels &&
         used(QFontMetrics(legendFont)) + gaps * kSmallestLegendGap > kLegendWidth)
    legendFont.setPixelSize(legendFont.pixelSize() - 1);
  const QFontMetrics metrics(legendFont);
  const int gap = (kLegendWidth - used(metrics)) / gaps;
  int x = kLegendLeft;
  for (const LegendEntry& entry : kLegend) {
    QLabel* label = this->*entry.Label;
    if (label->font() != legendFont) label->setFont(legendFont);
    const int textWidth = metrics.horizontalAdvance(label->text()) + 2;
    (this->*entry.Square)->move(x, kLegendTop + (kLegendTextHeight - kSquareSize) / 2);
    x += kSquareSize + kSquareGap;
    label->setGeometry(x, kLegendTop, textWidth, kLegendTextHeight);
    x += textWidth - 2 + gap;
  }
}

void ManualPage::PlaceTotals() {
  // Each number follows its title; the titles are bold. The power-off box
  // ends where the list ends; a line too long for the width (a
  // translation) gets a smaller font.
  QFont plain = font();
  auto place = [&](bool apply) {
    QFont bold = plain;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    auto titleWidth = [&](QLabel* title) { return boldMetrics.horizontalAdvance(title->text()) + 2; };
    int x = kLegendLeft;
    const int totalWidth = titleWidth(Label_TotalFilesDirs_Title);
    const int totalNumber = x + totalWidth + kNumberGap;
    const int fragmentedTitle = totalNumber + kNumberWidth + kNumberGap;
    const int fragmentedWidth = titleWidth(Label_FragmentedFilesDir_Title);
    const int fragmentedNumber = fragmentedTitle + fragmentedWidth + kNumberGap;
    const int boxWidth =
        QFontMetrics(plain).horizontalAdvance(CheckBox_auto_shutdown->text()) + kCheckBoxIndicator;
    const int boxLeft = kLegendLeft + kLegendWidth - boxWidth;
    if (apply) {
      for (QLabel* title : {Label_TotalFilesDirs_Title, Label_FragmentedFilesDir_Title})
        if (title->font() != bold) title->setFont(bold);
      for (QWidget* other : std::initializer_list<QWidget*>{TotalFilesDirs, FragmentedFilesDir,
                                                            CheckBox_auto_shutdown})
        if (other->font() != plain) other->setFont(plain);
      Label_TotalFilesDirs_Title->setGeometry(x, kTotalsTop, totalWidth, kTotalsHeight);
      TotalFilesDirs->setGeometry(totalNumber, kTotalsTop, kNumberWidth, kTotalsHeight);
      Label_FragmentedFilesDir_Title->setGeometry(fragmentedTitle, kTotalsTop, fragmentedWidth,
                                                  kTotalsHeight);
      FragmentedFilesDir->setGeometry(fragmentedNumber, kTotalsTop, kNumberWidth, kTotalsHeight);
      CheckBox_auto_shutdown->setGeometry(boxLeft, kTotalsTop - 2, boxWidth, kTotalsHeight + 4);
    }
    return fragmentedNumber + kNumberWidth <= boxLeft;
  };
  while (plain.pixelSize() > kSmallestFontPixels && !place(false))
    plain.setPixelSize(plain.pixelSize() - 1);
  place(true);
}

void ManualPage::ArrangeTexts() {
  PlaceLegend();
  PlaceTotals();
}

void ManualPage::ApplyLayout(const ManualLayout& layout) {
  Place(ManuAnalyzeBtn, layout.Analyze);
  Place(ManuDefragBtn, layout.Go);
  Place(ComboBox_FastOrOptDefrag, layout.MethodBox);
  Place(ManuPauseBtn, layout.Pause);
  Place(ManuResumeBtn, layout.Resume);
  Place(ManuStopBtn, layout.Stop);
  if (layout.ViewReportEnabled) ViewReportBtn->setEnabled(*layout.ViewReportEnabled);
  int left = layout.PauseResumePlace == StandIn::AtGo ? kGoLeft : kAnalyzeLeft;
  for (QPushButton* button : {ManuPauseBtn, ManuResumeBtn}) button->move(left, button->y());
}

uint8_t ManualPage::ChosenMode() const {
  return ComboBox_FastOrOptDefrag->currentIndex() == kMethodOptimize ? dmOptimize : dmFast;
}

template <typename Command> void ManualPage::ForEachTickedJob(Command command) {
  try {
    for (TDefragThread* job : Host.TickedJobs()) command(*job);
  } catch (const std::exception& error) {
    Host.ShowMessage(error.what());
    return;
  }
  Host.RunStatusTick();
}

void ManualPage::ManuDefragBtnClick() {
  uint8_t mode = ChosenMode();
  ForEachTickedJob([this, mode](TDefragThread& job) {
    if (!Host.MayWrite(job) || !Host.MayUnmount(job)) return;
    job.DefragDeal(jcManualDefrag, mode);
    Host.NoteStartedByUser(job);
  });
}

void ManualPage::ManuAnalyzeBtnClick() {
  uint8_t mode = ChosenMode();
  ForEachTickedJob([this, mode](TDefragThread& job) {
    if (!Host.MayUnmount(job)) return;
    job.AnalyzeDeal(mode);
    Host.NoteStartedByUser(job);
  });
}

void ManualPage::ManuPauseBtnClick() {
  ForEachTickedJob([](TDefragThread& job) { job.PauseDeal(); });
}

void ManualPage::ManuResumeBtnClick() {
  ForEachTickedJob([](TDefragThread& job) { job.ResumeDeal(); });
}

void ManualPage::ManuStopBtnClick() {
  ForEachTickedJob([](TDefragThread& job) { job.StopDeal(); });
}

void ManualPage::ViewReportBtnClick() { Host.ShowReportWindow(); }

void ManualPage::ComboBox_FastOrOptDefragChange() {
  const MessageText& text = ComboBox_FastOrOptDefrag->currentIndex() == kMethodFast
                                ? messages::kDefragIntroduction
                                : messages::kOptimizeIntroduction;
  // "&&" in a caption shows one "&".
  QString sentence = QString::fromStdString(Host.Language().Lookup(text));
  Label_Defrag_Introduction->setText(sentence.replace(QStringLiteral("&&"), QStringLiteral("&")));
}

void ManualPage::CheckBox_auto_shutdownClick() {
  if (CheckBox_auto_shutdown->isChecked())
    Host.ShowMessage(Host.Language().Lookup(messages::kTurnoff));
}

void ManualPage::SetTicked(QTreeWidgetItem* item, bool ticked) {
  const QSignalBlocker blocker(item->treeWidget());
  item->setData(0, Qt::UserRole, ticked);
  item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void ManualPage::MirrorTicks() {
  if (Mirroring) return;
  Mirroring = true;
  for (int i = 0; i < manulist->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = manulist->topLevelItem(i);
    bool ticked = item->checkState(0) == Qt::Checked;
    if (item->isSelected() != ticked) item->setSelected(ticked);
  }
  Mirroring = false;
}

void ManualPage::MakeCurrent(QTreeWidgetItem* item) {
  for (int i = 0; i < manulist->topLevelItemCount(); ++i)
    manulist->topLevelItem(i)->setIcon(0, VolumeImage(kOtherVolumeImage));
  item->setIcon(0, VolumeImage(kCurrentVolumeImage));
  Host.SetCurrentVolumeIndex(manulist->indexOfTopLevelItem(item));
}

void ManualPage::manulistCheckChange(QTreeWidgetItem* item, int column) {
  if (column != 0 || item == nullptr) return;
  // Changing icons and selection below reports the item again; only a
  // change of its tick counts.
  bool ticked = item->checkState(0) == Qt::Checked;
  QVariant last = item->data(0, Qt::UserRole);
  if (last.isValid() && last.toBool() == ticked) return;
  const QSignalBlocker blocker(manulist);
  item->setData(0, Qt::UserRole, ticked);
  item->setSelected(ticked);
  if (ticked)
    MakeCurrent(item);
  else
    item->setIcon(0, VolumeImage(kOtherVolumeImage));
}

void ManualPage::manulistItemClick(QTreeWidgetItem* item, int /*column*/) {
  if (item == nullptr) return;
  const QSignalBlocker blocker(manulist);
  if (item->checkState(0) == Qt::Checked)
    MakeCurrent(item);
  else
    item->setIcon(0, VolumeImage(kOtherVolumeImage));
}

void ManualPage::manulistClick() {
  MirrorTicks();
  Host.RunStatusTick();
}

bool ManualPage::eventFilter(QObject* watched, QEvent* event) {
  // The list's own click handling (check box, selection) comes first; the
  // page's click handler runs once it is done.
  if (watched == manulist->viewport() && event->type() == QEvent::MouseButtonRelease)
    QMetaObject::invokeMethod(this, &ManualPage::manulistClick, Qt::QueuedConnection);
  return QWidget::eventFilter(watched, event);
}

} // namespace quillo
