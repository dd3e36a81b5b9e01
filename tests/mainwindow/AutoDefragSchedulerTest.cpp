// SPDX-License-Identifier: GPL-2.0-or-later
// The decisions of idle-time automatic defragmentation, driven tick by tick
// with recorded processor and disk percentages and a scripted job.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "mainwindow/AutoDefragScheduler.h"

namespace quillo::test {
namespace {

using Outcome = AutoDefragScheduler::Outcome;

constexpr TDateTime kNow = 46000.5;
constexpr TDateTime kHour = 1.0 / 24;

// A job that follows its commands as the real one does, and records them.
class ScriptedJob final : public AutoDefragJob {
public:
  uint8_t State() const override { return StateValue; }
  uint8_t Command() const override { return CommandValue; }
  bool IsSettled() const override { return Settled; }
  void DefragDeal(uint8_t command, uint8_t mode) override {
    Calls.push_back("DefragDeal " + std::to_string(command) + " " + std::to_string(mode));
    if (Refuses || !IsAtRest(StateValue) || !Settled) throw DefragError("DefragBeginState Error!");
    // Handed over: the state is the resting one until the thread takes it.
    CommandValue = command;
    Settled = false;
  }
  void PauseDeal() override {
    Calls.push_back("PauseDeal");
    if (!IsRunning(StateValue)) throw DefragError("PauseDeal Error");
    StateValue = StateValue == dsAnalyzing ? dsAnalyzePaused : dsDefragPaused;
  }
  void ResumeDeal() override {
    Calls.push_back("ResumeDeal");
    if (!IsPaused(StateValue)) throw DefragError("ResumeDeal Error");
    StateValue = StateValue == dsAnalyzePaused ? dsAnalyzing : dsDefragging;
  }

  // The job thread took the command and works on it.
  void Work(uint8_t state = dsDefragging) {
    StateValue = state;
    Settled = false;
  }
  // The command ended (finished or stopped) and the thread parked.
  void Rest(uint8_t state) {
    StateValue = state;
    Settled = true;
  }
  size_t Count(const std::string& call) const {
    return size_t(std::count(Calls.begin(), Calls.end(), call));
  }

  uint8_t StateValue = dsIdle;
  uint8_t CommandValue = jcAnalyze;
  bool Settled = true;
  bool Refuses = false;
  std::vector<std::string> Calls;
};

struct Sample {
  int32_t Cpu;
  int32_t Disk;
};
constexpr Sample kCalm{2, 3};
constexpr Sample kBusy{60, 3};

class SchedulerTest : public ::testing::Test {
protected:
  Outcome Tick(Sample sample) {
    return Scheduler.Step(sample.Cpu, sample.Disk, Settings, {&Job, LastDefrag});
  }
  // Ticks until a run starts; the number of ticks, or -1 when none started.
  int TicksUntilStart(Sample sample, int limit) {
    for (int i = 1; i <= limit; ++i)
      if (Tick(sample) == Outcome::Started) return i;
    return -1;
  }
  // A started run whose analysis the job thread has begun.
  void StartRun() {
    Scheduler.IdleTicks = AutoDefragScheduler::StartThreshold(Settings.AutoIdleTime);
    ASSERT_EQ(Tick(kCalm), Outcome::Started);
    Job.Work(dsAnalyzing);
    Job.Work(dsDefragging);
    Job.Calls.clear();
  }

