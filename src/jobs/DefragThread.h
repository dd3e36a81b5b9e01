// SPDX-License-Identifier: GPL-2.0-or-later
// TDefragThread: one volume's job. It owns the volume's engine and runs every
// analysis and defragmentation of that volume on a worker thread of its own,
// which spends its life parked and wakes once per command. Commands come from
// the UI thread through the ...Deal routines; progress is not pushed but
// polled (the engine's State, the map, the report); a command that ends
// normally leaves a completion code in the job's TNotify queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/DefragClass.h"
#include "engine/VolumeProvider.h"
#include "jobs/DefragNotify.h"
#include "jobs/EngineFactory.h"

namespace quillo {

struct DefragThreadOptions {
  // The worker runs in the idle CPU and I/O classes. Tests that must not be
  // starved by a busy machine turn it off.
  bool IdlePriority = true;
  // The engine lets its volume go whenever the job is parked (the window's
  // jobs, which live as long as the window), from the first park on.
  bool ReleaseWhileIdle = false;
};

class TDefragThread {
public:
  // For a volume name such as "C:". Raises "GetFileSystemType Error" when the
  // volume's information cannot be read, "OpenDiskError" when the provider
  // refuses to open the volume for work (mounted, locked, held by another
  // program), "CreateDefragThreadError" when no engine can be made for it
  // (a file system other than NTFS and FAT32, or an engine construction
  // error). The services and the factory must outlive the job.
  TDefragThread(const std::string& volumeName, VolumeProvider& provider,
                const EngineServices& services, EngineFactory& factory = StandardEngines(),
                const DefragThreadOptions& options = {});
  // The same, for a device the caller already has.
  TDefragThread(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
                const EngineServices& services, EngineFactory& factory = StandardEngines(),
                const DefragThreadOptions& options = {});
  // Stops a running command at its next check point and ends the thread.
  ~TDefragThread();
  TDefragThread(const TDefragThread&) = delete;
  TDefragThread& operator=(const TDefragThread&) = delete;

  // --- UI-thread routines. Each raises a DefragError carrying its fixed
  // text when its precondition fails, and then changes nothing. On a job
  // whose thread has died they raise "DefragThread Error: " followed by the
  // error that ended the thread. ---

  // Analysis only (jcAnalyze). Needs an idle, analysed or defragmented job
  // with no command in progress, else "AnalyzeBeginState Error!".
  void AnalyzeDeal(uint8_t mode);
  // jcManualDefrag or jcAutoDefrag; analyses first unless an analysis of
  // the same mode is current. Else "DefragBeginState Error!". A run nobody
  // attends (`attended` false: the schedule; jcAutoDefrag always) never
  // waits for the user to authorise access to the volume.
  void DefragDeal(uint8_t command, uint8_t mode, bool attended = true);
  // Running to paused; else "PauseDeal Error".
  void PauseDeal();
  // Paused to running; else "ResumeDeal Error".
  void ResumeDeal();
  // Asks a running or paused command to stop; the job thread then returns
  // to idle. Does nothing when no command is under way.
  void StopDeal();
  // The oldest completion code, or 0. Also answers for a dead job, whose
  // queue keeps what was posted before it died.
  uint8_t PopNotify();

  // --- What the UI polls. ---
  TDefrag& Engine() { return *EngineInstance; }
  const TDefrag& Engine() const { return *EngineInstance; }
  uint8_t State() const { return EngineInstance->State.load(); }
  uint8_t Command() const { return CommandValue.load(); }
  uint8_t Mode() const { return ModeValue.load(); }
  // Parked with no command handed over and none in progress: the engine's
  // lists, map counts and settings may be touched.
  bool IsParked() const;
  // Waits (blocking) until the job is parked or dead. For callers whose
  // thread does not run the map's hand-over; false on timeout.
  bool WaitUntilParked(std::chrono::milliseconds timeout) const;
  // The thread ended with an error; the job refuses every command.
  bool IsDead() const;
  // The error that ended the thread ("" while it lives).
  std::string ErrorText() const;
  // Why the volume could not be opened for the last command, which was
  // dropped (busy, mounted, gone); "" once a command could open it. The
  // next command tries again.
  std::string OpenRefusal() const;
  // The last command was one nobody attended (the schedule, an automatic
  // run), and it skipped the volume because opening it needed the user's
  // authorisation; OpenRefusal says more. False once a command opens it.
  bool SkippedUnattended() const;
  // The volume has not been opened yet: only the user's authorisation opens
  // it, which the first command someone attends asks for. Until then the
  // map is empty and the engine knows nothing of the volume but its name.
  bool AwaitsAuthorisation() const { return EngineInstance->Unopened(); }

  // The factory of TNtfsDefrag and TFatDefrag.
  static EngineFactory& StandardEngines();

private:
  void Execute();
  // Parks until a command is handed over; false when the job is ending.
  bool Park(uint8_t& command, uint8_t& mode);
  // Runs one command; returns the code to post (0 for none).
  uint8_t Dispatch(uint8_t command, uint8_t mode);
  uint8_t RunDefragCommand(uint8_t mode, uint8_t doneCode);
  // Runs the analysis; false when it was stopped.
  bool RunAnalysis(uint8_t mode);
  // Enters a running state unless a stop came for this command first.
  bool BeginPhase(uint8_t runningState);
  // A stopped command leaves the job idle.
  uint8_t EndStopped();
  void FinishCommand(uint8_t code);
  void PostNotify(uint8_t code);
  void Die(const std::string& text);

  // Hands a command to the parked job: waits for it to park, checks the
  // state again, then sets the command bytes and wakes it.
  void WakeWhenParked(uint8_t command, uint8_t mode, const char* stateError,
                      bool newAnalysisOnModeChange, bool attended = true);
  void RefuseIfDead() const;
  // One compare-and-swap step of a UI routine; false when the state is
  // none of those it expects.
  bool TransitionState(uint8_t from1, uint8_t to1, uint8_t from2, uint8_t to2);

  EngineServices Services;
  DefragThreadOptions Options;
  std::unique_ptr<TDefrag> EngineInstance;
  // Written by the UI thread only while the job is parked (under ParkLock);
  // read by anyone.
  std::atomic<uint8_t> CommandValue{jcAnalyze};
  std::atomic<uint8_t> ModeValue{dmFast};
  TNotify Notifier;

  mutable std::mutex ParkLock;
  mutable std::condition_variable ParkChanged;
  // All under ParkLock.
  bool Parked = false;
  bool WakePending = false;   // a command was handed over, not yet taken
  bool Attended = true;       // someone waits for the command handed over
  bool Busy = false;          // the job thread runs a command
  bool StopRequested = false; // StopDeal came while the command was under way
  bool Terminating = false;
  bool Dead = false;
  std::string DeathText;
  std::string Refusal;
  bool Skipped = false;
  std::atomic<bool> DeadFlag{false};

  // Declared last: started when everything above exists.
  std::thread Worker;
};

} // namespace quillo
