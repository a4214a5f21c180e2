// unicode.cpp: UTF-8 decoding and encoding, and the character properties
// looked up in the generated tables of unicode_tables.cpp.
#include "prompt/unicode.hpp"

#include <cstdint>

namespace unicode {

namespace detail {
// Defined in the generated unicode_tables.cpp.
bool white_space(char32_t c);
int table_width(char32_t c);
std::size_t lower_full(char32_t c, char32_t out[3]);
}  // namespace detail

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kEsc = '\x1b';

/// The range the second byte of a sequence must lie in; it depends on the
/// lead byte so that overlong forms, surrogates and values above U+10FFFF
/// fail at the second byte, as maximal-subpart replacement requires.
struct LeadInfo {
  std::size_t length;  // 0 when the byte cannot start a sequence
  std::uint8_t second_lo, second_hi;
};

LeadInfo lead_info(std::uint8_t b) {
  if (b < 0x80) return {1, 0, 0};
  if (b < 0xC2) return {0, 0, 0};  // continuation byte or overlong 2-byte lead
  if (b < 0xE0) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};  // U+D800..U+DFFF are excluded
  if (b < 0xF0) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b < 0xF4) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0, 0, 0};
}

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

/// Whether decode() failed: U+FFFD came from bytes other than its own encoding.
bool is_invalid(const Decoded& d, std::string_view at) {
  return d.ch == kReplacement && at.substr(0, 3) != "\xEF\xBF\xBD";
}

}  // namespace

Decoded decode(std::string_view bytes) {
  if (bytes.empty()) return {kReplacement, 0};
  const auto b0 = static_cast<std::uint8_t>(bytes[0]);
  const LeadInfo info = lead_info(b0);
  if (info.length == 0) return {kReplacement, 1};
  if (info.length == 1) return {b0, 1};

  char32_t c = b0 & (0xFF >> (info.length + 1));
  for (std::size_t i = 1; i < info.length; ++i) {
    if (i >= bytes.size()) return {kReplacement, i};
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    const std::uint8_t lo = i == 1 ? info.second_lo : 0x80;
    const std::uint8_t hi = i == 1 ? info.second_hi : 0xBF;
    if (b < lo || b > hi) return {kReplacement, i};
    c = (c << 6) | (b & 0x3F);
  }
  return {c, info.length};
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const Decoded d = decode(bytes.substr(i));
    if (is_invalid(d, bytes.substr(i))) return false;
    i += d.length;
  }
  return true;
}

std::string lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Decoded d = decode(bytes.substr(i));
    if (is_invalid(d, bytes.substr(i)))
      append_utf8(out, kReplacement);
    else
      out.append(bytes.substr(i, d.length));
    i += d.length;
  }
  return out;
}

void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
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

std::string to_utf8(std::u32string_view chars) {
  std::string out;
  out.reserve(chars.size());
  for (char32_t c : chars) append_utf8(out, c);
  return out;
}

std::optional<std::u32string> to_u32(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Decoded d = decode(bytes.substr(i));
    if (is_invalid(d, bytes.substr(i))) return std::nullopt;
    out += d.ch;
    i += d.length;
  }
  return out;
}

bool is_white_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');  // most text is ASCII
  return detail::white_space(c);
}


int char_width(char32_t c) {
  if (is_control(c)) return 0;
  return detail::table_width(c);
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decode(text.substr(i));
    if (d.ch < 0x80) {
      const char ch = text[i];
      out += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
    } else {
      char32_t mapped[3];
      const std::size_t n = detail::lower_full(d.ch, mapped);
      for (std::size_t k = 0; k < n; ++k) append_utf8(out, mapped[k]);
    }
    i += d.length;
  }
  return out;
}

std::size_t escape_length(std::string_view text) {
  if (text.empty() || text[0] != kEsc) return 0;
  if (text.size() == 1) return 1;
  if (text[1] == '[') {
    // CSI: parameters and intermediates up to the final byte 0x40..0x7E.
    for (std::size_t i = 2; i < text.size(); ++i) {
      const auto b = static_cast<std::uint8_t>(text[i]);
      if (b >= 0x40 && b <= 0x7E) return i + 1;
    }
    return text.size();
  }
  if (text[1] == ']') {
    // OSC: ends at BEL or at the string terminator ESC '\'.
    for (std::size_t i = 2; i < text.size(); ++i) {
      if (text[i] == '\a') return i + 1;
      if (text[i] == kEsc && i + 1 < text.size() && text[i + 1] == '\\') return i + 2;
    }
    return text.size();
  }
  // ESC and one more character, which may take several bytes.
  return 1 + decode(text.substr(1)).length;
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == kEsc) {
      i += escape_length(text.substr(i));
      continue;
    }
    const Decoded d = decode(text.substr(i));
    width += static_cast<std::size_t>(char_width(d.ch));
    i += d.length;
  }
  return width;
}

std::string_view trim_start(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Decoded d = decode(text.substr(i));
    if (!is_white_space(d.ch)) break;
    i += d.length;
  }
  return text.substr(i);
}

std::string_view trim(std::string_view text) {
  text = trim_start(text);
  // Walk forward, remembering where the last non-white-space character ended,
  // so that the cut always falls on a character boundary.
  std::size_t end = 0;
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decode(text.substr(i));
    i += d.length;
    if (!is_white_space(d.ch)) end = i;
  }
  return text.substr(0, end);
}

}  // namespace unicode
