#include "prompt/wrap.hpp"

#include <algorithm>

#include "prompt/unicode.hpp"

namespace {

// Rows of one line (no line feed inside), placed the way a terminal of
// `width` columns places it. A character that would pass the right edge goes
// to the next row whole; escape sequences take no column. A tab moves to the
// next multiple of 8 columns, never past the last column, and never starts a
// row by itself.
std::size_t fold_line(std::string_view line, std::size_t width) {
  std::size_t rows = 1;
  std::size_t column = 0;
  for (std::size_t i = 0; i < line.size();) {
    const auto byte = static_cast<unsigned char>(line[i]);
    std::size_t w, length = 1;
    if (byte == 0x1b) {
      i += unicode::escape_length(line.substr(i));
      continue;
    }
    if (byte == '\t') {
      column = std::min(width - 1, (column / 8 + 1) * 8);
      ++i;
      continue;
    }
    if (byte < 0x80) {  // ASCII, most of every frame: no table lookup
      w = byte >= 0x20 && byte != 0x7f ? 1 : 0;
    } else {
      auto d = unicode::decode(line.substr(i));
      w = static_cast<std::size_t>(unicode::char_width(d.ch));
      length = d.length;
    }
    if (w > 0 && column > 0 && column + w > width) {
      ++rows;
      column = 0;
    }
    column += w;
    i += length;
  }
  return rows;
}

// No character but the tab is wider on screen than it is long in bytes, so a
// line of at most `width` bytes without a tab fits in one row as it is.
std::size_t line_rows(std::string_view line, std::size_t width) {
  if (line.size() <= width && line.find('\t') == std::string_view::npos) return 1;
  return fold_line(line, width);
}

}  // namespace

std::size_t count_rows(std::string_view frame, std::size_t width) {
  if (width == 0) width = 1;
  std::size_t rows = 0;
  std::size_t pos = 0;
  while (pos < frame.size()) {
    std::size_t end = frame.find('\n', pos);
    if (end == std::string_view::npos) end = frame.size();
    rows += line_rows(frame.substr(pos, end - pos), width);
    pos = end + 1;
  }
  return rows;
}
