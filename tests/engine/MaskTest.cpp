// SPDX-License-Identifier: GPL-2.0-or-later
// The exclusion mask rules.
#include <gtest/gtest.h>

#include "engine/FileMask.h"

namespace quillo::test {
namespace {

struct MaskCase {
  const char* Name;
  const char* Mask;
  bool Matches;
};

class MaskRules : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskRules, MatchTheWholeNameIgnoringCase) {
  const MaskCase& c = GetParam();
  EXPECT_EQ(MatchesMask(c.Name, c.Mask), c.Matches) << c.Name << " against " << c.Mask;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskRules,
    ::testing::Values(
        // '*' takes any run, also an empty one and one with backslashes.
        MaskCase{"C:\\dir\\file.tmp", "*.tmp", true}, MaskCase{"C:\\dir\\file.tmp", "*", true},
        MaskCase{"C:\\dir\\file.tmp", "*.tm", false}, MaskCase{".tmp", "*.tmp", true},
        MaskCase{"C:\\a\\b\\c.log", "c:\\*\\c.log", true},
        MaskCase{"C:\\a.b.c", "*.*.*", true}, MaskCase{"C:\\abc", "*.*", false},
        MaskCase{"aXbXc", "*X*X*X*", false}, MaskCase{"aaaaaaaaab", "*a*a*b", true},
        // '?' takes exactly one character, a multi-byte one included.
        MaskCase{"file1.txt", "file?.txt", true}, MaskCase{"file.txt", "file?.txt", false},
        MaskCase{"file12.txt", "file?.txt", false}, MaskCase{"fileé.txt", "file?.txt", true},
        // Sets, ranges and their complements.
        MaskCase{"b.txt", "[abc].txt", true}, MaskCase{"d.txt", "[abc].txt", false},
        MaskCase{"k.txt", "[a-m].txt", true}, MaskCase{"x.txt", "[a-m].txt", false},
        MaskCase{"x.txt", "[!a-m].txt", true}, MaskCase{"k.txt", "[!a-m].txt", false},
        MaskCase{"7.txt", "[0-9a-f].txt", true}, MaskCase{"-.txt", "[a-].txt", true},
        // Case is ignored in names, masks and sets, beyond ASCII too.
        MaskCase{"C:\\DIR\\FILE.TMP", "c:\\dir\\*.tmp", true}, MaskCase{"K.TXT", "[a-m].txt", true},
        MaskCase{"ÉTÉ.DOC", "été.doc", true}, MaskCase{"ПРИВЕТ", "привет", true},
        // A '[' without its ']' is an ordinary character.
        MaskCase{"a[b", "a[b", true}, MaskCase{"ab", "a[b", false},
        // The empty mask matches only the empty name.
        MaskCase{"", "", true}, MaskCase{"a", "", false}));

TEST(FileMask, ACompiledMaskMatchesLikeTheFreeFunction) {
  FileMask mask("*\\~*.[!e]*");
  EXPECT_TRUE(mask.Matches("C:\\docs\\~lock.tmp"));
  EXPECT_FALSE(mask.Matches("C:\\docs\\~lock.exe"));
  EXPECT_FALSE(mask.Matches("C:\\docs\\lock.tmp"));
}

} // namespace
} // namespace quillo::test
