// SPDX-License-Identifier: GPL-2.0-or-later
// A report window over reports the test fills itself, with settings in a
// temporary folder and the shipped language files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportForm.h"
#include "reportwindow/ReportListItem.h"
#include "reportwindow/ReportTab.h"

namespace quillo::test {

inline FILE_INFO Entry(const std::string& name, uint8_t status, uint32_t clusters,
                       uint32_t extents, bool directory = false) {
  FILE_INFO file;
  file.Name = name;
  file.Status = status;
  file.Clusters = clusters;
  file.ExtentCount = extents;
  file.DirFlag = directory;
  return file;
}

struct ReportWorld {
  ReportWorld()
      : Settings((EnsureApplication(), Temp.Path() / "config.ini"), SourceDir() / "language") {
    Form = std::make_unique<TReportForm>(Settings, Time);
    Form->SetVolumeSource([this] { return Volumes; });
  }
  ~ReportWorld() {
    Form.reset();
    QApplication::processEvents();
  }

  static bool EnsureApplication() {
    EnsureQtApplication();
    return true;
  }

  // A report of a volume named `name` with `totalClusters` clusters of
  // 4 KiB, ticked in the given state.
  TDefragReport& AddVolume(const std::string& name, uint32_t totalClusters, uint8_t state) {
    Reports.push_back(std::make_unique<TDefragReport>(Time));
    TDefragReport& report = *Reports.back();
    VolumeFigures figures;
    figures.VolumeName = name;
    figures.SectorsPerCluster = 8;
    figures.BytesPerSector = 512;
    figures.TotalClusters = totalClusters;
    figures.TotalBytes = uint64_t(totalClusters) * 4096;
    figures.FreeBytes = figures.TotalBytes / 4;
    report.SetVolumeFigures(figures);
    Volumes.push_back({&report, state});
    return report;
  }

  void Open() {
    Form->show();
    QApplication::processEvents();
  }
  void Close() {
    Form->CloseBtn->click();
    QApplication::processEvents();
  }

  TReportContent& Page(int index) {
    Form->ReportPages->setCurrentIndex(index);
    QApplication::processEvents();
    return *Form->Tabs().at(size_t(index))->Content;
  }

  // A click on the title of a column, as the user gives it.
  static void ClickColumn(TReportContent& page, int column) {
    QHeaderView* header = page.ReportList->header();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
  }

  static std::vector<std::string> Column(const TReportContent& page, int column) {
    std::vector<std::string> cells;
    for (int i = 0; i < page.ReportList->topLevelItemCount(); ++i)
      cells.push_back(page.ReportList->topLevelItem(i)->text(column).toStdString());
    return cells;
  }

  TempDir Temp;
  FakeClock Time;
  TSetting Settings;
  std::vector<std::unique_ptr<TDefragReport>> Reports;
  std::vector<ReportVolume> Volumes;
  std::unique_ptr<TReportForm> Form;
};

} // namespace quillo::test
