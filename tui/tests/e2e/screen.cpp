// screen.cpp: the test terminal. Cells hold the UTF-8 of one character; the
// right half of a wide character is an empty string, a blank cell is " ".
#include "e2e/screen.hpp"

#include <algorithm>

#include "prompt/unicode.hpp"

namespace {

const std::string kBlank = " ";
const std::string kWideTail;  // right half of a wide character

/// Bytes a UTF-8 sequence starting with `lead` should have (1 for bytes that
/// cannot start one: the decoder turns those into U+FFFD).
std::size_t utf8_length(unsigned char lead) {
  if (lead < 0xC2) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 1;
}

/// Whether `bytes` is the start of a UTF-8 sequence that more bytes could
/// complete.
bool incomplete_utf8(std::string_view bytes) {
  const std::size_t want = utf8_length(static_cast<unsigned char>(bytes[0]));
  if (want <= bytes.size()) return false;
  for (std::size_t i = 1; i < bytes.size(); ++i)
    if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) return false;
  return true;
}

/// Length of the control sequence at the start of `bytes` (an ESC), or 0
/// when it is not complete yet.
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
  if (kind == ']' || kind == 'P' || kind == '_' || kind == '^') {
    // String sequences end with BEL or ESC backslash.
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

void Screen::resize(std::size_t cols, std::size_t rows) {
  cols_ = std::max<std::size_t>(cols, 1);
  rows_ = std::max<std::size_t>(rows, 1);
  // Rows that no longer fit scroll off the top, like a terminal that keeps
  // the cursor row on screen.
  while (row_ >= rows_) {
    cells_.erase(cells_.begin());
    --row_;
    ++scrolled_;
  }
  cells_.resize(rows_);
  for (auto& r : cells_) {
    r.resize(cols_, kBlank);
    if (!r.back().empty()) continue;
    r.back() = kBlank;  // a wide character cut in half
    if (cols_ >= 2) r[cols_ - 2] = kBlank;
  }
  col_ = std::min(col_, cols_ - 1);
  pending_wrap_ = false;
}

std::string Screen::line(std::size_t r) const {
  if (r >= rows_) return "";
  std::string out;
  for (const auto& cell : cells_[r]) out += cell;
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string Screen::text() const {
  std::size_t last = rows_;
  while (last > 0 && line(last - 1).empty()) --last;
  std::string out;
  for (std::size_t r = 0; r < last; ++r) {
    if (r) out += '\n';
    out += line(r);
  }
  return out;
}

bool Screen::contains(std::string_view needle) const {
  for (std::size_t r = 0; r < rows_; ++r)
    if (line(r).find(needle) != std::string::npos) return true;
  return false;
}

void Screen::feed(std::string_view bytes) {
  std::string data = std::move(pending_);
  pending_.clear();
  data.append(bytes);
  std::size_t i = 0;
  while (i < data.size()) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == 0x1b) {
      const std::size_t n = sequence_length(std::string_view(data).substr(i));
      if (n == 0) {
        pending_ = data.substr(i);
        return;
      }
      apply_escape(std::string_view(data).substr(i, n));
      i += n;
    } else if (c < 0x20 || c == 0x7f) {
      control(static_cast<char>(c));
      ++i;
    } else {
      const std::string_view rest = std::string_view(data).substr(i);
      if (incomplete_utf8(rest)) {
        pending_ = std::string(rest);
        return;
      }
      const auto d = unicode::decode(rest);
      print(d.ch, rest.substr(0, d.length));
      i += d.length;
    }
  }
}

void Screen::control(char c) {
  switch (c) {
    case '\r':
      col_ = 0;
      pending_wrap_ = false;
      break;
    case '\n':
    case '\v':
    case '\f':
      line_feed();
      pending_wrap_ = false;
      break;
    case '\b':
      if (col_ > 0) --col_;
      pending_wrap_ = false;
      break;
    case '\t':
      col_ = std::min(cols_ - 1, (col_ / 8 + 1) * 8);
      pending_wrap_ = false;
      break;
    default:
      break;  // BEL and the rest draw nothing
  }
}

