// screen.hpp: what a person would see after the program's bytes have been
// drawn, rendered by libvterm, a terminal emulator written elsewhere, so the
// screens do not share the wizard's own reading of widths and wraps.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class Screen {
 public:
  Screen(std::size_t cols = 100, std::size_t rows = 40);
  ~Screen();
  Screen(Screen&&) noexcept;
  Screen& operator=(Screen&&) noexcept;

  /// Interprets `bytes` as a UTF-8 terminal would; a sequence split across
  /// calls is completed by the next one.
  void feed(std::string_view bytes);

  /// Row `r` without trailing spaces; the right half of a wide character
  /// adds nothing.
  std::string line(std::size_t r) const;
  /// Every row that has been used, trailing empty rows dropped, joined by "\n".
  std::string text() const;
  /// Whether any row contains `needle`.
  bool contains(std::string_view needle) const;
  bool cursor_visible() const;
  std::size_t cursor_row() const;
  std::size_t cursor_col() const;
  std::size_t cols() const;
  std::size_t rows() const;

 private:
  struct Terminal;
  std::unique_ptr<Terminal> term_;
};
