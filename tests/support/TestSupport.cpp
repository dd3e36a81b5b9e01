// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestSupport.h"

#include <cstdlib>
#include <stdexcept>

namespace quillo::test {

namespace {
constexpr double kMillisecondsPerDay = 86400000.0;
}

TDateTime FakeClock::Now() {
  std::lock_guard<std::mutex> guard(Lock);
  return Time;
}

void FakeClock::Sleep(uint32_t milliseconds) {
  std::function<void(uint32_t)> hook;
  {
    std::lock_guard<std::mutex> guard(Lock);
    Time += milliseconds / kMillisecondsPerDay;
    SleepLog.push_back(milliseconds);
    hook = Hook;
  }
  if (hook) hook(milliseconds);
}

void FakeClock::Set(TDateTime now) {
  std::lock_guard<std::mutex> guard(Lock);
  Time = now;
}

void FakeClock::SetSleepHook(std::function<void(uint32_t)> hook) {
  std::lock_guard<std::mutex> guard(Lock);
  Hook = std::move(hook);
}

std::vector<uint32_t> FakeClock::Sleeps() const {
  std::lock_guard<std::mutex> guard(Lock);
  return SleepLog;
}

size_t FakeClock::SleepCount() const {
  std::lock_guard<std::mutex> guard(Lock);
  return SleepLog.size();
}

void RecordingNotifier::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> guard(Lock);
  Log.push_back({text, caption});
}

std::vector<RecordedMessage> RecordingNotifier::Messages() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Log;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillo-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Root = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Root, ignored);
}

std::filesystem::path SourceDir() {
  if (const char* dir = std::getenv("QUILLO_SOURCE_DIR")) return dir;
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

} // namespace quillo::test
