// The cursor operations that keys reach only with effort: characters of several
// bytes, white space beyond the ASCII blank, several lines. The editing keys
// as typed are checked through the prompt.
#include "prompt/cursor.hpp"

#include <gtest/gtest.h>

namespace {

StringCursor at(std::string_view text, std::size_t k) {
  StringCursor c(text);
  for (std::size_t i = 0; i < k; ++i) c.move_right();
  return c;
}

TEST(StringCursor, CharactersNotBytes) {
  StringCursor wide = at("héllo", 2);
  wide.delete_left();
  EXPECT_EQ(wide.text(), "hllo");
  EXPECT_EQ(wide.cursor(), 1u);

  StringCursor ext = at("ab", 1);
  ext.extend("cdé");
  EXPECT_EQ(ext.text(), "abcdé");
  EXPECT_EQ(ext.cursor(), 1u);

  StringCursor masked = at("pä ss", 2).masked(U'*');
  EXPECT_EQ(masked.text(), "*****");
  EXPECT_EQ(masked.cursor(), 2u);
}

TEST(StringCursor, WordMovesAndWordDeletion) {
  const struct {
    const char* text;
    std::size_t from;
    bool right;
    std::size_t want;
  } moves[] = {
      {"one two", 4, false, 0}, {"one two", 5, false, 4}, {"one two", 7, true, 7},
      {"  lead", 0, true, 2},
      {"a\tb", 0, true, 2},       // tab separates words
      {"a\u3000b", 0, true, 2},   // so does the ideographic space
      {"a\u00a0b", 3, false, 2},  // and the no-break space (positions are characters)
      {"a-b", 0, true, 3},        // a hyphen does not
  };
  for (const auto& m : moves) {
    StringCursor w = at(m.text, m.from);
    if (m.right)
      w.move_right_by_word();
    else
      w.move_left_by_word();
    EXPECT_EQ(w.cursor(), m.want) << m.text << " from " << m.from << (m.right ? " right" : " left");
  }

  StringCursor lead = at("  abc", 2);
  lead.delete_word_to_the_left();  // the leading blanks belong to no word
  EXPECT_EQ(lead.text(), "abc");
  EXPECT_EQ(lead.cursor(), 0u);
  StringCursor start = at("abc", 0);
  start.delete_word_to_the_left();
  EXPECT_EQ(start.text(), "abc");
}

// A typed line feed is Enter, so only a text given by the program has several lines.
TEST(StringCursor, LineMoves) {
  using Op = void (StringCursor::*)();
  const Op up = &StringCursor::move_up, down = &StringCursor::move_down;
  // In "ab\ncdef\ng" lines start at 0, 3 and 8: from a line start up or down to
  // the other start; elsewhere the column is kept, clamped to the line's length.
  const struct {
    std::size_t from;
    Op op;
    std::size_t want;
  } cases[] = {{3, up, 0},   {6, up, 2}, {3, down, 8}, {6, down, 9}, {1, down, 4},
               {5, &StringCursor::move_home, 3}, {4, &StringCursor::move_end, 7}};
  for (const auto& c : cases) {
    StringCursor s = at("ab\ncdef\ng", c.from);
    (s.*c.op)();
    EXPECT_EQ(s.cursor(), c.want) << "case " << (&c - cases);
  }
}

TEST(StringCursor, SplitAroundTheCursor) {
  const struct {
    const char* text;
    std::size_t k;
    const char *left, *at, *right;
  } cases[] = {
      {"", 0, "", " ", ""},              // at the end: a space
      {"ab\ncd", 2, "ab", " ", "\ncd"},  // on a line feed: a space, the feed kept
      {"héllo", 1, "h", "é", "llo"},
  };
  for (const auto& c : cases) {
    auto s = at(c.text, c.k).split();
    EXPECT_EQ(s.left, c.left) << c.text << " at " << c.k;
    EXPECT_EQ(s.at, c.at) << c.text << " at " << c.k;
    EXPECT_EQ(s.right, c.right) << c.text << " at " << c.k;
  }
}

}  // namespace
