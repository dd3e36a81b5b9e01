// SPDX-License-Identifier: GPL-2.0-or-later
// The program's name and version as its windows show them.
#pragma once

namespace quillo {

inline constexpr const char* kProgramName = "Quillo Defrag";
inline constexpr const char* kProgramVersion = "Beta 6.10";
// The tray icon's hint.
inline constexpr const char* kTrayHint = "Quillo Defrag Beta 6.10";

} // namespace quillo
