// SPDX-License-Identifier: GPL-2.0-or-later
// Many quick commands, pauses, resumes and stops on several jobs at once,
// with the map's hand-over run by this thread as a front end's main loop
// would: no hang, no lost command, and (under the sanitizers) no race.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <set>

#include "JobTestSupport.h"
#include "jobs/QueuedDispatcher.h"

namespace quillo::test {
namespace {

constexpr int kJobs = 4;
constexpr int kActions = 1500;
constexpr auto kGiveUpAfter = std::chrono::seconds(120);
constexpr auto kBreather = std::chrono::microseconds(300);
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

  std::mt19937 random(kRandomSeed);
  for (int action = 0; action < kActions && !HasFatalFailure(); ++action) {
    Slot& slot = slots[random() % kJobs];
    TDefragThread& job = *slot.Job;
    uint32_t choice = random() % 8;
    Expected expected;
    std::string error;
    try {
      switch (choice) {
      case 0:
      case 1:
        expected.Code = ncAnalyzed;
        job.AnalyzeDeal(random() % 2 ? dmFast : dmOptimize);
        break;
      case 2:
        expected.Code = ncDefragged;
        job.DefragDeal(jcManualDefrag, random() % 2 ? dmFast : dmOptimize);
        break;
      case 3:
        expected.Code = ncAutoDefragged;
        job.DefragDeal(jcAutoDefrag, dmFast);
        break;
      case 4:
        job.PauseDeal();
        break;
      case 5:
        job.ResumeDeal();
        break;
      case 6:
        job.StopDeal();
        for (Expected& e : slot.Outstanding) e.StopSent = true;
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
    dispatcher.RunUntil(std::chrono::steady_clock::now() + kBreather);
  }

  // Stop everything and wait for every job to park, running the hand-over.
  for (Slot& slot : slots) {
    slot.Job->StopDeal();
    for (Expected& e : slot.Outstanding) e.StopSent = true;
  }
  auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
  bool allParked = false;
  while (!allParked && std::chrono::steady_clock::now() < deadline) {
    dispatcher.RunUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
    allParked = true;
    for (Slot& slot : slots) allParked = allParked && slot.Job->IsParked();
  }
  ASSERT_TRUE(allParked) << "a job hung";

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
  // The sequence is meant to exercise commands, not only refusals.
  EXPECT_GT(handed, kActions / 20);
  EXPECT_GT(completed, 0);
  dispatcher.Close();
  slots.clear();
}

} // namespace
} // namespace quillo::test
