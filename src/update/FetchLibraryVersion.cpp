// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/FetchLibraryVersion.h"

#include <curl/curl.h>

namespace quillo {

std::string FetchLibraryVersion() {
  // Answered from the library's static data; no initialisation needed.
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  if (info == nullptr || info->version == nullptr) return {};
  std::string version = info->version;
  if (info->ssl_version != nullptr && *info->ssl_version != '\0')
    version += std::string(" (") + info->ssl_version + ")";
  return version;
}

} // namespace quillo
