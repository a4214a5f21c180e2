// pty_driver.hpp: runs a program in a pseudo-terminal and talks to it like a
// person at a keyboard: send keys one at a time, wait for frames, read the
// rendered screen.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/screen.hpp"

struct PtyOptions {
  unsigned short cols = 100;
  unsigned short rows = 40;
  /// Echo and canonical mode are turned off on the terminal before the
  /// program starts, so keys sent between two reads are neither echoed nor
  /// held back.
  bool raw_before_start = true;
  /// Standard input, output and error are all the terminal unless redirected:
  /// a path for standard output (e.g. a file) or "" to keep the terminal.
  std::string stdout_path = {};
  std::string stdin_path = {};
  /// Standard error to a file instead of the terminal (a program that cannot
  /// draw its prompts).
  std::string stderr_path = {};
  std::string cwd = {};
};

/// How the program ended.
struct PtyExit {
  bool exited = false;
  int code = -1;
  int signal = 0;
};

class PtyDriver {
 public:
  /// Starts `argv` with exactly the environment `env` (nothing inherited).
  PtyDriver(std::vector<std::string> argv, std::map<std::string, std::string> env,
            PtyOptions options = {});
  /// Runs `body` in a forked child whose standard streams are the terminal
  /// (its controlling terminal) and whose environment is exactly `env`; the
  /// child ends with body's return value as its exit status.
  PtyDriver(std::function<int()> body, std::map<std::string, std::string> env,
            PtyOptions options = {});
  ~PtyDriver();  // kills and reaps the program if it still runs
  PtyDriver(const PtyDriver&) = delete;
  PtyDriver& operator=(const PtyDriver&) = delete;

  /// Waits until `text` appears in the output after the read mark (bytes,
  /// escape sequences included), then moves the mark past it. Fails the
  /// current test (and returns false) after `timeout`.
  bool expect(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Waits until the rendered screen contains `text`.
  bool expect_screen(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Waits until no output has arrived for `quiet` (a frame is complete).
  void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(150));

  /// Writes raw bytes to the terminal.
  void send(const std::string& bytes);
  /// Sends one key and waits for the program's answer to settle.
  void key(const std::string& bytes);

  /// Everything the program wrote so far.
  const std::string& output();
  /// Output since the last call of take_new() (or the start).
  std::string take_new();
  /// The emulated screen fed with all output so far.
  const Screen& screen();

  /// Waits for the program to end (fails the test after `timeout`).
  PtyExit wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void kill_with(int signal);
  pid_t pid() const { return pid_; }
  /// Resizes the terminal (TIOCSWINSZ) and the emulated screen.
  void resize(unsigned short cols, unsigned short rows);

  // Keys.
  static constexpr const char* kEnter = "\r";
  static constexpr const char* kEsc = "\x1b";
  static constexpr const char* kUp = "\x1b[A";
  static constexpr const char* kDown = "\x1b[B";
  static constexpr const char* kRight = "\x1b[C";
  static constexpr const char* kLeft = "\x1b[D";
  static constexpr const char* kBackspace = "\x7f";
  static constexpr const char* kCtrlC = "\x03";

  /// A readable account of the output (escapes shown as "\\e[...") and of
  /// the rendered screen, for failure messages.
  std::string dump();

 private:
  void start(const std::function<void()>& run_child, const std::string& what, bool execs,
             const PtyOptions& options);
  /// Reads what is available, waiting at most `timeout` for the first byte.
  /// Returns the number of bytes read; sets eof_ once the terminal has no
  /// writer left.
  std::size_t pump(std::chrono::milliseconds timeout);
  bool reap(bool block);
  bool eof_ = false;
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
  std::size_t mark_ = 0;
  std::size_t taken_ = 0;
  std::size_t fed_ = 0;
  Screen screen_;
  unsigned short cols_ = 100;
  std::optional<PtyExit> exit_;
};
