// interact.hpp: the draw / read / redraw loop every prompt runs.
#pragma once

#include <string>

#include "prompt/error.hpp"
#include "prompt/keys.hpp"
#include "prompt/live_area.hpp"
#include "prompt/term.hpp"
#include "prompt/theme.hpp"

/// What a prompt supplies to the loop. A prompt that answers Submit keeps the
/// value it will return itself.
class PromptInteraction {
 public:
  virtual ~PromptInteraction() = default;
  /// The whole frame for `state`, ending with a line feed.
  virtual std::string render(const ThemeState& state) = 0;
  /// The reaction to one key; the next loop state.
  virtual ThemeState on(const Key& key) = 0;
  /// Applies the editing keys to the prompt's editable text, if it has one.
  /// May read further bytes from `term` (the tail of a modified arrow key).
  virtual Result<void> edit(const Key& key, const TermIo& term);
};

/// Runs the loop in `area` until the prompt submits (success) or is
/// cancelled (the Interrupted error); hides the cursor for the duration. The
/// last frame drawn stays on the screen.
Result<void> interact(PromptInteraction& prompt, LiveArea& area = LiveArea::standard_error());
