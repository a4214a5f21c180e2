// screen.cpp: a thin adapter over libvterm's screen layer.
#include "e2e/screen.hpp"

#include <vterm.h>

#include <algorithm>

struct Screen::Terminal {
  Terminal(int cols, int rows) : vt(vterm_new(rows, cols)) {
    vterm_set_utf8(vt, 1);
    screen = vterm_obtain_screen(vt);
    callbacks.settermprop = [](VTermProp prop, VTermValue* val, void* self) {
      if (prop == VTERM_PROP_CURSORVISIBLE) static_cast<Terminal*>(self)->cursor_visible = val->boolean != 0;
      return 1;
    };
    vterm_screen_set_callbacks(screen, &callbacks, this);
    vterm_screen_reset(screen, 1);
  }
  ~Terminal() { vterm_free(vt); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  VTermPos cursor() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &pos);
    return pos;
  }

  VTerm* vt;
  VTermScreen* screen;
  VTermScreenCallbacks callbacks{};
  bool cursor_visible = true;
};

namespace {

int clamp_size(std::size_t n) { return static_cast<int>(std::clamp<std::size_t>(n, 1, 10000)); }

void append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

Screen::Screen(std::size_t cols, std::size_t rows)
    : term_(std::make_unique<Terminal>(clamp_size(cols), clamp_size(rows))) {}
Screen::~Screen() = default;
Screen::Screen(Screen&&) noexcept = default;
Screen& Screen::operator=(Screen&&) noexcept = default;

void Screen::feed(std::string_view bytes) { vterm_input_write(term_->vt, bytes.data(), bytes.size()); }

std::string Screen::line(std::size_t r) const {
  std::string out;
  VTermScreenCell cell;
  for (int c = 0; r < rows() && c < static_cast<int>(cols()); ++c) {
    if (!vterm_screen_get_cell(term_->screen, VTermPos{static_cast<int>(r), c}, &cell)) continue;
    if (cell.chars[0] == static_cast<std::uint32_t>(-1)) continue;  // right half of a wide character
    if (cell.chars[0] == 0) out += ' ';
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) append_utf8(out, cell.chars[i]);
  }
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string Screen::text() const {
  std::string out;
  for (std::size_t r = 0; r < rows(); ++r) out += (r ? "\n" : "") + line(r);
  out.erase(out.find_last_not_of('\n') + 1);
  return out;
}

bool Screen::contains(std::string_view needle) const {
  for (std::size_t r = 0; r < rows(); ++r)
    if (line(r).find(needle) != std::string::npos) return true;
  return false;
}

bool Screen::cursor_visible() const { return term_->cursor_visible; }
std::size_t Screen::cursor_row() const { return static_cast<std::size_t>(term_->cursor().row); }
std::size_t Screen::cursor_col() const { return static_cast<std::size_t>(term_->cursor().col); }

std::size_t Screen::cols() const {
  int rows = 0, cols = 0;
  vterm_get_size(term_->vt, &rows, &cols);
  return static_cast<std::size_t>(cols);
}

std::size_t Screen::rows() const {
  int rows = 0, cols = 0;
  vterm_get_size(term_->vt, &rows, &cols);
  return static_cast<std::size_t>(rows);
}
