// UTF-8 decoding, display width and the frame row measure. The first byte
// picks the terminal width; the rest is a frame. The rows count_rows gives
// and the rows wrap cuts are checked against a small model of a terminal
// placing the frame (pending wrap at the right edge, wide characters that
// do not fit moved down, tabs to the next multiple of 8).
#include <algorithm>
#include <vector>

#include "fuzz_support.hpp"
#include "prompt/unicode.hpp"
#include "prompt/wrap.hpp"

namespace {

// Length of the escape sequence at s[0] == ESC as a terminal parses it:
// CSI up to its final byte, OSC up to BEL or ESC \, else ESC and one byte.
// Unterminated: the rest of the text.
std::size_t model_escape(std::string_view s) {
  if (s.size() < 2) return s.size();
  if (s[1] == '[') {
    for (std::size_t i = 2; i < s.size(); ++i)
      if (static_cast<unsigned char>(s[i]) >= 0x40 && static_cast<unsigned char>(s[i]) <= 0x7e) return i + 1;
    return s.size();
  }
  if (s[1] == ']') {
    for (std::size_t i = 2; i < s.size(); ++i) {
      if (s[i] == '\x07') return i + 1;
      if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '\\') return i + 2;
    }
    return s.size();
  }
  return 2;
}

// Rows a terminal of `width` columns uses for one line (no line feed).
std::size_t model_rows(std::string_view line, std::size_t width) {
  std::size_t rows = 1, col = 0;
  bool pending = false;
  for (std::size_t i = 0; i < line.size();) {
    const auto b = static_cast<unsigned char>(line[i]);
    if (b == 0x1b) {
      i += model_escape(line.substr(i));
      continue;
    }
    if (b == '\t') {
      col = std::min(width - 1, (col / 8 + 1) * 8);
      pending = false;
      ++i;
      continue;
    }
    char32_t ch = U'\uFFFD';
    std::size_t len = 1;
    if (b < 0x80) {
      ch = b;
    } else {
      // Decoded by the longest valid prefix, one replacement per bad byte run.
      auto d = unicode::decode(line.substr(i));
      ch = d.ch;
      len = d.length;
    }
    i += len;
    const int w = b < 0x80 ? (b >= 0x20 && b != 0x7f ? 1 : 0) : unicode::char_width(ch);
    if (w <= 0) continue;
    const auto uw = static_cast<std::size_t>(w);
    if (pending || (uw == 2 && col + 2 > width && width >= 2)) {
      ++rows;
      col = 0;
      pending = false;
    }
    if (col + uw >= width) {
      pending = true;
      col = width - 1;
    } else {
      col += uw;
    }
  }
  return rows;
}

std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < s.size()) {
    std::size_t end = s.find('\n', pos);
    if (end == std::string_view::npos) end = s.size();
    out.push_back(s.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t width = data[0] % 40;  // 0 counts as 1
  const std::string_view frame(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t w = std::max<std::size_t>(width, 1);

  // Decoding: every step moves on, the valid text round-trips.
  std::u32string chars;
  bool valid = true;
  for (std::size_t i = 0; i < frame.size();) {
    const auto d = unicode::decode(frame.substr(i));
    FUZZ_CHECK(d.length >= 1 && d.length <= 4 && d.length <= frame.size() - i);
    if (d.ch == U'\uFFFD' && frame.substr(i, 3) != "\xef\xbf\xbd") valid = false;
    chars += d.ch;
    i += d.length;
  }
  FUZZ_CHECK(unicode::is_valid_utf8(frame) == valid);
  const auto u32 = unicode::to_u32(frame);
  FUZZ_CHECK(u32.has_value() == valid);
  if (valid) FUZZ_CHECK(*u32 == chars && unicode::to_utf8(chars) == frame);
  const std::string lossy = unicode::lossy(frame);
  FUZZ_CHECK(unicode::is_valid_utf8(lossy));
  if (valid) FUZZ_CHECK(lossy == frame);

  // Escape sequences: never longer than the text, never empty.
  (void)unicode::display_width(frame);
  for (std::size_t i = 0; i < frame.size();) {
    if (frame[i] == 0x1b) {
      const std::size_t n = unicode::escape_length(frame.substr(i));
      FUZZ_CHECK(n >= 1 && n <= frame.size() - i);
      i += n;
    } else {
      ++i;
    }
  }

  // The row measure against the model, and wrap agreeing with both.
  std::size_t want = 0;
  for (auto line : split_lines(frame)) want += model_rows(line, w);
  // The model and the kit may split escape sequences differently only when
  // one is unterminated; then the count is not compared.
  bool clean_escapes = true;
  for (std::size_t i = 0; i < frame.size(); ++i)
    if (frame[i] == 0x1b) {
      const std::string_view rest = frame.substr(i);
      clean_escapes = clean_escapes && unicode::escape_length(rest) == model_escape(rest) &&
                      rest.substr(0, model_escape(rest)).find('\n') == std::string_view::npos;
    }
  const std::size_t rows = count_rows(frame, width);
  if (clean_escapes) FUZZ_CHECK(rows == want, "count_rows %zu, terminal %zu at %zu", rows, want, w);
  const std::string wrapped = wrap(frame, width);
  std::string joined;
  const auto wrapped_rows = split_lines(wrapped);
  FUZZ_CHECK(wrapped_rows.size() == rows, "wrap %zu rows, count %zu", wrapped_rows.size(), rows);
  for (auto row : wrapped_rows) FUZZ_CHECK(count_rows(row, width) <= 1);
  std::string unfolded = wrapped;
  std::erase(unfolded, '\n');
  std::string flat(frame);
  std::erase(flat, '\n');
  FUZZ_CHECK(unfolded == flat);
  return 0;
}
