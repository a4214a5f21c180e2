// unicode.hpp: UTF-8 handling and the character properties the kit measures
// and edits text with (White_Space, lower-case mapping, display
// width). The property tables are generated from the Unicode
// character database into unicode_tables.cpp by tools/gen_unicode_tables.py.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace unicode {

/// The Unicode White_Space property.
bool is_white_space(char32_t c);

/// Columns a character takes on a terminal: 0 for control characters and
/// zero-width marks, 2 for wide and fullwidth characters, 1 otherwise.
int char_width(char32_t c);

/// The full lower-case mapping of `text` (a character may map to several).
std::string to_lower(std::string_view text);

/// Display width of `text`: escape sequences (CSI, OSC, two-byte ESC x) count
/// 0, every other character its char_width. Invalid bytes count as U+FFFD.
std::size_t display_width(std::string_view text);

/// Length in bytes of the escape sequence starting at text[0] (an ESC), or 0
/// when text does not start with ESC. Never more than text.size().
std::size_t escape_length(std::string_view text);

bool is_valid_utf8(std::string_view bytes);

/// `bytes` with every maximal invalid sequence replaced by U+FFFD.
std::string lossy(std::string_view bytes);

/// Decodes one character at the start of `bytes`. Returns the character and
/// the bytes it used; an invalid sequence gives U+FFFD and its length (>= 1).
struct Decoded {
  char32_t ch;
  std::size_t length;
};
Decoded decode(std::string_view bytes);

/// The whole text as characters, or nothing when it is not valid UTF-8.
std::optional<std::u32string> to_u32(std::string_view bytes);
std::string to_utf8(std::u32string_view chars);
void append_utf8(std::string& out, char32_t c);

/// `text` without leading/trailing White_Space characters.
std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);

}  // namespace unicode
