// readable.hpp: terminal bytes spelled out for test and fuzz failure messages.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

/// ESC as "<esc>", other control bytes as "<0xNN>", everything else as is.
inline std::string readable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == 0x1b) {
      out += "<esc>";
    } else if (b < 0x20 || b == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<0x%02x>", static_cast<unsigned>(b));
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}
