// pty_pair.hpp: a pseudo-terminal whose slave side a test hands to code that
// must see a terminal.
#pragma once

class PtyPair {
 public:
  /// A raw-mode pair (no newline translation, no echo), 80 by 24.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int slave() const { return slave_; }

 private:
  int master_ = -1;
  int slave_ = -1;
};
