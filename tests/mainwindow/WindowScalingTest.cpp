// SPDX-License-Identifier: GPL-2.0-or-later
// The main window on a 1366 x 768 screen at 100, 125 and 150 % scaling: it
// stays within the screen's available area, and what it cannot show at once
// scrolls. Each scale runs this program again on an offscreen screen of
// that size, since the scale is fixed when the application starts.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "OptionsWindowRig.h"

namespace quillo::test {
namespace {

constexpr const char* kChildVariable = "QUILLO_SCALING_CHILD";

TEST(WindowScaling, FittedSizeLeavesRoomForTheScrollBarsItNeeds) {
  const QSize design(748, 530);
  const QMargins frame(2, 30, 2, 2);
  constexpr int kBar = 16;
  struct Case {
    QRect Available;
    QSize Expected;
  };
  const Case cases[] = {
      {QRect(0, 0, 1366, 768), design},                   // fits: unchanged
      {QRect(0, 0, 910, 512), QSize(748 + kBar, 480)},    // too low: scrolls down
      {QRect(0, 0, 700, 900), QSize(696, 530 + kBar)},    // too narrow: scrolls across
      {QRect(0, 0, 600, 400), QSize(596, 368)},           // both
      {QRect(0, 0, 765, 512), QSize(761, 480)},           // the down bar forces the other
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScreenFit::FittedClientSize(design, c.Available, frame, kBar), c.Expected)
        << c.Available.width() << "x" << c.Available.height();
  }
}

// Run by the test below in a program of its own, on the screen it was given.
TEST(WindowScaling, ShownWindowStaysWithinTheScreen) {
  if (qEnvironmentVariableIsEmpty(kChildVariable)) GTEST_SKIP() << "run by ScalesOfASmallScreen";
  OptionsWindowRig windows;
  TMainForm& form = windows.Start();
  form.show();
  PumpPending();
  const QRect available = form.screen()->availableGeometry();
  EXPECT_TRUE(available.contains(form.frameGeometry()))
      << form.frameGeometry().x() << "," << form.frameGeometry().y() << " "
      << form.frameGeometry().width() << "x" << form.frameGeometry().height() << " in "
      << available.width() << "x" << available.height();
  // Every control can be reached: the canvas keeps its design size, and the
  // scroll bars cover what the window does not show.
  const QSize design(TMainForm::kClientWidth, TMainForm::kClientHeight);
  EXPECT_EQ(form.Canvas->size(), design);
  const QWidget& view = *form.Scroller->viewport();
  EXPECT_EQ(view.width() + form.Scroller->horizontalScrollBar()->maximum(), design.width());
  EXPECT_EQ(view.height() + form.Scroller->verticalScrollBar()->maximum(), design.height());
  // A window that fits is its design size.
  if (form.size() == design) {
    EXPECT_FALSE(form.Scroller->verticalScrollBar()->isVisible());
    EXPECT_FALSE(form.Scroller->horizontalScrollBar()->isVisible());
  }
  // The report window too, opened over it.
  TReportForm& report = windows.Windows->ReportForm();
  QRect reportFrame;
  QTimer::singleShot(0, &report, [&] {
    PumpPending();
    reportFrame = report.frameGeometry();
    report.CloseBtn->click();
  });
  report.ShowModal();
  EXPECT_TRUE(available.contains(reportFrame))
      << reportFrame.x() << "," << reportFrame.y() << " " << reportFrame.width() << "x"
      << reportFrame.height();
  std::printf("QUILLO_SCALING %gx%g window %dx%d\n", double(available.width()),
              double(available.height()), form.width(), form.height());
}

TEST(WindowScaling, ScalesOfASmallScreen) {
  if (!qEnvironmentVariableIsEmpty(kChildVariable)) GTEST_SKIP();
  TempDir folder;
  const std::filesystem::path screens = folder.Path() / "screen.json";
  std::ofstream(screens) << R"({"windowFrameMargins": true, "screens": [{"name": "Small",)"
                            R"( "x": 0, "y": 0, "width": 1366, "height": 768,)"
                            R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  struct Scale {
    const char* Factor;
    bool Scrolls;
  };
  for (const Scale scale : {Scale{"1", false}, Scale{"1.25", false}, Scale{"1.5", true}}) {
    SCOPED_TRACE(scale.Factor);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kChildVariable, "1");
    environment.insert("QT_QPA_PLATFORM",
                       QString::fromStdString("offscreen:configfile=" + screens.string()));
    environment.insert("QT_SCALE_FACTOR", scale.Factor);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=WindowScaling.ShownWindowStaysWithinTheScreen")});
    ASSERT_TRUE(child.waitForFinished(-1));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    // At 150 % the screen is 910 x 512 and the window scrolls.
    const QString line = output.section("QUILLO_SCALING ", 1).section('\n', 0, 0);
    EXPECT_EQ(!line.contains("window 748x530"), scale.Scrolls) << line.toStdString();
  }
}

} // namespace
} // namespace quillo::test
