// pty_pair.hpp: a pseudo-terminal for code that must see a terminal: the
// test types and reads on the master side, the code works on the slave side.
#pragma once

#include <termios.h>

#include <string>
#include <string_view>

class PtyPair {
 public:
  /// 80 by 24, in the normal mode a shell leaves a terminal in (cooked,
  /// echoing).
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }
  /// Closes the master side: the terminal hangs up.
  void hang_up();

  /// Types `bytes` on the keyboard.
  void type(std::string_view bytes) const;
  /// What the terminal shows from now until it has shown `end` (5 s at most).
  std::string shown_until(std::string_view end) const;
  /// What the terminal has shown in reply to the input it took in so far: a
  /// mark written now on the slave side comes after any echo of that input.
  std::string echo() const;
  termios attrs() const;
  /// Waits (5 s at most) until a reader has put the terminal in raw input mode.
  bool wait_for_raw() const;

 private:
  int master_ = -1;
  int slave_ = -1;
};
