// SPDX-License-Identifier: GPL-2.0-or-later
// Every text of every window fits its control, in every shipped language.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include <set>

#include "OptionsWindowRig.h"
#include "mainwindow/AutoDefragPage.h"
#include "mainwindow/ManualPage.h"
#include "power/Shutdown.h"

namespace quillo::test {
namespace {

class NoPowerOff final : public PowerOffRequest {
public:
  bool RequestPowerOff() override { return false; }
  std::string RefusalReason() const override { return {}; }
};

std::string Describe(const QWidget& widget, const QString& text, const QSize& needed,
                     const QSize& room) {
  return widget.window()->objectName().toStdString() + "/" + widget.objectName().toStdString() +
         " \"" + text.toStdString() + "\" needs " + std::to_string(needed.width()) + "x" +
         std::to_string(needed.height()) + ", has " + std::to_string(room.width()) + "x" +
         std::to_string(room.height());
}

// The part of a widget that its parents leave visible, in its own
// coordinates.
QRect VisibleRect(const QWidget& widget) {
  QRect visible = widget.rect();
  QPoint offset;
  for (const QWidget* part = &widget; !part->isWindow() && part->parentWidget() != nullptr;
       part = part->parentWidget()) {
    offset += part->pos();
    visible &= part->parentWidget()->rect().translated(-offset);
  }
  return visible;
}

// The room of a label's text and the size its text takes there, wrapped at
// the label's width when the label wraps.
void CheckLabel(const QLabel& label, std::vector<std::string>& clipped) {
  const QString text = label.text();
  if (text.isEmpty() || Qt::mightBeRichText(text)) return;
  const int margin = label.margin();
  const QRect room = label.contentsRect().adjusted(margin, margin, -margin, -margin);
  int flags = int(label.alignment()) | Qt::TextShowMnemonic;
  if (label.wordWrap()) flags |= Qt::TextWordWrap;
  const QRect needed = label.fontMetrics().boundingRect(room, flags, text);
  if (needed.width() > room.width() || needed.height() > room.height() ||
      !VisibleRect(label).contains(needed))
    clipped.push_back(Describe(label, text, needed.size(), room.size()));
}

// A button's text and its check mark or icon within the style's contents
// rectangle.
void CheckButton(const QAbstractButton& button, std::vector<std::string>& clipped) {
  const QString text = button.text();
  if (text.isEmpty()) return;
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = text;
  QStyle::SubElement contents = QStyle::SE_PushButtonContents;
  if (qobject_cast<const QCheckBox*>(&button)) contents = QStyle::SE_CheckBoxContents;
  if (qobject_cast<const QRadioButton*>(&button)) contents = QStyle::SE_RadioButtonContents;
  const QRect room = button.style()->subElementRect(contents, &option, &button);
  QSize needed = button.fontMetrics().size(Qt::TextShowMnemonic, text);
  if (!button.icon().isNull()) needed.rwidth() += button.iconSize().width();
  if (needed.width() > room.width() || needed.height() > room.height() ||
      !VisibleRect(button).contains(room))
    clipped.push_back(Describe(button, text, needed, room.size()));
}

// Column titles and cells of a list within their columns.
void CheckList(const QTreeWidget& list, std::vector<std::string>& clipped) {
  const QHeaderView& header = *list.header();
  const int headerMargin = list.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  const int cellMargin = list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
  const QFontMetrics headerMetrics(header.font());
  for (int column = 0; column < list.columnCount(); ++column) {
    if (header.isSectionHidden(column)) continue;
    const int width = header.sectionSize(column);
    const QString title = list.headerItem()->text(column);
    const int titleWidth = headerMetrics.horizontalAdvance(title) + 2 * headerMargin;
    if (titleWidth > width)
      clipped.push_back(Describe(list, title, {titleWidth, 0}, {width, 0}) + " (title)");
    for (int row = 0; row < list.topLevelItemCount(); ++row) {
      const QTreeWidgetItem& item = *list.topLevelItem(row);
      int cellWidth = list.fontMetrics().horizontalAdvance(item.text(column)) + 2 * cellMargin;
      if (!item.icon(column).isNull()) cellWidth += list.iconSize().width() + 2 * cellMargin;
      if (column == 0 && (item.flags() & Qt::ItemIsUserCheckable))
        cellWidth += list.style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &list) + 2 * cellMargin;
      if (cellWidth > width)
        clipped.push_back(Describe(list, item.text(column), {cellWidth, 0}, {width, 0}) + " (cell)");
    }
  }
}

// Pages behind the one in front are laid out only when they come to the
// front.
bool OnPageInFront(const QWidget& widget) {
  for (const QWidget* part = &widget; part->parentWidget() != nullptr; part = part->parentWidget()) {
    if (const auto* pages = qobject_cast<const QStackedWidget*>(part->parentWidget()))
      if (pages->currentWidget() != part) return false;
  }
  return true;
}

std::set<std::string> ClippedTexts(QWidget& window) {
  window.ensurePolished();
  std::vector<std::string> clipped;
  // Windows of their own (a dialog owned by this one) are checked by
  // themselves.
  auto own = [&window](const QWidget* widget) {
    return widget->window() == &window && OnPageInFront(*widget);
  };
  for (const QLabel* label : window.findChildren<QLabel*>())
    if (own(label)) CheckLabel(*label, clipped);
  for (const QAbstractButton* button : window.findChildren<QAbstractButton*>())
    if (own(button)) CheckButton(*button, clipped);
  for (const QTreeWidget* list : window.findChildren<QTreeWidget*>())
    if (own(list)) CheckList(*list, clipped);
  return {clipped.begin(), clipped.end()};
}

TEST(TextFit, EveryLabelButtonAndColumnOfEveryWindowInEveryLanguage) {
  // A day whose written form is long: two-digit month, day and hour.
  constexpr TDateTime kLongDate = 46336.9583; // 10 December 2026, 23:00
  for (const char* language : {"English", "Deutsch", "Francais"}) {
    SCOPED_TRACE(language);
    OptionsWindowRig windows;
    windows.Rig.EditSettings([&](TSetting& settings) {
      settings.Language = language;
      settings.LastAutoDefrag = kLongDate;
      settings.LastDefragTime[size_t(TSetting::DriveIndex('C'))] = kLongDate;
    });
    TMainForm& form = windows.Start();
    form.show();
    PumpUntil([&] { return form.manualdefrag->manulist->topLevelItemCount() > 0; });
    // The run-time texts as the status tick writes them.
    form.Timer_GetDefragRuntimeDataTimer();
    PumpPending();
    TReportForm& report = windows.Windows->ReportForm();
    report.show();
    PumpPending();
    NoPowerOff request;
    TShutdown countdown(request);
    ASSERT_GT(report.ReportPages->count(), 0);
    std::set<std::string> clipped;
    for (int page = 0; page < form.PageControl->count(); ++page) {
      form.PageControl->setCurrentIndex(page);
      PumpPending();
      clipped.merge(ClippedTexts(form));
    }
    for (QWidget* window : std::initializer_list<QWidget*>{
             &report, &windows.Windows->LanguageChooser(), &countdown, form.About})
      clipped.merge(ClippedTexts(*window));
    for (const std::string& text : clipped) ADD_FAILURE() << text;
    report.close();
  }
}

} // namespace
} // namespace quillo::test
