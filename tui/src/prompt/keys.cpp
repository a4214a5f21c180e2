// keys.cpp: turns the bytes of one key press into a Key. Nothing here touches
// a terminal; the bytes come from a ByteSource, which says whether a byte is
// ready now, so the same code runs on a real terminal and on a test script.
#include "prompt/keys.hpp"

#include "prompt/unicode.hpp"

namespace {

constexpr std::uint8_t kCtrlC = 3;
constexpr std::uint8_t kEsc = 0x1b;

// Bytes that follow a UTF-8 lead byte, or 0 when `b` does not lead a sequence.
std::size_t continuation_count(std::uint8_t b) {
  if ((b & 0xE0u) == 0xC0u) return 1;
  if ((b & 0xF0u) == 0xE0u) return 2;
  if ((b & 0xF8u) == 0xF0u) return 3;
  return 0;
}

// The key of a cursor key's final byte, the same after ESC [ and after ESC O.
std::optional<Key::Kind> cursor_key(char final) {
  switch (final) {
    case 'A': return Key::Kind::ArrowUp;
    case 'B': return Key::Kind::ArrowDown;
    case 'C': return Key::Kind::ArrowRight;
    case 'D': return Key::Kind::ArrowLeft;
    case 'H': return Key::Kind::Home;
    case 'F': return Key::Kind::End;
    default: return std::nullopt;
  }
}

// ESC O and a cursor key's final byte: what a terminal left in
// application-cursor mode by an earlier program sends for the arrows, Home
// and End. Any other byte after ESC O is left for the next key, as after
// any ESC c.
Result<Key> decode_ss3(ByteSource& in) {
  auto c = in.next(false);
  if (!c) return fail(c.error());
  if (*c) {
    if (const auto kind = cursor_key(static_cast<char>(**c))) return Key::of(*kind);
    in.unread_last();
  }
  return Key::unknown_esc("O");
}

// The rest of an escape sequence. Every byte after ESC is taken only if it
// comes within the source's short wait: a person pressing Esc sends ESC alone,
// and a sequence split by a longer pause decodes as a shorter key.
Result<Key> decode_escape(ByteSource& in) {
  auto c1 = in.next(false);
  if (!c1) return fail(c1.error());
  if (!*c1) return Key::of(Key::Kind::Escape);
  if (**c1 == kCtrlC) return Key::of(Key::Kind::CtrlC);
  const char first = static_cast<char>(**c1);
  if (first == 'O') return decode_ss3(in);
  if (first != '[') return Key::unknown_esc(std::string(1, first));

  auto c2 = in.next(false);
  if (!c2) return fail(c2.error());
  if (!*c2) return Key::unknown_esc("[");
  if (**c2 == kCtrlC) return Key::of(Key::Kind::CtrlC);
  const char second = static_cast<char>(**c2);
  if (const auto kind = cursor_key(second)) return Key::of(*kind);
  if (second == 'Z') return Key::of(Key::Kind::BackTab);

  auto c3 = in.next(false);
  if (!c3) return fail(c3.error());
  if (!*c3) return Key::unknown_esc(std::string{'[', second});
  if (**c3 == kCtrlC) return Key::of(Key::Kind::CtrlC);
  const char third = static_cast<char>(**c3);
  if (third == '~') {
    switch (second) {
      case '1':
      case '7': return Key::of(Key::Kind::Home);
      case '2': return Key::of(Key::Kind::Insert);
      case '3': return Key::of(Key::Kind::Del);
      case '4':
      case '8': return Key::of(Key::Kind::End);
      case '5': return Key::of(Key::Kind::PageUp);
      case '6': return Key::of(Key::Kind::PageDown);
      default: break;
    }
  }
  return Key::unknown_esc(std::string{'[', second, third});
}

// A character of 2 to 4 bytes. The remaining bytes are fetched in one read:
// they are sent together, and a short or malformed tail is an Unknown key.
Result<Key> decode_multibyte(ByteSource& in, std::uint8_t lead, std::size_t remaining) {
  auto tail = in.read_some(remaining);
  if (!tail) return fail(tail.error());
  if (!tail->empty() && static_cast<std::uint8_t>((*tail)[0]) == kCtrlC) return Key::of(Key::Kind::CtrlC);
  if (tail->size() != remaining) return Key::of(Key::Kind::Unknown);
  const std::string bytes = static_cast<char>(lead) + *tail;
  if (!unicode::is_valid_utf8(bytes)) return Key::of(Key::Kind::Unknown);
  return Key::character(unicode::decode(bytes).ch);
}

}  // namespace

Result<Key> decode_key(ByteSource& in) {
  auto first = in.next(true);
  if (!first) return fail(first.error());
  if (!*first) return Key::of(Key::Kind::Unknown);  // a source that ignores `wait`
  const std::uint8_t b = **first;
  switch (b) {
    case kCtrlC: return Key::of(Key::Kind::CtrlC);
    case kEsc: return decode_escape(in);
    case 1: return Key::of(Key::Kind::Home);
    case 5: return Key::of(Key::Kind::End);
    case 8:
    case 127: return Key::of(Key::Kind::Backspace);
    case 9: return Key::of(Key::Kind::Tab);
    case 10:
    case 13: return Key::of(Key::Kind::Enter);
    default: break;
  }
  if (const std::size_t remaining = continuation_count(b)) return decode_multibyte(in, b, remaining);
  return Key::character(b);
}
