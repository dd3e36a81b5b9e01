// SPDX-License-Identifier: GPL-2.0-or-later
// Which libntfs-3g the program uses, for the About box. The library has no
// call that names its version: the version is that of the headers the
// program was built with, and the file is the one the running program
// loaded.
#pragma once

#include <string>

namespace quillo {

// "2022.10.3 (libntfs-3g.so.89)"; the file is left out when it cannot be
// found.
std::string NtfsLibraryVersion();

// The file name of the loaded library ("libntfs-3g.so.89"); empty when it
// cannot be found.
std::string NtfsLibraryFile();

} // namespace quillo
