// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "jobs/QueuedDispatcher.h"

namespace quillo {
namespace {

constexpr auto kStep = std::chrono::milliseconds(2);

TEST(QueuedDispatcher, StepsOfOtherThreadsRunOnTheCreatingThreadAndTheCallerWaits) {
  QueuedDispatcher dispatcher;
  const std::thread::id ui = std::this_thread::get_id();
  constexpr int kWorkers = 3;
  constexpr int kStepsEach = 200;
  // Touched by the steps only, hence only on this thread: no lock needed.
  int counter = 0;
  std::atomic<int> wrongThread{0};
  std::atomic<int> unseen{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < kStepsEach; ++i) {
        bool ran = false;
        dispatcher.RunAndWait([&] {
          if (std::this_thread::get_id() != ui) ++wrongThread;
          ++counter;
          ran = true;
        });
        if (!ran) ++unseen; // RunAndWait returned before the step ran
      }
      ++finished;
    });
  while (finished.load() < kWorkers)
    dispatcher.RunUntil(std::chrono::steady_clock::now() + kStep);
  for (std::thread& worker : workers)
    worker.join();
  EXPECT_EQ(counter, kWorkers * kStepsEach);
  EXPECT_EQ(wrongThread.load(), 0);
  EXPECT_EQ(unseen.load(), 0);
}

TEST(QueuedDispatcher, StepOnTheCreatingThreadRunsAtOnce) {
  QueuedDispatcher dispatcher;
  int ran = 0;
  dispatcher.RunAndWait([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(dispatcher.RunPending(), 0u);
}

TEST(QueuedDispatcher, ErrorOfAStepReachesTheCaller) {
  QueuedDispatcher dispatcher;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      dispatcher.RunAndWait([] { throw std::runtime_error("cell"); });
    } catch (const std::runtime_error& error) {
      caught = std::string(error.what()) == "cell";
    }
  });
  while (dispatcher.RunPending() == 0)
    std::this_thread::sleep_for(kStep);
  worker.join();
  EXPECT_TRUE(caught.load());
}

TEST(QueuedDispatcher, CloseRunsWhatIsQueuedAndThenLetsCallersRunTheirOwnSteps) {
  QueuedDispatcher dispatcher;
  std::atomic<int> ran{0};
  std::atomic<bool> queuedOne{false};
  std::thread worker([&] {
    queuedOne = true;
    dispatcher.RunAndWait([&] { ++ran; });
    // After Close nobody runs the queue; the step must run here.
    dispatcher.RunAndWait([&] { ++ran; });
  });
  while (!queuedOne.load())
    std::this_thread::sleep_for(kStep);
  std::this_thread::sleep_for(kStep);
  dispatcher.Close();
  worker.join();
  EXPECT_EQ(ran.load(), 2);
}

TEST(QueuedDispatcher, WakeEndsTheWaitBeforeItsDeadlineAndIsNotLost) {
  QueuedDispatcher dispatcher;
  constexpr auto kFar = std::chrono::seconds(60);
  // A wake that comes before the wait ends the next wait at once.
  dispatcher.Wake();
  auto deadline = std::chrono::steady_clock::now() + kFar;
  dispatcher.RunUntil(deadline);
  EXPECT_LT(std::chrono::steady_clock::now(), deadline);

  // One that comes during the wait ends it, after the steps queued so far.
  std::atomic<int> ran{0};
  std::thread worker([&] {
    dispatcher.RunAndWait([&] { ++ran; });
    dispatcher.Wake();
  });
  deadline = std::chrono::steady_clock::now() + kFar;
  while (ran.load() == 0 && std::chrono::steady_clock::now() < deadline)
    dispatcher.RunUntil(deadline);
  worker.join();
  EXPECT_EQ(ran.load(), 1);
  EXPECT_LT(std::chrono::steady_clock::now(), deadline);
}

} // namespace
} // namespace quillo
