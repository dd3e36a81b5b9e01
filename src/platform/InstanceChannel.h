// SPDX-License-Identifier: GPL-2.0-or-later
// Where the running instance of the window listens for the messages of other
// processes, and how a process sends one. The messages are the decimal
// numbers 1124 (show the window), 1125 (stop the busy jobs and end) and 1126
// (start the scheduled defragmentation), one per line, over a Unix socket
// named "QuilloDefrag" in the user's runtime folder.
#pragma once

#include <filesystem>

namespace quillo {

inline constexpr const char* kInstanceName = "QuilloDefrag";

// $XDG_RUNTIME_DIR when it is set and absolute, else the temporary folder.
std::filesystem::path InstanceRuntimeFolder();
// The socket the running instance listens on.
std::filesystem::path InstanceSocketPath();
// The lock file that marks the running instance.
std::filesystem::path InstanceLockPath();

// Sends one message to the running instance; false when none listens.
bool SendInstanceMessage(int message);

} // namespace quillo
