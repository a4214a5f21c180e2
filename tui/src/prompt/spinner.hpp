// spinner.hpp: the animated status line shown while the wizard works.
#pragma once

#include <memory>
#include <string_view>

#include "prompt/live_area.hpp"
#include "prompt/style.hpp"
#include "prompt/theme.hpp"

/// Whether a spinner on standard error stays invisible: standard error is not
/// a terminal, NO_COLOR is set (to anything), or TERM is unset or "dumb".
bool spinner_hidden(const EnvSnapshot& env, bool stderr_is_tty);

/// The spinner handle. A ticker thread redraws the line every 100 ms while it
/// runs; destroying a running spinner erases its line and leaves nothing.
class ProgressBar {
 public:
  /// A spinner in the live area on standard error, hidden when
  /// spinner_hidden() says so for the environment at this moment.
  ProgressBar();
  /// A spinner drawn in `area` (tests).
  explicit ProgressBar(LiveArea& area);
  ~ProgressBar();
  ProgressBar(ProgressBar&&) noexcept;
  ProgressBar& operator=(ProgressBar&&) noexcept;

  /// Draws "{frame}  {message}" and starts the ticker.
  void start(std::string_view message);
  /// Replaces the live line by "{state symbol}  {message}" and a grey bar line
  /// (nothing when `message` is empty), stops the ticker. A second call does
  /// nothing.
  void finish_with_state(std::string_view message, const ThemeState& state);

 private:
  class Line;
  std::unique_ptr<Line> line_;
};

/// A new spinner; nothing is drawn until start().
ProgressBar spinner();
