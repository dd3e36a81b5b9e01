// SPDX-License-Identifier: GPL-2.0-or-later
// The NTFS device's side of the drive table's opening point: this folder
// defines OpenNtfsDevice of platform/NtfsDeviceOpener.h.
#pragma once

#include <filesystem>

namespace quillo {

// Where the undo journals of NTFS volumes are kept:
// <configuration folder>/journal.
std::filesystem::path NtfsJournalFolder();

} // namespace quillo
