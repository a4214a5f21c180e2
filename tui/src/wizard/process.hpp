// process.hpp: one child process, started by name through PATH.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "prompt/error.hpp"
#include "prompt/sys.hpp"

/// How a child's standard stream is connected. A piped standard input is
/// closed by the parent at once, so the child reads end of file.
enum class Stdio { Inherit, Null, Pipe };

struct SpawnOptions {
  std::vector<std::string> argv;  ///< argv[0] is the program, looked up on PATH
  std::optional<std::string> cwd;
  std::vector<std::pair<std::string, std::string>> env;  ///< added or replaced
  Stdio in = Stdio::Inherit;
  Stdio out = Stdio::Inherit;
  Stdio err = Stdio::Inherit;
};

/// How a child ended.
struct ExitStatus {
  bool exited = false;  ///< normal exit; else killed by `signal`
  int code = 0;
  int signal = 0;
  bool success() const { return exited && code == 0; }
};

/// Owns a child's pid and the parent's ends of its pipes (close-on-exec).
/// Destroying an unwaited child waits for it. Keys typed while a child runs
/// answer no prompt of the wizard (keyboard::unattended).
class Child {
 public:
  /// Starts the child; an error carries the system's reason (a missing
  /// program is the "No such file or directory" error).
  static Result<Child> spawn(const SpawnOptions& options);

  Child(Child&&) noexcept;
  Child& operator=(Child&&) noexcept;
  ~Child();

  /// Read ends of piped stdout/stderr (empty when not piped), handed over.
  sys::Fd take_stdout() { return std::move(out_fd_); }
  sys::Fd take_stderr() { return std::move(err_fd_); }

  /// A descriptor that becomes readable once the child has ended (a pidfd),
  /// or none where the kernel has no pidfd (Linux before 5.3).
  sys::Fd exit_watch() const;
  /// Whether the child has ended; it stays unreaped until wait().
  bool ended() const;

  Result<ExitStatus> wait();
  pid_t pid() const { return pid_; }

 private:
  Child() = default;
  pid_t pid_ = -1;
  int slot_ = -1;  ///< its registration with the signal guard
  sys::Fd out_fd_;
  sys::Fd err_fd_;
};

/// Runs a child to its end and returns how it ended.
Result<ExitStatus> run_to_end(const SpawnOptions& options);
