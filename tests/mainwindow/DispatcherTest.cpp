// SPDX-License-Identifier: GPL-2.0-or-later
// The hand-over to the window thread: steps of other threads run on it and
// their callers wait; Close() lets nothing wait any more.
#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <thread>

#include "WindowTestSupport.h"
#include "mainwindow/MessageBoxNotifier.h"
#include "mainwindow/WindowDispatcher.h"

namespace quillo::test {
namespace {

TEST(WindowDispatcherTest, StepsOfOtherThreadsRunOnTheWindowThread) {
  WindowDispatcher dispatcher;
  QThread* windowThread = QThread::currentThread();
  std::atomic<bool> ranOnWindowThread{false};
  std::atomic<bool> callerReturned{false};
  std::thread worker([&] {
    dispatcher.RunAndWait([&] { ranOnWindowThread = QThread::currentThread() == windowThread; });
    callerReturned = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return callerReturned.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnWindowThread);

  // On the window thread itself the step runs at once.
  bool direct = false;
  dispatcher.RunAndWait([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST(WindowDispatcherTest, ErrorsOfAStepReachItsCaller) {
  WindowDispatcher dispatcher;
  std::atomic<bool> caught{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      dispatcher.RunAndWait([] { throw DefragError("step failed"); });
    } catch (const DefragError& error) {
      caught = std::string(error.what()) == "step failed";
    }
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(caught);
}

TEST(WindowDispatcherTest, CloseRunsTheWaitingStepAndLetsLaterOnesRunInPlace) {
  WindowDispatcher dispatcher;
  std::atomic<int> firstThread{0};
  std::atomic<bool> firstDone{false};
  std::thread worker([&] {
    dispatcher.RunAndWait([&] { firstThread = 1; });
    firstDone = true;
  });
  // The worker waits for this thread, which does not look at its events
  // but closes: the waiting step runs inside Close().
  dispatcher.Close();
  EXPECT_TRUE(dispatcher.IsClosed());
  worker.join();
  EXPECT_TRUE(firstDone);
  EXPECT_EQ(firstThread.load(), 1);

  std::thread::id ranOn;
  std::thread later([&] { dispatcher.RunAndWait([&] { ranOn = std::this_thread::get_id(); }); });
  std::thread::id laterId = later.get_id();
  later.join();
  EXPECT_EQ(ranOn, laterId);
  EXPECT_FALSE(dispatcher.TryRunOnWindowThread([] {}));
}

TEST(WindowDispatcherTest, JobMessagesAreShownOnTheWindowThreadUntilClosed) {
  WindowDispatcher dispatcher;
  RecordingNotifier window;
  MessageBoxNotifier notifier(dispatcher, window);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    notifier.ShowMessage("Open Volume Error,Please try again!", "Quillo Defrag");
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  ASSERT_EQ(window.Messages().size(), 1u);
  EXPECT_EQ(window.Messages().front().Text, "Open Volume Error,Please try again!");

  dispatcher.Close();
  testing::internal::CaptureStderr();
  std::thread late([&] { notifier.ShowMessage("late", "Quillo Defrag"); });
  late.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Quillo Defrag: late\n");
  EXPECT_EQ(window.Messages().size(), 1u);
}

} // namespace
} // namespace quillo::test
