// SPDX-License-Identifier: GPL-2.0-or-later
// The job's construction, its state table, its commands and its failures,
// with an engine whose analysis the test steers and the real pass.
#include <gtest/gtest.h>

#include <climits>

#include "JobTestSupport.h"

namespace quillo::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(30);

// One job over a gated in-memory volume.
// Runs steps inline, as the window's hand-over does for a job without a
// map, and counts the wake-ups a job gives its UI thread.
class WakeCountingDispatcher final : public UiDispatcher {
public:
  void RunAndWait(const std::function<void()>& step) override { step(); }
  void Wake() override { ++Wakes; }
  // The wake follows the state change that the test saw: wait for it.
  int WakesOnceSettled(int expected) const {
    for (int i = 0; i < kSettleTries && Wakes.load() < expected; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Wakes.load();
  }
  static constexpr int kSettleTries = 10000;
  std::atomic<int> Wakes{0};
};

class JobWorld {
public:
  explicit JobWorld(ScriptedEngine::Script script = {}, const std::string& fileSystem = "FAT32",
                    int fragmented = 3)
      : Memory(MakeFragmentedVolume(fragmented, 8, fileSystem)),
        Device(std::make_shared<GatedVolume>(Memory)) {
    if (!script.AnalysisGate) script.AnalysisGate = &AnalysisGate;
    if (!script.EndGate) script.EndGate = &EndGate;
    Factory = std::make_unique<ScriptedFactory>(script);
  }
  ~JobWorld() {
    // A job waiting at a closed gate could never stop.
    AnalysisGate.OpenFully();
    EndGate.OpenFully();
    Device->Moves.OpenFully();
    Job.reset();
  }

  TDefragThread& Start(bool idlePriority = false) {
    DefragThreadOptions options;
    options.IdlePriority = idlePriority;
    Job = std::make_unique<TDefragThread>("C:", Device, EngineServices{Time, Dispatcher, Notifier},
                                          *Factory, options);
    return *Job;
  }
  ScriptedEngine& Engine() { return *Factory->Last; }

  // Runs a command to its end and returns the code it posted.
  uint8_t RunToEnd(const std::function<void()>& command) {
    command();
    ExpectParks(*Job);
    return Job->PopNotify();
  }

