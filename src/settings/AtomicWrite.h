// SPDX-License-Identifier: GPL-2.0-or-later
// Crash-safe replacement of a small file.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace quillo {

// Replaces the file at `path` with `contents` so that a crash at any moment
// leaves either the old or the new file, never a mixture: the bytes go to a
// temporary file in the same folder, are flushed to the disk, and the
// temporary file is renamed over the target. Missing parent folders are
// created. A symbolic link is followed, so the file it names is replaced.
// An existing file's permission bits are kept. Returns the error, or a
// value-initialised error_code on success.
std::error_code WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);

} // namespace quillo
