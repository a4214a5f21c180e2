#include "prompt/input.hpp"

#include "prompt/signals.hpp"
#include "prompt/theme.hpp"

namespace {

using Kind = Key::Kind;

// Editing keys both text prompts share. Returns false for keys it leaves alone.
bool edit_common(StringCursor& text, const Key& key) {
  switch (key.kind) {
    case Kind::Char:
      // Control characters are never inserted.
      if (key.ch >= 0x20 && key.ch != 0x7f) {
        text.insert(key.ch);
        return true;
      }
      return false;
    case Kind::Backspace: text.delete_left(); return true;
    case Kind::Del: text.delete_right(); return true;
    case Kind::ArrowLeft: text.move_left(); return true;
    case Kind::ArrowRight: text.move_right(); return true;
    case Kind::ArrowUp: text.move_up(); return true;
    case Kind::ArrowDown: text.move_down(); return true;
    case Kind::Home: text.move_home(); return true;
    case Kind::End: text.move_end(); return true;
    default: return false;
  }
}

ThemeState submit_or_error(const std::string& text, const Validator& rule) {
  if (rule) {
    if (auto message = rule(text)) return ThemeState::error(std::move(*message));
  }
  return ThemeState::Submit;
}

}  // namespace

// ---- Input ----

Input::Input(std::string prompt) : TextPrompt(std::move(prompt)) {}

Input& Input::default_input(std::string text) {
  placeholder_ = StringCursor(text + " (default)");
  default_ = std::move(text);
  return *this;
}

std::string Input::render(const ThemeState& state) {
  std::string frame = theme::format_header(state, prompt_);
  frame += input_.empty() ? theme::format_placeholder(state, placeholder_)
                          : theme::format_input(state, input_);
  frame += theme::format_footer_with_message(state, "");
  return frame;
}

ThemeState Input::on(const Key& key) {
  if (key.kind != Kind::Enter) return ThemeState::Active;
  if (input_.empty()) {
    if (!default_) return ThemeState::error("Input required");
    input_.extend(*default_);
  }
  return submit_or_error(input_.text(), validate_);
}

Result<void> Input::edit(const Key& key, const TermIo& term) {
  if (edit_common(input_, key)) return {};
  if (key.kind == Kind::Char && key.ch == 0x17) {  // Ctrl-W
    input_.delete_word_to_the_left();
  } else if (key.kind == Kind::UnknownEscSeq) {
    if (key.seq == "b") {
      input_.move_left_by_word();
    } else if (key.seq == "f") {
      input_.move_right_by_word();
    } else if (key.seq == "\x7f") {  // Alt-Backspace
      input_.delete_word_to_the_left();
    } else if (key.seq == "[1;") {
      // A modified arrow key, ESC [ 1 ; m x: the key reader stops after the
      // ';', so its last two bytes are taken here, whatever they are.
      auto tail = term.read_bytes(2);
      if (!tail) return fail(std::move(tail).error());
      if (tail->size() == 2 && ((*tail)[0] == '3' || (*tail)[0] == '5')) {
        if ((*tail)[1] == 'D') input_.move_left_by_word();
        if ((*tail)[1] == 'C') input_.move_right_by_word();
      }
    }
  }
  return {};
}

// ---- Password ----

Password::Password(std::string prompt) : TextPrompt(std::move(prompt)), mask_(theme::password_mask()) {}

std::string Password::render(const ThemeState& state) {
  return theme::format_header(state, prompt_) + theme::format_input(state, input_.masked(mask_)) +
         theme::format_footer(state);
}

ThemeState Password::on(const Key& key) {
  if (key.kind != Kind::Enter) return ThemeState::Active;
  if (input_.empty()) return ThemeState::error("Input required");
  return submit_or_error(input_.text(), validate_);
}

Result<void> Password::edit(const Key& key, const TermIo& term) {
  // From the first key typed the process holds a password: no core dump.
  signal_guard::forbid_core_dumps();
  // Word editing would reveal where the spaces are; a password gets none.
  edit_common(input_, key);
  // The last two bytes of a modified arrow key are still unread: left there
  // they would arrive as two typed characters and end up in the password.
  if (key.kind == Kind::UnknownEscSeq && key.seq == "[1;") {
    if (auto tail = term.read_bytes(2); !tail) return fail(std::move(tail).error());
  }
  return {};
}
