// screen.cpp: the test terminal. Cells hold the UTF-8 of one character; the
// right half of a wide character is an empty string, a blank cell is " ".
#include "e2e/screen.hpp"

#include <algorithm>
#include <utility>

#include "prompt/unicode.hpp"

namespace {

const std::string kBlank = " ";
const std::string kWideTail;

/// Whether `bytes` starts a UTF-8 sequence that more bytes could complete
/// (a byte that starts none is decoded as U+FFFD).
bool incomplete_utf8(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t want = lead < 0xC2 || lead >= 0xF5 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (want <= bytes.size()) return false;
  for (std::size_t i = 1; i < bytes.size(); ++i)
    if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) return false;
  return true;
}

/// Length of the escape sequence at the start of `bytes`, 0 while incomplete.
std::size_t sequence_length(std::string_view bytes) {
  if (bytes.size() < 2) return 0;
  const char kind = bytes[1];
  if (kind == '[') {
    for (std::size_t i = 2; i < bytes.size(); ++i) {
      const auto c = static_cast<unsigned char>(bytes[i]);
      if (c >= 0x40 && c <= 0x7E) return i + 1;
      if (c < 0x20 || c > 0x7E) return i;  // malformed: drop what came before
    }
    return 0;
  }
  if (kind == ']' || kind == 'P' || kind == '_' || kind == '^') {  // ended by BEL or ESC backslash
    for (std::size_t i = 2; i < bytes.size(); ++i) {
      if (bytes[i] == '\a') return i + 1;
      if (bytes[i] == '\x1b' && i + 1 < bytes.size()) return bytes[i + 1] == '\\' ? i + 2 : i;
    }
    return 0;
  }
  if (kind == '(' || kind == ')' || kind == '#') return bytes.size() >= 3 ? 3 : 0;
  return 2;
}

}  // namespace

Screen::Screen(std::size_t cols, std::size_t rows)
    : cols_(std::max<std::size_t>(cols, 1)),
      rows_(std::max<std::size_t>(rows, 1)),
      cells_(rows_, std::vector<std::string>(cols_, kBlank)) {}

