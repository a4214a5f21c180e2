#include "prompt/confirm.hpp"

Confirm::Confirm(std::string prompt) : prompt_(std::move(prompt)) {}

Confirm& Confirm::initial_value(bool value) {
  initial_ = value;
  return *this;
}

Result<bool> Confirm::interact(LiveArea& area) {
  input_ = initial_;
  if (auto r = ::interact(*this, area); !r) return fail(std::move(r).error());
  return input_;
}

std::string Confirm::render(const ThemeState& state) {
  return theme::format_header(state, prompt_) + theme::format_confirm(state, input_) +
         theme::format_footer(state);
}

ThemeState Confirm::on(const Key& key) {
  using Kind = Key::Kind;
  switch (key.kind) {
    case Kind::ArrowLeft:
    case Kind::ArrowRight:
    case Kind::ArrowUp:
    case Kind::ArrowDown:
      input_ = !input_;
      return ThemeState::Active;
    case Kind::Enter:
      return ThemeState::Submit;
    case Kind::Char:
      switch (key.ch) {
        case U'h': case U'j': case U'k': case U'l':
          input_ = !input_;
          return ThemeState::Active;
        case U'y': case U'Y':
          input_ = true;
          return ThemeState::Submit;
        case U'n': case U'N':
          input_ = false;
          return ThemeState::Submit;
        default:
          return ThemeState::Active;
      }
    default:
      return ThemeState::Active;
  }
}
