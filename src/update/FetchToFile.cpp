// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/FetchToFile.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>

namespace quillo {

namespace {

// How often the transfer looks at the stop flag while nothing happens.
constexpr int kPollMs = 100;
constexpr long kMaxRedirects = 5;
constexpr const char* kWebProtocols = "http,https";
// Create a new file; fail if the name exists, a link included.
constexpr const char* kCreateNewFile = "wbx";

struct Sink {
  std::FILE* File = nullptr;
  size_t Written = 0;
  size_t MaxBytes = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<Sink*>(context);
  size_t bytes = size * count;
  if (sink->Written + bytes > sink->MaxBytes) return 0; // aborts the transfer
  if (std::fwrite(data, 1, bytes, sink->File) != bytes) return 0;
  sink->Written += bytes;
  return bytes;
}

struct EasyFree {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiFree {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool Configure(CURL* easy, const std::string& url, Sink& sink, const FetchLimits& limits) {
  return curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(limits.Connect.count())) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(limits.Whole.count())) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kWebProtocols) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kWebProtocols) == CURLE_OK &&
         // An abandoned name lookup is not waited for.
         curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK;
}

// Runs the transfer until it ends or `stop` is set; true for success.
bool Transfer(CURL* easy, const std::atomic<bool>& stop) {
  std::unique_ptr<CURLM, MultiFree> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return false;
  bool succeeded = false;
  int running = 1;
  while (!stop.load()) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
          succeeded = message->data.result == CURLE_OK;
      }
      break;
    }
    if (curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr) != CURLM_OK) break;
  }
  curl_multi_remove_handle(multi.get(), easy);
  return succeeded;
}

} // namespace

void PrepareFetching() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool FetchToFile(const std::string& url, const std::filesystem::path& file,
                 const std::atomic<bool>& stop, const FetchLimits& limits) {
  PrepareFetching();
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  Sink sink;
  sink.MaxBytes = limits.MaxBytes;
  bool succeeded = false;
  {
    std::unique_ptr<std::FILE, FileClose> out(std::fopen(file.c_str(), kCreateNewFile));
    if (!out) return false;
    sink.File = out.get();
    std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
    succeeded = easy && Configure(easy.get(), url, sink, limits) && Transfer(easy.get(), stop);
    succeeded = std::fflush(out.get()) == 0 && succeeded;
  }
  if (!succeeded) std::filesystem::remove(file, ignored);
  return succeeded;
}

} // namespace quillo