std::string Screen::line(std::size_t r) const {
  std::string out;
  if (r < rows_)
    for (const auto& cell : cells_[r]) out += cell;
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string Screen::text() const {
  std::string out;
  for (std::size_t r = 0; r < rows_; ++r) out += (r ? "\n" : "") + line(r);
  out.erase(out.find_last_not_of('\n') + 1);
  return out;
}

bool Screen::contains(std::string_view needle) const {
  for (std::size_t r = 0; r < rows_; ++r)
    if (line(r).find(needle) != std::string::npos) return true;
  return false;
}

void Screen::feed(std::string_view bytes) {
  const std::string data = std::exchange(pending_, {}) + std::string(bytes);
  for (std::size_t i = 0; i < data.size();) {
    const std::string_view rest = std::string_view(data).substr(i);
    const auto c = static_cast<unsigned char>(rest[0]);
    if (c == 0x1b) {
      const std::size_t n = sequence_length(rest);
      if (n == 0) {
        pending_ = rest;
        return;
      }
      apply_escape(rest.substr(0, n));
      i += n;
    } else if (c < 0x20 || c == 0x7f) {
      control(static_cast<char>(c));
      ++i;
    } else if (incomplete_utf8(rest)) {
      pending_ = rest;
      return;
    } else {
      const auto d = unicode::decode(rest);
      print(d.ch, rest.substr(0, d.length));
      i += d.length;
    }
  }
}

void Screen::control(char c) {
  if (c == '\r') {
    col_ = 0;
  } else if (c == '\n' || c == '\v' || c == '\f') {
    line_feed();
  } else if (c == '\b') {
    col_ -= col_ > 0 ? 1 : 0;
  } else if (c == '\t') {
    col_ = std::min(cols_ - 1, (col_ / 8 + 1) * 8);
  } else {
    return;  // BEL and the rest draw nothing
  }
  pending_wrap_ = false;
}

void Screen::line_feed() {
  if (row_ + 1 < rows_) {
    ++row_;
    return;
  }
  cells_.erase(cells_.begin());
  cells_.emplace_back(cols_, kBlank);
}

void Screen::put_cell(std::size_t col, std::string text) {
  auto& r = cells_[row_];
  // Overwriting either half of a wide character blanks the other half.
  if (r[col].empty() && col > 0) r[col - 1] = kBlank;
  if (!r[col].empty() && col + 1 < cols_ && r[col + 1].empty()) r[col + 1] = kBlank;
  r[col] = std::move(text);
}

void Screen::print(char32_t ch, std::string_view utf8) {
  const int width = unicode::char_width(ch);
  if (width <= 0) {  // a combining mark joins the character before the cursor
    std::size_t at = pending_wrap_ ? col_ : (col_ > 0 ? col_ - 1 : 0);
    if (at > 0 && cells_[row_][at].empty()) --at;
    cells_[row_][at] += std::string(utf8);
    return;
  }
  const auto w = static_cast<std::size_t>(width);
  if (pending_wrap_ || (w == 2 && col_ + 2 > cols_ && cols_ >= 2)) {
    // A wide character that does not fit in the last column wraps first and
    // leaves that column blank.
    if (!pending_wrap_) put_cell(col_, kBlank);
    col_ = 0;
    line_feed();
    pending_wrap_ = false;
  }
  put_cell(col_, std::string(utf8));
  if (w == 2 && col_ + 1 < cols_) put_cell(col_ + 1, kWideTail);
  pending_wrap_ = col_ + w >= cols_;
  col_ = pending_wrap_ ? cols_ - 1 : col_ + w;
}

void Screen::erase(std::size_t row, std::size_t from, std::size_t to) {
  auto& r = cells_[row];
  to = std::min(to, cols_);
  if (from >= to) return;
  // Half of a wide character left at either edge goes too.
  if (r[from].empty() && from > 0) r[from - 1] = kBlank;
  if (to < cols_ && r[to].empty()) r[to] = kBlank;
  std::fill(r.begin() + static_cast<std::ptrdiff_t>(from), r.begin() + static_cast<std::ptrdiff_t>(to), kBlank);
}

void Screen::apply_escape(std::string_view seq) {
  if (seq.size() < 3 || seq[1] != '[') return;  // only CSI changes the screen
  const char final_byte = seq.back();
  std::string_view body = seq.substr(2, seq.size() - 3);
  const bool is_private = body.starts_with('?');
  if (is_private) body.remove_prefix(1);
  std::vector<std::size_t> params{0};
  for (char ch : body) {
    if (ch >= '0' && ch <= '9')
      params.back() = std::min<std::size_t>(params.back() * 10 + static_cast<std::size_t>(ch - '0'), 100000);
    else if (ch == ';')
      params.push_back(0);
    else
      return;  // intermediates, '>' or '=': nothing this screen knows
  }
  if (is_private) {
    if (params[0] == 25 && (final_byte == 'h' || final_byte == 'l')) cursor_visible_ = final_byte == 'h';
    return;
  }
  // Movement counts of 0 mean 1.
  const std::size_t n = std::max<std::size_t>(params[0], 1);
  const std::size_t m = std::max<std::size_t>(params.size() > 1 ? params[1] : 0, 1);
  switch (final_byte) {
    case 'A': row_ -= std::min(row_, n); break;
    case 'B': row_ = std::min(rows_ - 1, row_ + n); break;
    case 'C': col_ = std::min(cols_ - 1, col_ + n); break;
    case 'D': col_ -= std::min(col_, n); break;
    case 'G': col_ = std::min(cols_, n) - 1; break;
    case 'H':
      row_ = std::min(rows_, n) - 1;
      col_ = std::min(cols_, m) - 1;
      break;
    case 'J':
      if (params[0] == 0) {
        erase(row_, col_, cols_);
        for (std::size_t r = row_ + 1; r < rows_; ++r) erase(r, 0, cols_);
      } else if (params[0] == 1) {
        for (std::size_t r = 0; r < row_; ++r) erase(r, 0, cols_);
        erase(row_, 0, col_ + 1);
      } else if (params[0] == 2 || params[0] == 3) {
        for (std::size_t r = 0; r < rows_; ++r) erase(r, 0, cols_);
      }
      break;
    case 'K':
      if (params[0] == 0) erase(row_, col_, cols_);
      if (params[0] == 1) erase(row_, 0, col_ + 1);
      if (params[0] == 2) erase(row_, 0, cols_);
      break;
    default:
      return;  // SGR and everything else leave cursor and cells alone
  }
  pending_wrap_ = false;
}
