// signals.cpp: cleanup when SIGINT, SIGTERM or SIGHUP ends the process.
//
// Everything the handler reads is prepared in advance in static storage and
// published through lock-free atomics, and the handler calls only
// async-signal-safe functions (tcsetattr, write, unlink, sigaction,
// sigprocmask, raise): it may interrupt any code, including a malloc or a
// registration half done.
#include "prompt/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace signal_guard {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kFileSlots = 16;
constexpr std::size_t kPathBytes = 4096;  // with the terminating NUL

// A slot is Free, being written (Claimed: the handler skips it) or Ready.
enum SlotState : int { Free = 0, Claimed = 1, Ready = 2 };

std::atomic<int> slot_state[kFileSlots];
char slot_path[kFileSlots][kPathBytes];

// The raw terminal: the descriptor is published after the attributes are
// stored, and withdrawn before they may change again.
std::atomic<int> raw_fd{-1};
termios raw_saved;

std::atomic<bool> cursor_hidden{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

void write_stderr(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void restore_terminal() {
  const int fd = raw_fd.load();
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &raw_saved);
}

void on_signal(int sig) {
  const int saved_errno = errno;
  restore_terminal();
  if (cursor_hidden.load()) {
    static constexpr char kShowCursor[] = "\x1b[?25h";
    write_stderr(kShowCursor, sizeof kShowCursor - 1);
  }
  unlink_registered_files();

  // Die by the same signal, with its default action, so that whoever waits
  // for this process sees exactly the status the signal gives.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(sig);
  errno = saved_errno;
}

}  // namespace

void install() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = on_signal;
    // The other guarded signals wait while one handler cleans up.
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
      // A signal the process was started with ignored (nohup, a background
      // job) stays ignored: it would not have ended the process.
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      ::sigaction(sig, &action, nullptr);
    }
  });
}

void set_cursor_hidden(bool hidden) { cursor_hidden.store(hidden); }

void set_raw_terminal(int fd, const termios* saved) {
  raw_fd.store(-1);
  if (saved == nullptr) return;
  raw_saved = *saved;
  raw_fd.store(fd);
}

int register_file(std::string_view path) {
  if (path.empty() || path.size() >= kPathBytes || path.find('\0') != std::string_view::npos) return -1;
  for (std::size_t i = 0; i < kFileSlots; ++i) {
    int expected = Free;
    if (!slot_state[i].compare_exchange_strong(expected, Claimed)) continue;
    std::memcpy(slot_path[i], path.data(), path.size());
    slot_path[i][path.size()] = '\0';
    slot_state[i].store(Ready);
    return static_cast<int>(i);
  }
  return -1;
}

void unregister_file(int slot) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= kFileSlots) return;
  slot_state[slot].store(Free);
}

void unlink_registered_files() {
  for (std::size_t i = 0; i < kFileSlots; ++i) {
    int expected = Ready;
    // Claiming the slot first means a file is unlinked once, even when a
    // signal arrives while this runs on another path.
    if (slot_state[i].compare_exchange_strong(expected, Claimed)) {
      ::unlink(slot_path[i]);
      slot_state[i].store(Free);
    }
  }
}

void fatal(std::string_view message) {
  restore_terminal();
  write_stderr(message.data(), message.size());
  write_stderr("\n", 1);
  unlink_registered_files();
  ::_exit(101);
}

}  // namespace signal_guard
