// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace quillo {

class ShadowCopyCatalog;

// Why no file may be moved on a volume whose catalog was read: it holds
// Windows shadow copies, or its shadow-copy metadata is malformed. Empty when
// moves may go ahead (no header, or no snapshot). The sentences say how many
// snapshots there are, why an offline move spoils them and what the user can
// do from Windows.
std::string ShadowCopyRefusal(const ShadowCopyCatalog& catalog);

} // namespace quillo
