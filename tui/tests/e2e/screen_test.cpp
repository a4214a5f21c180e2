// The emulator the end-to-end tests read their screens from: if it draws
// differently from a real terminal, every screen assertion lies.
#include "e2e/screen.hpp"

#include <gtest/gtest.h>

TEST(Screen, DefersTheWrapAfterTheLastColumnAndScrollsAtTheBottom) {
  Screen s(5, 3);
  s.feed("abcde");
  EXPECT_EQ(s.cursor_col(), 4u);  // waits in the last column
  s.feed("f");
  EXPECT_EQ(s.text(), "abcde\nf");
  // CR, LF or a cursor movement cancels the pending wrap.
  const struct {
    const char* bytes;
    const char* text;
  } cases[] = {{"abcde\rX", "Xbcde"},
               {"abcde\r\nxy", "abcde\nxy"},
               {"abcde\x1b[2DZ", "abZde"},
               {"1\r\n2\r\n3\r\n4", "2\n3\n4"},
               {"1\r\n2\r\n12345X", "2\n12345\nX"}};  // a wrap in the last row scrolls
  for (const auto& c : cases) {
    Screen t(5, 3);
    t.feed(c.bytes);
    EXPECT_EQ(t.text(), c.text) << c.bytes;
  }
}

TEST(Screen, ErasesAndMovesTheCursorWithinTheEdges) {
  Screen s(6, 4);
  s.feed("111111\r\n222222\r\n333333\r\n444");
  s.feed("\x1b[2;3H\x1b[K");  // row 2, column 3: to the end of the line
  EXPECT_EQ(s.line(1), "22");
  s.feed("\x1b[1;4H\x1b[1K");  // start of the line to the cursor, inclusive
  EXPECT_EQ(s.line(0), "    11");
  s.feed("\x1b[3;2H\x1b[J");  // cursor to the end of the screen
  EXPECT_EQ(s.text(), "    11\n22\n3");
  s.feed("\x1b[2K\x1b[2J");
  EXPECT_EQ(s.text(), "");

  Screen m(10, 4);
  m.feed("top\r\nnext\x1b[9Aup");  // up stops at the top row, column kept
  EXPECT_EQ(m.text(), "top up\nnext");
  m.feed("\x1b[20Bdown\x1b[99D\x1b[3G*\x1b[99C!");  // no scrolling down there
  EXPECT_EQ(m.text(), "top up\nnext\n\n  *   dow!");
  m.feed("\x1b[1;32m\x1b[?25l");  // SGR draws nothing
  EXPECT_FALSE(m.cursor_visible());
  m.feed("\x1b[0m\x1b[?25h\x1b[A\x1b[A\x1b[1G#");
  EXPECT_TRUE(m.cursor_visible());
  EXPECT_EQ(m.text(), "top up\n#ext\n\n  *   dow!");
}

TEST(Screen, WideCharactersTakeTwoCellsAndWrapWhole) {
  const std::string ni = "\xe4\xbd\xa0", hao = "\xe5\xa5\xbd";  // 你 好
  Screen s(5, 3);
  s.feed("a" + ni + "b" + hao);  // one column left: 好 moves to the next row
  EXPECT_EQ(s.text(), "a" + ni + "b\n" + hao);
  EXPECT_EQ(s.cursor_col(), 2u);
  s.feed("\r\n" + ni + hao + "z");  // filling the row exactly defers the wrap
  EXPECT_EQ(s.line(2), ni + hao + "z");
  Screen split(5, 2);  // bytes split across feeds still make one character
  split.feed("\xe2\x94");
  split.feed("\x82\x1b[");
  split.feed("1mz");
  EXPECT_EQ(split.text(), "\xe2\x94\x82z");
}
