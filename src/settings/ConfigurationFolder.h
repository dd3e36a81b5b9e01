// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace quillo {

// The folder that holds config.ini and the other files the program writes
// for itself: $QUILLODEFRAG_HOME when set, else $XDG_CONFIG_HOME/quillodefrag
// (an absolute XDG_CONFIG_HOME only), else $HOME/.config/quillodefrag. The
// folder is not created here; writing a file into it creates it.
std::filesystem::path ConfigurationFolder();

} // namespace quillo
