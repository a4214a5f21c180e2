#include "prompt/cursor.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace {

StringCursor at(std::string_view text, std::size_t k) {
  StringCursor c(text);
  for (std::size_t i = 0; i < k; ++i) c.move_right();
  return c;
}

// The editing keys as typed are covered through the prompt; these are the
// cases keys reach only with effort: characters of several bytes, white space
// beyond the ASCII blank, several lines.
TEST(StringCursor, CharactersNotBytes) {
  StringCursor wide = at("héllo", 2);
  wide.delete_left();
  EXPECT_EQ(wide.text(), "hllo");
  EXPECT_EQ(wide.size(), 4u);
  EXPECT_EQ(wide.cursor(), 1u);

  StringCursor ext = at("ab", 1);
  ext.extend("cdé");
  EXPECT_EQ(ext.text(), "abcdé");
  EXPECT_EQ(ext.cursor(), 1u);
}

TEST(StringCursor, WordMovesAndWordDeletion) {
  const struct {
    const char* text;
    std::size_t from;
    bool right;
    std::size_t want;
  } moves[] = {
      {"one two", 4, false, 0}, {"one two", 7, true, 7},  {"one two", 0, false, 0},
      {"one two", 2, true, 4},  {"one two", 5, false, 4},
      {"  lead", 0, true, 2},   {"a\tb", 0, true, 2},      // tab separates words
      {"a\u3000b", 0, true, 2},  // so does the ideographic space
      {"a\u00a0b", 3, false, 2},  // and the no-break space (positions are characters)
      {"a-b", 0, true, 3},       // a hyphen does not
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
  StringCursor none = at("abc", 0);
  none.delete_word_to_the_left();
  EXPECT_EQ(none.text(), "abc");
}

TEST(StringCursor, LineMoves) {
  // a b \n c d e f \n g : line starts 0, 3, 8; end 9
  const std::string text = "ab\ncdef\ng";
  const struct {
    std::size_t from;
    void (StringCursor::*op)();
    std::size_t want;
    const char* what;
  } cases[] = {
      {1, &StringCursor::move_up, 0, "up on the first line goes to 0"},
      {0, &StringCursor::move_up, 0, "up at 0 stays"},
      {3, &StringCursor::move_up, 0, "up from a line start to the previous start"},
      {6, &StringCursor::move_up, 2, "up clamps to the shorter line above"},
      {9, &StringCursor::move_up, 4, "up keeps the column"},
      {3, &StringCursor::move_down, 8, "down from a line start to the next start"},
      {6, &StringCursor::move_down, 9, "down clamps to the shorter line below"},
      {1, &StringCursor::move_down, 4, "down keeps the column"},
      {9, &StringCursor::move_down, 9, "down on the last line stays"},
      {8, &StringCursor::move_down, 8, "down at the last line's start stays"},
      {5, &StringCursor::move_home, 3, "home to the line start"},
      {4, &StringCursor::move_end, 7, "end to the line's line feed"},
      {8, &StringCursor::move_end, 9, "end of the last line is the text's end"},
  };
  for (const auto& c : cases) {
    StringCursor s = at(text, c.from);
    (s.*c.op)();
    EXPECT_EQ(s.cursor(), c.want) << c.what;
  }

  StringCursor one = at("abc", 2);
  one.move_down();
  EXPECT_EQ(one.cursor(), 2u);
  one.move_up();
  EXPECT_EQ(one.cursor(), 0u);
}

TEST(StringCursor, SplitAroundTheCursor) {
  const struct {
    const char* text;
    std::size_t k;
    const char *left, *at, *right;
  } cases[] = {
      {"abc", 1, "a", "b", "c"},
      {"abc", 3, "abc", " ", ""},           // after the end: a space
      {"", 0, "", " ", ""},
      {"ab\ncd", 2, "ab", " ", "\ncd"},     // on a line feed: a space, feed kept
      {"héllo", 1, "h", "é", "llo"},
  };
  for (const auto& c : cases) {
    auto s = at(c.text, c.k).split();
    EXPECT_EQ(s.left, c.left) << c.text << " at " << c.k;
    EXPECT_EQ(s.at, c.at) << c.text << " at " << c.k;
    EXPECT_EQ(s.right, c.right) << c.text << " at " << c.k;
  }

  StringCursor masked = at("pä ss", 2).masked(U'*');
  EXPECT_EQ(masked.text(), "*****");
  EXPECT_EQ(masked.cursor(), 2u);
}

}  // namespace
