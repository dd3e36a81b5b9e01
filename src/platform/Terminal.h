// SPDX-License-Identifier: GPL-2.0-or-later
// What the command-line tool needs to know about its output streams.
#pragma once

namespace quillo {

enum class OutputStream { StandardOutput, StandardError };

// Whether the stream is a terminal (live progress and colour make sense).
bool IsTerminal(OutputStream stream);

// Columns of the terminal behind the stream, or 0 when unknown.
int TerminalColumns(OutputStream stream);

} // namespace quillo
