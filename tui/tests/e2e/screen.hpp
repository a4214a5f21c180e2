// screen.hpp: a small terminal emulator for tests: what a person would see
// after the program's bytes have been drawn.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class Screen {
 public:
  Screen(std::size_t cols = 100, std::size_t rows = 40);

  /// Interprets `bytes`: printable UTF-8 (wide characters take two cells),
  /// CR, LF, BS, TAB, CSI A/B/C/D/G/H/J/K, cursor show/hide (SGR draws
  /// nothing), with the deferred wrap of real terminals (a character in the
  /// last column leaves the cursor there until the next one) and scrolling.
  void feed(std::string_view bytes);

  /// Row `r` without trailing spaces.
  std::string line(std::size_t r) const;
  /// Every row that has been used, trailing empty rows dropped, joined by "\n".
  std::string text() const;
  /// Whether any row contains `needle`.
  bool contains(std::string_view needle) const;
  bool cursor_visible() const { return cursor_visible_; }
  std::size_t cursor_row() const { return row_; }
  std::size_t cursor_col() const { return col_; }
  std::size_t cols() const { return cols_; }
  std::size_t rows() const { return rows_; }

 private:
  void control(char c);
  void line_feed();
  void print(char32_t ch, std::string_view utf8);
  void put_cell(std::size_t col, std::string text);
  void erase(std::size_t row, std::size_t from, std::size_t to);
  void apply_escape(std::string_view seq);

  std::size_t cols_, rows_;
  std::vector<std::vector<std::string>> cells_;
  std::size_t row_ = 0, col_ = 0;
  bool pending_wrap_ = false;
  bool cursor_visible_ = true;
  std::string pending_;  // an incomplete escape or UTF-8 sequence
};
