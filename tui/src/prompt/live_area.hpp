// live_area.hpp: the rows at the bottom of the terminal that the kit redraws
// in place (a prompt's frame, a spinner's line), and the one writer of the
// terminal while the wizard runs.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "prompt/error.hpp"
#include "prompt/term.hpp"

/// The width assumed when the terminal tells none.
inline constexpr std::size_t kFallbackColumns = 80;

/// Where permanent lines go: the terminal, or standard output (a playbook's
/// own output, which may be a file).
enum class Stream { Terminal, Output };

/// The live area of one terminal: the frame drawn last, which the next draw
/// replaces. Everything else written meanwhile goes through it as permanent
/// lines above the frame, so that it always knows which rows the frame fills.
/// Every operation takes its lock: the spinner's ticker, the runner's two
/// readers and the main thread may call it at once.
class LiveArea {
 public:
  explicit LiveArea(const TermIo& term) : term_(term) {}
  LiveArea(const LiveArea&) = delete;
  LiveArea& operator=(const LiveArea&) = delete;

  /// The process's own, on standard error.
  static LiveArea& standard_error();

  const TermIo& term() const { return term_; }
  /// The terminal's columns now, or kFallbackColumns.
  std::size_t columns() const;

  /// Replaces the frame by `frame` (lines each ending in a line feed): the
  /// rows the old one fills, folded at today's width as the terminal folds
  /// them, are erased and the new one written, in one write. An unchanged
  /// frame writes nothing.
  Result<void> draw(std::string_view frame);
  /// Writes `lines` (each ending in a line feed) to `stream` for good, above
  /// the frame: the frame is erased first and drawn again below them.
  Result<void> print_above(std::string_view lines, Stream stream = Stream::Terminal);
  /// Erases the frame.
  Result<void> clear();
  /// Leaves the frame on the screen as permanent lines: nothing is written,
  /// and the next frame is drawn below it.
  void keep();

 private:
  /// The bytes that erase the frame; the caller holds the lock.
  std::string erase() const;

  const TermIo& term_;
  std::mutex mu_;
  std::string frame_;
};
