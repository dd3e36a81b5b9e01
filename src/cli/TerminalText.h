// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Text fit for a terminal. Names read from a volume, paths and arguments may
// hold control characters that a terminal would act on (ESC sequences that
// retitle the window or clear the screen, a carriage return that hides what
// came before), so every byte of a C0 control, DEL, a C1 control written in
// UTF-8, or a byte that is no part of valid UTF-8 is written as "\xHH".
// A backslash stays as it is: Windows paths are full of them.
std::string EscapeForTerminal(std::string_view text);

} // namespace quillo
