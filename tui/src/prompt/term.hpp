// term.hpp: the terminal handle on standard error through which the kit
// writes every frame and reads every key.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "prompt/error.hpp"
#include "prompt/keys.hpp"

struct TermSize {
  unsigned short rows;
  unsigned short cols;
};

class Term {
 public:
  /// The handle on standard error; keys come from standard input when it is
  /// a terminal, else from /dev/tty opened for one key.
  static Term stderr_term();
  /// A handle on other descriptors (tests): output to `out_fd`, keys from
  /// `in_fd` when it is a terminal, else from /dev/tty.
  Term(int out_fd, int in_fd);

  bool is_term() const { return is_term_; }

  /// Writes all of `text`; the first failing write's error is returned.
  Result<void> write_str(std::string_view text) const;
  /// Erases the last `n` lines and leaves the cursor at the start of the first.
  Result<void> clear_last_lines(std::size_t n) const;
  Result<void> hide_cursor() const;
  Result<void> show_cursor() const;

  /// Blocks until one key is decoded. Not a terminal: Unknown at once. Ctrl-C
  /// restores the terminal and raises SIGINT; should the process survive, an
  /// Interrupted error "read interrupted".
  Result<Key> read_key() const;
  /// Reads `count` raw bytes from the key input (the tail of a modified arrow
  /// key, ESC [ 1 ; m x), in raw mode like a key.
  Result<std::string> read_bytes(std::size_t count) const;

  /// From the next key read on, the key input stays in raw mode (no echo)
  /// between reads too, until release_input(): keys typed faster than they
  /// are read are never echoed by the terminal.
  void hold_input() const;
  /// Restores the terminal's attributes if a held read changed them; the
  /// failure to restore them is returned.
  Result<void> release_input() const;
  /// Whether a key is already waiting to be read on held input (a paste).
  bool key_waiting() const;

  /// Rows and columns of the output terminal, or nothing when unknown or zero.
  std::optional<TermSize> size() const;

 private:
  struct Held;
  /// The key input in raw mode: held, or entered for this one read.
  Result<std::shared_ptr<Held>> raw_input() const;

  int out_fd_;
  int in_fd_;
  bool is_term_;
  mutable std::shared_ptr<Held> held_;  ///< made by hold_input()
};

/// The bytes clear_last_lines(n) writes: up n, each line cleared and stepped
/// over, up n again; nothing for 0.
std::string clear_lines_sequence(std::size_t n);

/// Size of the terminal on standard error.
std::optional<TermSize> terminal_size();
