// live_area.cpp: erasing a frame by the rows the terminal folded it into,
// and writing around it.
#include "prompt/live_area.hpp"

#include <unistd.h>

#include "prompt/sys.hpp"
#include "prompt/wrap.hpp"

LiveArea& LiveArea::standard_error() {
  static const Term term = Term::stderr_term();
  static LiveArea area(term);
  return area;
}

std::size_t LiveArea::columns() const {
  const auto size = term_.size();
  return size ? size->cols : kFallbackColumns;
}

// Measured at today's width: a terminal that was resized has folded the
// frame again.
std::string LiveArea::erase() const { return clear_lines_sequence(count_rows(frame_, columns())); }

Result<void> LiveArea::draw(std::string_view frame) {
  std::lock_guard lock(mu_);
  if (frame == frame_) return {};
  // Erase and frame leave in one write, so the terminal never shows the
  // half-drawn state.
  std::string out = erase();
  out += frame;
  frame_ = frame;
  return term_.write_str(out);
}

Result<void> LiveArea::print_above(std::string_view lines, Stream stream) {
  std::lock_guard lock(mu_);
  if (stream == Stream::Terminal) {
    if (frame_.empty()) return term_.write_str(lines);
    return term_.write_str(erase() + std::string(lines) + frame_);
  }
  if (!frame_.empty())
    if (auto r = term_.write_str(erase()); !r) return r;
  auto written = sys::write_all(STDOUT_FILENO, lines);
  if (!frame_.empty())
    if (auto r = term_.write_str(frame_); !r) return r;
  return written;
}

Result<void> LiveArea::clear() {
  std::lock_guard lock(mu_);
  if (frame_.empty()) return {};
  const std::string out = erase();
  frame_.clear();
  return term_.write_str(out);
}

void LiveArea::keep() {
  std::lock_guard lock(mu_);
  frame_.clear();
}
