// pty_driver.hpp: runs a program in a pseudo-terminal and talks to it like a
// person at a keyboard: send keys, wait for frames, read the rendered screen.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/screen.hpp"

struct PtyOptions {
  unsigned short cols = 100;
  unsigned short rows = 40;
  /// Standard output or error to this file instead of the terminal.
  std::string stdout_path = {};
  std::string stderr_path = {};
  std::string cwd = {};
  /// Leave echo and canonical mode on, as a shell leaves the terminal.
  bool echo = false;
};

struct PtyExit {
  bool exited = false;
  int code = -1;
  int signal = 0;
};

class PtyDriver {
 public:
  /// Starts `argv` with exactly the environment `env` (nothing inherited), on
  /// a terminal with echo and canonical mode off (ISIG stays on).
  PtyDriver(std::vector<std::string> argv, std::map<std::string, std::string> env, PtyOptions options = {});
  /// Runs `body` in a forked child on the terminal, environment exactly
  /// `env`; the child exits with body's return value.
  PtyDriver(std::function<int()> body, std::map<std::string, std::string> env, PtyOptions options = {});
  ~PtyDriver();  // kills and reaps the program's group if it still runs
  PtyDriver(const PtyDriver&) = delete;
  PtyDriver& operator=(const PtyDriver&) = delete;

  /// Waits until `text` appears in the output after the read mark (escape
  /// sequences included) and moves the mark past it; fails the test on timeout.
  bool expect(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Waits until the rendered screen contains `text`.
  bool expect_screen(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Waits until the program has read every key sent and waits for the next
  /// event (a key, a child, a pipe) or has ended, then reads all it wrote
  /// meanwhile: its frame is complete. A program that stays busy (a spinner
  /// animating over a running computation) is left after a few seconds.
  /// Where the kernel does not show what the program waits on, waits instead
  /// until no output has arrived for `quiet`.
  void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(150));

  /// Bytes typed that the terminal holds for the program, not yet read (in
  /// canonical mode, those of whole lines only).
  int queued_input() const;

  void send(const std::string& bytes);
  /// Sends one key and waits for the program's answer to settle().
  void key(const std::string& bytes);
  /// Waits for `prompt` ("" for the open one), types `text`, presses Enter.
  bool answer(const std::string& prompt, const std::string& text = "");

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
  /// The terminal's master side (its attributes and window size).
  int master() const { return master_; }
  /// The terminal's slave side, as the program opens it.
  const std::string& slave_path() const { return slave_path_; }
  /// The attributes the program's terminal starts with. Read them here, not
  /// from the terminal: a fast program may already be in raw mode.
  static termios initial_attributes();

  static constexpr const char* kEnter = "\r";
  static constexpr const char* kEsc = "\x1b";
  static constexpr const char* kUp = "\x1b[A";
  static constexpr const char* kDown = "\x1b[B";
  static constexpr const char* kRight = "\x1b[C";
  static constexpr const char* kBackspace = "\x7f";
  static constexpr const char* kCtrlC = "\x03";

  /// The output (escapes shown as "\\e") and the rendered screen, for
  /// failure messages.
  std::string dump();

 private:
  void start(const std::function<void()>& run_child, const std::string& what, bool execs, const PtyOptions& options);
  /// Reads what is available, waiting at most `timeout` for the first byte;
  /// sets eof_ once the terminal has no writer left.
  std::size_t pump(std::chrono::milliseconds timeout);
  bool reap(bool block);
  enum class Activity { Busy, Waiting, Unknown };
  /// Whether the program has read everything sent and waits on an event.
  Activity activity() const;
  /// Reads until the terminal holds nothing more from the program.
  void drain();
  /// Pumps output until `done` holds; fails the test on timeout or EOF.
  bool wait_until(const std::function<bool()>& done, const std::string& what, std::chrono::milliseconds timeout);
  bool eof_ = false;
  pid_t pid_ = -1;
  int master_ = -1;
  std::string slave_path_;
  std::string output_;
  std::size_t mark_ = 0, taken_ = 0, fed_ = 0;
  Screen screen_;
  std::optional<PtyExit> exit_;
};

/// The prompts of a setup run to a host of ~/.ssh/config whose cache clones
/// are present, in order.
enum SetupPrompt { kCommandMenu, kHostMenu, kCacheMenu, kUserPrompt, kPasswordPrompt, kSudoPrompt, kModeMenu, kPhaseMenu };
extern const char* const kSetupPrompts[];
/// Answers the prompts from `from` up to before `to` in turn, with `answers`
/// in order (Enter alone past their end), and waits until `to` is on the
/// screen, still to be expect()ed; false, with a test failure, when a prompt
/// does not come.
bool answer_setup(PtyDriver& tty, SetupPrompt from, SetupPrompt to, const std::vector<std::string>& answers = {});
/// At the host menu of a first run: its first host, then the two clone URLs.
bool answer_clone_urls(PtyDriver& tty, const std::filesystem::path& dots, const std::filesystem::path& walls);
