// SPDX-License-Identifier: GPL-2.0-or-later
// TUpdateThread: the check for a newer version, once at start. On its own
// thread it fetches the information file into the temporary folder and
// reads the version on offer; when that is newer, the question runs on the
// window thread while the thread waits. After the user accepted an offer
// the check rests for seven days.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/Clock.h"
#include "update/UpdateQuestion.h"
#include "update/WindowHandOver.h"

namespace quillo {

struct UpdateCheckSetup {
  // The information file's address.
  std::string Url;
  // Empty: the system's temporary folder.
  std::filesystem::path TempFolder;
  // config.ini, whose section "update" holds "lastcheckupdate".
  std::filesystem::path SettingsFile;
  Clock* Time = nullptr;
  WindowHandOver* HandOver = nullptr;
  UpdateQuestion* Question = nullptr;
};

class TUpdateThread {
public:
  static constexpr const char* kUpdateInfoFileName = "qvlupdate.upt";
  static constexpr const char* kQuestionTitle = "Corvana QuilloDefrag Update Info";
  static constexpr const char* kDefaultQuestion =
      "New Corvana QuilloDefrag version is available now!Would you like to download the latest "
      "version?";
  // Days the check rests after the user accepted an offer.
  static constexpr int kRestDays = 7;

  // Starts the check at once. Call on the window thread.
  explicit TUpdateThread(UpdateCheckSetup setup);
  // Window thread: an unfinished check is abandoned (a fetch under way is
  // dropped, a question not yet asked is never asked) and the thread ended.
  ~TUpdateThread();
  TUpdateThread(const TUpdateThread&) = delete;
  TUpdateThread& operator=(const TUpdateThread&) = delete;

  bool Finished() const { return Done.load(); }
  // Waits for the end of the check; the question, if any, must be able to
  // run on the window thread meanwhile.
  void WaitUntilFinished();
  // Where the information file is stored while it is read.
  const std::filesystem::path& UpdateInfoFile() const { return InfoFile; }

private:
  void Execute();
  // The seven-day rule on "lastcheckupdate".
  bool CheckIsDue();
  // Window thread.
  void PromptUpdate();
  bool DownloadFile(const std::string& url, const std::filesystem::path& file);

  UpdateCheckSetup Setup;
  std::filesystem::path InfoFile;
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Done{false};
  std::thread Worker;
};

} // namespace quillo
