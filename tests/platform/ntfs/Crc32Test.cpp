// SPDX-License-Identifier: GPL-2.0-or-later
// Journals written by earlier runs carry this checksum: it must stay the
// CRC-32 they were written with, whatever computes it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ntfs/Crc32.h"

namespace quillo {
namespace {

TEST(Crc32, GivesTheCheckValuesOfTheJournalsChecksumAndChainsAsOneCall) {
  struct Case {
    std::string Text;
    uint32_t Expected;
  };
  // The standard check value, the empty input and a longer text.
  for (const Case& c : std::vector<Case>{{"123456789", 0xCBF43926u},
                                        {"", 0u},
                                        {"The quick brown fox jumps over the lazy dog", 0x414FA339u}}) {
    EXPECT_EQ(Crc32(c.Text.data(), c.Text.size()), c.Expected) << c.Text;
    for (size_t cut = 0; cut <= c.Text.size(); ++cut)
      EXPECT_EQ(Crc32(c.Text.data() + cut, c.Text.size() - cut, Crc32(c.Text.data(), cut)), c.Expected)
          << c.Text << " cut at " << cut;
  }
}

} // namespace
} // namespace quillo
