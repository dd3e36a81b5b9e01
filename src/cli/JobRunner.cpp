// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/JobRunner.h"

#include <algorithm>

#include "cli/StatusText.h"

namespace quillo {

namespace {
constexpr const char* kLeftTime = "Left time:";

std::map<uint32_t, std::vector<uint64_t>> ContentOf(const MemoryVolume& volume) {
  std::map<uint32_t, std::vector<uint64_t>> content;
  for (uint32_t i = 0; i < volume.FileCount(); ++i)
    if (volume.File(i).InUse) content[i] = volume.FileTokens(i);
  return content;
}
} // namespace

JobRunner::JobRunner(const CommandLine& line, TargetTable& targets, Clock& clock,
                     UiDispatcher& dispatcher)
    : Line(line), Targets(targets), Time(clock), Dispatcher(dispatcher) {}

JobRunner::~JobRunner() = default;

void JobRunner::OpenTargets() {
  for (const std::string& target : Line.Targets) {
    auto run = std::make_unique<VolumeRun>();
    run->Target = Targets.Open(target);
    run->Messages = std::make_unique<MessageQueue>();
    Runs.push_back(std::move(run));
  }
}

void JobRunner::Start() {
  if (Runs.empty()) OpenTargets();
  for (auto& run : Runs) StartOne(*run);
}

void JobRunner::StartOne(VolumeRun& run) {
  if (!run.Target.Device) {
    Finish(run, Outcome::Refused, run.Target.Refusal);
    return;
  }
  CollectNotices(run);
  if (run.Target.ReadOnly && Line.Command == Subcommand::Defrag) {
    Finish(run, Outcome::Refused, "opened read-only: it can be analysed, not defragmented");
    return;
  }
  if (run.Target.Demo) run.DemoContent = ContentOf(*run.Target.Demo);
  try {
    run.Job = std::make_unique<TDefragThread>(run.Target.VolumeName, run.Target.Device,
                                              EngineServices{Time, Dispatcher, *run.Messages,
                                                             TDefragMap::DrawHandOver::Coalesced});
  } catch (const DefragError& error) {
    Finish(run, Outcome::Failed, error.what());
    return;
  }
  // The job has not had a command yet: its settings may be set.
  TDefrag& engine = run.Job->Engine();
  engine.ExcludeMasks = Line.Excludes;
  engine.SizeLimit = Line.SizeLimit;
  uint8_t mode = Line.Optimize ? dmOptimize : dmFast;
  try {
    if (Line.Command == Subcommand::Analyze)
      run.Job->AnalyzeDeal(mode);
    else
      run.Job->DefragDeal(jcManualDefrag, mode);
  } catch (const DefragError& error) {
    Finish(run, Outcome::Failed, error.what());
  }
}

void JobRunner::Finish(VolumeRun& run, Outcome outcome, const std::string& error) {
  run.Done = true;
  run.Result = outcome;
  run.Error = error;
  CollectNotices(run);
}

void JobRunner::FinishPass(VolumeRun& run) {
  // A pass whose writes were refused or failed did not defragment the volume,
  // whatever its files' statuses say.
  WriteVerdict verdict = run.Target.Device->GetWriteVerdict();
  switch (verdict.Result) {
  case WriteVerdict::Kind::Sound:
    if (char letter = HistoryLetter(run)) {
      std::string problem = History.RecordPass(letter, Line.Optimize, Time.Now());
      if (!problem.empty()) Warnings.push_back(run.Target.Target + ": " + problem);
    }
    Finish(run, Outcome::Defragmented);
    return;
  case WriteVerdict::Kind::Refused:
    Finish(run, Outcome::Refused, verdict.Reason);
    return;
  case WriteVerdict::Kind::Failed:
    Finish(run, Outcome::Failed, verdict.Reason);
    return;
  }
}

char JobRunner::HistoryLetter(const VolumeRun& run) {
  if (!run.Target.FromDriveTable || run.Target.VolumeName.empty()) return 0;
  return run.Target.VolumeName.front();
}

std::vector<std::string> JobRunner::TakeWarnings() {
  std::vector<std::string> taken;
  taken.swap(Warnings);
  return taken;
}

void JobRunner::CollectNotices(VolumeRun& run) {
  if (!run.Target.Device) return;
  for (std::string& notice : run.Target.Device->Notices())
    if (std::find(run.Notices.begin(), run.Notices.end(), notice) == run.Notices.end())
      run.Notices.push_back(std::move(notice));
}

void JobRunner::Poll() {
  for (auto& pointer : Runs) {
    VolumeRun& run = *pointer;
    if (run.Done) continue;
    TDefragThread& job = *run.Job;
    uint8_t code = job.PopNotify();
    if (code == ncNone && job.IsDead()) {
      Finish(run, Outcome::Failed, "DefragThread Error: " + job.ErrorText());
      continue;
    }
    // A parked job has posted whatever it was going to post.
    if (code == ncNone && job.IsParked()) code = job.PopNotify();
    if (code == ncAnalyzed)
      Finish(run, Outcome::Analyzed);
    else if (code == ncDefragged)
      FinishPass(run);
    else if (job.IsParked())
      Finish(run, job.State() == dsIdle ? Outcome::Stopped : Outcome::Dropped,
             job.State() == dsIdle ? "" : "the volume could not be opened");
  }
}

void JobRunner::StopAll() {
  for (auto& run : Runs) {
    if (run->Done || !run->Job) continue;
    try {
      run->Job->StopDeal();
    } catch (const DefragError&) {
      // A dead job has nothing to stop; Poll reports it.
    }
  }
}

bool JobRunner::Finished() const {
  for (const auto& run : Runs)
    if (!run->Done) return false;
  return true;
}

bool JobRunner::AnyFailed() const {
  for (const auto& run : Runs)
    if (run->Result == Outcome::Failed || run->Result == Outcome::Refused ||
        run->Result == Outcome::Dropped)
      return true;
  return false;
}

std::vector<ProgressItem> JobRunner::Progress() const {
  std::vector<ProgressItem> items;
  for (const auto& pointer : Runs) {
    const VolumeRun& run = *pointer;
    ProgressItem item;
    item.Head = run.Target.VolumeName.empty() ? run.Target.Target
                                              : run.Target.VolumeName + " " + run.Target.Target;
    item.Final = run.Done;
    bool refusedOrFailed = run.Result == Outcome::Refused || run.Result == Outcome::Failed;
    if (!run.Job || (run.Done && refusedOrFailed)) {
      item.Status = std::string(OutcomeName(run.Result)) + ": " + run.Error;
    } else {
      const TDefragThread& job = *run.Job;
      const TDefrag& engine = job.Engine();
      uint8_t state = job.State();
      item.Status = JobStatusText(state, job.Command(), job.Mode(), engine.Map->GetProgressBar());
      if (run.Done && run.Result != Outcome::Analyzed && run.Result != Outcome::Defragmented)
        item.Status += std::string(" (") + OutcomeName(run.Result) +
                       (run.Error.empty() ? "" : ": " + run.Error) + ")";
      if (!run.Done && state == dsDefragging)
        item.Remaining = std::string(kLeftTime) + " " + engine.Report->RemainingTime();
      if (!run.Done) item.File = engine.Map->GetLabel();
    }
    items.push_back(item);
  }
  return items;
}

std::vector<std::string> JobRunner::TakeMessages() {
  std::vector<std::string> messages;
  for (auto& run : Runs)
    for (const std::string& text : run->Messages->Take())
      messages.push_back(run->Target.VolumeName + " " + text);
  return messages;
}

std::vector<std::string> JobRunner::TakeNotices() {
  std::vector<std::string> notices;
  for (auto& run : Runs) {
    for (; run->NoticesTaken < run->Notices.size(); ++run->NoticesTaken)
      notices.push_back(run->Target.Target + ": " + run->Notices[run->NoticesTaken]);
  }
  return notices;
}

std::string JobRunner::ContentProblem(const VolumeRun& run) const {
  const MemoryVolume& volume = *run.Target.Demo;
  std::string problem = volume.CheckConsistency();
  if (!problem.empty()) return problem;
  for (const auto& [index, tokens] : run.DemoContent)
    if (volume.FileTokens(index) != tokens)
      return "content of " + volume.PathOf(index) + " changed";
  return "";
}

std::vector<VolumeSummary> JobRunner::Summaries(bool withMap, SortKey sort) const {
  std::vector<VolumeSummary> summaries;
  for (const auto& pointer : Runs) {
    const VolumeRun& run = *pointer;
    VolumeSummary summary;
    summary.Target = run.Target.Target;
    summary.VolumeName = run.Target.VolumeName;
    summary.FileSystem = run.Target.FileSystem;
    summary.Result = run.Result;
    summary.Error = run.Error;
    summary.Notices = run.Notices;
    if (run.Job) {
      char letter = HistoryLetter(run);
      int64_t days = letter ? History.DaysSinceOptimized(letter, Time.Now()) : kNeverOptimized;
      FillFromJob(summary, *run.Job, withMap, days);
      SortEntries(summary.Entries, sort);
    }
    if (run.Target.Demo) summary.ContentProblem = ContentProblem(run);
    summaries.push_back(summary);
  }
  return summaries;
}

} // namespace quillo
