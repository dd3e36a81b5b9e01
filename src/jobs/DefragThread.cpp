// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobs/DefragThread.h"

#include "jobs/StandardEngineFactory.h"
#include "platform/ThreadPriority.h"

namespace quillo {

namespace {

// GetVolumeInformation is asked with room for this many characters of the
// file-system name, and only the first four decide.
constexpr size_t kFileSystemNameCapacity = 10;
constexpr size_t kFileSystemPrefix = 4;
constexpr const char* kNtfsNames[] = {"NTFS", "ntfs", "Ntfs"};
constexpr const char* kFat32Names[] = {"FAT32", "Fat32", "fat32"};

constexpr const char* kFileSystemTypeError = "GetFileSystemType Error";
constexpr const char* kOpenDiskError = "OpenDiskError";
constexpr const char* kUnknownFileSystemError = "CanNotRecognizeTheFileSystem Error";
constexpr const char* kCreateError = "CreateDefragThreadError";
constexpr const char* kAnalyzeBeginError = "AnalyzeBeginState Error!";
constexpr const char* kDefragBeginError = "DefragBeginState Error!";
constexpr const char* kAnalyzeEndError = "AnalyzeEndState Error";
// The job thread's own check after the pass; the text has no exclamation mark.
constexpr const char* kDefragEndError = "DefragBeginState Error";
constexpr const char* kPauseError = "PauseDeal Error";
constexpr const char* kResumeError = "ResumeDeal Error";
constexpr const char* kDeadPrefix = "DefragThread Error: ";
constexpr const char* kUnknownError = "unknown error";
constexpr const char* kOpenVolumeMessage = "Open Volume Error,Please try again!";
constexpr const char* kMessageCaption = "Quillo Defrag";

bool PrefixIsOneOf(const std::string& name, const char* const (&candidates)[3]) {
  if (name.size() < kFileSystemPrefix) return false;
  for (const char* candidate : candidates)
    if (name.compare(0, kFileSystemPrefix, candidate, kFileSystemPrefix) == 0) return true;
  return false;
}

// A volume whose file system cannot be told is a "GetFileSystemType Error";
// one that is there but refused to us (mounted, locked or held by another
// program) cannot be opened: "OpenDiskError", as the engine says it.
std::shared_ptr<VolumeDevice> DeviceFromProvider(VolumeProvider& provider,
                                                 const std::string& volumeName) {
  std::string why;
  std::shared_ptr<VolumeDevice> device = provider.OpenDevice(volumeName, why);
  if (device) return device;
  if (!provider.CanTellFileSystem(volumeName)) throw DefragError(kFileSystemTypeError);
  throw DefragError(kOpenDiskError);
}

// Sets the engine's throttle for an automatic run and clears it on every way
// out, an error included.
class ThrottleScope {
public:
  explicit ThrottleScope(TDefrag& engine) : Engine(engine) { Engine.Throttled = 1; }
  ~ThrottleScope() { Engine.Throttled = 0; }
  ThrottleScope(const ThrottleScope&) = delete;
  ThrottleScope& operator=(const ThrottleScope&) = delete;

private:
  TDefrag& Engine;
};

} // namespace

TDefragThread::TDefragThread(const std::string& volumeName, VolumeProvider& provider,
                             const EngineServices& services, EngineFactory& factory,
                             const DefragThreadOptions& options)
    : TDefragThread(volumeName, DeviceFromProvider(provider, volumeName), services, factory,
                    options) {}

TDefragThread::TDefragThread(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
                             const EngineServices& services, EngineFactory& factory,
                             const DefragThreadOptions& options)
    : Services(services), Options(options) {
  VolumeInformation information;
  if (!device ||
      !device->GetVolumeInformation(volumeName + "\\", kFileSystemNameCapacity, information))
    throw DefragError(kFileSystemTypeError);

  // Every error of the engine's choice and construction becomes one text.
  try {
    const std::string& name = information.FileSystemName;
    if (PrefixIsOneOf(name, kNtfsNames))
      EngineInstance = factory.CreateNtfs(volumeName, device, Services);
    else if (PrefixIsOneOf(name, kFat32Names))
      EngineInstance = factory.CreateFat(volumeName, device, Services);
    else
      throw DefragError(kUnknownFileSystemError);
    if (!EngineInstance) throw DefragError(kCreateError);
  } catch (...) {
    throw DefragError(kCreateError);
  }

  EngineInstance->State = dsIdle;
  // Set before the thread starts, whose first step lets the volume go.
  if (Options.ReleaseWhileIdle) EngineInstance->ReleaseWhileIdle = true;
  Worker = std::thread([this] { Execute(); });
}

TDefragThread::~TDefragThread() {
  {
    std::lock_guard<std::mutex> guard(ParkLock);
    Terminating = true;
    StopRequested = true;
  }
  // A running or paused command stops at its next check point.
  uint8_t state = EngineInstance->State.load();
  while ((IsRunning(state) || IsPaused(state)) &&
         !EngineInstance->State.compare_exchange_weak(state, dsStopping)) {
  }
  ParkChanged.notify_all();
  if (Worker.joinable()) Worker.join();
}

EngineFactory& TDefragThread::StandardEngines() {
  static StandardEngineFactory factory;
  return factory;
}

// ---------------------------------------------------------------- job thread

void TDefragThread::Execute() {
  if (Options.IdlePriority) SetIdlePriority();
  try {
    while (true) {
      EngineInstance->ReleaseVolume();
      uint8_t command = 0;
      uint8_t mode = 0;
      if (!Park(command, mode)) return;
      uint8_t code = ncNone;
      bool attended = false;
      {
        std::lock_guard<std::mutex> guard(ParkLock);
        attended = Attended && command != jcAutoDefrag;
      }
      VolumeDevice& device = EngineInstance->Device();
      // An analysis asks only to read the volume; a pass, to write.
      device.SetOpeningIntent({command != jcAnalyze, attended});
      bool opened = EngineInstance->ReopenVolume();
      std::string refusal = opened ? std::string() : device.OpenFailure();
      // A run nobody attends skips a volume it may open only after asking
      // the user; the run's report says so until a later command opens it.
      bool skipped = !opened && !attended && device.OpenNeedsAuthorisation();
      EngineInstance->Report->NoteSkipped(skipped ? refusal : std::string());
      {
        std::lock_guard<std::mutex> guard(ParkLock);
        Refusal = refusal;
        Skipped = skipped;
      }
      if (!opened) {
        // The command is dropped and the state stays as it was. A volume
        // that says why (busy, mounted) shows it in its status rather than
        // in a box, which no unattended run could answer.
        if (refusal.empty()) Services.Notifier.ShowMessage(kOpenVolumeMessage, kMessageCaption);
      } else {
        code = Dispatch(command, mode);
      }
      FinishCommand(code);
    }
  } catch (const std::exception& error) {
    Die(error.what());
  } catch (...) {
    Die(kUnknownError);
  }
}

bool TDefragThread::Park(uint8_t& command, uint8_t& mode) {
  std::unique_lock<std::mutex> lock(ParkLock);
  // Marked parked and waiting in one step under the lock, so a command
  // handed over at this moment cannot be missed.
  Parked = true;
  ParkChanged.notify_all();
  // Whoever polls for the end of the command may look now. Outside the
  // lock: the UI thread may hold its own while it hands over a command.
  lock.unlock();
  Services.Dispatcher.Wake();
  lock.lock();
  ParkChanged.wait(lock, [&] { return WakePending || Terminating; });
  Parked = false;
  if (Terminating) return false;
  WakePending = false;
  Busy = true;
  command = CommandValue.load();
  mode = ModeValue.load();
  return true;
}

uint8_t TDefragThread::Dispatch(uint8_t command, uint8_t mode) {
  switch (command) {
  case jcAnalyze:
    if (!IsAtRest(State())) throw DefragError(kAnalyzeBeginError);
    if (!RunAnalysis(mode)) return EndStopped();
    return ncAnalyzed;
  case jcManualDefrag:
    if (mode != dmFast && mode != dmOptimize) return ncNone;
    return RunDefragCommand(mode, ncDefragged);
  case jcAutoDefrag: {
    if (mode != dmFast) return ncNone;
    ThrottleScope throttle(*EngineInstance);
    return RunDefragCommand(mode, ncAutoDefragged);
  }
  default:
    return ncNone;
  }
}

uint8_t TDefragThread::RunDefragCommand(uint8_t mode, uint8_t doneCode) {
  if (!IsAtRest(State())) throw DefragError(kDefragBeginError);
  // An analysis of this mode that is still current is reused.
  if (State() != dsAnalyzed && !RunAnalysis(mode)) return EndStopped();
  if (!BeginPhase(dsDefragging)) return EndStopped();
  EngineInstance->Defrag(mode);
  uint8_t state = State();
  if (state != dsStopping && state != dsDefragged) throw DefragError(kDefragEndError);
  if (state == dsStopping) return EndStopped();
  return doneCode;
}

bool TDefragThread::RunAnalysis(uint8_t mode) {
  if (!BeginPhase(dsAnalyzing)) return false;
  EngineInstance->Analyze(mode);
  uint8_t state = State();
  if (state != dsStopping && state != dsAnalyzed) throw DefragError(kAnalyzeEndError);
  return state == dsAnalyzed;
}

bool TDefragThread::BeginPhase(uint8_t runningState) {
  std::lock_guard<std::mutex> guard(ParkLock);
  // A stop that came while the command was being handed over, or between
  // the analysis and the pass, found no running state to change; it is
  // honoured here instead of being lost.
  if (StopRequested) return false;
  EngineInstance->State = runningState;
  return true;
}

uint8_t TDefragThread::EndStopped() {
  EngineInstance->State = dsIdle;
  return ncNone;
}

void TDefragThread::FinishCommand(uint8_t code) {
  {
    std::lock_guard<std::mutex> guard(ParkLock);
    Busy = false;
    StopRequested = false;
  }
  // Posted after the job stopped counting as busy, so that whoever sees the
  // code can hand over the next command at once.
  if (code != ncNone) PostNotify(code);
}

void TDefragThread::PostNotify(uint8_t code) {
  Notifier.Push(code);
}

void TDefragThread::Die(const std::string& text) {
  {
    std::lock_guard<std::mutex> guard(ParkLock);
    Dead = true;
    DeadFlag = true;
    DeathText = text;
    Busy = false;
    Parked = false;
    ParkChanged.notify_all();
  }
  Services.Dispatcher.Wake();
}

// ---------------------------------------------------------------- UI thread

void TDefragThread::RefuseIfDead() const {
  if (!DeadFlag.load()) return;
  std::lock_guard<std::mutex> guard(ParkLock);
  throw DefragError(kDeadPrefix + DeathText);
}

void TDefragThread::WakeWhenParked(uint8_t command, uint8_t mode, const char* stateError,
                                   bool newAnalysisOnModeChange, bool attended) {
  std::unique_lock<std::mutex> lock(ParkLock);
  if (Dead) throw DefragError(kDeadPrefix + DeathText);
  // A job between its analysis and its pass is at rest only in name.
  if (!IsAtRest(State()) || Busy || WakePending) throw DefragError(stateError);
  // What is left of the last command is a few steps without any hand-over
  // to the UI thread, so this wait is short.
  ParkChanged.wait(lock, [&] { return (Parked && !WakePending) || Dead || Terminating; });
  if (Dead) throw DefragError(kDeadPrefix + DeathText);
  if (Terminating || !IsAtRest(State())) throw DefragError(stateError);
  // An analysis of another mode does not serve this command.
  if (newAnalysisOnModeChange && State() == dsAnalyzed && mode != ModeValue.load())
    EngineInstance->State = dsIdle;
  CommandValue = command;
  ModeValue = mode;
  Attended = attended;
  WakePending = true;
  ParkChanged.notify_all();
}

void TDefragThread::AnalyzeDeal(uint8_t mode) {
  WakeWhenParked(jcAnalyze, mode, kAnalyzeBeginError, false);
}

void TDefragThread::DefragDeal(uint8_t command, uint8_t mode, bool attended) {
  WakeWhenParked(command, mode, kDefragBeginError, true, attended);
}

bool TDefragThread::TransitionState(uint8_t from1, uint8_t to1, uint8_t from2, uint8_t to2) {
  uint8_t state = EngineInstance->State.load();
  while (true) {
    uint8_t to;
    if (state == from1)
      to = to1;
    else if (state == from2)
      to = to2;
    else
      return false;
    // The job thread and the engine write the state too; a value that
    // changed since it was read is looked at again.
    if (EngineInstance->State.compare_exchange_weak(state, to)) return true;
  }
}

void TDefragThread::PauseDeal() {
  RefuseIfDead();
  if (!TransitionState(dsAnalyzing, dsAnalyzePaused, dsDefragging, dsDefragPaused))
    throw DefragError(kPauseError);
}

void TDefragThread::ResumeDeal() {
  RefuseIfDead();
  if (!TransitionState(dsAnalyzePaused, dsAnalyzing, dsDefragPaused, dsDefragging))
    throw DefragError(kResumeError);
}

void TDefragThread::StopDeal() {
  RefuseIfDead();
  {
    std::lock_guard<std::mutex> guard(ParkLock);
    if (Busy || WakePending) StopRequested = true;
  }
  // A paused command is resumed first, then asked to stop.
  TransitionState(dsAnalyzePaused, dsAnalyzing, dsDefragPaused, dsDefragging);
  TransitionState(dsAnalyzing, dsStopping, dsDefragging, dsStopping);
}

uint8_t TDefragThread::PopNotify() {
  return Notifier.Pop();
}

bool TDefragThread::IsParked() const {
  std::lock_guard<std::mutex> guard(ParkLock);
  return Parked && !WakePending;
}

bool TDefragThread::WaitUntilParked(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(ParkLock);
  return ParkChanged.wait_for(lock, timeout, [&] { return (Parked && !WakePending) || Dead; });
}

bool TDefragThread::IsDead() const {
  return DeadFlag.load();
}

std::string TDefragThread::OpenRefusal() const {
  std::lock_guard<std::mutex> guard(ParkLock);
  return Refusal;
}

bool TDefragThread::SkippedUnattended() const {
  std::lock_guard<std::mutex> guard(ParkLock);
  return Skipped;
}

std::string TDefragThread::ErrorText() const {
  std::lock_guard<std::mutex> guard(ParkLock);
  return DeathText;
}

} // namespace quillo
