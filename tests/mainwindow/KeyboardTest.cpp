// SPDX-License-Identifier: GPL-2.0-or-later
// The main window without a mouse: Tab, Enter and the Alt shortcuts of the
// shipped languages.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <map>

#include "OptionsWindowRig.h"
#include "mainwindow/HeaderStrip.h"
#include "mainwindow/ManualPage.h"
#include "mainwindow/OptionPage.h"
#include "mainwindow/SideBar.h"

namespace quillo::test {
namespace {

// A text's Alt shortcut ("&GO" gives Alt+G); empty without one.
QString Mnemonic(const QString& text) { return QKeySequence::mnemonic(text).toString(); }

// A shortcut of a label works only through its buddy.
QString ShortcutText(const QWidget& widget) {
  if (const auto* label = qobject_cast<const QLabel*>(&widget))
    return label->buddy() != nullptr ? label->text() : QString();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
  if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) return group->title();
  return {};
}

bool OnPageInFront(const QWidget& widget) {
  for (const QWidget* part = &widget; part->parentWidget() != nullptr; part = part->parentWidget()) {
    if (const auto* pages = qobject_cast<const QStackedWidget*>(part->parentWidget()))
      if (pages->currentWidget() != part) return false;
  }
  return true;
}

// Alt and the letter of the label's shortcut, to the window.
void PressAlt(QWidget& window, const QLabel& label) {
  const QKeySequence shortcut = QKeySequence::mnemonic(label.text());
  ASSERT_FALSE(shortcut.isEmpty());
  QTest::keyClick(&window, shortcut[0].key(), shortcut[0].keyboardModifiers());
  PumpPending();
}

void Activate(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

TEST(Keyboard, PagesAndRunButtonsHaveAltShortcutsThatNeverClashInAnyLanguage) {
  for (const char* language : {"English", "Deutsch", "Francais"}) {
    SCOPED_TRACE(language);
    OptionsWindowRig windows;
    windows.Rig.EditSettings([&](TSetting& settings) { settings.Language = language; });
    TMainForm& form = windows.Start();
    Activate(form);
    const SideBar& side = *form.Side;
    const ManualPage& manual = *form.manualdefrag;
    for (const QWidget* widget : std::initializer_list<const QWidget*>{
             side.Label_Tile_DefragNow, side.Label_Tile_AutoDefrag, side.Label_Tile_Schedule,
             side.Label_Tile_Option, manual.ManuDefragBtn, manual.ManuAnalyzeBtn,
             manual.ManuStopBtn, manual.ViewReportBtn})
      EXPECT_FALSE(Mnemonic(ShortcutText(*widget)).isEmpty()) << widget->objectName().toStdString();

    // Each page with the side bar and the header: no letter twice.
    for (int page = 0; page < form.PageControl->count(); ++page) {
      form.PageControl->setCurrentIndex(page);
      std::map<QString, std::string> taken;
      for (const QWidget* widget : form.findChildren<QWidget*>()) {
        if (widget->window() != &form || !OnPageInFront(*widget)) continue;
        const QString letter = Mnemonic(ShortcutText(*widget));
        if (letter.isEmpty()) continue;
        const auto [where, added] = taken.emplace(letter, widget->objectName().toStdString());
        EXPECT_TRUE(added) << letter.toStdString() << " of " << widget->objectName().toStdString()
                           << " is taken by " << where->second;
      }
    }

    // Alt and a tile's letter open its page.
    form.PageControl->setCurrentWidget(form.manualdefrag);
    PressAlt(form, *side.Label_Tile_Option);
    EXPECT_EQ(form.PageControl->currentWidget(), form.Option);
    PressAlt(form, *side.Label_Tile_DefragNow);
    EXPECT_EQ(form.PageControl->currentWidget(), form.manualdefrag);
  }
}

TEST(Keyboard, TabReachesTilesAndLinksAndEnterActivatesWhatHasTheFocus) {
  OptionsWindowRig windows;
  TMainForm& form = windows.Start();
  Activate(form);
  // Once round the focus chain, by Tab as the user presses it.
  std::vector<QWidget*> reached;
  for (int press = 0; press < 100; ++press) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    if (!reached.empty() && focused == reached.front()) break;
    reached.push_back(focused);
    QTest::keyClick(focused, Qt::Key_Tab);
  }
  auto wasReached = [&](const QWidget* widget) {
    return std::find(reached.begin(), reached.end(), widget) != reached.end();
  };
  for (const char* overlay : {"Overlay_Tile_DefragNow", "Overlay_Tile_AutoDefrag",
                              "Overlay_Tile_Schedule", "Overlay_Tile_Option"})
    EXPECT_TRUE(wasReached(form.Side->findChild<QWidget*>(overlay))) << overlay;
  for (const QLabel* link : {form.Header->LabelCheckUpdate, form.Header->LabelLanguage,
                             form.Header->LabelFeedBack, form.Header->LabelAbout})
    EXPECT_TRUE(wasReached(link)) << link->objectName().toStdString();

  // Enter on a focused tile opens its page; on a focused link it follows
  // the link.
  QWidget* scheduleTile = form.Side->findChild<QWidget*>("Overlay_Tile_Schedule");
  scheduleTile->setFocus(Qt::TabFocusReason);
  QTest::keyClick(scheduleTile, Qt::Key_Return);
  EXPECT_EQ(form.PageControl->currentWidget(), form.schedule);
  form.Header->LabelFeedBack->setFocus(Qt::TabFocusReason);
  QTest::keyClick(form.Header->LabelFeedBack, Qt::Key_Enter);
  EXPECT_EQ(windows.Links.size(), 1u);
  form.Header->LabelAbout->setFocus(Qt::TabFocusReason);
  QTest::keyClick(form.Header->LabelAbout, Qt::Key_Enter);
  EXPECT_TRUE(form.About->isVisible());
  form.About->close();
  // Enter presses the focused button.
  form.PageControl->setCurrentWidget(form.Option);
  QSignalSpy cancelled(form.Option->SettingCancelBtn, &QAbstractButton::clicked);
  form.Option->SettingCancelBtn->setFocus(Qt::TabFocusReason);
  QTest::keyClick(form.Option->SettingCancelBtn, Qt::Key_Return);
  EXPECT_EQ(cancelled.count(), 1);
}

} // namespace
} // namespace quillo::test
