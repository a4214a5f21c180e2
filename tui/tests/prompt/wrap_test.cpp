#include "prompt/wrap.hpp"

#include <gtest/gtest.h>

#include "support/readable.hpp"
#include "support/wrap.hpp"

namespace {

std::string x(std::size_t n) { return std::string(n, 'x'); }

// The kit's row count, and the rows themselves as the test's terminal model
// cuts them.
TEST(Wrap, FoldsLinesLikeTheTerminal) {
  const struct {
    std::string frame;
    std::size_t width;
    std::string wrapped;
    std::size_t rows;
  } cases[] = {
      {x(21), 10, x(10) + "\n" + x(10) + "\nx", 3},       // 2W+1 columns
      {x(10), 10, x(10), 1},                               // exactly W
      {x(9) + "日", 10, x(9) + "\n日", 2},                 // a wide char at the edge moves down
      {x(8) + "日", 10, x(8) + "日", 1},
      {"\x1b[36m" + x(10) + "\x1b[0m", 10, "\x1b[36m" + x(10) + "\x1b[0m", 1},  // escapes: no width
      {x(10) + "\x1b[0my", 10, x(10) + "\x1b[0m\ny", 2},  // an escape stays on its row
      {"\x1b]8;;http://example.org/" "\x07" + x(10), 10, "\x1b]8;;http://example.org/" "\x07" + x(10), 1},
      {"abc" + std::string(8, ' '), 10, "abc" + std::string(7, ' ') + "\n ", 2},  // trailing spaces count
      {"abc", 1, "a\nb\nc", 3},
      {"日x", 1, "日\nx", 2},                              // too wide for any row: a row of its own
      {"e\u0301x", 1, "e\u0301\nx", 2},                    // a combining mark stays with its base
      {"ab", 0, "a\nb", 2},                                // width 0 counts as 1
      {"ab\n", 10, "ab\n", 1},                             // a final line feed opens no row
      {"a\n\nb", 10, "a\n\nb", 3},                         // an empty line is a row
      {"", 10, "", 0},
      {x(12) + "\nb\n", 10, x(10) + "\nxx\nb\n", 3},
      {std::string(11, '\xff'), 10, std::string(10, '\xff') + "\n\xff", 2},  // invalid bytes: one column
      // A tab moves to the next multiple of 8 and stops at the last column;
      // it starts no row itself, so a short line with one may still fold.
      {"\tabc", 10, "\tab\nc", 2},
      {"ab\t\tx", 10, "ab\t\tx", 1},
      {x(10) + "\ty", 10, x(10) + "\ty", 1},  // from the pending wrap back to the last column
      {x(12) + "\tab", 10, x(10) + "\nxx\tab", 2},
      {"\t\t\t", 1, "\t\t\t", 1},
      // No hyphenation and no word breaks: a hard cut every W columns.
      {"00-preflight: Preflight checks & gum helper", 20, "00-preflight: Prefli\nght checks & gum hel\nper", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wrap(c.frame, c.width), c.wrapped) << readable(c.frame) << " at " << c.width;
    EXPECT_EQ(count_rows(c.frame, c.width), c.rows) << readable(c.frame) << " at " << c.width;
  }
}

}  // namespace
