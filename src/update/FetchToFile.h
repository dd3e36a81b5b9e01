// SPDX-License-Identifier: GPL-2.0-or-later
// A plain HTTP(S) GET into a file, with libcurl.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace quillo {

struct FetchLimits {
  std::chrono::seconds Connect{10};
  std::chrono::seconds Whole{30};
  // The information file is a few lines; anything much larger is no answer
  // of the update server.
  size_t MaxBytes = 1024 * 1024;
};

// Call once on the main thread before the first fetch on any thread.
void PrepareFetching();

// Fetches the address into the file, which is created anew (a file or link
// of that name is removed first, and nothing is written through a link).
// True when the whole answer arrived with a success status; on failure no
// file is left. Gives up within a fraction of a second once `stop` is set.
bool FetchToFile(const std::string& url, const std::filesystem::path& file,
                 const std::atomic<bool>& stop, const FetchLimits& limits = {});

} // namespace quillo
