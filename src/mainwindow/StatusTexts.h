// SPDX-License-Identifier: GPL-2.0-or-later
// The texts the status timer writes: the status and time columns of the
// volume list, the capacity column, and the two labels of the auto page.
// All looked up in section "M" at the moment of use.
#pragma once

#include <cstdint>
#include <string>

#include "engine/DefragDefine.h"
#include "settings/Language.h"

namespace quillo {

// What a tick does with one cell of the volume list.
struct CellUpdate {
  enum class Write : uint8_t {
    Keep,        // the cell keeps what it shows
    WhenChanged, // written only when it differs from what the cell shows
    Always,      // written every tick (texts with a percentage or a time left)
  };
  Write How = Write::Keep;
  std::string Text;

  friend bool operator==(const CellUpdate&, const CellUpdate&) = default;
};

// The status column by the job's state, command and mode; `percent` is the
// map's progress position.
CellUpdate StatusColumnText(uint8_t state, uint8_t command, uint8_t mode, uint32_t percent,
                            TLanguage& language);

// The status column of a job whose thread ended with `error`.
CellUpdate DeadJobStatusText(const std::string& error, TLanguage& language);

// The time column: the time left while defragmenting (`remaining` is the
// report's RemainingTime), else the last defragmentation or "never".
CellUpdate TimeColumnText(uint8_t state, TDateTime lastDefragTime, const std::string& remaining,
                          TLanguage& language);

// "yyyy-mm-dd,hh:mm:ss", the time column's pattern.
std::string FormatListTime(TDateTime value);
// "yyyy-mm-dd, hh:mm:ss", the auto page's pattern.
std::string FormatAutoPageTime(TDateTime value);

// The total size in GiB with two decimals and "G": "74.53G". The decimal
// separator is the locale's.
std::string CapacityText(uint64_t totalBytes, const std::string& decimalSeparator);

// Label_AutoDefrag_Count and Label_LastAutoDefrag.
std::string AutoDefragCountText(int32_t count, TLanguage& language);
std::string LastAutoDefragText(TDateTime lastAutoDefrag, TLanguage& language);

// A language text with printf-style "%d" and "%%": the first "%d" takes
// `value`, "%%" gives one "%".
std::string FormatWithInteger(const std::string& pattern, int64_t value);
// The same with "%s": the first "%s" takes `value`.
std::string FormatWithText(const std::string& pattern, const std::string& value);

} // namespace quillo
