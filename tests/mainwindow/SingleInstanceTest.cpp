// SPDX-License-Identifier: GPL-2.0-or-later
// One instance per user: the lock, the socket, and the messages of other
// processes acted on by the running window.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <QCoreApplication>
#include <QLockFile>
#include <QProcess>
#include <QTimer>

#include "WindowTestSupport.h"
#include "mainwindow/SingleInstance.h"
#include "platform/InstanceChannel.h"

namespace quillo::test {
namespace {

// Every test gets a runtime folder of its own, so that no real instance of
// the user is ever talked to.
class SingleInstanceTest : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Runtime.Path().string()));
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", Saved); }

  // Runs a program to its end and gives its exit code.
  static int Run(const char* program, const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromUtf8(program), arguments);
    if (!process.waitForStarted()) return -1;
    // The event loop runs meanwhile, so the listening side can answer.
    EXPECT_TRUE(PumpUntil([&] { return process.state() == QProcess::NotRunning; }));
    return process.exitCode();
  }

  TempDir Runtime;
  QByteArray Saved;
};

TEST_F(SingleInstanceTest, FirstInstanceHoldsTheLockAndListens) {
  SingleInstance first;
  EXPECT_FALSE(first.SignalRunningInstance({}));
  ASSERT_TRUE(first.Listen());
  EXPECT_TRUE(std::filesystem::exists(InstanceSocketPath()));

  std::vector<int> received;
  QObject::connect(&first, &SingleInstance::MessageReceived,
                   [&](int message) { received.push_back(message); });
  SingleInstance second;
  EXPECT_TRUE(second.SignalRunningInstance({}));
  SingleInstance scheduled;
  EXPECT_TRUE(scheduled.SignalRunningInstance({"/Schedule"}));
  // The scheduled switch is compared exactly; two arguments are no switch.
  SingleInstance lower;
  EXPECT_TRUE(lower.SignalRunningInstance({"/schedule"}));
  SingleInstance two;
  EXPECT_TRUE(two.SignalRunningInstance({"/Schedule", "/StartUp"}));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 4; }));
  std::sort(received.begin(), received.end());
  EXPECT_EQ(received, (std::vector<int>{1124, 1124, 1124, 1126}));
}

TEST_F(SingleInstanceTest, LockWithoutListenerMakesAFullSecondInstance) {
  SingleInstance first;
  EXPECT_FALSE(first.SignalRunningInstance({}));
  // The first instance has not set up its socket: nobody takes the request.
  SingleInstance second;
  EXPECT_FALSE(second.SignalRunningInstance({}));
  EXPECT_FALSE(second.Listen()); // and it does not take over the socket
}

TEST_F(SingleInstanceTest, LockOfAnEndedProcessIsTakenOver) {
  // A process that took the lock and ended without giving it back.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QLockFile lock(QString::fromStdString(InstanceLockPath().string()));
    ::_exit(lock.tryLock(0) ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(std::filesystem::exists(InstanceLockPath()));

  SingleInstance first;
  EXPECT_FALSE(first.SignalRunningInstance({}));
  EXPECT_TRUE(first.Listen());
}

TEST_F(SingleInstanceTest, ForeignLinesAreIgnored) {
  SingleInstance first;
  ASSERT_FALSE(first.SignalRunningInstance({}));
  ASSERT_TRUE(first.Listen());
  std::vector<int> received;
  QObject::connect(&first, &SingleInstance::MessageReceived,
                   [&](int message) { received.push_back(message); });
  EXPECT_TRUE(SendInstanceMessage(1124));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received.front(), 1124);
}

TEST_F(SingleInstanceTest, SecondStartOfTheProgramHandsItsRequestOver) {
  SingleInstance first;
  ASSERT_FALSE(first.SignalRunningInstance({}));
  ASSERT_TRUE(first.Listen());
  std::vector<int> received;
  QObject::connect(&first, &SingleInstance::MessageReceived,
                   [&](int message) { received.push_back(message); });
  // Each ends at once, before it would open a window, and succeeds.
  EXPECT_EQ(Run(QUILLODEFRAG_PATH, {}), 0);
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(Run(QUILLODEFRAG_PATH, {"/Schedule"}), 0);
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received, (std::vector<int>{1124, 1126}));
}

TEST_F(SingleInstanceTest, NoWindowMeansTheSenderFails) {
  EXPECT_EQ(Run(QDEFRAG_PATH, {"window", "--stop-and-exit"}), 1);
}

