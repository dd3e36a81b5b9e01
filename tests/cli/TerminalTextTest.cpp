// SPDX-License-Identifier: GPL-2.0-or-later
// Names from a volume on their way to a terminal and into the JSON report:
// nothing a terminal would act on gets through as it is.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "cli/JsonWriter.h"
#include "cli/ProgressDisplay.h"
#include "cli/TerminalText.h"

namespace quillo {
namespace {

struct NameCase {
  const char* Name;
  const char* Shown;
};

TEST(TerminalText, ControlsAndBrokenUtf8AreEscapedTheRestStays) {
  for (NameCase c : {
           NameCase{"C:\\Docs\\report.txt", "C:\\Docs\\report.txt"},
           NameCase{"Gr\xC3\xB6\xC3\x9F"
                    "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
                    "Gr\xC3\xB6\xC3\x9F"
                    "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
           // Window title and screen clearing.
           NameCase{"\x1b]0;owned\x07x", "\\x1b]0;owned\\x07x"},
           NameCase{"a\x1b[2Jb", "a\\x1b[2Jb"},
           NameCase{"line\nbreak\rtab\t", "line\\x0abreak\\x0dtab\\x09"},
           NameCase{"nul\x01\x1f", "nul\\x01\\x1f"},
           NameCase{"del\x7f", "del\\x7f"},
           // C1 controls in UTF-8: CSI (U+009B) and the first and last of them.
           NameCase{"\xC2\x9B"
                    "2J",
                    "\\xc2\\x9b2J"},
           NameCase{"\xC2\x80\xC2\x9F\xC2\xA0", "\\xc2\\x80\\xc2\\x9f\xC2\xA0"},
           // Not UTF-8: a stray byte, a lone C1 byte, an overlong form, a
           // surrogate and a cut-off sequence, each byte alone.
           NameCase{"a\xFF"
                    "b",
                    "a\\xffb"},
           NameCase{"\x9B"
                    "2J",
                    "\\x9b2J"},
           NameCase{"\xC0\xAF", "\\xc0\\xaf"},
           NameCase{"\xED\xA0\x80", "\\xed\\xa0\\x80"},
           NameCase{"end\xE6\x97", "end\\xe6\\x97"},
           // A backslash is no escape of ours: it stays.
           NameCase{"\\x1b", "\\x1b"},
       })
    EXPECT_EQ(EscapeForTerminal(c.Name), c.Shown) << c.Name;
}

TEST(TerminalText, JsonEscapesEveryControlAndReadsBackTheName) {
  for (const char* name : {"\x1b]0;owned\x07", "a\x1b[2Jb", "del\x7f",
                           "\xC2\x9B"
                           "2J",
                           "\xC2\x85next",
                           "C:\\Docs\\Gr\xC3\xB6\xC3\x9F"
                           "e.txt"}) {
    std::string escaped = JsonWriter::Escape(name);
    for (char c : escaped) {
      unsigned char byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << escaped;
    }
    EXPECT_EQ(escaped.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(escaped.find("\xC2\x85"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(escaped).get<std::string>(), name) << escaped;
  }
  EXPECT_EQ(JsonWriter::Escape("\x1b\x7f\xC2\x9B"), "\"\\u001b\\u007f\\u009b\"");
}

TEST(TerminalText, ProgressLinesAndMessagesAreEscaped) {
  std::ostringstream out;
  ProgressDisplay progress(out, false, 0);
  progress.Show({{"C: \x1b[31mred.img", "Analyzing 5%", "", "C:\\\x1b]0;owned\x07.txt", true}}, {});
  progress.Message("qdefrag: C:\\\x1b[2J: damaged");
  EXPECT_EQ(out.str(), "C: \\x1b[31mred.img  Analyzing 5%  C:\\\\x1b]0;owned\\x07.txt\n"
                       "qdefrag: C:\\\\x1b[2J: damaged\n");
}

} // namespace
} // namespace quillo
