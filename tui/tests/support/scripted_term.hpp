// scripted_term.hpp: a terminal in memory for driving the prompts: the keys
// are a script, and every byte the prompt writes is kept.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "prompt/keys.hpp"
#include "prompt/live_area.hpp"
#include "prompt/term.hpp"

/// Key bytes in chunks: each chunk is what the terminal has ready at one
/// moment; between two chunks nothing is ready until the reader waits, as
/// when a person types after looking at the screen. Past the last chunk a
/// read fails with end of input, as on a terminal that hung up.
class ScriptedSource : public ByteSource {
 public:
  explicit ScriptedSource(std::vector<std::string> chunks) : chunks_(std::move(chunks)) {}

  Result<std::optional<std::uint8_t>> next(bool wait) override;
  Result<std::string> read_some(std::size_t count) override;
  void unread_last() override { --pos_; }

  /// Whether a byte of the current chunk is still unread.
  bool ready() const { return chunk_ < chunks_.size() && pos_ < chunks_[chunk_].size(); }
  /// The bytes left for later reads.
  std::string unread() const;

 private:
  bool advance();

  std::vector<std::string> chunks_;
  std::size_t chunk_ = 0, pos_ = 0;
};

/// The terminal a prompt's loop sees, with `keys` typed chunk by chunk and
/// `cols` columns (0: no size known). It stands for its own live area where a
/// prompt wants one.
class ScriptedTerm : public TermIo {
 public:
  explicit ScriptedTerm(std::vector<std::string> keys = {}, unsigned short cols = 80)
      : keys_(std::move(keys)), cols_(cols) {}
  operator LiveArea&() { return area_; }  // NOLINT: implicit on purpose

  /// Every byte written so far, the cursor's hide and show sequences
  /// included; another thread (a spinner's ticker) may be writing.
  std::string output() const;

  bool is_term() const override { return true; }
  Result<void> write_str(std::string_view text) const override;
  Result<void> hide_cursor() const override { return write_str("\x1b[?25l"); }
  Result<void> show_cursor() const override { return write_str("\x1b[?25h"); }
  /// Ctrl-C is the Interrupted error of a process that survived its SIGINT.
  Result<Key> read_key() const override;
  Result<std::string> read_bytes(std::size_t count) const override;
  void hold_input() const override { held_ = true; }
  Result<void> release_input() const override;
  bool key_waiting() const override { return held_ && keys_.ready(); }
  std::optional<TermSize> size() const override;

 private:
  mutable ScriptedSource keys_;
  mutable std::mutex out_mu_;
  mutable std::string out_;
  mutable bool held_ = false;
  unsigned short cols_;
  LiveArea area_{*this};
};
