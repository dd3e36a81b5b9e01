// SPDX-License-Identifier: GPL-2.0-or-later
// The window as designed: names, pixel geometry, list columns, the map's
// place, the timers and the pictures.
#include <gtest/gtest.h>

#include <QImage>

#include "WindowTestSupport.h"

namespace quillo::test {
namespace {

class WindowLayoutTest : public ::testing::Test {
protected:
  void SetUp() override {
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:", "NTFS", 1));
    Form = Rig.Create();
  }
  template <typename Control> Control* Find(const char* name) {
    auto* control = Form->findChild<Control*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(WindowLayoutTest, FixedWindowWithCaptionAndPages) {
  EXPECT_EQ(Form->windowTitle(), "Quillo Defrag");
  EXPECT_EQ(Form->minimumSize(), QSize(748, 530));
  EXPECT_EQ(Form->maximumSize(), QSize(748, 530));
  EXPECT_EQ(Form->Header->geometry(), QRect(0, 0, 748, 66));
  EXPECT_EQ(Form->PageControl->currentWidget(), Form->manualdefrag);
  QStringList pages;
  for (int i = 0; i < Form->PageControl->count(); ++i) pages << Form->PageControl->widget(i)->objectName();
  EXPECT_EQ(pages, QStringList({"manualdefrag", "autodefrag", "schedule", "Option"}));
  EXPECT_EQ(Form->Timer_GetDefragRuntimeData->interval(), 700);
  EXPECT_TRUE(Form->Timer_GetDefragRuntimeData->isActive());
  EXPECT_EQ(Form->CpuTimer->interval(), 1000);
  EXPECT_TRUE(Form->CpuTimer->isActive());
}

TEST_F(WindowLayoutTest, ManualPageControlsStandWhereDesigned) {
  struct Place {
    const char* Name;
    QRect Geometry;
  };
  const Place places[] = {
      {"manulist", QRect(14, 3, 592, 112)},         {"ManuDefragBtn", QRect(14, 121, 75, 25)},
      {"ManuStopBtn", QRect(257, 121, 75, 25)},     {"ViewReportBtn", QRect(514, 121, 92, 25)},
      {"Label_Defrag_Introduction", QRect(14, 150, 595, 34)},
      {"Guage_Progress", QRect(13, 184, 593, 25)},  {"DiskBevel", QRect(13, 215, 594, 178)},
  };
  for (const Place& place : places) {
    QWidget* control = Find<QWidget>(place.Name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), place.Geometry) << place.Name;
    EXPECT_EQ(control->parentWidget(), Form->manualdefrag) << place.Name;
  }
  EXPECT_EQ(Form->manualdefrag->ComboBox_FastOrOptDefrag->x(), 104);
  EXPECT_EQ(Form->manualdefrag->ManuAnalyzeBtn->x(), 423);
  EXPECT_FALSE(Form->manualdefrag->Guage_Progress->isTextVisible());
  for (QLabel* label : Form->manualdefrag->findChildren<QLabel*>(QRegularExpression("^Label_Legend_")))
    EXPECT_EQ(label->y(), 402) << label->objectName().toStdString();
  EXPECT_EQ(Form->manualdefrag->CheckBox_auto_shutdown->y() + 2, 433);
}

TEST_F(WindowLayoutTest, ListColumnsHaveTheirWidths) {
  QTreeWidget* manual = Form->manualdefrag->manulist;
  const int manualWidths[] = {90, 100, 75, 70, 235};
  ASSERT_EQ(manual->columnCount(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(manual->columnWidth(i), manualWidths[i]);
  EXPECT_EQ(manual->headerItem()->text(4), "Time");

  QTreeWidget* schedule = Form->schedule->ScheduleList;
  EXPECT_EQ(schedule->geometry(), QRect(40, 75, 537, 133));
  const int scheduleWidths[] = {100, 80, 80, 190};
  ASSERT_EQ(schedule->columnCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(schedule->columnWidth(i), scheduleWidths[i]);
}

TEST_F(WindowLayoutTest, EveryRowHasItsTwinInTheScheduleList) {
  QTreeWidget* manual = Form->manualdefrag->manulist;
  QTreeWidget* schedule = Form->schedule->ScheduleList;
  ASSERT_EQ(manual->topLevelItemCount(), 2);
  ASSERT_EQ(schedule->topLevelItemCount(), 2);
  EXPECT_EQ(RowTexts(manual, 0),
            (std::vector<std::string>{"C:\\", "Idle", "FAT32", "0.02G", "Never defrag the volume"}));
  EXPECT_EQ(RowTexts(schedule, 1), (std::vector<std::string>{"D:\\", "NTFS", "0.02G", ""}));
  // The first row starts ticked, selected and current.
  EXPECT_EQ(manual->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_TRUE(manual->topLevelItem(0)->isSelected());
  EXPECT_EQ(manual->topLevelItem(1)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(Form->CurrentVolumeIndex, 0);
}

TEST_F(WindowLayoutTest, EachMapSitsInTheBevelWithItsCaptionOverTheGauge) {
  VolumeMapView& current = Form->Volumes().Map(0);
  EXPECT_EQ(current.Image()->geometry(), QRect(14, 216, 592, 176));
  EXPECT_EQ(current.CaptionLabel()->geometry(), QRect(13, 190, 593, 25));
  EXPECT_EQ(current.CaptionLabel()->text(), "C:\\");
  // The current volume's map is shown, the other one hidden.
  EXPECT_FALSE(current.Image()->isHidden());
  EXPECT_TRUE(Form->Volumes().Map(1).Image()->isHidden());
  // The map shows the free colour of its picture before any analysis.
  QImage shown = current.Image()->grab().toImage();
  EXPECT_EQ(shown.pixel(0, 7), Form->Volumes().Job(0).Engine().Map->GetImage().Pixel(0, 7));
}

TEST_F(WindowLayoutTest, PicturesAreDrawn) {
  QImage frequent = Form->manualdefrag->Image_Frequent_used->pixmap().toImage();
  ASSERT_FALSE(frequent.isNull());
  EXPECT_EQ(QColor(frequent.pixel(5, 5)), QColor(0, 153, 0));
  QImage fragmented = Form->manualdefrag->Image_Fragmented->pixmap().toImage();
  EXPECT_EQ(QColor(fragmented.pixel(5, 5)), QColor(255, 74, 74));
  ASSERT_EQ(Form->Tray->ImageList_AutoDefrag.size(), 7);
  for (const QIcon& icon : Form->Tray->ImageList_AutoDefrag) EXPECT_FALSE(icon.isNull());
  EXPECT_EQ(Form->Tray->IconIndex(), TrayIcon::kRestingIcon);
  EXPECT_EQ(Form->Tray->trayicon->toolTip(), "Quillo Defrag Beta 6.10");
}

TEST_F(WindowLayoutTest, InitialButtonsFollowTheLayoutOfAnIdleVolume) {
  ManualPage& page = *Form->manualdefrag;
  EXPECT_TRUE(page.ManuDefragBtn->isEnabled());
  EXPECT_FALSE(page.ComboBox_FastOrOptDefrag->isHidden());
  EXPECT_EQ(page.ComboBox_FastOrOptDefrag->currentIndex(), 0);
  EXPECT_EQ(page.ComboBox_FastOrOptDefrag->currentText(), "Defrag");
  EXPECT_FALSE(page.ManuStopBtn->isEnabled());
  EXPECT_FALSE(page.ViewReportBtn->isEnabled());
  EXPECT_FALSE(page.CheckBox_auto_shutdown->isChecked());
  EXPECT_EQ(page.TotalFilesDirs->text(), "0");
}

} // namespace
} // namespace quillo::test
