#include "prompt/cursor.hpp"

#include <algorithm>
#include <vector>

#include "prompt/unicode.hpp"

namespace {

// Positions a word move may land on: 0, every start of a run of
// non-white-space characters, and the end.
std::vector<std::size_t> word_stops(const std::u32string& v) {
  std::vector<std::size_t> stops{0};
  for (std::size_t i = 0; i < v.size(); ++i) {
    bool starts = !unicode::is_white_space(v[i]) && (i == 0 || unicode::is_white_space(v[i - 1]));
    if (starts && i != 0) stops.push_back(i);
  }
  stops.push_back(v.size());
  return stops;
}

std::size_t largest_stop_below(const std::u32string& v, std::size_t k) {
  std::size_t best = 0;
  for (std::size_t s : word_stops(v))
    if (s < k) best = std::max(best, s);
  return best;
}

// Start of the line holding position k: just after the nearest line feed
// before k, or 0.
std::size_t line_start(const std::u32string& v, std::size_t k) {
  while (k > 0 && v[k - 1] != U'\n') --k;
  return k;
}

// Length of the line starting at `start`, its line feed not counted.
std::size_t line_length(const std::u32string& v, std::size_t start) {
  std::size_t end = start;
  while (end < v.size() && v[end] != U'\n') ++end;
  return end - start;
}

}  // namespace

StringCursor::StringCursor(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    auto d = unicode::decode(utf8.substr(i));
    value_.push_back(d.ch);
    i += d.length;
  }
}

void StringCursor::insert(char32_t c) {
  value_.insert(value_.begin() + static_cast<std::ptrdiff_t>(cursor_), c);
  ++cursor_;
}

void StringCursor::delete_left() {
  if (value_.empty() || cursor_ == 0) return;
  value_.erase(cursor_ - 1, 1);
  --cursor_;
}

void StringCursor::delete_right() {
  if (cursor_ < value_.size()) value_.erase(cursor_, 1);
}

void StringCursor::move_left() {
  if (cursor_ > 0) --cursor_;
}

void StringCursor::move_right() {
  if (cursor_ < value_.size()) ++cursor_;
}

void StringCursor::move_up() {
  std::size_t start = line_start(value_, cursor_);
  if (start == 0) {  // first line: to its start
    cursor_ = 0;
    return;
  }
  std::size_t column = cursor_ - start;
  std::size_t prev = line_start(value_, start - 1);
  cursor_ = prev + std::min(column, line_length(value_, prev));
}

void StringCursor::move_down() {
  std::size_t start = line_start(value_, cursor_);
  std::size_t column = cursor_ - start;
  std::size_t length = line_length(value_, start);
  if (start + length >= value_.size()) {  // last line: stay, clamped to it
    cursor_ = start + std::min(column, length);
    return;
  }
  std::size_t next = start + length + 1;
  cursor_ = next + std::min(column, line_length(value_, next));
}

void StringCursor::move_home() { cursor_ = line_start(value_, cursor_); }

void StringCursor::move_end() {
  // The last position of a line is its line feed, or the end of the text.
  std::size_t start = line_start(value_, cursor_);
  cursor_ = start + line_length(value_, start);
}

void StringCursor::move_left_by_word() { cursor_ = largest_stop_below(value_, cursor_); }

void StringCursor::move_right_by_word() {
  std::size_t best = value_.size();
  for (std::size_t s : word_stops(value_))
    if (s > cursor_) best = std::min(best, s);
  cursor_ = best;
}

void StringCursor::delete_word_to_the_left() {
  if (cursor_ == 0) return;
  std::size_t s = largest_stop_below(value_, cursor_);
  value_.erase(s, cursor_ - s);
  cursor_ = s;
}

void StringCursor::extend(std::string_view utf8) {
  StringCursor tail(utf8);
  value_ += tail.value_;
}

StringCursor::Split StringCursor::split() const {
  Split out;
  std::u32string_view v(value_);
  out.left = unicode::to_utf8(v.substr(0, cursor_));
  if (cursor_ >= v.size()) {
    out.at = " ";
  } else if (v[cursor_] == U'\n') {
    out.at = " ";
    out.right = unicode::to_utf8(v.substr(cursor_));
  } else {
    unicode::append_utf8(out.at, v[cursor_]);
    out.right = unicode::to_utf8(v.substr(cursor_ + 1));
  }
  return out;
}

std::string StringCursor::text() const { return unicode::to_utf8(value_); }

StringCursor StringCursor::masked(char32_t mask) const {
  StringCursor copy;
  copy.value_.assign(value_.size(), mask);
  copy.cursor_ = cursor_;
  return copy;
}
