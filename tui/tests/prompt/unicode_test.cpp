// Widths, UTF-8 repair, lower-casing and White_Space, checked against fixed
// expectations and, for the width table, against glibc's own wcwidth().
#include "prompt/unicode.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

/// Bytes with escapes and non-ASCII shown as \xNN, for failure messages.
std::string shown(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    }
  }
  return out;
}

const std::string kFffd = "\xEF\xBF\xBD";

}  // namespace

TEST(DisplayWidth, CountsColumnsPerCharacter) {
  const struct {
    std::string text;
    std::size_t want;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"日本語", 6},                       // CJK ideographs, W
      {"Ａｂ", 4},                         // fullwidth forms, F
      {"한국", 4},                         // Hangul syllables
      {"\xF0\x9F\x98\x80", 2},             // U+1F600 grinning face, W
      {"\xE2\x9C\x85 ok", 5},              // U+2705 check mark, W
      {"\xE2\x9C\x94", 1},                 // U+2714 heavy check mark, N
      {"e\xCC\x81", 1},                    // e + combining acute (Mn)
      {"\xE2\x83\x9D", 0},                 // U+20DD enclosing circle (Me)
      {"a\xE2\x80\x8B" "b", 2},            // zero width space
      {"a\xE2\x80\x8D" "b", 2},            // zero width joiner (Cf)
      {"\xC2\xAD", 1},                     // soft hyphen keeps its column
      {"\xE1\x84\x80\xE1\x85\xA1", 2},     // Hangul L + medial vowel U+1161
      {"\xE1\x87\xBF", 0},                 // U+11FF final consonant
      {"\xE3\x80\x80", 2},                 // ideographic space
      {"\xE2\x94\x82  ", 3},               // the kit's bar U+2502 is narrow
      {"\xE2\x97\x86", 1},                 // U+25C6 diamond, ambiguous: narrow
      {"\t\r\n\x01", 0},                   // C0 controls
      {"\x7F", 0},                         // DEL
      {"\xC2\x85\xC2\x9B\xC2\x9F", 0},     // C1 controls
      {"\xC2\xA0", 1},                     // no-break space
      {"\xFF", 1},                         // an invalid byte shows as U+FFFD
      {"a\xE2\x82", 2},                    // a truncated sequence likewise
      {"\xF0\xA0\x80\x80", 2},             // U+20000, CJK Extension B
      {"\xF0\xAF\xBF\xBD", 2},             // U+2FFFD, unassigned in plane 2: W
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::display_width(c.text), c.want) << shown(c.text);

  EXPECT_EQ(unicode::char_width(U'\0'), 0);
  EXPECT_EQ(unicode::char_width(0x9F), 0);
  EXPECT_EQ(unicode::char_width(0xA0), 1);
  EXPECT_EQ(unicode::char_width(0x1160), 0);
  EXPECT_EQ(unicode::char_width(0x115F), 2);  // Hangul choseong filler is wide
  EXPECT_EQ(unicode::char_width(0x302A), 0);  // a mark inside a wide block stays 0
}

TEST(DisplayWidth, EscapeSequencesTakeNoColumns) {
  const struct {
    std::string text;
    std::size_t want;
  } cases[] = {
      {"\x1b[31mred\x1b[0m", 3},
      {"\x1b[38;5;8m\xE2\x97\x87\x1b[0m" "  name", 7},
      {"\x1b[2m\x1b[9mdone\x1b[0m", 4},
      {"\x1b[?25lX\x1b[?25h", 1},
      {"\x1b[2K\r\x1b[1B", 0},
      {"\x1b]8;;http://h/\x07link\x1b]8;;\x07", 4},  // OSC closed by BEL
      {"\x1b]0;title\x1b\\ok", 2},                   // OSC closed by ESC '\'
      {"\x1b]0;a\x1b" "b\x07z", 1},                   // ESC inside OSC is not ST
      {"ab\x1b[31", 2},                              // unterminated CSI
      {"ab\x1b]0;title never closed", 2},            // unterminated OSC
      {"\x1b(Bxy", 3},                               // ESC + one char
      {"\x1b\xC3\xA9z", 1},                          // ESC + a two-byte char
      {"a\x1b", 1},                                  // lone ESC at the end
      {"\x1b[31m日本\x1b[0m", 4},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::display_width(c.text), c.want) << shown(c.text);
}

