// UTF-8 decoding, display width and the frame row measure. The first byte
// picks the terminal width; the rest is a frame. The rows count_rows gives
// are checked against the tests' model of a terminal placing the frame
// (pending wrap at the right edge, wide characters that do not fit moved
// down, tabs to the next multiple of 8).
#include <algorithm>
#include <vector>

#include "fuzz_support.hpp"
#include "prompt/unicode.hpp"
#include "prompt/wrap.hpp"
#include "../tests/support/wrap.hpp"

namespace {

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

  // The row measure against the model, whose rows each fit and together
  // hold the whole frame.
  const std::string wrapped = wrap(frame, width);
  const auto wrapped_rows = split_lines(wrapped);
  // The model and the kit may split escape sequences differently only when
  // one is unterminated; then the count is not compared.
  bool clean_escapes = true;
  for (std::size_t i = 0; i < frame.size(); ++i)
    if (frame[i] == 0x1b) {
      const std::string_view rest = frame.substr(i);
      const std::size_t n = terminal_escape_length(rest);
      clean_escapes = clean_escapes && unicode::escape_length(rest) == n &&
                      rest.substr(0, n).find('\n') == std::string_view::npos;
    }
  const std::size_t rows = count_rows(frame, width);
  if (clean_escapes)
    FUZZ_CHECK(rows == wrapped_rows.size(), "count_rows %zu, terminal %zu at %zu", rows, wrapped_rows.size(), w);
  if (clean_escapes)
    for (auto row : wrapped_rows) FUZZ_CHECK(count_rows(row, width) <= 1);
  std::string unfolded = wrapped;
  std::erase(unfolded, '\n');
  std::string flat(frame);
  std::erase(flat, '\n');
  FUZZ_CHECK(unfolded == flat);
  return 0;
}
