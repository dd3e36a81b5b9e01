// SPDX-License-Identifier: GPL-2.0-or-later
// The tool's volumes at work: one job per target, commanded with the job
// routines and polled by the main loop.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/MessageQueue.h"
#include "cli/PassHistory.h"
#include "cli/ProgressDisplay.h"
#include "cli/TargetTable.h"
#include "cli/VolumeSummary.h"
#include "jobs/DefragThread.h"

namespace quillo {

class JobRunner {
public:
  // The services must outlive the runner; the dispatcher's thread is the
  // one that calls every member.
  JobRunner(const CommandLine& line, TargetTable& targets, Clock& clock, UiDispatcher& dispatcher);
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Opens every target (reads only, unless an interrupted run is repaired).
  void OpenTargets();
  // Hands each opened target its command; opens them first if not yet done.
  void Start();
  // Takes the completions and notices ended and dead jobs.
  void Poll();
  // Asks every running job to stop at its next safe point.
  void StopAll();
  bool Finished() const;
  bool AnyFailed() const;

  std::vector<ProgressItem> Progress() const;
  // Warnings of the tool's own, such as a history that could not be stored.
  std::vector<std::string> TakeWarnings();
  // Messages of the job threads since the last call, each with its volume.
  std::vector<std::string> TakeMessages();
  // What the devices told since the last call (when opened, and when their
  // job ended), each with its target.
  std::vector<std::string> TakeNotices();
  // The figures of every volume; the jobs must have ended.
  std::vector<VolumeSummary> Summaries(bool withMap, SortKey sort) const;

private:
  struct VolumeRun {
    OpenedTarget Target;
    std::unique_ptr<MessageQueue> Messages;
    std::unique_ptr<TDefragThread> Job;
    bool Done = false;
    Outcome Result = Outcome::Failed;
    std::string Error;
    std::map<uint32_t, std::vector<uint64_t>> DemoContent;
    std::vector<std::string> Notices;
    size_t NoticesTaken = 0;
  };

  void StartOne(VolumeRun& run);
  // The end of a pass: done, or refused or failed by the device.
  void FinishPass(VolumeRun& run);
  void Finish(VolumeRun& run, Outcome outcome, const std::string& error = "");
  // Adds the device's notices not known yet. Only while its job is not at
  // work, so that asking never waits for a move.
  void CollectNotices(VolumeRun& run);
  std::string ContentProblem(const VolumeRun& run) const;
  // The letter under which the window keeps the volume's history; 0 for
  // volumes named by path or the demo.
  static char HistoryLetter(const VolumeRun& run);

  const CommandLine& Line;
  TargetTable& Targets;
  Clock& Time;
  UiDispatcher& Dispatcher;
  PassHistory History;
  std::vector<std::unique_ptr<VolumeRun>> Runs;
  std::vector<std::string> Warnings;
};

} // namespace quillo
