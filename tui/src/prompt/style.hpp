// style.hpp: text styles, the colour and symbol decisions made once per
// process, and the two-form symbols of the theme.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// The environment variables that decide colours and symbols, as read at one
/// moment. A variable that is unset or not valid UTF-8 is nullopt.
struct EnvSnapshot {
  std::optional<std::string> no_color, term, clicolor, clicolor_force, lang;
  static EnvSnapshot from_environment();
};

/// The environment variable as text, or nothing when unset or not UTF-8.
std::optional<std::string> env_text(const char* name);

/// Colours on or off for a stream, from the environment and whether that
/// stream is a terminal.
bool colours_enabled(const EnvSnapshot& env, bool stream_is_tty);
/// True when LANG, upper-cased, ends with "UTF-8".
bool unicode_symbols_enabled(const EnvSnapshot& env);

/// The process-wide decisions, computed once on first use: colours follow
/// standard output (even though the kit draws on standard error), the
/// spinner's own colours follow standard error.
bool colours_on();
bool colours_on_stderr();
bool unicode_symbols_on();

/// Tests only: while alive, colours_on(), colours_on_stderr() and
/// unicode_symbols_on() answer these values instead of the decisions.
/// Overrides nest: destroying one brings back what it replaced.
class DecisionOverride {
 public:
  DecisionOverride(bool colours, bool unicode);
  ~DecisionOverride();
  DecisionOverride(const DecisionOverride&) = delete;
  DecisionOverride& operator=(const DecisionOverride&) = delete;

 private:
  int previous_;
};

enum class Colour : std::uint8_t { Black, Red, Green, Yellow, Blue, Magenta, Cyan, White };

enum class Attr : std::uint8_t { Bold = 1, Dim, Italic, Underlined, Blink, BlinkFast, Reverse, Hidden, StrikeThrough };

/// A value-type style. Rendering writes the foreground, then one ESC[am per
/// attribute in ascending order, the text, and a reset.
class Style {
 public:
  Style& fg(Colour c) {
    fg_ = static_cast<std::uint8_t>(c);
    return *this;
  }
  Style& bright() {
    bright_ = true;
    return *this;
  }
  Style& attr(Attr a) {
    attrs_ |= static_cast<std::uint16_t>(1u << static_cast<unsigned>(a));
    return *this;
  }

  Style& red() { return fg(Colour::Red); }
  Style& green() { return fg(Colour::Green); }
  Style& yellow() { return fg(Colour::Yellow); }
  Style& cyan() { return fg(Colour::Cyan); }
  Style& magenta() { return fg(Colour::Magenta); }
  Style& bold() { return attr(Attr::Bold); }
  Style& dim() { return attr(Attr::Dim); }
  Style& reverse() { return attr(Attr::Reverse); }
  Style& hidden() { return attr(Attr::Hidden); }
  Style& strikethrough() { return attr(Attr::StrikeThrough); }

  /// `text` wrapped in this style's sequences, or bare when colours are off.
  std::string apply(std::string_view text) const;
  /// The same with the colour decision given explicitly.
  std::string apply(std::string_view text, bool colours) const;
  /// The style as one sequence, attributes first, then the colour (bold
  /// yellow: ESC[1;33m), for text coloured whatever the colour decision; the
  /// caller closes it with kStyleReset.
  std::string sequence() const;

  bool operator==(const Style&) const = default;

 private:
  /// The colour's parameter ("31", "38;5;8"), or "" without a colour.
  std::string colour_code() const;

  std::optional<std::uint8_t> fg_;
  bool bright_ = false;
  std::uint16_t attrs_ = 0;
};

/// The sequence that ends every styled text.
inline constexpr std::string_view kStyleReset = "\x1b[0m";

/// Bright black, the theme's grey.
inline Style bright_black() { return Style().fg(Colour::Black).bright(); }

/// A symbol with a unicode and an ASCII form.
struct Emoji {
  std::string_view unicode;
  std::string_view ascii;
  /// The form chosen by the process-wide symbol decision.
  std::string_view str() const { return unicode_symbols_on() ? unicode : ascii; }
};
