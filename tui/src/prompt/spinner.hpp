// spinner.hpp: the animated one-line status shown while the wizard works.
#pragma once

#include <memory>
#include <string_view>

#include "prompt/theme.hpp"

/// The spinner handle. A ticker thread redraws the line every 100 ms while it
/// runs; destroying a running spinner erases its line and leaves nothing.
class ProgressBar {
 public:
  ProgressBar();
  ~ProgressBar();
  ProgressBar(ProgressBar&&) noexcept;
  ProgressBar& operator=(ProgressBar&&) noexcept;

  /// Draws "{frame}  {message}" and starts the ticker.
  void start(std::string_view message);
  /// Replaces the live line by "{state symbol}  {message}" and a grey bar line
  /// (nothing when `message` is empty), stops the ticker. A second call does
  /// nothing.
  void finish_with_state(std::string_view message, const ThemeState& state);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

/// A new spinner; nothing is drawn until start().
ProgressBar spinner();
