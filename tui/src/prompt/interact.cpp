#include "prompt/interact.hpp"

#include "prompt/signals.hpp"
#include "prompt/wrap.hpp"

Result<void> PromptInteraction::edit(const Key&, const Term&) { return {}; }

namespace {

// The same bytes Term::clear_last_lines writes: up n, then each row cleared
// and stepped over, then up n again. Built here so that erase and frame leave
// in one write and the terminal never shows the half-drawn state.
std::string erase_rows(std::size_t n) {
  if (n == 0) return {};
  std::string up = "\x1b[" + std::to_string(n) + "A";
  std::string out = up;
  for (std::size_t i = 0; i < n; ++i) out += "\r\x1b[2K\x1b[1B";
  out += up;
  return out;
}

Result<void> run_loop(PromptInteraction& prompt, const Term& term) {
  ThemeState state;
  std::string previous;
  for (;;) {
    std::string frame = prompt.render(state);
    if (frame != previous) {
      // The previous frame is measured at today's width: a resized terminal
      // has refolded it.
      auto size = term.size();
      std::size_t width = size ? size->cols : 80;
      std::string out = erase_rows(count_rows(previous, width));
      out += frame;
      if (auto r = term.write_str(out); !r) return r;
      previous = std::move(frame);
    }

    if (state.kind == ThemeState::Submit) return {};
    if (state.kind == ThemeState::Cancel) return fail(Error::interrupted());

    auto key = term.read_key();
    if (!key) {
      if (key.error().kind() != ErrorKind::Interrupted) return fail(std::move(key).error());
      state = ThemeState::Cancel;
      continue;
    }
    if (key->kind == Key::Kind::Escape) {
      // A prompt that answers Cancel to Escape has used the key for itself.
      state = prompt.on(*key).kind == ThemeState::Cancel ? ThemeState::Active : ThemeState::Cancel;
      continue;
    }
    if (auto r = prompt.edit(*key, term); !r) return r;
    state = prompt.on(*key);
  }
}

}  // namespace

Result<void> interact_on(PromptInteraction& prompt, const Term& term) {
  if (!term.is_term()) return fail(Error(ErrorKind::NotConnected, "not connected"));
  if (auto r = term.hide_cursor(); !r) return r;
  signal_guard::set_cursor_hidden(true);

  Result<void> result = run_loop(prompt, term);

  auto shown = term.show_cursor();
  signal_guard::set_cursor_hidden(false);
  if (!shown) return shown;
  return result;
}

Result<void> interact(PromptInteraction& prompt) { return interact_on(prompt, Term::stderr_term()); }