TEST(EscapeLength, CoversTheWholeSequenceAndNeverMore) {
  const struct {
    std::string text;
    std::size_t want;
  } cases[] = {
      {"", 0},
      {"x\x1b[0m", 0},
      {"\x1b", 1},
      {"\x1b[31mX", 5},
      {"\x1b[38;5;8mX", 9},
      {"\x1b[?25lX", 6},
      {"\x1b[3AX", 4},
      {"\x1b[", 2},
      {"\x1b[12;4", 6},
      {"\x1b]0;t\x07X", 6},
      {"\x1b]0;t\x1b\\X", 7},
      {"\x1b]0;t\x1bX", 7},
      {"\x1b]0;t\x1b", 6},
      {"\x1b" "cX", 2},
      {"\x1b\xC3\xA9X", 3},
      {"\x1b\xE2\x82", 3},
      {"\x1b\xFFX", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::escape_length(c.text), c.want) << shown(c.text);
}

TEST(Utf8, LossyReplacesEachMaximalInvalidSubpart) {
  const struct {
    std::string bytes;
    std::string want;
  } cases[] = {
      {"plain ascii", "plain ascii"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {kFffd, kFffd},                                         // a real U+FFFD is kept
      {"a\x80" "b", "a" + kFffd + "b"},                       // stray continuation
      {"\xC0\xAF", kFffd + kFffd},                            // overlong '/'
      {"\xC1\xBF", kFffd + kFffd},
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},                // overlong, 3 bytes
      {"\xF0\x80\x80\xAF", kFffd + kFffd + kFffd + kFffd},    // overlong, 4 bytes
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},                // surrogate U+D800
      {"\xED\xBF\xBF", kFffd + kFffd + kFffd},                // surrogate U+DFFF
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},    // U+110000
      {"\xF5\x80\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"\xF8\x88\x80\x80\x80", kFffd + kFffd + kFffd + kFffd + kFffd},
      {"\xC2", kFffd},                                        // truncated at the end
      {"\xE2\x82", kFffd},
      {"\xF0\x9F\x98", kFffd},
      {"\xF0\x9F\x98" "A", kFffd + "A"},                      // truncated mid-text
      {"\xE2\x82\xE2\x82\xAC", kFffd + "\xE2\x82\xAC"},
      {"\xE1\x80\xC2\xA9", kFffd + "\xC2\xA9"},
      {"\xFE\xFF", kFffd + kFffd},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},               // U+10FFFF is fine
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},                       // U+D7FF is fine
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unicode::lossy(c.bytes), c.want) << shown(c.bytes);
    const bool valid = c.bytes == c.want;
    EXPECT_EQ(unicode::is_valid_utf8(c.bytes), valid) << shown(c.bytes);
    EXPECT_EQ(unicode::to_u32(c.bytes).has_value(), valid) << shown(c.bytes);
    if (valid) {
      EXPECT_EQ(unicode::to_utf8(*unicode::to_u32(c.bytes)), c.bytes) << shown(c.bytes);
    }
  }
}

