// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/Qdefrag.h"

#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>

#include "cli/CommandLine.h"
#include "cli/JobRunner.h"
#include "cli/JsonWriter.h"
#include "cli/ReportOutput.h"
#include "cli/StatusText.h"
#include "cli/TerminalText.h"
#include "cli/UsageError.h"
#include "jobs/QueuedDispatcher.h"
#include "platform/InstanceChannel.h"
#include "platform/InterruptSignal.h"
#include "platform/SystemClock.h"
#include "platform/Terminal.h"

namespace quillo {

namespace {

constexpr const char* kProgram = "qdefrag";
constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr uint64_t kBytesPerKilobyte = 1024;

bool ColourWanted(ColorChoice choice) {
  if (choice == ColorChoice::Always) return true;
  if (choice == ColorChoice::Never) return false;
  const char* noColor = std::getenv("NO_COLOR");
  return IsTerminal(OutputStream::StandardOutput) && (noColor == nullptr || *noColor == '\0');
}

void PrintWarnings(const TargetTable& targets) {
  for (const std::string& warning : targets.Warnings())
    std::cerr << kProgram << ": warning: " << EscapeForTerminal(warning) << "\n";
}

int RunList(const CommandLine& line) {
  SystemClock clock;
  TargetTable targets(clock, DriveEnvironment::System());
  PrintWarnings(targets);
  std::vector<ListedVolume> volumes = targets.List();
  if (line.Json) {
    JsonWriter json(std::cout);
    json.BeginObject();
    json.Key("volumes").BeginArray();
    for (const ListedVolume& volume : volumes) {
      json.BeginObject();
      json.Key("letter").String(volume.Letter);
      json.Key("target").String(volume.Target);
      json.Key("fileSystem").String(volume.FileSystem);
      json.Key("sizeBytes").Unsigned(volume.SizeBytes);
      json.Key("usable").Boolean(volume.Usable);
      if (volume.Usable) {
        json.Key("why").Null();
        json.Key("reason").Null();
      } else {
        json.Key("why").String(volume.Why);
        json.Key("reason").String(volume.Reason);
      }
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.Finish();
  } else if (!line.Quiet) {
    // The target comes last and the reason on a line of its own: paths of
    // any length then leave the columns where they are.
    constexpr int kLetterWidth = 8;
    constexpr int kFileSystemWidth = 12;
    constexpr int kSizeWidth = 12;
    constexpr int kUsableWidth = 8;
    const std::string reasonIndent(kLetterWidth, ' ');
    std::cout << std::left << std::setw(kLetterWidth) << "LETTER" << std::setw(kFileSystemWidth)
              << "FILESYSTEM" << std::setw(kSizeWidth) << "SIZE" << std::setw(kUsableWidth)
              << "USABLE"
              << "TARGET\n";
    for (const ListedVolume& volume : volumes) {
      std::cout << std::setw(kLetterWidth) << volume.Letter << std::setw(kFileSystemWidth)
                << (volume.FileSystem.empty() ? "-" : EscapeForTerminal(volume.FileSystem))
                << std::setw(kSizeWidth) << FormatSize(volume.SizeBytes / kBytesPerKilobyte)
                << std::setw(kUsableWidth) << (volume.Usable ? "yes" : "no")
                << EscapeForTerminal(volume.Target) << "\n";
      if (!volume.Usable) std::cout << reasonIndent << EscapeForTerminal(volume.Why) << "\n";
    }
  }
  return kExitSuccess;
}

int RunWindow(const CommandLine& line) {
  if (SendInstanceMessage(line.WindowMessage)) return kExitSuccess;
  std::cerr << kProgram << ": no Quillo Defrag window runs (nothing listens on "
            << EscapeForTerminal(InstanceSocketPath().string()) << ")\n";
  return kExitFailure;
}

int RunVolumes(const CommandLine& line) {
  InstallInterruptHandlers();
  SystemClock clock;
  // Created here: this thread runs every map change of every job.
  QueuedDispatcher dispatcher;
  DriveEnvironment environment = DriveEnvironment::System();
  // polkit asks in the terminal when this run needs authorisation.
  environment.TerminalAgent = true;
  // An analysis asks only to read the volumes.
  environment.Writes = line.Command == Subcommand::Defrag;
  TargetTable targets(clock, environment);
  targets.AllowUnmounting(line.Unmount);
  PrintWarnings(targets);
  bool live = !line.Quiet && IsTerminal(OutputStream::StandardError);
  ProgressDisplay progress(std::cerr, live, TerminalColumns(OutputStream::StandardError));

  int exitStatus = kExitSuccess;
  std::vector<VolumeSummary> summaries;
  bool brief = false;
  int interrupts = 0;
  {
    JobRunner runner(line, targets, clock, dispatcher);
    {
      // Opening only reads (a repair excepted, which holds requests back)
      // and can take long on a damaged volume: Ctrl-C ends it at once.
      ImmediateInterrupts immediate(kExitInterrupted);
      runner.OpenTargets();
    }
    for (const std::string& notice : targets.TakeNotices())
      progress.Message(std::string(kProgram) + ": " + EscapeForTerminal(notice));
    runner.Start();
    auto tellNotices = [&] {
      // Shown even when quiet, as warnings are: they concern the volume.
      for (const std::string& notice : runner.TakeNotices())
        progress.Message(std::string(kProgram) + ": " + notice);
    };
    tellNotices();
    auto nextPoll = std::chrono::steady_clock::now();
    while (!runner.Finished()) {
      // Until the next poll this thread runs the jobs' map changes, so a
      // job never waits long for it.
      nextPoll += kPollInterval;
      dispatcher.RunUntil(nextPoll);
      runner.Poll();
      tellNotices();
      for (const std::string& warning : runner.TakeWarnings())
        progress.Message(std::string(kProgram) + ": warning: " + EscapeForTerminal(warning));
      for (const std::string& message : runner.TakeMessages())
        progress.Message(std::string(kProgram) + ": " + message);
      if (!line.Quiet) progress.Show(runner.Progress(), std::chrono::steady_clock::now());
      int received = InterruptCount();
      if (received > interrupts) {
        // Every job stops at its next safe point: a move under way is
        // completed first. A second request skips the map and the lists.
        if (interrupts == 0 && !line.Quiet)
          progress.Message(std::string(kProgram) +
                           ": stopping; a move in progress is completed first");
        if (received > 1) brief = true;
        interrupts = received;
        runner.StopAll();
      }
    }
    summaries = runner.Summaries(line.Map && !brief && interrupts == 0, line.Sort);
    if (runner.AnyFailed()) exitStatus = kExitFailure;
    // Every job has parked or died: nothing is left to hand over.
    dispatcher.Close();
  }
  // The jobs are gone and hold no volume: what was unmounted for them is
  // mounted again.
  for (const RemountOutcome& remount : targets.MountAgain())
    std::cerr << kProgram << ": " << (remount.Failed ? "warning: " : "")
              << EscapeForTerminal(remount.Text) << "\n";

  if (line.Json) {
    RunFacts facts;
    facts.Command = line.Command == Subcommand::Analyze ? "analyze" : "defrag";
    facts.Mode = line.Optimize ? "optimize" : "fast";
    facts.Interrupted = interrupts > 0;
    WriteJsonReport(std::cout, facts, summaries);
  } else if (!line.Quiet) {
    WriteTextReport(std::cout, summaries, !brief, ColourWanted(line.Color));
  }
  std::cout.flush();
  for (const VolumeSummary& summary : summaries)
    if (line.Quiet && !summary.Error.empty())
      std::cerr << kProgram << ": " << EscapeForTerminal(summary.Target) << ": "
                << EscapeForTerminal(summary.Error) << "\n";
  if (interrupts > 0) return kExitInterrupted;
  return exitStatus;
}

} // namespace

int RunQdefrag(const std::vector<std::string>& arguments) {
  CommandLine line;
  try {
    line = ParseCommandLine(arguments);
  } catch (const UsageError& error) {
    std::cerr << kProgram << ": " << EscapeForTerminal(error.what()) << "\n"
              << "Try '" << kProgram << " --help' for more information.\n";
    return kExitUsage;
  }
  if (line.Help) {
    std::cout << UsageText();
    return kExitSuccess;
  }
  if (line.Version) {
    std::cout << kProgram << " (Quillo Defrag) " << QUILLO_VERSION << "\n"
              << "Copyright (C) Corvana. License GPL-2.0-or-later.\n";
    return kExitSuccess;
  }
  try {
    if (line.Command == Subcommand::List) return RunList(line);
    if (line.Command == Subcommand::Window) return RunWindow(line);
    return RunVolumes(line);
  } catch (const std::exception& error) {
    std::cerr << kProgram << ": " << EscapeForTerminal(error.what()) << "\n";
    return kExitFailure;
  }
}

} // namespace quillo
