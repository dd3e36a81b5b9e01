// SPDX-License-Identifier: GPL-2.0-or-later
// Text conversions at the library's edge: the callers' UTF-16 strings and
// the UTF-8 the files hold.
#pragma once

#include <optional>
#include <string>

namespace quillo::jobsched {

class TaskText {
public:
  // Empty for a null pointer, for text that is not valid UTF-16, and for
  // text holding control characters (which would break a line of a file).
  static std::optional<std::string> FromCaller(const char16_t* text);
  static std::u16string ToCaller(const std::string& utf8);
};

} // namespace quillo::jobsched
