// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace quillo {

// libntfs-3g reports its reasons through a process-wide log. This keeps its
// error messages per thread instead of printing them, so that a failure can
// be explained to the user in one sentence.
class LibraryLog {
public:
  // Installs the handler (once) and forgets this thread's earlier messages.
  static void Reset();
  // The library's last error message on this thread, without the trailing
  // newline; empty when there was none.
  static std::string LastError();
};

} // namespace quillo