  // Brings the started job into a state, with the job thread held where it
  // can stay in that state.
  void DriveTo(uint8_t state) {
    switch (state) {
    case dsIdle:
      ExpectParks(*Job);
      break;
    case dsAnalyzed:
      ASSERT_EQ(RunToEnd([&] { Job->AnalyzeDeal(dmFast); }), ncAnalyzed);
      break;
    case dsDefragged:
      ASSERT_EQ(RunToEnd([&] { Job->DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
      break;
    case dsAnalyzing:
    case dsAnalyzePaused:
    case dsStopping:
      AnalysisGate.Close();
      Job->AnalyzeDeal(dmFast);
      ASSERT_TRUE(AnalysisGate.WaitForArrivals(1));
      if (state == dsAnalyzePaused) Job->PauseDeal();
      if (state == dsStopping) Job->StopDeal();
      break;
    case dsDefragging:
    case dsDefragPaused:
      Device->Moves.Close();
      Job->DefragDeal(jcManualDefrag, dmFast);
      ASSERT_TRUE(Device->Moves.WaitForArrivals(1));
      if (state == dsDefragPaused) Job->PauseDeal();
      break;
    }
    ASSERT_EQ(int(Job->State()), int(state));
  }

  std::shared_ptr<MemoryVolume> Memory;
  std::shared_ptr<GatedVolume> Device;
  Gate AnalysisGate;
  Gate EndGate;
  ShortSleepClock Time;
  WakeCountingDispatcher Dispatcher;
  RecordingNotifier Notifier;
  std::unique_ptr<ScriptedFactory> Factory;
  std::unique_ptr<TDefragThread> Job;
};

// ---------------------------------------------------------------- construction

struct FileSystemCase {
  const char* Name;
  const char* Engine; // "NTFS", "FAT" or "" when refused
};

class FileSystemChoice : public ::testing::TestWithParam<FileSystemCase> {};

TEST_P(FileSystemChoice, FirstFourCharactersChooseTheEngine) {
  const FileSystemCase& c = GetParam();
  JobWorld world({}, c.Name);
  std::string error = ErrorOf([&] { world.Start(); });
  if (*c.Engine == '\0') {
    EXPECT_EQ(error, "CreateDefragThreadError");
    EXPECT_TRUE(world.Factory->Kinds.empty());
  } else {
    EXPECT_EQ(error, "");
    EXPECT_EQ(world.Factory->Kinds, std::vector<std::string>{c.Engine});
    EXPECT_EQ(world.Device->LastNameCapacity.load(), 10u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileSystemChoice,
    ::testing::Values(FileSystemCase{"NTFS", "NTFS"}, FileSystemCase{"ntfs", "NTFS"},
                      FileSystemCase{"Ntfs", "NTFS"}, FileSystemCase{"NTFS-3G", "NTFS"},
                      FileSystemCase{"FAT32", "FAT"}, FileSystemCase{"Fat32", "FAT"},
                      FileSystemCase{"fat32", "FAT"}, FileSystemCase{"FAT3", "FAT"},
                      FileSystemCase{"FAT", ""}, FileSystemCase{"FAT16", ""},
                      FileSystemCase{"FAT12", ""}, FileSystemCase{"exFAT", ""},
                      FileSystemCase{"NtFS", ""}, FileSystemCase{"fAT32", ""},
                      FileSystemCase{"NTF", ""}, FileSystemCase{"", ""},
                      FileSystemCase{"ext4", ""}));

TEST(DefragThreadConstruction, VolumeInformationFailureIsGetFileSystemTypeError) {
  JobWorld world;
  world.Device->RefuseVolumeInformation = true;
  EXPECT_EQ(ErrorOf([&] { world.Start(); }), "GetFileSystemType Error");

  // A name too long for the ten-character buffer cannot be read either.
  JobWorld longName({}, "NTFS-LONGNAME");
  EXPECT_EQ(ErrorOf([&] { longName.Start(); }), "GetFileSystemType Error");
}

TEST(DefragThreadConstruction, ProviderThatRefusesTheVolumeIsOpenDiskError) {
  class NoVolumes final : public VolumeProvider {
  public:
    std::shared_ptr<VolumeDevice> OpenDevice(const std::string&, std::string& why) override {
      why = "mounted";
      return nullptr;
    }
  } provider;
  ShortSleepClock time;
  InlineDispatcher dispatcher;
  RecordingNotifier notifier;
  ScriptedFactory factory;
  EXPECT_EQ(
      ErrorOf([&] {
        TDefragThread job("C:", provider, EngineServices{time, dispatcher, notifier}, factory);
      }),
      "OpenDiskError");
}

TEST(DefragThreadConstruction, EngineConstructionErrorsBecomeCreateDefragThreadError) {
  JobWorld noGeometry;
  noGeometry.Memory->FailOperation(MemoryOperation::Geometry);
  EXPECT_EQ(ErrorOf([&] { noGeometry.Start(); }), "CreateDefragThreadError");

  JobWorld noVolume;
  noVolume.Memory->FailOperation(MemoryOperation::OpenVolume);
  EXPECT_EQ(ErrorOf([&] { noVolume.Start(); }), "CreateDefragThreadError");
}

TEST(DefragThreadConstruction, FreshJobIsIdleAndParked) {
  JobWorld world;
  TDefragThread& job = world.Start();
  EXPECT_EQ(job.State(), dsIdle);
  ExpectParks(job);
  EXPECT_EQ(job.PopNotify(), ncNone);
  EXPECT_FALSE(job.IsDead());
  EXPECT_EQ(job.Engine().Map->GetLabel(), "C:\\");
}

TEST(DefragThreadConstruction, JobThreadRunsAtIdlePriority) {
  JobWorld world;
  TDefragThread& job = world.Start(/*idlePriority=*/true);
  ASSERT_EQ(world.RunToEnd([&] { job.AnalyzeDeal(dmFast); }), ncAnalyzed);
  EXPECT_TRUE(world.Engine().RanAtIdlePriority());
}

// ---------------------------------------------------------------- state table

enum class Routine { Analyze, Defrag, Pause, Resume, Stop };

struct RoutineCase {
  uint8_t From;
  Routine Call;
  const char* Error; // "" when accepted
  uint8_t To;        // the state right after the call
};

std::string Describe(const RoutineCase& c) {
  const char* names[] = {"Analyze", "Defrag", "Pause", "Resume", "Stop"};
  return std::string(names[int(c.Call)]) + "DealFrom" + std::to_string(c.From);
}

class StateTable : public ::testing::TestWithParam<RoutineCase> {};

TEST_P(StateTable, RoutineAcceptsOrRefusesWithoutChangingTheState) {
  const RoutineCase& c = GetParam();
  JobWorld world;
  TDefragThread& job = world.Start();
  world.DriveTo(c.From);
  if (HasFatalFailure()) return;

  std::string error = ErrorOf([&] {
    switch (c.Call) {
    case Routine::Analyze:
      job.AnalyzeDeal(dmFast);
      break;
    case Routine::Defrag:
      job.DefragDeal(jcManualDefrag, dmFast);
      break;
    case Routine::Pause:
      job.PauseDeal();
      break;
    case Routine::Resume:
      job.ResumeDeal();
      break;
    case Routine::Stop:
      job.StopDeal();
      break;
    }
  });
  EXPECT_EQ(error, c.Error);
  if (c.Call != Routine::Analyze && c.Call != Routine::Defrag) {
    EXPECT_EQ(int(job.State()), int(c.To));
  } else if (*c.Error != '\0') {
    EXPECT_EQ(int(job.State()), int(c.To));
    EXPECT_FALSE(job.IsDead());
  } else {
    // An accepted command runs to its end.
    ExpectParks(job);
    EXPECT_EQ(int(job.State()), int(c.To));
  }
}

constexpr const char* kAnalyzeRefused = "AnalyzeBeginState Error!";
constexpr const char* kDefragRefused = "DefragBeginState Error!";
constexpr const char* kPauseRefused = "PauseDeal Error";
constexpr const char* kResumeRefused = "ResumeDeal Error";

INSTANTIATE_TEST_SUITE_P(
    AllStates, StateTable,
    ::testing::Values(
        // At rest: commands run, pause and resume are refused, stop does nothing.
        RoutineCase{dsIdle, Routine::Analyze, "", dsAnalyzed},
        RoutineCase{dsIdle, Routine::Defrag, "", dsDefragged},
        RoutineCase{dsIdle, Routine::Pause, kPauseRefused, dsIdle},
        RoutineCase{dsIdle, Routine::Resume, kResumeRefused, dsIdle},
        RoutineCase{dsIdle, Routine::Stop, "", dsIdle},
        RoutineCase{dsAnalyzed, Routine::Analyze, "", dsAnalyzed},
        RoutineCase{dsAnalyzed, Routine::Defrag, "", dsDefragged},
        RoutineCase{dsAnalyzed, Routine::Pause, kPauseRefused, dsAnalyzed},
        RoutineCase{dsAnalyzed, Routine::Resume, kResumeRefused, dsAnalyzed},
        RoutineCase{dsAnalyzed, Routine::Stop, "", dsAnalyzed},
        RoutineCase{dsDefragged, Routine::Analyze, "", dsAnalyzed},
        RoutineCase{dsDefragged, Routine::Defrag, "", dsDefragged},
        RoutineCase{dsDefragged, Routine::Pause, kPauseRefused, dsDefragged},
        RoutineCase{dsDefragged, Routine::Resume, kResumeRefused, dsDefragged},
        RoutineCase{dsDefragged, Routine::Stop, "", dsDefragged},
        // Running.
        RoutineCase{dsAnalyzing, Routine::Analyze, kAnalyzeRefused, dsAnalyzing},
        RoutineCase{dsAnalyzing, Routine::Defrag, kDefragRefused, dsAnalyzing},
        RoutineCase{dsAnalyzing, Routine::Pause, "", dsAnalyzePaused},
        RoutineCase{dsAnalyzing, Routine::Resume, kResumeRefused, dsAnalyzing},
        RoutineCase{dsAnalyzing, Routine::Stop, "", dsStopping},
        RoutineCase{dsDefragging, Routine::Analyze, kAnalyzeRefused, dsDefragging},
        RoutineCase{dsDefragging, Routine::Defrag, kDefragRefused, dsDefragging},
        RoutineCase{dsDefragging, Routine::Pause, "", dsDefragPaused},
        RoutineCase{dsDefragging, Routine::Resume, kResumeRefused, dsDefragging},
        RoutineCase{dsDefragging, Routine::Stop, "", dsStopping},
        // Paused.
        RoutineCase{dsAnalyzePaused, Routine::Analyze, kAnalyzeRefused, dsAnalyzePaused},
        RoutineCase{dsAnalyzePaused, Routine::Defrag, kDefragRefused, dsAnalyzePaused},
        RoutineCase{dsAnalyzePaused, Routine::Pause, kPauseRefused, dsAnalyzePaused},
        RoutineCase{dsAnalyzePaused, Routine::Resume, "", dsAnalyzing},
        RoutineCase{dsAnalyzePaused, Routine::Stop, "", dsStopping},
        RoutineCase{dsDefragPaused, Routine::Analyze, kAnalyzeRefused, dsDefragPaused},
        RoutineCase{dsDefragPaused, Routine::Defrag, kDefragRefused, dsDefragPaused},
        RoutineCase{dsDefragPaused, Routine::Pause, kPauseRefused, dsDefragPaused},
        RoutineCase{dsDefragPaused, Routine::Resume, "", dsDefragging},
        RoutineCase{dsDefragPaused, Routine::Stop, "", dsStopping},
        // Stopping.
        RoutineCase{dsStopping, Routine::Analyze, kAnalyzeRefused, dsStopping},
        RoutineCase{dsStopping, Routine::Defrag, kDefragRefused, dsStopping},
        RoutineCase{dsStopping, Routine::Pause, kPauseRefused, dsStopping},
        RoutineCase{dsStopping, Routine::Resume, kResumeRefused, dsStopping},
        RoutineCase{dsStopping, Routine::Stop, "", dsStopping}),
    [](const ::testing::TestParamInfo<RoutineCase>& info) { return Describe(info.param); });

// ---------------------------------------------------------------- commands

TEST(DefragThreadCommands, DefragReusesAnAnalysisOfTheSameModeOnly) {
  {
    JobWorld world;
    TDefragThread& job = world.Start();
    ASSERT_EQ(world.RunToEnd([&] { job.AnalyzeDeal(dmFast); }), ncAnalyzed);
    ASSERT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
    EXPECT_EQ(world.Engine().AnalysisModes(), std::vector<uint8_t>{dmFast});
    // The pass worked on that analysis: the three files are joined.
    EXPECT_EQ(job.Engine().Report->DefraggedFileCount.load(), 3);
    EXPECT_EQ(world.Memory->CheckConsistency(), "");
  }
  {
    JobWorld world;
    TDefragThread& job = world.Start();
    ASSERT_EQ(world.RunToEnd([&] { job.AnalyzeDeal(dmFast); }), ncAnalyzed);
    world.AnalysisGate.Close();
    job.DefragDeal(jcManualDefrag, dmOptimize);
    // The analysis of the other mode no longer counts: a new one runs.
    ASSERT_TRUE(world.AnalysisGate.WaitForArrivals(2));
    EXPECT_EQ(job.State(), dsAnalyzing);
    world.AnalysisGate.OpenFully();
    ExpectParks(job);
    EXPECT_EQ(job.PopNotify(), ncDefragged);
    EXPECT_EQ(world.Engine().AnalysisModes(), (std::vector<uint8_t>{dmFast, dmOptimize}));
  }
  {
    // After a pass the lists are spent: the next pass analyses again.
    JobWorld world;
    TDefragThread& job = world.Start();
    ASSERT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
    ASSERT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
    EXPECT_EQ(world.Engine().AnalysisCount(), 2);
  }
}

TEST(DefragThreadCommands, CommandAndModeFollowTheLastRequest) {
  JobWorld world;
  TDefragThread& job = world.Start();
  ASSERT_EQ(world.RunToEnd([&] { job.AnalyzeDeal(dmOptimize); }), ncAnalyzed);
  world.AnalysisGate.Close();
  job.DefragDeal(jcManualDefrag, dmFast);
  ASSERT_TRUE(world.AnalysisGate.WaitForArrivals(2));
  EXPECT_EQ(job.Command(), jcManualDefrag);
  EXPECT_EQ(job.Mode(), dmFast);
  world.AnalysisGate.OpenFully();
  ExpectParks(job);
  EXPECT_EQ(job.PopNotify(), ncDefragged);
  EXPECT_EQ(world.Engine().AnalysisModes(), (std::vector<uint8_t>{dmOptimize, dmFast}));
}

TEST(DefragThreadCommands, NotificationCodesComeInOrderThenZero) {
  JobWorld world;
  TDefragThread& job = world.Start();
  ExpectParks(job);
  // A UI thread that waits for the end of a command is woken when the job
  // parks, so it need not poll.
  int wakes = world.Dispatcher.WakesOnceSettled(1);
  job.AnalyzeDeal(dmFast);
  ExpectParks(job);
  job.DefragDeal(jcManualDefrag, dmFast);
  ExpectParks(job);
  job.DefragDeal(jcAutoDefrag, dmFast);
  ExpectParks(job);
  job.AnalyzeDeal(dmOptimize);
  ExpectParks(job);
  EXPECT_EQ(world.Dispatcher.WakesOnceSettled(wakes + 4), wakes + 4);
  EXPECT_EQ(job.PopNotify(), ncAnalyzed);
  EXPECT_EQ(job.PopNotify(), ncDefragged);
  EXPECT_EQ(job.PopNotify(), ncAutoDefragged);
  EXPECT_EQ(job.PopNotify(), ncAnalyzed);
  EXPECT_EQ(job.PopNotify(), ncNone);
  EXPECT_EQ(job.PopNotify(), ncNone);
}

TEST(DefragThreadCommands, UnknownCommandsAndModesDoNothing) {
  struct Case {
    uint8_t Command;
    uint8_t Mode;
  };
  for (Case c : {Case{jcAutoDefrag, dmOptimize}, Case{2, dmFast}, Case{jcManualDefrag, 2},
                 Case{7, dmOptimize}}) {
    JobWorld world;
    TDefragThread& job = world.Start();
    EXPECT_EQ(world.RunToEnd([&] { job.DefragDeal(c.Command, c.Mode); }), ncNone);
    EXPECT_EQ(job.State(), dsIdle);
    EXPECT_EQ(world.Engine().AnalysisCount(), 0);
    EXPECT_FALSE(job.IsDead());
  }
}

TEST(DefragThreadCommands, StopWhilePausedInThePassEndsIdleWithoutNotification) {
  JobWorld world;
  TDefragThread& job = world.Start();
  world.DriveTo(dsDefragPaused);
  ASSERT_EQ(job.State(), dsDefragPaused);
  job.StopDeal();
  EXPECT_EQ(job.State(), dsStopping);
  world.Device->Moves.OpenFully();
  ExpectParks(job);
  EXPECT_EQ(job.State(), dsIdle);
  EXPECT_EQ(job.PopNotify(), ncNone);
  // The pass ended early: the move under way completed, nothing was lost.
  EXPECT_EQ(world.Memory->CheckConsistency(), "");
  EXPECT_LT(job.Engine().Report->DefraggedFileCount.load(), 3);
}

TEST(DefragThreadCommands, StopWhilePausedInTheAnalysisEndsIdle) {
  JobWorld world;
  TDefragThread& job = world.Start();
  world.DriveTo(dsAnalyzePaused);
  job.StopDeal();
  EXPECT_EQ(job.State(), dsStopping);
  world.AnalysisGate.OpenFully();
  ExpectParks(job);
  EXPECT_EQ(job.State(), dsIdle);
  EXPECT_EQ(job.PopNotify(), ncNone);
}

TEST(DefragThreadCommands, PauseHoldsTheAnalysisUntilResumed) {
  ScriptedEngine::Script script;
  script.Steps = 3;
  JobWorld world(script);
  TDefragThread& job = world.Start();
  world.DriveTo(dsAnalyzePaused);
  world.AnalysisGate.OpenFully();
  // Paused: the analysis waits in its pause loop.
  ASSERT_TRUE(world.Engine().WaitUntilSeen(dsAnalyzePaused));
  EXPECT_EQ(job.State(), dsAnalyzePaused);
  EXPECT_EQ(job.PopNotify(), ncNone);
  job.ResumeDeal();
  ExpectParks(job);
  EXPECT_EQ(job.PopNotify(), ncAnalyzed);
  std::vector<uint8_t> seen = world.Engine().SeenStates();
  EXPECT_NE(std::find(seen.begin(), seen.end(), dsAnalyzePaused), seen.end());
  EXPECT_EQ(seen.back(), dsAnalyzing);
}

TEST(DefragThreadCommands, StopRightAfterACommandIsNeverLost) {
  JobWorld world;
  TDefragThread& job = world.Start();
  world.AnalysisGate.Close();
  for (int round = 0; round < 50; ++round) {
    // Whether the job has taken the command yet or not, the stop holds.
    if (round % 2 == 0)
      job.AnalyzeDeal(dmFast);
    else
      job.DefragDeal(jcManualDefrag, dmOptimize);
    job.StopDeal();
    world.AnalysisGate.OpenFully();
    ExpectParks(job);
    world.AnalysisGate.Close();
    ASSERT_EQ(job.State(), dsIdle) << "round " << round;
    ASSERT_EQ(job.PopNotify(), ncNone) << "round " << round;
  }
  EXPECT_TRUE(world.Memory->MoveLog().empty());
}

TEST(DefragThreadCommands, StopBetweenAnalysisAndPassSkipsThePass) {
  JobWorld world;
  TDefragThread& job = world.Start();
  world.EndGate.Close();
  job.DefragDeal(jcManualDefrag, dmFast);
  ASSERT_TRUE(world.EndGate.WaitForArrivals(1));
  ASSERT_EQ(job.State(), dsAnalyzed);
  // Analysed, but the command is still under way.
  EXPECT_EQ(ErrorOf([&] { job.AnalyzeDeal(dmFast); }), "AnalyzeBeginState Error!");
  EXPECT_EQ(ErrorOf([&] { job.DefragDeal(jcManualDefrag, dmFast); }), "DefragBeginState Error!");
  EXPECT_EQ(ErrorOf([&] { job.PauseDeal(); }), "PauseDeal Error");
  job.StopDeal();
  world.EndGate.OpenFully();
  ExpectParks(job);
  EXPECT_EQ(job.State(), dsIdle);
  EXPECT_EQ(job.PopNotify(), ncNone);
  EXPECT_TRUE(world.Memory->MoveLog().empty());
}

TEST(DefragThreadCommands, ThrottledOnlyDuringAutomaticRunsAndClearedOnEveryWayOut) {
  {
    JobWorld world; // finished
    TDefragThread& job = world.Start();
    ASSERT_EQ(world.RunToEnd([&] { job.DefragDeal(jcAutoDefrag, dmFast); }), ncAutoDefragged);
    EXPECT_EQ(world.Engine().ThrottleSeen(), std::vector<uint32_t>{1});
    EXPECT_EQ(job.Engine().Throttled.load(), 0u);
    ASSERT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
    EXPECT_EQ(world.Engine().ThrottleSeen(), (std::vector<uint32_t>{1, 0}));
  }
  {
    JobWorld world; // stopped in the analysis
    TDefragThread& job = world.Start();
    world.AnalysisGate.Close();
    job.DefragDeal(jcAutoDefrag, dmFast);
    ASSERT_TRUE(world.AnalysisGate.WaitForArrivals(1));
    EXPECT_EQ(job.Engine().Throttled.load(), 1u);
    job.StopDeal();
    world.AnalysisGate.OpenFully();
    ExpectParks(job);
    EXPECT_EQ(job.State(), dsIdle);
    EXPECT_EQ(job.Engine().Throttled.load(), 0u);
  }
  {
    JobWorld world; // stopped in the pass
    TDefragThread& job = world.Start();
    world.Device->Moves.Close();
    job.DefragDeal(jcAutoDefrag, dmFast);
    ASSERT_TRUE(world.Device->Moves.WaitForArrivals(1));
    EXPECT_EQ(job.Engine().Throttled.load(), 1u);
    job.StopDeal();
    world.Device->Moves.OpenFully();
    ExpectParks(job);
    EXPECT_EQ(job.Engine().Throttled.load(), 0u);
    EXPECT_EQ(job.PopNotify(), ncNone);
  }
  {
    ScriptedEngine::Script script; // ended by an error
    script.Failure = "GetVolumeBitmap Error";
    JobWorld world(script);
    TDefragThread& job = world.Start();
    job.DefragDeal(jcAutoDefrag, dmFast);
    ExpectParks(job);
    EXPECT_TRUE(job.IsDead());
    EXPECT_EQ(job.Engine().Throttled.load(), 0u);
  }
}

TEST(DefragThreadCommands, UnopenableVolumeDropsTheCommandWithAMessage) {
  JobWorld world;
  TDefragThread& job = world.Start();
  ASSERT_EQ(world.RunToEnd([&] { job.AnalyzeDeal(dmFast); }), ncAnalyzed);
  job.Engine().ReleaseWhileIdle = true;
  world.Memory->FailOperation(MemoryOperation::OpenVolume, kStatusAccessDenied, 1);
  EXPECT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncNone);
  EXPECT_EQ(job.State(), dsAnalyzed);
  ASSERT_EQ(world.Notifier.Messages().size(), 1u);
  EXPECT_EQ(world.Notifier.Messages()[0].Text, "Open Volume Error,Please try again!");
  EXPECT_TRUE(world.Memory->MoveLog().empty());
  // The next try opens the volume and runs the pass on the analysis kept.
  EXPECT_EQ(world.RunToEnd([&] { job.DefragDeal(jcManualDefrag, dmFast); }), ncDefragged);
  EXPECT_EQ(world.Engine().AnalysisCount(), 1);
}

// ---------------------------------------------------------------- failures

struct DeathCase {
  const char* Name;
  std::optional<std::string> Failure;
  std::optional<uint8_t> EndState;
  uint8_t Command;
  const char* Text;
  uint8_t StateLeft;
};

class DeadJob : public ::testing::TestWithParam<DeathCase> {};

TEST_P(DeadJob, RefusesEveryCommandAndKeepsItsState) {
  const DeathCase& c = GetParam();
  ScriptedEngine::Script script;
  script.Failure = c.Failure;
  script.EndState = c.EndState;
  JobWorld world(script);
  TDefragThread& job = world.Start();
  if (c.Command == jcAnalyze)
    job.AnalyzeDeal(dmFast);
  else
    job.DefragDeal(c.Command, dmFast);
  ExpectParks(job); // returns for a dead job too
  ASSERT_TRUE(job.IsDead());
  EXPECT_EQ(job.ErrorText(), c.Text);
  EXPECT_EQ(int(job.State()), int(c.StateLeft));

  std::string refused = std::string("DefragThread Error: ") + c.Text;
  EXPECT_EQ(ErrorOf([&] { job.AnalyzeDeal(dmFast); }), refused);
  EXPECT_EQ(ErrorOf([&] { job.DefragDeal(jcManualDefrag, dmOptimize); }), refused);
  EXPECT_EQ(ErrorOf([&] { job.PauseDeal(); }), refused);
  EXPECT_EQ(ErrorOf([&] { job.ResumeDeal(); }), refused);
  EXPECT_EQ(ErrorOf([&] { job.StopDeal(); }), refused);
  EXPECT_EQ(job.PopNotify(), ncNone);
  EXPECT_EQ(int(job.State()), int(c.StateLeft));
  EXPECT_FALSE(job.IsParked());
  // Parked once before the command, then woke its UI thread when it died.
  EXPECT_EQ(world.Dispatcher.WakesOnceSettled(2), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DeadJob,
    ::testing::Values(DeathCase{"EngineError", std::string("GetVolumeBitmap Error"), std::nullopt,
                                jcAnalyze, "GetVolumeBitmap Error", dsAnalyzing},
                      DeathCase{"AnalysisEndsInWrongState", std::nullopt, dsDefragged, jcAnalyze,
                                "AnalyzeEndState Error", dsDefragged},
                      DeathCase{"DefragAnalysisEndsInWrongState", std::nullopt, dsIdle,
                                jcManualDefrag, "AnalyzeEndState Error", dsIdle}),
    [](const ::testing::TestParamInfo<DeathCase>& info) { return info.param.Name; });

TEST(DefragThreadLifetime, DestructorStopsRunningAndPausedCommands) {
  ScriptedEngine::Script endless;
  endless.Steps = INT_MAX;
  endless.SleepPerStep = true;
  for (uint8_t state : {dsAnalyzing, dsAnalyzePaused}) {
    JobWorld world(endless);
    TDefragThread& job = world.Start();
    job.AnalyzeDeal(dmFast);
    ExpectStateSoon(job, dsAnalyzing);
    if (state == dsAnalyzePaused) job.PauseDeal();
    world.Job.reset(); // must return
    EXPECT_FALSE(world.Job);
  }
  {
    JobWorld world;
    world.Start();
    world.DriveTo(dsDefragPaused);
    world.Device->Moves.OpenFully();
    world.Job.reset();
    EXPECT_EQ(world.Memory->CheckConsistency(), "");
  }
}

} // namespace
} // namespace quillo::test
