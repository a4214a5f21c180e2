// The emulator the end-to-end tests read their screens from: if it draws
// differently from a real terminal, every screen assertion lies.
#include "e2e/screen.hpp"

#include <gtest/gtest.h>

TEST(Screen, DefersTheWrapAfterTheLastColumn) {
  Screen s(5, 4);
  s.feed("abcde");
  // The cursor waits in the last column; nothing has wrapped yet.
  EXPECT_EQ(s.cursor_row(), 0u);
  EXPECT_EQ(s.cursor_col(), 4u);
  s.feed("f");
  EXPECT_EQ(s.line(0), "abcde");
  EXPECT_EQ(s.line(1), "f");
  EXPECT_EQ(s.cursor_col(), 1u);

  // CR, LF or a cursor movement cancels the pending wrap.
  Screen cr(5, 4);
  cr.feed("abcde\rX");
  EXPECT_EQ(cr.text(), "Xbcde");
  Screen crlf(5, 4);
  crlf.feed("abcde\r\nxy");
  EXPECT_EQ(crlf.text(), "abcde\nxy");  // exactly one row down, no blank row
  Screen back(5, 4);
  back.feed("abcde\x1b[2DZ");
  EXPECT_EQ(back.text(), "abZde");
  Screen erased(5, 4);
  erased.feed("abcde\x1b[KQ");  // erase at the pending position clears the last cell
  EXPECT_EQ(erased.text(), "abcdQ");
  EXPECT_EQ(erased.cursor_row(), 0u);
}

TEST(Screen, ErasesLinesAndTheRestOfTheScreen) {
  Screen s(6, 4);
  s.feed("111111\r\n222222\r\n333333\r\n444");
  s.feed("\x1b[2;3H\x1b[K");  // row 2, column 3: erase to end of line
  EXPECT_EQ(s.line(1), "22");
  s.feed("\x1b[1K");  // start of line to the cursor, inclusive
  EXPECT_EQ(s.line(1), "");
  s.feed("\x1b[1;4H\x1b[1K");
  EXPECT_EQ(s.line(0), "    11");
  s.feed("\x1b[3;2H\x1b[J");  // cursor to the end of the screen
  EXPECT_EQ(s.text(), "    11\n\n3");
  s.feed("\x1b[2K\x1b[1;1H\x1b[2J");
  EXPECT_EQ(s.text(), "");
  EXPECT_EQ(s.cursor_row(), 0u);
}

TEST(Screen, CursorMovementStopsAtTheEdges) {
  Screen s(10, 4);
  s.feed("top\r\nnext\x1b[9Aup");  // up stops at the top row, column kept
  EXPECT_EQ(s.text(), "top up\nnext");
  s.feed("\x1b[20Bdown");  // down stops at the last row: no scrolling
  EXPECT_EQ(s.scrolled(), 0u);
  EXPECT_EQ(s.line(3), "      down");
  s.feed("\x1b[99D\x1b[3G*\x1b[99C!");
  EXPECT_EQ(s.line(3), "  *   dow!");
  s.feed("\x1b[A\x1b[A\x1b[1G#");  // the kit's own "up, column 1"
  EXPECT_EQ(s.line(1), "#ext");
  // SGR and the cursor's visibility draw nothing.
  s.feed("\x1b[1;32m\x1b[?25l");
  EXPECT_FALSE(s.cursor_visible());
  s.feed("\x1b[0m\x1b[?25h");
  EXPECT_TRUE(s.cursor_visible());
  EXPECT_EQ(s.line(1), "#ext");
}

TEST(Screen, ScrollsAtTheBottomAndCountsTheRows) {
  Screen s(8, 3);
  s.feed("one\r\ntwo\r\nthree\r\nfour\r\nfive");
  EXPECT_EQ(s.text(), "three\nfour\nfive");
  EXPECT_EQ(s.scrolled(), 2u);
  EXPECT_EQ(s.cursor_row(), 2u);
  // A wrap in the last row scrolls too.
  s.feed("\r\n12345678X");
  EXPECT_EQ(s.text(), "five\n12345678\nX");
  EXPECT_EQ(s.scrolled(), 4u);
}

TEST(Screen, WideCharactersTakeTwoCellsAndWrapWhole) {
  const std::string ni = "\xe4\xbd\xa0", hao = "\xe5\xa5\xbd";  // 你 好
  Screen s(5, 3);
  s.feed("a" + ni + "b");
  EXPECT_EQ(s.line(0), "a" + ni + "b");
  EXPECT_EQ(s.cursor_col(), 4u);
  // Only the last column is left: the wide character moves to the next row.
  s.feed(hao);
  EXPECT_EQ(s.line(0), "a" + ni + "b");
  EXPECT_EQ(s.line(1), hao);
  EXPECT_EQ(s.cursor_row(), 1u);
  EXPECT_EQ(s.cursor_col(), 2u);
  // Filling the row exactly with wide characters defers the wrap as usual.
  s.feed("\r\n" + ni + hao + "z");
  EXPECT_EQ(s.line(2), ni + hao + "z");
  // Writing over half of a wide character blanks the other half.
  s.feed("\x1b[1;3Hx");
  EXPECT_EQ(s.line(0), "a xb");
  // Bytes split across two feeds still make one character.
  Screen split(5, 2);
  split.feed("\xe2\x94");
  split.feed("\x82\x1b[");
  split.feed("1mz");
  EXPECT_EQ(split.text(), "\xe2\x94\x82z");
}
