// SPDX-License-Identifier: GPL-2.0-or-later
// Many quick commands, pauses, resumes and stops on several jobs at once,
// with the map's hand-over run by this thread as a front end's main loop
// would: no hang, no lost command, and (under the sanitizers) no race.
#include <gtest/gtest.h>

#include <deque>
#include <iostream>
#include <random>
#include <set>

#include "JobTestSupport.h"
#include "jobs/QueuedDispatcher.h"

namespace quillo::test {
namespace {

constexpr int kJobs = 4;
constexpr int kRounds = 120;
constexpr int kActionsPerRound = 12;
// Every this many rounds all jobs are left to finish what they do.
constexpr int kSettleEvery = 3;
constexpr auto kSettleStep = std::chrono::milliseconds(5);
constexpr auto kGiveUpAfter = std::chrono::seconds(120);
// Between two actions this thread runs the hand-over for up to this long.
constexpr uint32_t kLongestBreatherMicroseconds = 2000;
constexpr uint32_t kRandomSeed = 20240611;

struct Expected {
  uint8_t Code = ncNone;
  bool StopSent = false;
};

struct Slot {
  std::shared_ptr<MemoryVolume> Memory;
  std::unique_ptr<ScriptedFactory> Factory;
  std::unique_ptr<TDefragThread> Job;
  std::deque<Expected> Outstanding;
  int Handed = 0;
  int Completed = 0;
};

const std::set<std::string> kRefusals = {"AnalyzeBeginState Error!", "DefragBeginState Error!",
                                         "PauseDeal Error", "ResumeDeal Error"};

// Takes the posted codes and matches them, oldest first, with the commands
// handed over; a command passed over without a stop was lost.
void Collect(Slot& slot) {
  while (uint8_t code = slot.Job->PopNotify()) {
    while (!slot.Outstanding.empty() && slot.Outstanding.front().Code != code) {
      ASSERT_TRUE(slot.Outstanding.front().StopSent) << "a command ended without its code";
      slot.Outstanding.pop_front();
    }
    ASSERT_FALSE(slot.Outstanding.empty()) << "code " << int(code) << " posted by no command";
    slot.Outstanding.pop_front();
    ++slot.Completed;
  }
}

TEST(DefragThreadStress, QuickCommandSequencesOnSeveralJobs) {
  QueuedDispatcher dispatcher;
  ShortSleepClock time;
  RecordingNotifier notifier;
  DefragThreadOptions options;
  options.IdlePriority = false;
  ScriptedEngine::Script script;
  script.Steps = 4;

  std::vector<Slot> slots(kJobs);
  for (Slot& slot : slots) {
    slot.Memory = MakeFragmentedVolume(6, 100);
    slot.Factory = std::make_unique<ScriptedFactory>(script);
    slot.Job = std::make_unique<TDefragThread>(
        "C:", slot.Memory, EngineServices{time, dispatcher, notifier}, *slot.Factory, options);
  }

  // Waits until every job has parked, running the hand-over meanwhile.
  auto settle = [&] {
    auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
    while (std::chrono::steady_clock::now() < deadline) {
      dispatcher.RunUntil(std::chrono::steady_clock::now() + kSettleStep);
      bool allParked = true;
      for (Slot& slot : slots)
        allParked = allParked && slot.Job->IsParked();
      if (allParked) return true;
    }
    return false;
  };

  std::mt19937 random(kRandomSeed);
  for (int round = 0; round < kRounds && !HasFatalFailure(); ++round) {
    // A burst of quick actions on random jobs.
    for (int action = 0; action < kActionsPerRound && !HasFatalFailure(); ++action) {
      Slot& slot = slots[random() % kJobs];
      TDefragThread& job = *slot.Job;
      uint32_t choice = random() % 10;
      uint8_t mode = random() % 2 ? dmFast : dmOptimize;
      Expected expected;
      std::string error;
      try {
        switch (choice) {
        case 0:
        case 1:
          expected.Code = ncAnalyzed;
          job.AnalyzeDeal(mode);
          break;
        case 2:
        case 3:
          expected.Code = ncDefragged;
          job.DefragDeal(jcManualDefrag, mode);
          break;
        case 4:
          expected.Code = ncAutoDefragged;
          job.DefragDeal(jcAutoDefrag, dmFast);
          break;
        case 5:
          job.PauseDeal();
          break;
        case 6:
        case 7:
          job.ResumeDeal();
          break;
        case 8:
          job.StopDeal();
          for (Expected& e : slot.Outstanding)
            e.StopSent = true;
          break;
        default:
          Collect(slot);
          break;
        }
      } catch (const DefragError& refused) {
        error = refused.what();
      }
      ASSERT_TRUE(error.empty() || kRefusals.count(error)) << error;
      if (expected.Code != ncNone && error.empty()) {
        // The job had parked, so every earlier command has ended and posted.
        Collect(slot);
        for (const Expected& earlier : slot.Outstanding)
          ASSERT_TRUE(earlier.StopSent) << "a command ended without its code";
        slot.Outstanding.clear();
        slot.Outstanding.push_back(expected);
        ++slot.Handed;
      }
      dispatcher.RunUntil(std::chrono::steady_clock::now() +
                          std::chrono::microseconds(random() % kLongestBreatherMicroseconds));
    }
    if (round % kSettleEvery != kSettleEvery - 1) continue;

    // Let every command run to its end: what was not stopped must post.
    for (Slot& slot : slots) {
      try {
        slot.Job->ResumeDeal();
      } catch (const DefragError&) {
        // not paused
      }
    }
    ASSERT_TRUE(settle()) << "a job hung";
    for (Slot& slot : slots) {
      Collect(slot);
      for (const Expected& e : slot.Outstanding)
        ASSERT_TRUE(e.StopSent) << "a command ended without its code";
      slot.Outstanding.clear();
    }
  }

  // Stop everything and wait for every job to park.
  for (Slot& slot : slots) {
    slot.Job->StopDeal();
    for (Expected& e : slot.Outstanding)
      e.StopSent = true;
  }
  ASSERT_TRUE(settle()) << "a job hung";

  int handed = 0;
  int completed = 0;
  for (Slot& slot : slots) {
    Collect(slot);
    EXPECT_FALSE(slot.Job->IsDead()) << slot.Job->ErrorText();
    EXPECT_TRUE(IsAtRest(slot.Job->State()));
    EXPECT_EQ(slot.Memory->CheckConsistency(), "");
    handed += slot.Handed;
    completed += slot.Completed;
  }
  std::cout << "commands handed over " << handed << ", completed " << completed << "\n";
  EXPECT_GT(handed, 0);
  EXPECT_GT(completed, 0);
  dispatcher.Close();
  slots.clear();
}

} // namespace
} // namespace quillo::test
