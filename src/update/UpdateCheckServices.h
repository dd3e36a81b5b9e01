// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string>

#include "update/UpdateQuestion.h"

namespace quillo {

// What the main window starts its update check with.
struct UpdateCheckServices {
  // The information file's address (UpdateFileUrl() for the program);
  // empty: no check at start.
  std::string Url;
  // Empty: the system's temporary folder.
  std::filesystem::path TempFolder;
  // Null: the window's Yes/No box and the desktop's browser.
  UpdateQuestion* Question = nullptr;
};

} // namespace quillo
