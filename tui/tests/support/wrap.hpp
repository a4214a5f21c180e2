// wrap.hpp: the oracle for the kit's row measure: a frame cut into the rows
// a terminal shows it in, worked out the way a terminal places characters
// (the cursor waiting at the right edge until the next character comes)
// rather than the way the kit counts them. Header only, for the fuzz targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "prompt/unicode.hpp"

/// Length of the escape sequence at s[0] == ESC as a terminal parses it: CSI
/// up to its final byte, OSC up to BEL or ESC \, else ESC and one byte. An
/// unterminated one takes the rest of the text.
inline std::size_t terminal_escape_length(std::string_view s) {
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

/// The rows of `frame` on a terminal `width` columns wide (0 counts as 1),
/// joined by "\n"; each line feed of the frame stays one.
inline std::string wrap(std::string_view frame, std::size_t width) {
  width = std::max<std::size_t>(width, 1);
  std::string out;
  std::size_t col = 0;
  bool pending = false;  // the last column is filled: the next character wraps
  for (std::size_t i = 0; i < frame.size();) {
    const auto b = static_cast<unsigned char>(frame[i]);
    std::size_t len = 1;
    int w = 0;
    if (b == '\n') {
      col = 0;
      pending = false;
    } else if (b == 0x1b) {
      len = terminal_escape_length(frame.substr(i));
    } else if (b == '\t') {
      col = std::min(width - 1, (col / 8 + 1) * 8);
      pending = false;
    } else if (b < 0x80) {
      w = b >= 0x20 && b != 0x7f ? 1 : 0;
    } else {
      const auto d = unicode::decode(frame.substr(i));
      w = unicode::char_width(d.ch);
      len = d.length;
    }
    const auto uw = static_cast<std::size_t>(std::max(w, 0));
    if (uw > 0 && (pending || (uw == 2 && col + 2 > width && width >= 2))) {
      out += '\n';
      col = 0;
      pending = false;
    }
    out.append(frame.substr(i, len));
    if (uw > 0 && col + uw >= width) {
      pending = true;
      col = width - 1;
    } else {
      col += uw;
    }
    i += len;
  }
  return out;
}