  FakeClock Time{kNow};
  AutoDefragScheduler Scheduler{Time};
  SettingFields Settings;
  ScriptedJob Job;
  TDateTime LastDefrag = 0;
};

TEST_F(SchedulerTest, FiveMinutesOfCalmTicksStartAFastAutomaticRun) {
  Settings.AutoIdleTime = 5;
  Settings.EnableTrayPrompt = false;
  // 5 × 600 ÷ 7 = 428 calm ticks are not yet enough.
  EXPECT_EQ(AutoDefragScheduler::StartThreshold(5), 428);
  EXPECT_EQ(TicksUntilStart(kCalm, 428), -1);
  EXPECT_EQ(Scheduler.IdleTicks, 428);
  EXPECT_TRUE(Job.Calls.empty());

  EXPECT_EQ(Tick(kCalm), Outcome::Started);
  EXPECT_EQ(Job.Calls, std::vector<std::string>{"DefragDeal 1 1"}); // jcAutoDefrag, dmFast
  EXPECT_EQ(Scheduler.AutoDefragRunning, -1);
  EXPECT_EQ(Scheduler.IdleTicks, 0);
}

TEST_F(SchedulerTest, IdleTimeOfEveryTrackbarPosition) {
  for (int32_t minutes = 1; minutes <= 10; ++minutes) {
    SCOPED_TRACE(minutes);
    Settings.AutoIdleTime = minutes;
    Scheduler = AutoDefragScheduler(Time);
    Job = ScriptedJob();
    EXPECT_EQ(TicksUntilStart(kCalm, 1000), minutes * 600 / 7 + 1);
  }
}

TEST_F(SchedulerTest, StoredIdleTimeOutsideThePagesRangeCountsAsShown) {
  // 0 and a huge value read as the page's 1 and 10 minutes.
  EXPECT_EQ(AutoDefragScheduler::StartThreshold(0), AutoDefragScheduler::StartThreshold(1));
  EXPECT_EQ(AutoDefragScheduler::StartThreshold(-7), 85);
  EXPECT_EQ(AutoDefragScheduler::StartThreshold(2147483647), 857);
}

TEST_F(SchedulerTest, OnlyTicksBelowFifteenAndTwentyPercentAreCalm) {
  struct Case {
    Sample Activity;
    bool Calm;
  };
  for (const Case& c : {Case{{14, 19}, true}, Case{{0, 0}, true}, Case{{-1, 0}, true},
                        Case{{15, 0}, false}, Case{{0, 20}, false}, Case{{100, 100}, false}}) {
    SCOPED_TRACE(std::to_string(c.Activity.Cpu) + "/" + std::to_string(c.Activity.Disk));
    Scheduler.IdleTicks = 10;
    Tick(c.Activity);
    EXPECT_EQ(Scheduler.IdleTicks, c.Calm ? 11 : 5);
  }
}

TEST_F(SchedulerTest, BusyTicksTakeFiveOffAndTheCountNeverGoesBelowZero) {
  // Recorded one-second samples as the 700 ms ticks see them: each busy
  // second is seen by one or two ticks.
  const std::vector<Sample> ticks = {kCalm,     kCalm,     kCalm,     kCalm,   kCalm,   kCalm,
                                     kCalm,     {40, 10},  {40, 10},  kCalm,   kCalm,   {5, 80},
                                     kCalm,     {30, 35},  {30, 35},  {16, 0}, kCalm};
  const std::vector<int32_t> expected = {1, 2, 3, 4, 5, 6, 7, 2, 0, 1, 2, 0, 1, 0, 0, 0, 1};
  ASSERT_EQ(ticks.size(), expected.size());
  for (size_t i = 0; i < ticks.size(); ++i) {
    Tick(ticks[i]);
    EXPECT_EQ(Scheduler.IdleTicks, expected[i]) << "tick " << i;
  }
  EXPECT_TRUE(Job.Calls.empty());
}

TEST_F(SchedulerTest, VolumeDefragmentedLessThanThreeHoursAgoIsLeftAlone) {
  struct Case {
    TDateTime LastDefrag;
    bool Starts;
  };
  for (const Case& c : {Case{0, true}, Case{kNow - 3 * kHour, true}, Case{kNow - 30 * kHour, true},
                        Case{kNow - 3 * kHour + 1.0 / 86400, false}, Case{kNow - 1 * kHour, false},
                        Case{kNow, false}, Case{kNow + 3 * kHour, true}}) {
    SCOPED_TRACE((c.LastDefrag - kNow) / kHour);
    LastDefrag = c.LastDefrag;
    Job = ScriptedJob();
    Scheduler = AutoDefragScheduler(Time);
    Scheduler.IdleTicks = AutoDefragScheduler::StartThreshold(Settings.AutoIdleTime);
    EXPECT_EQ(Tick(kCalm) == Outcome::Started, c.Starts);
    EXPECT_EQ(Job.Count("DefragDeal 1 1"), c.Starts ? 1u : 0u);
    // Started or not, the idle time is counted afresh.
    EXPECT_EQ(Scheduler.IdleTicks, 0);
    EXPECT_EQ(Scheduler.AutoDefragRunning != 0, c.Starts);
  }
}

TEST_F(SchedulerTest, BusyOrMissingSystemVolumeBlocksTheStart) {
  const int32_t threshold = AutoDefragScheduler::StartThreshold(Settings.AutoIdleTime);
  struct Case {
    const char* What;
    uint8_t State;
    bool Settled;
    bool Refuses;
  };
  for (const Case& c : {Case{"manual analysis", dsAnalyzing, false, false},
                        Case{"paused", dsDefragPaused, false, false},
                        Case{"stopping", dsStopping, false, false},
                        Case{"command handed over, not yet taken", dsIdle, false, false},
                        Case{"between analysis and pass", dsAnalyzed, false, false},
                        Case{"refused", dsIdle, true, true}}) {
    SCOPED_TRACE(c.What);
    Job = ScriptedJob();
    Job.StateValue = c.State;
    Job.Settled = c.Settled;
    Job.Refuses = c.Refuses;
    Scheduler.IdleTicks = threshold;
    EXPECT_EQ(Tick(kCalm), Outcome::Nothing);
    EXPECT_EQ(Scheduler.AutoDefragRunning, 0);
    EXPECT_EQ(Scheduler.IdleTicks, 0);
  }
  Scheduler.IdleTicks = threshold;
  EXPECT_EQ(Scheduler.Step(0, 0, Settings, {nullptr, 0}), Outcome::Nothing);
  EXPECT_EQ(Scheduler.IdleTicks, 0);
  EXPECT_EQ(Scheduler.AutoDefragRunning, 0);
}

TEST_F(SchedulerTest, ActivityAboveTheLimitPausesTheRun) {
  Settings.CpuLimitValue = 40;
  struct Case {
    Sample Activity;
    bool Pauses;
  };
  for (const Case& c : {Case{{41, 0}, true}, Case{{40, 0}, false}, Case{{0, 41}, true},
                        Case{{40, 40}, false}, Case{{100, 100}, true}, Case{{15, 20}, false}}) {
    SCOPED_TRACE(std::to_string(c.Activity.Cpu) + "/" + std::to_string(c.Activity.Disk));
    Job = ScriptedJob();
    Scheduler = AutoDefragScheduler(Time);
    StartRun();
    Tick(c.Activity);
    EXPECT_EQ(Job.Count("PauseDeal"), c.Pauses ? 1u : 0u);
    EXPECT_EQ(Job.StateValue, c.Pauses ? dsDefragPaused : dsDefragging);
    EXPECT_EQ(Scheduler.IdleTicks, c.Pauses ? 1 : 0);
  }
  // The analysis is paused in the same way.
  Job = ScriptedJob();
  Scheduler = AutoDefragScheduler(Time);
  StartRun();
  Job.Work(dsAnalyzing);
  Tick({41, 0});
  EXPECT_EQ(Job.StateValue, dsAnalyzePaused);
}

TEST_F(SchedulerTest, PausedRunResumesAfterCalmTicksCountedFromTheBusyOnes) {
  for (int busy = 1; busy <= 8; ++busy) {
    SCOPED_TRACE(busy);
    Job = ScriptedJob();
    Scheduler = AutoDefragScheduler(Time);
    StartRun();
    for (int i = 0; i < busy; ++i) Tick(kBusy);
    EXPECT_EQ(Job.Count("PauseDeal"), 1u); // only the running job is paused
    EXPECT_EQ(Scheduler.IdleTicks, std::min(busy, 5));
    int calm = 0;
    while (Job.StateValue == dsDefragPaused && calm < 20) {
      Tick(kCalm);
      ++calm;
    }
    EXPECT_EQ(calm, std::max(1, std::min(busy, 5) - 1));
    EXPECT_EQ(Job.Count("ResumeDeal"), 1u);
    EXPECT_EQ(Scheduler.IdleTicks, 1);
  }
}

TEST_F(SchedulerTest, BusyTicksDuringAPauseKeepItPaused) {
  StartRun();
  for (Sample s : {kBusy, kBusy, kBusy, kCalm, kBusy, kCalm, kCalm, kCalm}) Tick(s);
  // Busy 1, 2, 3 (paused at the first), calm 2, busy 3, calm 2, then 1:
  // resumed there; the last calm tick finds it running.
  EXPECT_EQ(Job.Calls, (std::vector<std::string>{"PauseDeal", "ResumeDeal"}));
  EXPECT_EQ(Job.StateValue, dsDefragging);
}

TEST_F(SchedulerTest, RunPausedByHandStaysPaused) {
  StartRun();
  Job.StateValue = dsDefragPaused; // the user pressed Pause
  for (int i = 0; i < 50; ++i) Tick(kCalm);
  EXPECT_EQ(Scheduler.IdleTicks, 0);
  EXPECT_EQ(Job.Count("ResumeDeal"), 0u);
  EXPECT_EQ(Job.StateValue, dsDefragPaused);
  EXPECT_NE(Scheduler.AutoDefragRunning, 0);
}

TEST_F(SchedulerTest, StoppedRunIsLetGoOnceTheJobRests) {
  StartRun();
  Tick(kBusy);
  Tick(kBusy);
  ASSERT_EQ(Job.StateValue, dsDefragPaused);
  Job.Calls.clear();
  // Stopped from the manual page: nothing is paused or resumed meanwhile.
  Job.Work(dsStopping);
  for (Sample s : {kBusy, kCalm, kCalm, kBusy, kCalm}) Tick(s);
  EXPECT_TRUE(Job.Calls.empty());
  EXPECT_NE(Scheduler.AutoDefragRunning, 0);
  int32_t count = Scheduler.IdleTicks;

  Job.Rest(dsIdle);
  Tick(kCalm);
  EXPECT_EQ(Scheduler.AutoDefragRunning, 0);
  EXPECT_EQ(Scheduler.IdleTicks, count); // the clearing tick counts nothing
  Tick(kCalm);
  EXPECT_EQ(Scheduler.IdleTicks, count + 1); // the idle wait goes on from there
}

TEST_F(SchedulerTest, RunIsLetGoWhenItEndsOrAManualCommandTakesTheJob) {
  struct Case {
    const char* What;
    uint8_t State;
    bool Settled;
    uint8_t Command;
    bool LetGo;
  };
  for (const Case& c : {Case{"finished", dsDefragged, true, jcAutoDefrag, true},
                        Case{"stopped", dsIdle, true, jcAutoDefrag, true},
                        Case{"finished, thread not yet parked", dsDefragged, false, jcAutoDefrag, false},
                        Case{"handed over, not yet taken", dsIdle, false, jcAutoDefrag, false},
                        Case{"between analysis and pass", dsAnalyzed, false, jcAutoDefrag, false},
                        Case{"taken over by a manual run", dsDefragging, false, jcManualDefrag, true},
                        Case{"taken over by an analysis", dsAnalyzing, false, jcAnalyze, true}}) {
    SCOPED_TRACE(c.What);
    Job = ScriptedJob();
    Scheduler = AutoDefragScheduler(Time);
    StartRun();
    Job.StateValue = c.State;
    Job.Settled = c.Settled;
    Job.CommandValue = c.Command;
    Tick(kBusy);
    EXPECT_EQ(Scheduler.AutoDefragRunning == 0, c.LetGo);
    // Nothing is paused on a job at rest or in other hands.
    EXPECT_EQ(Job.Count("PauseDeal"), 0u);
  }
  // The system volume left the list.
  Job = ScriptedJob();
  Scheduler = AutoDefragScheduler(Time);
  StartRun();
  Scheduler.Step(0, 0, Settings, {nullptr, 0});
  EXPECT_EQ(Scheduler.AutoDefragRunning, 0);
}

TEST_F(SchedulerTest, CommandRefusedByARaceIsNotAnError) {
  // The job left its running state between the poll and the command.
  class Racing final : public AutoDefragJob {
  public:
    uint8_t State() const override { return Polled; }
    uint8_t Command() const override { return jcAutoDefrag; }
    bool IsSettled() const override { return false; }
    void DefragDeal(uint8_t, uint8_t) override {}
    void PauseDeal() override { throw DefragError("PauseDeal Error"); }
    void ResumeDeal() override { throw DefragError("ResumeDeal Error"); }
    uint8_t Polled = dsDefragging;
  } racing;
  Scheduler.AutoDefragRunning = -1;
  EXPECT_NO_THROW(Scheduler.Step(90, 0, Settings, {&racing, 0}));
  racing.Polled = dsDefragPaused;
  Scheduler.IdleTicks = 2;
  EXPECT_NO_THROW(Scheduler.Step(0, 0, Settings, {&racing, 0}));
  EXPECT_NE(Scheduler.AutoDefragRunning, 0);
}

TEST(WholeHoursTest, HoursBetweenDateTimes) {
  EXPECT_EQ(AutoDefragScheduler::WholeHoursBetween(46000.5, 46000.5 - 3 * kHour), 3);
  EXPECT_EQ(AutoDefragScheduler::WholeHoursBetween(46000.5 - 3 * kHour, 46000.5), 3);
  EXPECT_EQ(AutoDefragScheduler::WholeHoursBetween(46000.5, 46000.5 - 3 * kHour + 1e-5), 2);
  EXPECT_EQ(AutoDefragScheduler::WholeHoursBetween(46000.5, 45999.5), 24);
}

} // namespace
} // namespace quillo::test
