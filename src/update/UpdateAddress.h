// SPDX-License-Identifier: GPL-2.0-or-later
// Where the update check looks and what it offers.
#pragma once

#include <string>

namespace quillo {

// The program's own version number; a greater "appver" is newer.
inline constexpr int CurrentAppVersion = 61;

// The maker's update server and the information file on it.
inline constexpr const char* kUpdateServer = "http://update.quillodefrag.example";
inline constexpr const char* kUpdateFilePath = "/infofiles/qvlupdate.upt";
// Replaces the whole address of the information file (tests, mirrors).
inline constexpr const char* kUpdateUrlVariable = "QUILLODEFRAG_UPDATE_URL";

// The product's download page, offered when the information file names none.
inline constexpr const char* kDownloadPage = "https://www.quillodefrag.example/?Str=download";

// The address of the information file: $QUILLODEFRAG_UPDATE_URL when set and
// not empty, else the update server's path.
std::string UpdateFileUrl();

} // namespace quillo
