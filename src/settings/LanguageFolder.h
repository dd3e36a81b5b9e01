// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace quillo {

// The folder of the language files: $QUILLODEFRAG_LANGUAGE_DIR when set,
// else the folder "language" beside the executable when it exists (a build
// tree or a portable copy), else the installed data folder
// <prefix>/share/quillodefrag/language, looked for first relative to the
// executable's folder and then at the configured prefix. The result need not
// exist.
std::filesystem::path LanguageFolder();

} // namespace quillo
