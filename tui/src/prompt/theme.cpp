// The theme is a fixed set of functions: nothing replaces it at run time, so
// it needs neither an object nor a lock. Every frame character the kit draws
// is built here.
#include "prompt/theme.hpp"

#include <vector>

#include "prompt/live_area.hpp"
#include "prompt/unicode.hpp"

namespace {

using Kind = ThemeState::Kind;

Style dim() { return Style().dim(); }

std::string bb(std::string_view text) { return bright_black().apply(text); }

bool finished(const ThemeState& s) { return s.kind == Kind::Submit || s.kind == Kind::Cancel; }

Style bar_color(const ThemeState& state) {
  switch (state.kind) {
    case Kind::Active: return Style().cyan();
    case Kind::Cancel: return Style().red();
    case Kind::Submit: return bright_black();
    case Kind::Error: return Style().yellow();
  }
  return Style();
}

std::string state_symbol(const ThemeState& state) {
  switch (state.kind) {
    case Kind::Active: return Style().cyan().apply(sym::step_active.str());
    case Kind::Cancel: return Style().red().apply(sym::step_cancel.str());
    case Kind::Submit: return Style().green().apply(sym::step_submit.str());
    case Kind::Error: return Style().yellow().apply(sym::step_error.str());
  }
  return {};
}

std::string radio_symbol(const ThemeState& state, bool selected) {
  if (state.kind != Kind::Active) return {};
  return selected ? Style().green().apply(sym::radio_active.str()) : dim().apply(sym::radio_inactive.str());
}

Style input_style(const ThemeState& state) {
  switch (state.kind) {
    case Kind::Submit: return dim();
    case Kind::Cancel: return dim().strikethrough();
    default: return Style();
  }
}

Style placeholder_style(const ThemeState& state) { return state.kind == Kind::Cancel ? Style().hidden() : dim(); }

std::string cursor_with_style(const StringCursor& cursor, const Style& style) {
  auto [left, at, right] = cursor.split();
  // The cursor cell is reverse video only; the field's style stays off it.
  return style.apply(left) + Style().reverse().apply(at) + style.apply(right);
}

// The body of a text field: one line per line of `text` behind the bar.
std::string field_lines(const ThemeState& state, std::string_view text, const Style& style) {
  std::string out;
  std::string bar = bar_color(state).apply(sym::bar.str());
  for (std::string_view line : theme::lines_of(text, false)) {
    out += bar;
    out += "  ";
    out += style.apply(line);
    out += '\n';
  }
  return out;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

}  // namespace

namespace theme {

std::vector<std::string_view> lines_of(std::string_view text, bool drop_cr) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    bool has_lf = end != std::string_view::npos;
    if (!has_lf) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (drop_cr && has_lf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

char32_t password_mask() { return unicode::decode(sym::password_mask.str()).ch; }

std::string format_intro(std::string_view title) {
  std::string out = bb(sym::bar_start.str());
  out += "  ";
  out += title;
  out += '\n';
  out += bb(sym::bar.str());
  out += '\n';
  return out;
}

std::string format_outro(std::string_view message) {
  std::string out = bb(sym::bar_end.str());
  out += "  ";
  out += message;
  out += '\n';
  return out;
}

std::string format_header(const ThemeState& state, std::string_view prompt) {
  std::string out;
  bool first = true;
  for (std::string_view line : lines_of(prompt)) {
    out += first ? state_symbol(state) : bar_color(state).apply(sym::bar.str());
    out += "  ";
    out += line;
    out += '\n';
    first = false;
  }
  return out;
}

std::string format_footer(const ThemeState& state) { return format_footer_with_message(state, ""); }

std::string format_footer_with_message(const ThemeState& state, std::string_view message) {
  std::string text;
  switch (state.kind) {
    case Kind::Active: text = std::string(sym::bar_end.str()) + "  " + std::string(message); break;
    case Kind::Error: text = std::string(sym::bar_end.str()) + "  " + state.message; break;
    case Kind::Cancel: text = std::string(sym::bar_end.str()) + "  Operation cancelled."; break;
    case Kind::Submit: text = sym::bar.str(); break;
  }
  return bar_color(state).apply(text) + "\n";
}

std::string format_input(const ThemeState& state, const StringCursor& cursor) {
  Style style = input_style(state);
  std::string text = finished(state) ? cursor.text() : cursor_with_style(cursor, style);
  // A text ending in a line feed gets an empty last line for the cursor.
  if (!text.empty() && text.back() == '\n') text += '\n';
  return field_lines(state, text, style);
}

std::string format_placeholder(const ThemeState& state, const StringCursor& cursor) {
  Style style = placeholder_style(state);
  std::string text;
  if (state.kind == Kind::Submit)
    text = cursor.text();
  else if (state.kind != Kind::Cancel)
    text = cursor_with_style(cursor, style);
  return field_lines(state, text, style);
}

std::string radio_item(const ThemeState& state, bool selected, std::string_view label, std::string_view hint) {
  if (finished(state) && !selected) return {};
  std::string symbol = radio_symbol(state, selected);
  std::string styled = selected ? input_style(state).apply(label) : placeholder_style(state).apply(label);
  std::string hint_text;
  if (!finished(state) && selected && !hint.empty())
    hint_text = placeholder_style(state).apply("(" + std::string(hint) + ")");

  std::string out = symbol;
  if (!symbol.empty()) out += ' ';
  out += styled;
  if (!styled.empty()) out += ' ';
  out += hint_text;
  return out;
}

std::string format_select_item(const ThemeState& state, bool selected, std::string_view label, std::string_view hint) {
  if (finished(state) && !selected) return {};
  return bar_color(state).apply(sym::bar.str()) + "  " + radio_item(state, selected, label, hint) + "\n";
}

std::string format_confirm(const ThemeState& state, bool value) {
  std::string separator = state.kind == Kind::Active ? placeholder_style(state).apply(" / ") : "";
  return bar_color(state).apply(sym::bar.str()) + "  " + radio_item(state, value, "Yes", "") + separator +
         radio_item(state, !value, "No", "") + "\n";
}

std::string format_note(std::string_view title, std::string_view message) {
  std::string body = "\n" + std::string(message) + "\n";

  std::size_t title_width = unicode::display_width(title);
  std::size_t widest = title_width;
  for (std::size_t pos = 0;;) {  // every piece between line feeds, empty ones too
    std::size_t end = body.find('\n', pos);
    std::string_view piece = std::string_view(body).substr(pos, end == std::string::npos ? end : end - pos);
    widest = std::max(widest, unicode::display_width(piece));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  std::size_t w = 2 + widest;

  std::string out = Style().green().apply(sym::step_submit.str());
  out += "  ";
  out += title;
  out += ' ';
  out += bb(repeat(sym::bar_h.str(), w - title_width));
  out += bb(sym::corner_top_right.str());
  out += '\n';

  std::string bar = bb(sym::bar.str());
  for (std::string_view line : lines_of(body)) {
    out += bar;
    out += "  ";
    out += dim().apply(line);
    out += std::string(w - unicode::display_width(line) + 1, ' ');
    out += bar;
    out += '\n';
  }

  // The whole bottom is grey, and its bar is grey once more on its own.
  std::string bottom = std::string(sym::connect_left.str()) + repeat(sym::bar_h.str(), w + 3) +
                       std::string(sym::corner_bottom_right.str()) + "\n" + bar + "\n";
  out += bb(bottom);
  return out;
}

std::string format_progress_message(std::string_view text) {
  auto lines = lines_of(text);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      out += '\n';
      out += bb(i + 1 == lines.size() ? sym::bar_end.str() : sym::bar.str());
      out += "  ";
    }
    out += lines[i];
  }
  return out;
}

std::string format_progress_with_state(std::string_view message, const ThemeState& state) {
  if (state.kind == Kind::Active) return std::string(message);
  std::string tail = "\n" + bb(sym::bar.str());
  if (message.empty()) return tail;
  return state_symbol(state) + "  " + std::string(message) + tail;
}

Result<void> intro(std::string_view title) { return LiveArea::standard_error().print_above(format_intro(title)); }

Result<void> outro(std::string_view message) {
  return LiveArea::standard_error().print_above(format_outro(message));
}

Result<void> note(std::string_view title, std::string_view message) {
  return LiveArea::standard_error().print_above(format_note(title, message));
}

}  // namespace theme
