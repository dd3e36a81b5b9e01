// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReportForm.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QWindow>
#include <QTabWidget>

#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportTab.h"
#include "reportwindow/WidgetComponents.h"

namespace quillo {

namespace {

constexpr int kFontPointSize = 8;
// Distances the anchored controls keep to the bottom of the window.
constexpr int kPagesBottomMargin = TReportForm::kClientHeight - TReportForm::kPagesHeight;
constexpr int kCloseBtnBottomMargin = TReportForm::kClientHeight - TReportForm::kCloseBtnTop;
// The window's own components come first in its translation, the tabs after.
constexpr size_t kCloseBtnComponent = 1;
constexpr size_t kFirstTabComponent = 2;

} // namespace

TReportForm::TReportForm(TSetting& settings, Clock& clock, QWidget* mainWindow)
    : QDialog(mainWindow), Settings(settings), SystemClock(clock) {
  setObjectName(QStringLiteral("ReportForm"));
  setWindowTitle(QStringLiteral("Report"));
  setFont(QFont(QStringLiteral("Tahoma"), kFontPointSize));
  resize(kClientWidth, kClientHeight);

  ReportPages = new QTabWidget(this);
  ReportPages->setObjectName(QStringLiteral("ReportPages"));
  ReportPages->setGeometry(0, 0, kClientWidth, kPagesHeight);

  CloseBtn = new QPushButton(QStringLiteral("Close"), this);
  CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  CloseBtn->setGeometry(0, kCloseBtnTop, kCloseBtnWidth, kCloseBtnHeight);
  connect(CloseBtn, &QPushButton::clicked, this, &TReportForm::CloseBtnClick);
  FormCanResize();
}

TReportForm::~TReportForm() = default;

void TReportForm::SetVolumeSource(VolumeSource source) { Source = std::move(source); }

int TReportForm::ShowModal() {
  CentreOnMainWindow();
  return exec();
}

void TReportForm::CentreOnMainWindow() {
  const QWidget* owner = parentWidget();
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  // A screen too small for the design size (or a large scale factor) gets a
  // smaller window: its list and tabs follow the window's size.
  QMargins margins;
  if (const QWindow* handle = windowHandle()) margins = handle->frameMargins();
  margins.setTop(std::max(margins.top(), style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this)));
  const QSize room = available.size().shrunkBy(margins);
  const bool shrunk = width() > room.width() || height() > room.height();
  if (shrunk) resize(std::min(width(), room.width()), std::min(height(), room.height()));

  const QRect area = owner != nullptr && owner->isVisible() ? owner->frameGeometry() : available;
  QRect frame = frameGeometry();
  frame.moveCenter(area.center());
  // The title bar stays on the screen; a window shrunk to the screen is
  // placed wholly on it.
  QPoint place = frame.topLeft();
  if (shrunk) {
    place.setX(std::min(place.x(), available.right() + 1 - width() - margins.left() - margins.right()));
    place.setY(std::min(place.y(), available.bottom() + 1 - height() - margins.top() - margins.bottom()));
  }
  place.setX(std::max(place.x(), available.left()));
  place.setY(std::max(place.y(), available.top()));
  move(place);
}

std::vector<TReportTab*> TReportForm::Tabs() const {
  std::vector<TReportTab*> tabs;
  for (int i = 0; i < ReportPages->count(); ++i)
    tabs.push_back(static_cast<TReportTab*>(ReportPages->widget(i)));
  return tabs;
}

void TReportForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A window coming back from the task bar is not a new opening.
  if (!event->spontaneous()) FormShow();
}

void TReportForm::done(int result) {
  // Closing only hides: the window and its native window live as long as the
  // program. The dialog's own closing goes through the window system, which
  // destroys the native window, so that every later opening got a new one
  // and stale close requests of the window system could reach it.
  setResult(result);
  FormClose();
  emit finished(result);
  if (result == Accepted)
    emit accepted();
  else
    emit rejected();
}

void TReportForm::closeEvent(QCloseEvent* event) {
  // Taken over by done(); an accepted close event would destroy the native
  // window.
  event->ignore();
  if (isVisible()) done(Rejected);
}

void TReportForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormCanResize();
}

void TReportForm::FormShow() {
  // Tabs are freed when the window closes; a window hidden some other way
  // must not show them twice.
  FreeTabs();
  if (Source) {
    for (const ReportVolume& volume : Source()) {
      if (volume.Report != nullptr) AddVolumeTab(volume);
    }
  }
  if (ReportPages->count() > 0) ReportPages->setCurrentIndex(0);
  Translate();
  // Every opening leaves the window one pixel wider; the resize runs the
  // layout of the window and of the page in front.
  resize(width() + 1, height());
}

void TReportForm::AddVolumeTab(const ReportVolume& volume) {
  auto* tab = new TReportTab(Sort);
  const QString caption = QString::fromStdString(volume.Report->GetVolumeFigures().VolumeName);
  ReportPages->addTab(tab, caption);
  // The page area of the tab control, so that the list is sized for it now.
  tab->setGeometry(tab->parentWidget()->rect());

  TDateTime lastOptimize = 0;
  if (!caption.isEmpty()) {
    const int drive = TSetting::DriveIndex(caption.front().toLatin1());
    if (drive >= 0) lastOptimize = Settings.LastOptimizeTime[size_t(drive)];
  }
  tab->Content->ShowVolume(volume, Settings.Translator, lastOptimize, SystemClock.Now());
  ReportPages->setCurrentWidget(tab);
  tab->Content->NarrowNameColumn();
}

void TReportForm::FormClose() {
  hide();
  FreeTabs();
}

void TReportForm::FreeTabs() {
  while (ReportPages->count() > 0) delete ReportPages->widget(0);
}

void TReportForm::FormCanResize() {
  ReportPages->setGeometry(0, 0, width(), height() - kPagesBottomMargin);
  CloseBtn->move(width() / 2 - CloseBtn->width() / 2, height() - kCloseBtnBottomMargin);
}

void TReportForm::CloseBtnClick() { close(); }

void TReportForm::Translate() {
  Component form;
  form.ClassName = "TReportForm";
  form.Name = objectName().toStdString();
  form.Caption = windowTitle().toStdString();
  form.Owned.push_back(DescribeWidget(*ReportPages, "TPageControl"));
  form.Owned.push_back(DescribeWidget(*CloseBtn, "TButton"));
  const std::vector<TReportTab*> tabs = Tabs();
  for (const TReportTab* tab : tabs) form.Owned.push_back(tab->Describe());

  Settings.Translator.Translate(form);

  setWindowTitle(QString::fromStdString(form.Caption));
  ApplyWidgetTexts(*CloseBtn, form.Owned[kCloseBtnComponent]);
  for (size_t i = 0; i < tabs.size(); ++i) tabs[i]->ApplyTexts(form.Owned[kFirstTabComponent + i]);
}

} // namespace quillo
