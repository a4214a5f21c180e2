// Widths, escape sequences, UTF-8 repair, lower-casing and trimming; the
// width table is also checked against glibc's own wcwidth().
#include "prompt/unicode.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

#include "support/readable.hpp"

namespace {
const std::string kFffd = "\xEF\xBF\xBD";
}  // namespace

TEST(DisplayWidth, WideCombiningControlAndEscapeSequenceText) {
  const struct {
    std::string text;
    std::size_t want;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"日本語", 6},
      {"\xF0\x9F\x98\x80", 2},             // U+1F600, four bytes, wide
      {"\xE2\x9C\x85 ok", 5},              // U+2705 check mark
      {"e\xCC\x81", 1},                    // e + combining acute
      {"a\xE2\x80\x8D" "b", 2},            // zero width joiner (Cf)
      {"\xE1\x84\x80\xE1\x85\xA1", 2},     // Hangul L + medial vowel
      {"\xE2\x94\x82  ", 3},               // the kit's bar U+2502
      {"\xE2\x97\x86", 1},                 // U+25C6, ambiguous: narrow
      {"\t\r\n\x01\x7F", 0},               // C0 controls and DEL
      {"\xC2\x85\xC2\x9B\xC2\x9F", 0},     // C1 controls
      {"\xFF", 1},                         // an invalid byte shows as U+FFFD
      {"a\xE2\x82", 2},                    // a truncated sequence likewise
      {"\xF0\xAF\xBF\xBD", 2},             // unassigned in plane 2: wide
      // Escape sequences take no columns.
      {"\x1b[31mred\x1b[0m", 3},
      {"\x1b[38;5;8m\xE2\x97\x87\x1b[0m" "  name", 7},
      {"\x1b[?25lX\x1b[?25h", 1},
      {"\x1b[31m日本\x1b[0m", 4},
      {"\x1b]8;;http://h/\x07link\x1b]8;;\x07", 4},  // OSC closed by BEL
      {"\x1b]0;title\x1b\\ok", 2},                   // OSC closed by ESC '\'
      {"\x1b]0;a\x1b" "b\x07z", 1},                   // ESC inside OSC is not ST
      {"ab\x1b[31", 2},                              // unterminated CSI
      {"ab\x1b]0;title never closed", 2},            // unterminated OSC
      {"\x1b(Bxy", 3},                               // ESC + one char
      {"\x1b\xC3\xA9z", 1},                          // ESC + a two-byte char
      {"a\x1b", 1},                                  // lone ESC at the end
      {"a\x1b]0;t\x1b", 1},                          // ... or inside an OSC
      {"a\x1b\xE2\x82", 1},                          // ESC + a truncated char
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::display_width(c.text), c.want) << readable(c.text);
}

TEST(Utf8, LossyReplacesEachMaximalInvalidSubpart) {
  const struct {
    std::string bytes;
    std::string want;
  } cases[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {kFffd, kFffd},                                         // a real U+FFFD is kept
      {"a\x80" "b", "a" + kFffd + "b"},                       // stray continuation
      {"\xC0\xAF", kFffd + kFffd},                            // overlong '/'
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},                // overlong, 3 bytes
      {"\xF0\x80\x80\xAF", kFffd + kFffd + kFffd + kFffd},    // overlong, 4 bytes
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},                // surrogate U+D800
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},    // U+110000
      {"\xF5\x80", kFffd + kFffd},
      {"\xE2\x82", kFffd},                                    // truncated at the end
      {"\xF0\x9F\x98" "A", kFffd + "A"},                      // truncated mid-text
      // The encoding boundaries U+7F, U+80, U+7FF, U+800, U+D7FF, U+FFFF, U+10000, U+10FFFF.
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unicode::lossy(c.bytes), c.want) << readable(c.bytes);
    const bool valid = c.bytes == c.want;
    EXPECT_EQ(unicode::is_valid_utf8(c.bytes), valid) << readable(c.bytes);
    EXPECT_EQ(unicode::to_u32(c.bytes).has_value(), valid) << readable(c.bytes);
    if (valid) {
      EXPECT_EQ(unicode::to_utf8(*unicode::to_u32(c.bytes)), c.bytes) << readable(c.bytes);
    }
  }
  EXPECT_EQ(unicode::to_u32("\xF4\x8F\xBF\xBF" "a"), (std::u32string{0x10FFFF, U'a'}));
  // Values no UTF-8 text can hold come out as U+FFFD.
  EXPECT_EQ(unicode::to_utf8(std::u32string{0xD800, U'x', 0x110000}), kFffd + "x" + kFffd);
}

