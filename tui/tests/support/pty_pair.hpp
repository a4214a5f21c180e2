// pty_pair.hpp: a pseudo-terminal for driving prompts in-process. The prompt
// draws on and reads keys from the slave side; the test types on the master
// side and reads back every byte the prompt wrote.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prompt/term.hpp"

class PtyPair {
 public:
  /// A pair whose window is `cols` x `rows`; 0 columns leaves the size unset.
  /// The slave starts in raw mode, so output arrives byte for byte (no
  /// newline translation) and typed keys are not echoed.
  explicit PtyPair(unsigned short cols = 80, unsigned short rows = 24);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  /// A handle that writes to and reads keys from the slave.
  Term term() const { return Term(slave_, slave_); }
  int slave() const { return slave_; }

  /// Queues key bytes as if typed.
  void type(std::string_view bytes);

  /// Closes the master side: the slave's reads fail from now on.
  void hang_up();

  /// Runs `body` on a thread and returns its result together with all bytes
  /// written to the terminal until it returned and the output went quiet.
  /// Each of `keys` is typed once the terminal has been quiet for a moment,
  /// the way a person types after looking at the screen (so a lone ESC is
  /// read as the Escape key, not as the start of a sequence).
  template <class F>
  auto run(F&& body, std::vector<std::string> keys = {}) {
    decltype(body()) result{};
    std::string out = collect_while([&] { result = body(); }, std::move(keys));
    return std::pair{std::move(result), std::move(out)};
  }

  std::string collect_while(const std::function<void()>& body, std::vector<std::string> keys);

 private:
  int master_ = -1;
  int slave_ = -1;
};
