// keys.hpp: one key press, and the pure decoder that turns terminal bytes
// into keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "prompt/error.hpp"

struct Key {
  enum class Kind {
    Unknown,
    UnknownEscSeq,
    ArrowLeft,
    ArrowRight,
    ArrowUp,
    ArrowDown,
    Enter,
    Escape,
    Backspace,
    Home,
    End,
    Tab,
    BackTab,
    Alt,
    Del,
    Shift,
    Insert,
    PageUp,
    PageDown,
    Char,
    CtrlC,  ///< only between the decoder and the terminal, which raises SIGINT instead
  };
  Kind kind = Kind::Unknown;
  char32_t ch = 0;  ///< Char: the character
  std::string seq;  ///< UnknownEscSeq: the characters after ESC

  static Key of(Kind k) { return Key{k, 0, {}}; }
  static Key character(char32_t c) { return Key{Kind::Char, c, {}}; }
  static Key unknown_esc(std::string s) { return Key{Kind::UnknownEscSeq, 0, std::move(s)}; }
  bool operator==(const Key&) const = default;
};

/// Where the decoder's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// One byte. With `wait` false: the next byte of a sequence that has begun,
  /// only if it arrives within a short wait (a terminal: a named time; a
  /// script: within the chunk at hand), nullopt if it does not. With `wait`
  /// true: blocks until a byte is ready. End of input is an UnexpectedEof
  /// error "Reached end of file".
  virtual Result<std::optional<std::uint8_t>> next(bool wait) = 0;
  /// Up to `count` bytes in one read, blocking until at least one arrives
  /// (the rest of a multi-byte character). End of input as above.
  virtual Result<std::string> read_some(std::size_t count) = 0;
  /// Gives back the byte the last next() returned: the next call returns it
  /// again.
  virtual void unread_last() = 0;
};

/// Decodes one key. Byte 3 (also as the first continuation byte of a
/// multi-byte character) gives Key::Kind::CtrlC.
Result<Key> decode_key(ByteSource& in);
