// SPDX-License-Identifier: GPL-2.0-or-later
// A profile (INI) file as a user or another program may have written it:
// parsing, every read, the skipped lines, and a write whose value must read
// back the same after the text is parsed again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "settings/ProfileFile.h"

namespace {

constexpr std::string_view kWrittenSection = "Fuzz";
constexpr std::string_view kWrittenKey = "Written";
constexpr std::string_view kWrittenValue = "a value, written";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillo;
  using fuzz::Require;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ProfileFile profile = ProfileFile::Parse(text);

  for (const std::string& section : profile.Sections()) {
    for (const std::string& key : profile.Keys(section)) {
      std::optional<std::string> value = profile.Find(section, key);
      Require(value.has_value(), "a listed key has a value");
      Require(value->size() <= ProfileFile::kMaxValueLength, "a value is cut to the longest allowed");
      Require(profile.ValueExists(section, key), "a listed key exists");
    }
  }
  for (const ProfileFile::SkippedLine& line : profile.SkippedLines())
    Require(line.Number >= 1 && !line.Why.empty(), "a skipped line says which and why");
  (void)profile.LooksLikeUtf16();

  profile.WriteString(kWrittenSection, kWrittenKey, kWrittenValue);
  ProfileFile reread = ProfileFile::Parse(profile.Text());
  Require(reread.ReadString(kWrittenSection, kWrittenKey, "") == kWrittenValue,
          "a written value reads back after the text is parsed again");
  return 0;
}
