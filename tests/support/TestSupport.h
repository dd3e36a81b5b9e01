// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the test folders.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/UserNotifier.h"

namespace quillo::test {

// A clock that never sleeps: Sleep advances the time and runs an optional
// hook, so a test can act at the moment the engine waits (resume a pause,
// request a stop).
class FakeClock final : public Clock {
public:
  explicit FakeClock(TDateTime now = 46000.5) : Time(now) {}
  TDateTime Now() override;
  void Sleep(uint32_t milliseconds) override;

  void Set(TDateTime now);
  void SetSleepHook(std::function<void(uint32_t)> hook);
  std::vector<uint32_t> Sleeps() const;
  size_t SleepCount() const;

private:
  mutable std::mutex Lock;
  TDateTime Time;
  std::vector<uint32_t> SleepLog;
  std::function<void(uint32_t)> Hook;
};

struct RecordedMessage {
  std::string Text;
  std::string Caption;
};

class RecordingNotifier final : public UserNotifier {
public:
  void ShowMessage(const std::string& text, const std::string& caption) override;
  std::vector<RecordedMessage> Messages() const;

private:
  mutable std::mutex Lock;
  std::vector<RecordedMessage> Log;
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return Root; }

private:
  std::filesystem::path Root;
};

// The source tree's root, for fixture scripts and shipped files.
std::filesystem::path SourceDir();

} // namespace quillo::test
