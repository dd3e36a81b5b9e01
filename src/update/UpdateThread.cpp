// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/UpdateThread.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <system_error>

#include "settings/ProfileFile.h"
#include "update/CheckDate.h"
#include "update/FetchToFile.h"
#include "update/UpdateAddress.h"

namespace quillo {

namespace {

constexpr const char* kUpdateSection = "update";
constexpr const char* kLastCheckKey = "lastcheckupdate";
constexpr const char* kInfoSection = "qvl";
constexpr const char* kVersionKey = "appver";
constexpr const char* kQuestionKey = "UpdateInfo";
constexpr const char* kPageKey = "App_Url";

std::filesystem::path TemporaryFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : folder;
}

int ReadVersion(const ProfileFile& info) {
  const auto text = info.Find(kInfoSection, kVersionKey);
  if (!text || text->empty()) return CurrentAppVersion;
  const char* first = text->data();
  const char* last = first + text->size();
  if (*first == '+') ++first;
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  return (error == std::errc() && end == last) ? value : CurrentAppVersion;
}

// Only web pages are handed to the browser: the address comes from a file
// fetched over the network.
bool IsWebPage(const std::string& url) {
  std::string start = url.substr(0, std::min<size_t>(url.size(), 8));
  std::transform(start.begin(), start.end(), start.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return start.rfind("http://", 0) == 0 || start.rfind("https://", 0) == 0;
}

} // namespace

TUpdateThread::TUpdateThread(UpdateCheckSetup setup)
    : Setup(std::move(setup)),
      InfoFile((Setup.TempFolder.empty() ? TemporaryFolder() : Setup.TempFolder) / kUpdateInfoFileName) {
  PrepareFetching();
  Worker = std::thread([this] { Execute(); });
}

TUpdateThread::~TUpdateThread() {
  StopRequested = true;
  if (Setup.HandOver) Setup.HandOver->Cancel();
  WaitUntilFinished();
}

void TUpdateThread::WaitUntilFinished() {
  if (Worker.joinable()) Worker.join();
}

void TUpdateThread::Execute() {
  try {
    if (CheckIsDue() && DownloadFile(Setup.Url, InfoFile)) {
      std::error_code readError;
      const ProfileFile info = ProfileFile::Load(InfoFile, readError);
      if (!readError && ReadVersion(info) > CurrentAppVersion && !StopRequested && Setup.HandOver)
        Setup.HandOver->RunAndWait([this] { PromptUpdate(); });
      std::error_code ignored;
      std::filesystem::remove(InfoFile, ignored);
    }
  } catch (const std::exception&) {
    // A check that fails ends silently; the next start tries again.
    std::error_code ignored;
    std::filesystem::remove(InfoFile, ignored);
  }
  Done = true;
}

bool TUpdateThread::CheckIsDue() {
  std::error_code readError;
  const ProfileFile settings = ProfileFile::Load(Setup.SettingsFile, readError);
  const auto text = settings.Find(kUpdateSection, kLastCheckKey);
  if (!text) return true;
  TDateTime now = Setup.Time->Now();
  // A date that cannot be read counts as today.
  TDateTime last = ParseCheckDate(*text).value_or(now);
  return std::trunc(std::fabs(now - last)) >= kRestDays;
}

bool TUpdateThread::DownloadFile(const std::string& url, const std::filesystem::path& file) {
  try {
    return FetchToFile(url, file, StopRequested);
  } catch (const std::exception&) {
    return false;
  }
}

void TUpdateThread::PromptUpdate() {
  if (!Setup.Question) return;
  const ProfileFile info = ProfileFile::Load(InfoFile);
  std::string question = info.ReadString(kInfoSection, kQuestionKey, kDefaultQuestion);
  if (!Setup.Question->AskYesNo(question, kQuestionTitle)) return;
  std::string page = info.ReadString(kInfoSection, kPageKey, kDownloadPage);
  if (IsWebPage(page)) Setup.Question->OpenPage(page);
  try {
    WriteProfileString(Setup.SettingsFile, kUpdateSection, kLastCheckKey,
                       FormatCheckDate(Setup.Time->Now()));
  } catch (const std::exception&) {
    // Unwritten, the date only lets the check run again at the next start.
  }
}

} // namespace quillo
