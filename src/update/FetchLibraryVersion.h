// SPDX-License-Identifier: GPL-2.0-or-later
// Which libcurl the update check fetches with, for the About box.
#pragma once

#include <string>

namespace quillo {

// The running libcurl's own answer: "7.88.1", with its TLS library when it
// has one ("7.88.1 (OpenSSL/3.0.17)").
std::string FetchLibraryVersion();

} // namespace quillo