TEST(Utf8, DecodeAndEncodeAtTheBoundaries) {
  const struct {
    std::string bytes;
    char32_t ch;
    std::size_t length;
  } decodes[] = {
      {"A", U'A', 1},
      {"\x7F", 0x7F, 1},
      {"\xC2\x80", 0x80, 2},
      {"\xDF\xBF", 0x7FF, 2},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xEF\xBF\xBF", 0xFFFF, 3},
      {"\xF0\x90\x80\x80", 0x10000, 4},
      {"\xF4\x8F\xBF\xBFtail", 0x10FFFF, 4},
      {"\xE2\x82\xAC!", 0x20AC, 3},
      {"\xC0\x80", 0xFFFD, 1},
      {"\xE0\x9F\xBF", 0xFFFD, 1},
      {"\xED\xA0\x80", 0xFFFD, 1},
      {"\xF0\x8F\xBF\xBF", 0xFFFD, 1},
      {"\xF4\x90\x80\x80", 0xFFFD, 1},
      {"\xF0\x9F\x98", 0xFFFD, 3},
      {"\xF0\x9F" "x", 0xFFFD, 2},
      {"\xBF", 0xFFFD, 1},
  };
  for (const auto& d : decodes) {
    const unicode::Decoded got = unicode::decode(d.bytes);
    EXPECT_EQ(got.ch, d.ch) << shown(d.bytes);
    EXPECT_EQ(got.length, d.length) << shown(d.bytes);
  }

  std::string out;
  for (char32_t c : {U'A', char32_t{0x7FF}, char32_t{0x800}, char32_t{0xFFFF},
                     char32_t{0x10000}, char32_t{0x10FFFF}})
    unicode::append_utf8(out, c);
  EXPECT_EQ(out, "A\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  // Values no UTF-8 text can hold come out as U+FFFD.
  EXPECT_EQ(unicode::to_utf8(std::u32string{0xD800, U'x', 0x110000}), kFffd + "x" + kFffd);
}

TEST(ToLower, AppliesTheFullUnicodeMapping) {
  const struct {
    std::string text;
    std::string want;
  } cases[] = {
      {"HostName", "hostname"},
      {"IDENTITYFILE x_Y-1", "identityfile x_y-1"},
      {"\xC4\xB0", "i\xCC\x87"},                          // İ -> i + combining dot
      {"\xE2\x84\xAA", "k"},                              // Kelvin sign
      {"\xE2\x84\xA6", "\xCF\x89"},                       // Ohm sign -> ω
      {"\xC3\x80\xC3\x89\xC3\x9E", "\xC3\xA0\xC3\xA9\xC3\xBE"},  // ÀÉÞ
      {"\xC3\x9F", "\xC3\x9F"},                           // ß has no lower form
      {"\xE1\xBA\x9E", "\xC3\x9F"},                       // capital sharp s -> ß
      {"\xC4\x80\xC4\x81\xC4\xAE", "\xC4\x81\xC4\x81\xC4\xAF"},  // Ā ā Į, every other one
      {"\xC5\xB8", "\xC3\xBF"},                           // Ÿ -> ÿ
      {"\xC7\x84\xC7\x85", "\xC7\x86\xC7\x86"},           // Ǆ ǅ -> ǆ ǆ
      {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x83"},  // no final-sigma rule
      {"\xD0\x96\xD0\x81", "\xD0\xB6\xD1\x91"},           // Ж Ё
      {"\xE1\xBE\x88", "\xE1\xBE\x80"},                   // U+1F88 -> U+1F80
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},           // Deseret U+10400
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"},                   // fullwidth Ａ
      {"\xE6\x97\xA5 1\xE2\x82\xAC", "\xE6\x97\xA5 1\xE2\x82\xAC"},  // no case: unchanged
      {"A\xFF" "B", "a" + kFffd + "b"},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::to_lower(c.text), c.want) << shown(c.text);
}

TEST(WhiteSpace, ExactlyTheTwentyFiveCharacters) {
  std::set<char32_t> listed;
  for (char32_t c = 0x09; c <= 0x0D; ++c) listed.insert(c);
  for (char32_t c = 0x2000; c <= 0x200A; ++c) listed.insert(c);
  for (char32_t c : {0x20, 0x85, 0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
    listed.insert(c);
  ASSERT_EQ(listed.size(), 25u);

  std::vector<char32_t> wrong;
  for (char32_t c = 0; c <= 0x10FFFF; ++c)
    if (unicode::is_white_space(c) != listed.contains(c)) wrong.push_back(c);
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " code points disagree, first U+" << std::hex
                             << static_cast<unsigned>(wrong.empty() ? 0 : wrong[0]);
}

TEST(WhiteSpace, TrimRemovesUnicodeWhiteSpaceAtTheEdges) {
  const struct {
    std::string text, trimmed, start_trimmed;
  } cases[] = {
      {"", "", ""},
      {" \t\r\n", "", ""},
      {"  Host web  ", "Host web", "Host web  "},
      {"\xE3\x80\x80host\xC2\xA0", "host", "host\xC2\xA0"},
      {"\xC2\x85x\xE2\x80\xA8", "x", "x\xE2\x80\xA8"},
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // U+200B is not white space
      {"a \xE2\x80\x83 b", "a \xE2\x80\x83 b", "a \xE2\x80\x83 b"},
      {"\x0B\x0C" "caf\xC3\xA9\x0B", "caf\xC3\xA9", "caf\xC3\xA9\x0B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unicode::trim(c.text), c.trimmed) << shown(c.text);
    EXPECT_EQ(unicode::trim_start(c.text), c.start_trimmed) << shown(c.text);
  }
}

TEST(Alphanumeric, LettersAndNumbersOfEveryScript) {
  for (char32_t c : {U'a', U'Z', U'0', U'9', char32_t{0xE9}, char32_t{0x65E5}, char32_t{0x0663},
                     char32_t{0x216B}, char32_t{0xBD}, char32_t{0x0345}, char32_t{0x10400}})
    EXPECT_TRUE(unicode::is_alphanumeric(c)) << std::hex << static_cast<unsigned>(c);
  for (char32_t c : {U'-', U' ', U'_', U'!', U'@', char32_t{0x0301}, char32_t{0x2014},
                     char32_t{0x3000}, char32_t{0x1F600}})
    EXPECT_FALSE(unicode::is_alphanumeric(c)) << std::hex << static_cast<unsigned>(c);
}

// glibc's wcwidth() in C.UTF-8 is built from its own (older) copy of the same
// data. Every assigned code point it knows must agree with our table, except
// for these deliberate differences in the rules themselves.
TEST(DisplayWidth, AgreesWithGlibcWcwidth) {
  struct Known {
    char32_t first, last;
    const char* why;
  };
  const Known known[] = {
      // Prepended concatenation marks are Cf, which we count 0; glibc gives 1.
      {0x0600, 0x0605, "Cf"}, {0x06DD, 0x06DD, "Cf"}, {0x070F, 0x070F, "Cf"},
      {0x0890, 0x0891, "Cf"}, {0x08E2, 0x08E2, "Cf"}, {0x110BD, 0x110BD, "Cf"},
      {0x110CD, 0x110CD, "Cf"},
      // Circled numbers on black squares (ambiguous) and Yijing hexagrams
      // (neutral): glibc makes them wide.
      {0x3248, 0x324F, "A"}, {0x4DC0, 0x4DFF, "N"},
      // Hangul Jamo Extended-B: glibc treats them like U+1160..U+11FF.
      {0xD7B0, 0xD7FF, "jamo"},
  };
  auto is_known = [&](char32_t c) {
    for (const Known& k : known)
      if (c >= k.first && c <= k.last) return true;
    return false;
  };

  // The assigned code points, from the same database the tables come from.
  std::ifstream data("/usr/share/unicode/UnicodeData.txt");
  ASSERT_TRUE(data) << "the unicode-data package is needed";
  std::vector<std::pair<char32_t, char32_t>> assigned;
  std::string line;
  while (std::getline(data, line)) {
    std::istringstream fields(line);
    std::string code, name;
    std::getline(fields, code, ';');
    std::getline(fields, name, ';');
    const auto c = static_cast<char32_t>(std::stoul(code, nullptr, 16));
    if (name.ends_with(", Last>"))
      assigned.back().second = c;
    else
      assigned.emplace_back(c, c);
  }
  ASSERT_GT(assigned.size(), 30000u);

  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  std::size_t compared = 0, unknown_to_glibc = 0, known_differences = 0;
  std::vector<std::string> unexpected;
  for (const auto& [first, last] : assigned) {
    for (char32_t c = first; c <= last; ++c) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF)) continue;
      const int theirs = ::wcwidth(static_cast<wchar_t>(c));
      if (theirs < 0) {
        ++unknown_to_glibc;
        continue;
      }
      ++compared;
      const int ours = unicode::char_width(c);
      if (ours == theirs) continue;
      if (is_known(c)) {
        ++known_differences;
      } else if (unexpected.size() < 20) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "U+%04X ours %d glibc %d", static_cast<unsigned>(c),
                      ours, theirs);
        unexpected.emplace_back(buf);
      }
    }
  }
  std::setlocale(LC_CTYPE, "C");
  std::printf("width check: %zu code points compared, %zu known differences, %zu unknown to glibc\n",
              compared, known_differences, unknown_to_glibc);
  EXPECT_GT(compared, 100000u);
  EXPECT_TRUE(unexpected.empty()) << [&] {
    std::string all;
    for (const auto& u : unexpected) all += u + "\n";
    return all;
  }();
}
