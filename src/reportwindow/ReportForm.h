// SPDX-License-Identifier: GPL-2.0-or-later
// TReportForm: the report window. Created once at start and kept hidden; each
// opening builds one tab per ticked volume of the main window from the
// figures of that moment, and closing frees the tabs again.
#pragma once

#include <functional>
#include <vector>

#include <QDialog>

#include "engine/Clock.h"
#include "reportwindow/ReportSortOrder.h"
#include "reportwindow/ReportVolume.h"
#include "settings/Setting.h"

class QPushButton;
class QTabWidget;

namespace quillo {

class TReportTab;

class TReportForm : public QDialog {
  Q_OBJECT

public:
  // Design geometry (client area) and the design places of the controls.
  static constexpr int kClientWidth = 516;
  static constexpr int kClientHeight = 546;
  static constexpr int kPagesHeight = 497;
  static constexpr int kCloseBtnTop = 509;
  static constexpr int kCloseBtnWidth = 75;
  static constexpr int kCloseBtnHeight = 25;

  // The ticked rows of the main window's volume list, in list order.
  using VolumeSource = std::function<std::vector<ReportVolume>()>;

  // `settings` gives the last-optimisation times and the language; `clock`
  // the time the suggestion's day count is measured against. Both must
  // outlive the window. `mainWindow` is the window it is centred on.
  TReportForm(TSetting& settings, Clock& clock, QWidget* mainWindow = nullptr);
  ~TReportForm() override;

  // Asked once per opening (FormShow) for the volumes to show.
  void SetVolumeSource(VolumeSource source);

  // Centres the window on the main window and runs it modally; returns when
  // it has been closed.
  int ShowModal();

  // Translates the window, its tabs and their frames from the current
  // language (sections "ReportForm" and "ReportContent"). Register it with
  // the language facility after the main window's own translation.
  void Translate();

  // The sort column and direction, shared by every tab and every opening.
  const ReportSortOrder& SortOrder() const { return Sort; }

  std::vector<TReportTab*> Tabs() const;

  // Controls, named by their design names (also their objectName()).
  QTabWidget* ReportPages = nullptr;
  QPushButton* CloseBtn = nullptr;

  // Handlers.
  void FormShow();
  void FormClose();
  void FormCanResize();
  void CloseBtnClick();

  // Every way of closing (Escape, the Close button, the title bar, the
  // window system) ends here: the window is hidden and its tabs are freed.
  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void AddVolumeTab(const ReportVolume& volume);
  void FreeTabs();
  void CentreOnMainWindow();

  TSetting& Settings;
  Clock& SystemClock;
  VolumeSource Source;
  ReportSortOrder Sort;
};

} // namespace quillo
