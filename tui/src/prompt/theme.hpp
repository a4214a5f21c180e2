// theme.hpp: the one place that turns a prompt's state and texts into frame
// characters and colours: symbols, state colours, frame header and footer,
// and the message lines (intro, note, outro).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "prompt/cursor.hpp"
#include "prompt/error.hpp"
#include "prompt/style.hpp"

/// The state a frame is drawn in; Error carries its message.
struct ThemeState {
  enum Kind { Active, Cancel, Submit, Error };
  Kind kind = Active;
  std::string message;  ///< Error only

  ThemeState(Kind k = Active) : kind(k) {}  // NOLINT: implicit on purpose
  static ThemeState error(std::string m) {
    ThemeState s(Error);
    s.message = std::move(m);
    return s;
  }
  bool operator==(const ThemeState&) const = default;
};

/// The symbol table; Emoji::str() picks the form.
namespace sym {
inline constexpr Emoji step_active{"◆", "*"};
inline constexpr Emoji step_cancel{"■", "x"};
inline constexpr Emoji step_submit{"◇", "o"};
inline constexpr Emoji step_error{"▲", "x"};
inline constexpr Emoji bar{"│", "|"};
inline constexpr Emoji bar_start{"┌", "T"};
inline constexpr Emoji bar_end{"└", "—"};
inline constexpr Emoji bar_h{"─", "-"};
inline constexpr Emoji corner_top_right{"╮", "+"};
inline constexpr Emoji corner_bottom_right{"╯", "+"};
inline constexpr Emoji connect_left{"├", "+"};
inline constexpr Emoji radio_active{"●", ">"};
inline constexpr Emoji radio_inactive{"○", " "};
inline constexpr Emoji password_mask{"▪", "•"};
inline constexpr Emoji spinner_chars{"◒◐◓◑", "•oO0"};
}  // namespace sym

namespace theme {

/// Lines of `text`: split at line feeds (a carriage return before a line
/// feed dropped when `drop_cr`), no empty line after a final line feed, none
/// at all for "".
std::vector<std::string_view> lines_of(std::string_view text, bool drop_cr = true);

/// The first character of the rendered password mask symbol.
char32_t password_mask();

std::string format_intro(std::string_view title);
std::string format_outro(std::string_view message);
std::string format_header(const ThemeState& state, std::string_view prompt);
std::string format_footer(const ThemeState& state);
std::string format_footer_with_message(const ThemeState& state, std::string_view message);
std::string format_input(const ThemeState& state, const StringCursor& cursor);
std::string format_placeholder(const ThemeState& state, const StringCursor& cursor);
std::string radio_item(const ThemeState& state, bool selected, std::string_view label, std::string_view hint);
std::string format_select_item(const ThemeState& state, bool selected, std::string_view label, std::string_view hint);
std::string format_confirm(const ThemeState& state, bool value);
std::string format_note(std::string_view title, std::string_view message);

/// Spinner pieces: continuation lines of a message behind the grey bar and
/// bar end; the final line of a finished spinner.
std::string format_progress_message(std::string_view text);
std::string format_progress_with_state(std::string_view message, const ThemeState& state);

/// The message lines, written to standard error.
Result<void> intro(std::string_view title);
Result<void> outro(std::string_view message);
Result<void> note(std::string_view title, std::string_view message);

}  // namespace theme
