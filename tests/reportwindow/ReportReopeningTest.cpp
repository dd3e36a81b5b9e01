// SPDX-License-Identifier: GPL-2.0-or-later
// The report window opened modally, closed by every route a user or the
// window system has, and opened again.
#include <gtest/gtest.h>

#include <functional>

#include <QCloseEvent>
#include <QTimer>
#include <QWindow>

#include "ReportWindowFixture.h"

namespace quillo::test {
namespace {

struct CloseRoute {
  const char* Name;
  std::function<void(TReportForm&)> Close;
};

const std::vector<CloseRoute>& CloseRoutes() {
  static const std::vector<CloseRoute> routes = {
      {"Escape", [](TReportForm& form) { QTest::keyClick(&form, Qt::Key_Escape); }},
      {"Close button", [](TReportForm& form) { form.CloseBtn->click(); }},
      {"QWidget::close", [](TReportForm& form) { form.close(); }},
      {"title-bar X",
       [](TReportForm& form) {
         // What a window manager's close button delivers: a close event to
         // the window, queued by the window system.
         QCoreApplication::postEvent(form.windowHandle(), new QCloseEvent);
       }},
      {"QWindow::close", [](TReportForm& form) { form.windowHandle()->close(); }},
  };
  return routes;
}

// Runs the window modally; `whileOpen` runs once the window is up and must
// close it. Returns whether the window was visible with its tab then.
bool OpenModally(ReportWorld& world, const std::function<void(TReportForm&)>& whileOpen) {
  TReportForm& form = *world.Form;
  bool wasOpen = false;
  QTimer::singleShot(0, &form, [&] {
    // Let every event the showing caused arrive first: a window closed by
    // them is not open.
    QApplication::processEvents();
    QApplication::processEvents();
    wasOpen = form.isVisible() && form.ReportPages->count() == 1;
    whileOpen(form);
  });
  // A window that does not close keeps the test from hanging.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &form, [&form] { form.CloseBtn->click(); });
  constexpr int kHangBoundMilliseconds = 10000;
  guard.start(kHangBoundMilliseconds);
  form.ShowModal();
  return wasOpen;
}

TEST(ReportReopening, EveryCloseRouteLeavesTheWindowReadyToOpenAgain) {
  for (const CloseRoute& first : CloseRoutes()) {
    for (const CloseRoute& second : CloseRoutes()) {
      SCOPED_TRACE(std::string(first.Name) + " then " + second.Name);
      ReportWorld world;
      world.AddVolume("C:", 1000, dsAnalyzed);
      world.Form->winId();
      const QWindow* nativeWindow = world.Form->windowHandle();
      const WId nativeId = world.Form->winId();
      EXPECT_TRUE(OpenModally(world, first.Close));
      EXPECT_FALSE(world.Form->isVisible());
      EXPECT_EQ(world.Form->ReportPages->count(), 0);
      // Opened again, by the button or the end of a run, and closed by the
      // second route.
      EXPECT_TRUE(OpenModally(world, second.Close));
      EXPECT_FALSE(world.Form->isVisible());
      EXPECT_EQ(world.Form->ReportPages->count(), 0);
      EXPECT_TRUE(OpenModally(world, [](TReportForm& form) { form.CloseBtn->click(); }));
      // One native window for all openings: closing only hid it.
      EXPECT_EQ(world.Form->windowHandle(), nativeWindow);
      EXPECT_EQ(world.Form->winId(), nativeId);
    }
  }
}

} // namespace
} // namespace quillo::test