// The window with a listening instance, and other processes talking to it.
class RunningWindowTest : public SingleInstanceTest {
protected:
  void SetUp() override {
    SingleInstanceTest::SetUp();
    Rig.Catalog.Add("C:\\", MakeWindowVolume("C:"));
    Rig.Catalog.Add("D:\\", MakeWindowVolume("D:"));
    ASSERT_FALSE(Instance.SignalRunningInstance({}));
    ASSERT_TRUE(Instance.Listen());
  }
  void Open() {
    Form = Rig.Create();
    QObject::connect(&Instance, &SingleInstance::MessageReceived, Form.get(),
                     &TMainForm::InstanceMessageReceived);
  }
  void TearDown() override {
    Analysis.OpenFully();
    Form.reset();
    SingleInstanceTest::TearDown();
  }

  SingleInstance Instance;
  Gate Analysis{false};
  std::unique_ptr<ScriptedFactory> Factory;
  FormRig Rig;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(RunningWindowTest, ShowMessageBringsTheHiddenWindowUp) {
  Open();
  ASSERT_FALSE(Form->isVisible());
  EXPECT_EQ(Run(QDEFRAG_PATH, {"window", "--show"}), 0);
  ASSERT_TRUE(PumpUntil([&] { return Form->isVisible(); }));
}

TEST_F(RunningWindowTest, ScheduleMessageStartsTheScheduledVolumesAtRest) {
  Rig.EditSettings([](TSetting& settings) {
    settings.scheduledisk = "dZ"; // Z has no volume and is skipped
    settings.IsOptDefrag_Task = true;
    settings.EnableTrayPrompt = true;
  });
  Open();
  EXPECT_EQ(Run(QDEFRAG_PATH, {"window", "--run-schedule"}), 0);
  ASSERT_TRUE(PumpUntil([&] { return Form->Tray->BalloonCount() == 1; }));
  EXPECT_EQ(Form->Tray->LastBalloonText(), "Start scheduled defragment");
  EXPECT_FALSE(Form->isVisible());
  TDefragThread& jobD = Form->Volumes().Job(1);
  EXPECT_EQ(int(jobD.Command()), int(jcManualDefrag));
  EXPECT_EQ(int(jobD.Mode()), int(dmOptimize));
  ASSERT_TRUE(PumpUntil([&] { return jobD.State() == dsDefragged; }));
  EXPECT_EQ(int(Form->Volumes().Job(0).State()), int(dsIdle));
}

TEST_F(RunningWindowTest, StopAndExitStopsBusyJobsAndQuits) {
  ScriptedEngine::Script script;
  script.Steps = 2;
  script.AnalysisGate = &Analysis;
  Factory = std::make_unique<ScriptedFactory>(script);
  Rig.Engines = Factory.get();
  Open();
  TDefragThread& jobC = Form->Volumes().Job(0);
  jobC.AnalyzeDeal(dmFast);
  ASSERT_TRUE(PumpUntil([&] { return Analysis.ArrivalCount() >= 1; }));

  // The message arrives while the application's loop runs, and ends it.
  // A sender that cannot be started (its program missing or being written,
  // as while a build links it again) sends nothing: that ends the loop at
  // once with its reason, rather than as a window that never quit.
  bool quitByMessage = false;
  QProcess sender;
  std::string senderTrouble;
  QObject::connect(&sender, &QProcess::errorOccurred, [&](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    senderTrouble = sender.errorString().toStdString();
    QCoreApplication::exit(1);
  });
  QTimer::singleShot(0, [&] {
    sender.start(QStringLiteral(QDEFRAG_PATH), {"window", "--stop-and-exit"});
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] { QCoreApplication::exit(1); });
  guard.start(std::chrono::seconds(60));
  quitByMessage = QCoreApplication::exec() == 0;
  ASSERT_EQ(senderTrouble, "") << QDEFRAG_PATH << " did not start (exit code "
                               << sender.exitCode() << ")";
  EXPECT_TRUE(quitByMessage);
  // The sender may have ended while the loop still ran.
  if (sender.state() != QProcess::NotRunning) {
    EXPECT_TRUE(sender.waitForFinished());
  }
  EXPECT_EQ(sender.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(sender.exitCode(), 0);
  EXPECT_EQ(int(jobC.State()), int(dsStopping));
  Analysis.OpenFully();
  ASSERT_TRUE(PumpUntil([&] { return jobC.State() == dsIdle; }));
}


} // namespace
} // namespace quillo::test
