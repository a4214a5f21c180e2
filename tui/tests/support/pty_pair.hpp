// pty_pair.hpp: a pseudo-terminal for driving prompts in-process. The prompt
// draws on and reads keys from the slave side; the test types on the master.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prompt/term.hpp"

class PtyPair {
 public:
  /// A raw-mode pair (no newline translation, no echo) whose window is
  /// `cols` columns wide; 0 leaves the size unset.
  explicit PtyPair(unsigned short cols = 80);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  Term term() const { return Term(slave_, slave_); }
  int slave() const { return slave_; }
  /// Queues key bytes as if typed.
  void type(std::string_view bytes);
  /// Closes the master side: the slave's reads fail from now on.
  void hang_up();

  /// Runs `body` on a thread; returns its result and every byte written until
  /// it returned and the output went quiet. Each of `keys` is typed once the
  /// output has been quiet for a moment, as a person types after looking (so
  /// a lone ESC is read as the Escape key).
  template <class F>
  auto run(F&& body, std::vector<std::string> keys = {}) {
    decltype(body()) result{};
    std::string out = collect_while([&] { result = body(); }, std::move(keys));
    return std::pair{std::move(result), std::move(out)};
  }

 private:
  std::string collect_while(const std::function<void()>& body, std::vector<std::string> keys);
  int master_ = -1;
  int slave_ = -1;
};