void Screen::line_feed() {
  if (row_ + 1 < rows_) {
    ++row_;
    return;
  }
  cells_.erase(cells_.begin());
  cells_.emplace_back(cols_, kBlank);
  ++scrolled_;
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
  if (width <= 0) {
    // A combining mark joins the character before the cursor.
    std::size_t at = pending_wrap_ ? col_ : (col_ > 0 ? col_ - 1 : 0);
    if (at > 0 && cells_[row_][at].empty()) --at;
    cells_[row_][at] += std::string(utf8);
    return;
  }
  const auto w = static_cast<std::size_t>(width);
  if (pending_wrap_ || (w == 2 && col_ + 2 > cols_ && cols_ >= 2)) {
    // A wide character that does not fit in the last column wraps first and
    // leaves that column blank.
    if (!pending_wrap_ && col_ < cols_) put_cell(col_, kBlank);
    col_ = 0;
    line_feed();
    pending_wrap_ = false;
  }
  put_cell(col_, std::string(utf8));
  if (w == 2 && col_ + 1 < cols_) put_cell(col_ + 1, kWideTail);
  if (col_ + w >= cols_) {
    col_ = cols_ - 1;
    pending_wrap_ = true;
  } else {
    col_ += w;
  }
}

void Screen::erase(std::size_t row, std::size_t from, std::size_t to) {
  auto& r = cells_[row];
  to = std::min(to, cols_);
  if (from >= to) return;
  // Half of a wide character left at either edge goes too.
  if (r[from].empty() && from > 0) r[from - 1] = kBlank;
  if (to < cols_ && r[to].empty()) r[to] = kBlank;
  for (std::size_t c = from; c < to; ++c) r[c] = kBlank;
}

void Screen::apply_escape(std::string_view seq) {
  if (seq.size() < 3 || seq[1] != '[') return;  // only CSI changes the screen
  const char final_byte = seq.back();
  std::string_view body = seq.substr(2, seq.size() - 3);
  bool is_private = false;
  if (!body.empty() && (body[0] == '?' || body[0] == '>' || body[0] == '=')) {
    is_private = body[0] == '?';
    if (!is_private) return;
    body.remove_prefix(1);
  }
  std::vector<std::size_t> params;
  std::size_t value = 0;
  bool have = false;
  for (char ch : body) {
    if (ch >= '0' && ch <= '9') {
      value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(ch - '0'), 100000);
      have = true;
    } else if (ch == ';') {
      params.push_back(have ? value : 0);
      value = 0;
      have = false;
    } else {
      return;  // intermediates: nothing this screen knows
    }
  }
  params.push_back(have ? value : 0);
  // Movement counts of 0 mean 1.
  auto count = [&](std::size_t i) {
    const std::size_t v = i < params.size() ? params[i] : 0;
    return v == 0 ? std::size_t{1} : v;
  };

  if (is_private) {
    if (params[0] == 25 && final_byte == 'h') cursor_visible_ = true;
    if (params[0] == 25 && final_byte == 'l') cursor_visible_ = false;
    return;
  }
  switch (final_byte) {
    case 'A':
      row_ -= std::min(row_, count(0));
      break;
    case 'B':
      row_ = std::min(rows_ - 1, row_ + count(0));
      break;
    case 'C':
      col_ = std::min(cols_ - 1, col_ + count(0));
      break;
    case 'D':
      col_ -= std::min(col_, count(0));
      break;
    case 'E':
      row_ = std::min(rows_ - 1, row_ + count(0));
      col_ = 0;
      break;
    case 'F':
      row_ -= std::min(row_, count(0));
      col_ = 0;
      break;
    case 'G':
      col_ = std::min(cols_, count(0)) - 1;
      break;
    case 'H':
    case 'f':
      row_ = std::min(rows_, count(0)) - 1;
      col_ = std::min(cols_, count(1)) - 1;
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