TEST(ToLower, AppliesTheFullUnicodeMapping) {
  const struct {
    std::string text;
    std::string want;
  } cases[] = {
      {"IDENTITYFILE x_Y-1", "identityfile x_y-1"},
      {"\xC4\xB0", "i\xCC\x87"},                          // İ -> i + combining dot
      {"\xE2\x84\xAA", "k"},                              // Kelvin sign
      {"\xC3\x9F\xE1\xBA\x9E", "\xC3\x9F\xC3\x9F"},       // ß stays, capital ẞ -> ß
      {"A\xFF" "B", "a" + kFffd + "b"},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::to_lower(c.text), c.want) << readable(c.text);
}

// Trimming is where White_Space shows: the characters at the edges of the
// property's ranges go, their neighbours stay.
TEST(WhiteSpace, TrimTakesWhiteSpaceOffTheEdgesAndNothingElse) {
  const struct {
    std::string text, trimmed, start_trimmed;
  } cases[] = {
      {" \t\r\n", "", ""},
      {"\v\f\u0085\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000x", "x", "x"},
      {"  Host web  ", "Host web", "Host web  "},
      {"\u3000host\u00a0", "host", "host\u00a0"},
      // U+0008, U+001F, U+00A1, U+180E, U+200B, U+2060 and U+FEFF are not white space.
      {"\b\x1fx\u00a1", "\b\x1fx\u00a1", "\b\x1fx\u00a1"},
      {"\u180e\u200bx\u2060\ufeff", "\u180e\u200bx\u2060\ufeff", "\u180e\u200bx\u2060\ufeff"},
      {"a \u2003 b", "a \u2003 b", "a \u2003 b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unicode::trim(c.text), c.trimmed) << readable(c.text);
    EXPECT_EQ(unicode::trim_start(c.text), c.start_trimmed) << readable(c.text);
  }
}

// glibc's wcwidth() in C.UTF-8 is built from its own (older) copy of the same
// data. Every assigned code point it knows must agree with our table, except
// for these deliberate differences in the rules themselves.
TEST(DisplayWidth, AgreesWithGlibcWcwidth) {
  const struct {
    char32_t first, last;
  } known[] = {
      // Prepended concatenation marks are Cf, which count 0; glibc gives 1.
      {0x0600, 0x0605}, {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x0890, 0x0891},
      {0x08E2, 0x08E2}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
      // glibc makes circled numbers on black squares and Yijing hexagrams wide.
      {0x3248, 0x324F}, {0x4DC0, 0x4DFF},
      // Hangul Jamo Extended-B: glibc treats them like U+1160..U+11FF.
      {0xD7B0, 0xD7FF},
  };
  auto is_known = [&](char32_t c) {
    for (const auto& k : known)
      if (c >= k.first && c <= k.last) return true;
    return false;
  };

  // The assigned code points, from the same database the tables come from.
  std::ifstream data("/usr/share/unicode/UnicodeData.txt");
  ASSERT_TRUE(data) << "the unicode-data package is needed";
  std::vector<std::pair<char32_t, char32_t>> assigned;
  for (std::string line; std::getline(data, line);) {
    const auto c = static_cast<char32_t>(std::stoul(line, nullptr, 16));
    if (line.contains(", Last>;"))
      assigned.back().second = c;
    else
      assigned.emplace_back(c, c);
  }

  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  std::size_t compared = 0;
  std::string unexpected;
  int shown = 0;
  for (const auto& [first, last] : assigned) {
    for (char32_t c = first; c <= last; ++c) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF)) continue;
      const int theirs = ::wcwidth(static_cast<wchar_t>(c));
      if (theirs < 0) continue;  // newer than glibc's data
      ++compared;
      const int ours = unicode::char_width(c);
      if (ours == theirs || is_known(c) || ++shown > 20) continue;
      char buf[64];
      std::snprintf(buf, sizeof buf, "U+%04X ours %d glibc %d\n", static_cast<unsigned>(c), ours, theirs);
      unexpected += buf;
    }
  }
  std::setlocale(LC_CTYPE, "C");
  EXPECT_GT(compared, 100000u);
  EXPECT_EQ(unexpected, "");
}
