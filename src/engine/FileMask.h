// SPDX-License-Identifier: GPL-2.0-or-later
// File masks, as users write them to leave files out of an analysis:
// `*` any run of characters, `?` one character, `[...]` one character of a
// set or range (`[a-f]`), `[!...]` one character outside it. Case is ignored
// and the mask must cover the whole name.
#pragma once

#include <string>
#include <vector>

namespace quillo {

class FileMask {
public:
  explicit FileMask(const std::string& mask);
  bool Matches(const std::string& name) const;

private:
  enum class Kind { Literal, AnyOne, AnyRun, Set };
  struct Range {
    char32_t First;
    char32_t Last;
  };
  struct Token {
    Kind Type = Kind::Literal;
    char32_t Character = 0;      // Literal, folded
    bool Negated = false;        // Set
    std::vector<Range> Ranges;   // Set, folded
  };
  bool TokenMatches(const Token& token, char32_t c) const;
  std::vector<Token> Tokens;
};

// Whether `name` matches `mask` (see FileMask).
bool MatchesMask(const std::string& name, const std::string& mask);

} // namespace quillo
