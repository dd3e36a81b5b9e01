// SPDX-License-Identifier: GPL-2.0-or-later
// The addresses the program opens in the user's browser or mail program,
// all in one place. The domain is a reserved example domain until the
// product has its own.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The maker's home page.
inline constexpr std::string_view kHomePageLink = "https://www.quillodefrag.example/";
// The product page; the query key "Str" says why the user came.
inline constexpr std::string_view kProductPageLink = "https://www.quillodefrag.example/quillodefrag.html";
inline constexpr std::string_view kProductQueryKey = "Str";
inline constexpr std::string_view kProductDownload = "download";
inline constexpr std::string_view kProductPurchase = "purchase";
// Where translators send their language files.
inline constexpr std::string_view kLanguageFileMailLink =
    "mailto:translate@quillodefrag.example?subject=Language%20File";

// The product page with "Str" set to `value` ("download" or "purchase").
inline std::string ProductPageLink(std::string_view value) {
  return std::string(kProductPageLink) + "?" + std::string(kProductQueryKey) + "=" +
         std::string(value);
}

} // namespace quillo
