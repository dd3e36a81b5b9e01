// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/FileMask.h"

#include <cstdint>

namespace quillo {

namespace {

constexpr char32_t kAsciiUpperFirst = U'A';
constexpr char32_t kAsciiUpperLast = U'Z';
constexpr char32_t kCaseOffset = 0x20;
constexpr char32_t kLatin1UpperFirst = 0xC0;
constexpr char32_t kLatin1UpperLast = 0xDE;
constexpr char32_t kMultiplicationSign = 0xD7;
constexpr char32_t kLatinExtendedFirst = 0x100;
constexpr char32_t kLatinExtendedLast = 0x17F;
constexpr char32_t kDotlessIPair = 0x130;
constexpr char32_t kKra = 0x138; // no upper-case pair
constexpr char32_t kOddUpperFirst = 0x139; // from here to 0x148 upper case is odd
constexpr char32_t kOddUpperLast = 0x148;
constexpr char32_t kYDiaeresisUpper = 0x178;
constexpr char32_t kYDiaeresisLower = 0xFF;
constexpr char32_t kOddUpperSecondFirst = 0x179; // and again from 0x179 to 0x17E
constexpr char32_t kOddUpperSecondLast = 0x17E;
constexpr char32_t kGreekUpperFirst = 0x391;
constexpr char32_t kGreekUpperLast = 0x3A9;
constexpr char32_t kGreekUnassigned = 0x3A2;
constexpr char32_t kCyrillicUpperFirst = 0x410;
constexpr char32_t kCyrillicUpperLast = 0x42F;
constexpr char32_t kCyrillicExtraUpperFirst = 0x400;
constexpr char32_t kCyrillicExtraUpperLast = 0x40F;
constexpr char32_t kCyrillicExtraOffset = 0x50;

// Simple case folding for the scripts names are commonly written in.
char32_t FoldCase(char32_t c) {
  if (c >= kAsciiUpperFirst && c <= kAsciiUpperLast) return c + kCaseOffset;
  if (c < kLatin1UpperFirst) return c;
  if (c <= kLatin1UpperLast) return c == kMultiplicationSign ? c : c + kCaseOffset;
  if (c >= kLatinExtendedFirst && c <= kLatinExtendedLast) {
    if (c == kYDiaeresisUpper) return kYDiaeresisLower;
    if (c == kDotlessIPair || c == kDotlessIPair + 1 || c == kKra) return c;
    bool oddUpper = (c >= kOddUpperFirst && c <= kOddUpperLast) ||
                    (c >= kOddUpperSecondFirst && c <= kOddUpperSecondLast);
    if (oddUpper) return (c & 1) ? c + 1 : c;
    if (c == kLatinExtendedLast) return c; // long s has no upper-case pair here
    return (c & 1) ? c : c + 1;
  }
  if (c >= kGreekUpperFirst && c <= kGreekUpperLast && c != kGreekUnassigned)
    return c + kCaseOffset;
  if (c >= kCyrillicUpperFirst && c <= kCyrillicUpperLast) return c + kCaseOffset;
  if (c >= kCyrillicExtraUpperFirst && c <= kCyrillicExtraUpperLast)
    return c + kCyrillicExtraOffset;
  return c;
}

// UTF-8 to code points. A byte that starts no valid sequence stands for
// itself, so that any name can be matched.
std::u32string Decode(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t lead = uint8_t(text[i]);
    size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                   : (lead & 0xF8) == 0xF0 ? 3 : 4;
    char32_t c = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F)
                                                                            : (lead & 0x07);
    bool valid = extra < 4 && i + extra < text.size();
    for (size_t k = 1; valid && k <= extra; ++k) {
      uint8_t next = uint8_t(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(lead);
      ++i;
      continue;
    }
    out.push_back(c);
    i += extra + 1;
  }
  return out;
}

} // namespace

FileMask::FileMask(const std::string& mask) {
  std::u32string text = Decode(mask);
  size_t i = 0;
  while (i < text.size()) {
    char32_t c = text[i];
    Token token;
    if (c == U'*') {
      token.Type = Kind::AnyRun;
      ++i;
    } else if (c == U'?') {
      token.Type = Kind::AnyOne;
      ++i;
    } else if (c == U'[' && text.find(U']', i + 1) != std::u32string::npos) {
      size_t end = text.find(U']', i + 1);
      size_t k = i + 1;
      token.Type = Kind::Set;
      if (k < end && text[k] == U'!') {
        token.Negated = true;
        ++k;
      }
      while (k < end) {
        char32_t first = FoldCase(text[k]);
        if (k + 2 < end && text[k + 1] == U'-') {
          token.Ranges.push_back({first, FoldCase(text[k + 2])});
          k += 3;
        } else {
          token.Ranges.push_back({first, first});
          ++k;
        }
      }
      i = end + 1;
    } else {
      // A '[' without its ']' is an ordinary character: a user's mask never
      // makes the analysis fail.
      token.Type = Kind::Literal;
      token.Character = FoldCase(c);
      ++i;
    }
    // Runs of '*' mean the same as one.
    if (token.Type == Kind::AnyRun && !Tokens.empty() && Tokens.back().Type == Kind::AnyRun)
      continue;
    Tokens.push_back(std::move(token));
  }
}

bool FileMask::TokenMatches(const Token& token, char32_t c) const {
  switch (token.Type) {
  case Kind::Literal:
    return token.Character == c;
  case Kind::AnyOne:
    return true;
  case Kind::Set: {
    bool inSet = false;
    for (const Range& range : token.Ranges)
      if (c >= range.First && c <= range.Last) inSet = true;
    return inSet != token.Negated;
  }
  case Kind::AnyRun:
    break;
  }
  return false;
}

bool FileMask::Matches(const std::string& name) const {
  std::u32string text = Decode(name);
  for (char32_t& c : text) c = FoldCase(c);
  // Every token but '*' takes exactly one character, so remembering the last
  // '*' is enough to backtrack.
  constexpr size_t kNone = SIZE_MAX;
  size_t t = 0;
  size_t i = 0;
  size_t starToken = kNone;
  size_t starText = 0;
  while (i < text.size()) {
    if (t < Tokens.size() && Tokens[t].Type == Kind::AnyRun) {
      starToken = t++;
      starText = i;
    } else if (t < Tokens.size() && TokenMatches(Tokens[t], text[i])) {
      ++t;
      ++i;
    } else if (starToken != kNone) {
      t = starToken + 1;
      i = ++starText;
    } else {
      return false;
    }
  }
  while (t < Tokens.size() && Tokens[t].Type == Kind::AnyRun) ++t;
  return t == Tokens.size();
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  return FileMask(mask).Matches(name);
}

} // namespace quillo
