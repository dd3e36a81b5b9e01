// SPDX-License-Identifier: GPL-2.0-or-later
// The one QApplication of a test program, on the offscreen platform so that
// no display is needed.
#pragma once

namespace quillo::test {

// Creates the application on first use; it lives until the program ends.
void EnsureQtApplication();

} // namespace quillo::test
