#include "prompt/interact.hpp"

Result<void> PromptInteraction::edit(const Key&, const TermIo&) { return {}; }

namespace {

Result<void> run_loop(PromptInteraction& prompt, LiveArea& area) {
  const TermIo& term = area.term();
  ThemeState state;
  bool drawn = false;
  for (;;) {
    // Keys already waiting (a paste) are applied before the next frame: the
    // frames between them would be replaced before anyone could see them.
    const bool more_keys =
        (state.kind == ThemeState::Active || state.kind == ThemeState::Error) && drawn && term.key_waiting();
    if (!more_keys) {
      if (auto r = area.draw(prompt.render(state)); !r) return r;
      drawn = true;
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
    if (auto r = prompt.edit(*key, term); !r) return fail(std::move(r).error());
    state = prompt.on(*key);
  }
}

}  // namespace

Result<void> interact(PromptInteraction& prompt, LiveArea& area) {
  const TermIo& term = area.term();
  if (!term.is_term()) return fail(Error(ErrorKind::NotConnected, "not connected"));
  if (auto r = term.hide_cursor(); !r) return fail(std::move(r).error());

  // Echo stays off from the first key read until the prompt ends, so keys
  // typed faster than they are handled never appear on the screen.
  term.hold_input();
  Result<void> result = run_loop(prompt, area);
  // However the prompt ended, its last frame is what it leaves behind.
  area.keep();
  if (auto released = term.release_input(); !released) result = std::move(released);

  if (auto shown = term.show_cursor(); !shown) return fail(std::move(shown).error());
  return result;
}
