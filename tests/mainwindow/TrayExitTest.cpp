// SPDX-License-Identifier: GPL-2.0-or-later
// Ending the program while "Minimize to system tray when program is closed"
// is ticked and the window is shown: closing hides it, but "Exit" in the tray
// menu and the stop-and-exit message end the application's loop at once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <functional>

#include "WindowTestSupport.h"

namespace quillo::test {
namespace {

// Far beyond what quitting takes; reached only when the loop did not end.
constexpr auto kPatience = std::chrono::seconds(60);
constexpr int kGaveUp = 1;

class TrayExitTest : public ::testing::Test {
protected:
  void SetUp() override {
    Rig.EditSettings([](TSetting& settings) { settings.CloseMinimize = true; });
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Form = Rig.Create();
    ASSERT_TRUE(Form->StartedWithVolumes());
    Form->show();
  }

  // Runs the application's loop, doing `action` from inside it; the loop's
  // exit code, kGaveUp when it had to be ended from outside.
  int RunLoopWith(const std::function<void()>& action) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, Form.get(), [this] { ++QuitSignals; });
    QTimer::singleShot(0, Form.get(), action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kGaveUp); });
    guard.start(kPatience);
    return QCoreApplication::exec();
  }

  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
  int QuitSignals = 0;
};

TEST_F(TrayExitTest, ClosingHidesButExitEndsTheLoopAtOnce) {
  // The close button still keeps the program in the tray.
  EXPECT_FALSE(Form->close());
  EXPECT_EQ(Form->Tray->LastBalloonText(), QStringLiteral("QuilloDefrag is still running in background"));
  Form->showNormal();
  ASSERT_TRUE(Form->isVisible());
  int balloons = Form->Tray->BalloonCount();

  EXPECT_EQ(RunLoopWith([this] { Form->Tray->TrayMenu_Exit->trigger(); }), 0);
  EXPECT_EQ(QuitSignals, 1);
  EXPECT_FALSE(Form->isVisible());
  // Not minimised on the way out.
  EXPECT_EQ(Form->Tray->BalloonCount(), balloons);
}

TEST_F(TrayExitTest, StopAndExitMessageEndsTheLoopAtOnce) {
  EXPECT_EQ(RunLoopWith([this] { Form->InstanceMessageReceived(MSG_STOP_AND_EXIT); }), 0);
  EXPECT_EQ(QuitSignals, 1);
  EXPECT_FALSE(Form->isVisible());
}

} // namespace
} // namespace quillo::test
