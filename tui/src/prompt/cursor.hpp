// cursor.hpp: StringCursor, the editable text of the text prompts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// A line of characters (Unicode scalar values) with a cursor from 0 to
/// size() inclusive; size() means after the last character.
class StringCursor {
 public:
  StringCursor() = default;
  explicit StringCursor(std::string_view utf8);

  void insert(char32_t c);
  void delete_left();
  void delete_right();
  void move_left();
  void move_right();
  void move_up();
  void move_down();
  void move_home();
  void move_end();
  void move_left_by_word();
  void move_right_by_word();
  void delete_word_to_the_left();
  /// Appends `utf8` to the value; the cursor stays.
  void extend(std::string_view utf8);

  /// Text before the cursor, the character under it (a space at the end or on
  /// a line feed), and the text after it (led by that line feed if it was one).
  struct Split {
    std::string left, at, right;
  };
  Split split() const;

  std::string text() const;
  bool empty() const { return value_.empty(); }
  std::size_t size() const { return value_.size(); }
  std::size_t cursor() const { return cursor_; }
  /// A copy with every character replaced by `mask`, same cursor.
  StringCursor masked(char32_t mask) const;

 private:
  std::u32string value_;
  std::size_t cursor_ = 0;
};
