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

/// What a prompt's loop needs of a terminal: frames out, keys in. Term is the
/// real one; tests script one in memory.
class TermIo {
 public:
  virtual ~TermIo() = default;

  virtual bool is_term() const = 0;
  /// Writes all of `text`; the first failing write's error is returned.
  virtual Result<void> write_str(std::string_view text) const = 0;
  virtual Result<void> hide_cursor() const = 0;
  virtual Result<void> show_cursor() const = 0;

  /// Blocks until one key is decoded.
  virtual Result<Key> read_key() const = 0;
  /// Reads `count` raw bytes from the key input (the tail of a modified arrow
  /// key, ESC [ 1 ; m x).
  virtual Result<std::string> read_bytes(std::size_t count) const = 0;

  /// A prompt begins: from the next key read on, typed keys are not echoed,
  /// between reads too, until release_input(), whose failure to restore the
  /// input is returned. Under a quiet keyboard (keyboard::keep_quiet) this
  /// also drops the keys typed while no prompt waited.
  virtual void hold_input() const = 0;
  virtual Result<void> release_input() const = 0;
  /// Whether a key is already waiting to be read on held input (a paste).
  virtual bool key_waiting() const = 0;

  /// Rows and columns of the output terminal, or nothing when unknown or zero.
  virtual std::optional<TermSize> size() const = 0;
};

class Term : public TermIo {
 public:
  /// The handle on standard error; keys come from standard input when it is
  /// a terminal, else from /dev/tty opened for one key.
  static Term stderr_term();
  /// A handle on other descriptors (tests): output to `out_fd`, keys from
  /// `in_fd` when it is a terminal, else from /dev/tty.
  Term(int out_fd, int in_fd);

  bool is_term() const override { return is_term_; }
  Result<void> write_str(std::string_view text) const override;
  Result<void> hide_cursor() const override;
  Result<void> show_cursor() const override;

  /// Not a terminal: Unknown at once. Ctrl-C restores the terminal and raises
  /// SIGINT; should the process survive, an Interrupted error "read interrupted".
  Result<Key> read_key() const override;
  /// In raw mode like a key.
  Result<std::string> read_bytes(std::size_t count) const override;

  /// The key input stays in raw mode (no echo) between reads.
  void hold_input() const override;
  /// Restores the terminal's attributes if a held read changed them.
  Result<void> release_input() const override;
  bool key_waiting() const override;

  std::optional<TermSize> size() const override;

 private:
  struct Held;
  /// The key input in raw mode: held, or entered for this one read.
  Result<std::shared_ptr<Held>> raw_input() const;

  int out_fd_;
  int in_fd_;
  bool is_term_;
  mutable std::shared_ptr<Held> held_;  ///< made by hold_input()
};

/// The wizard's keyboard between prompts, one for the process. Off until
/// keep_quiet(); unit tests that drive the kit leave it off.
namespace keyboard {
/// From the first prompt on, the terminal keys come from echoes nothing,
/// between prompts too (under a spinner, while a child program runs), until
/// restore(). The terminal still turns Ctrl-C into SIGINT, and a program that
/// asks on the terminal sets its echo for itself.
void keep_quiet();
/// Work begins during which no prompt waits (a spinner, a child program):
/// keys typed until the next prompt answer none, and that prompt drops them
/// before its first frame. Keys typed ahead between two prompts that follow
/// each other at once still reach the second.
void unattended();
/// Puts back the attributes the terminal had before the first prompt.
Result<void> restore();
}  // namespace keyboard

/// The bytes that erase the last `n` lines and leave the cursor at the start
/// of the first: up n, each line cleared and stepped over, up n again;
/// nothing for 0.
std::string clear_lines_sequence(std::size_t n);
