// signals.cpp: cleanup when a signal ends the process.
//
// Everything the handler reads is prepared in advance in static storage and
// published through lock-free atomics, and the handler calls only
// async-signal-safe functions (tcsetattr, write, unlink, rmdir, open, read, close,
// getdents64, kill, sigaction, sigprocmask, raise): it may interrupt any
// code, including a malloc or a registration half done.
#include "prompt/signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "prompt/sys.hpp"

namespace signal_guard {
namespace {

// Every signal whose default action ends the process (SIGKILL and SIGSTOP
// cannot be caught), then the real-time signals, which end it too.
constexpr int kSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
                            SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,   SIGALRM, SIGTERM,   SIGSTKFLT,
                            SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,    SIGSYS};
constexpr std::size_t kFileSlots = 16;
constexpr std::size_t kChildSlots = 8;
// Processes of a child's tree the handler can track; a larger tree has its
// first ones signalled.
constexpr std::size_t kTreeSize = 512;
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

// Running children, 0 for a free slot.
std::atomic<pid_t> child_slot[kChildSlots];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<pid_t>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// Not sys::write_all: the handler may not allocate, and that builds an Error on failure.
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

// The parent pid in /proc/<pid>/stat, or -1: the field after the state,
// which follows the last ')' (the command name may hold anything).
pid_t parent_of(const char* pid_text) {
  char path[64] = "/proc/";
  std::size_t at = 6;
  for (const char* c = pid_text; *c != '\0' && at < sizeof path - 6; ++c) path[at++] = *c;
  std::memcpy(path + at, "/stat", 6);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char stat[512];
  const ssize_t n = ::read(fd, stat, sizeof stat);
  ::close(fd);
  if (n <= 0) return -1;
  std::size_t close_paren = 0;
  for (ssize_t i = 0; i < n; ++i)
    if (stat[i] == ')') close_paren = static_cast<std::size_t>(i);
  // ") S 1234 ": skip ") ", the state and its space.
  std::size_t i = close_paren + 4;
  if (close_paren == 0 || i >= static_cast<std::size_t>(n)) return -1;
  pid_t ppid = 0;
  for (; i < static_cast<std::size_t>(n) && stat[i] >= '0' && stat[i] <= '9'; ++i) ppid = ppid * 10 + (stat[i] - '0');
  return ppid;
}

pid_t parse_pid(const char* name) {
  pid_t pid = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    pid = pid * 10 + (*c - '0');
  }
  return pid;
}

// Sends `sig` to each running child and to every process descending from it
// (a playbook's workers and the programs they run), found by walking /proc
// with raw system calls. The tree is collected first, so nothing re-parented
// by an early kill is missed.
void signal_children(int sig) {
  static pid_t tree[kTreeSize];
  std::size_t count = 0;
  for (auto& slot : child_slot)
    if (const pid_t pid = slot.load(); pid > 0 && count < kTreeSize) tree[count++] = pid;
  if (count == 0) return;

  const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc >= 0) {
    alignas(8) static char entries[8192];
    // New processes may join at any place of the listing: walk it until a
    // pass adds none (a few passes at most).
    for (int pass = 0; pass < 8; ++pass) {
      const std::size_t before = count;
      ::lseek(proc, 0, SEEK_SET);
      for (long n; (n = ::syscall(SYS_getdents64, proc, entries, sizeof entries)) > 0;) {
        for (long at = 0; at < n;) {
          // struct linux_dirent64: inode (8 bytes), offset (8), record
          // length (2), type (1), then the name with its NUL.
          unsigned short reclen = 0;
          std::memcpy(&reclen, entries + at + 16, sizeof reclen);
          const char* name = entries + at + 19;
          if (reclen == 0) break;
          at += reclen;
          const pid_t pid = parse_pid(name);
          if (pid <= 0 || count >= kTreeSize) continue;
          bool known = false;
          for (std::size_t k = 0; k < count && !known; ++k) known = tree[k] == pid;
          if (known) continue;
          const pid_t parent = parent_of(name);
          for (std::size_t k = 0; k < count; ++k)
            if (tree[k] == parent) {
              tree[count++] = pid;
              break;
            }
        }
      }
      if (count == before) break;
    }
    ::close(proc);
  }
  for (std::size_t k = 0; k < count; ++k) ::kill(tree[k], sig);
}

// What the children get. A signal the terminal sent to its whole foreground
// process group (Ctrl-C, Ctrl-\) has reached them already. SIGTERM, SIGHUP
// and SIGINT are passed on as they are; anything else (a fault, a broken
// pipe, a timer meant for this process) becomes SIGTERM, which ends a
// program cleanly and without a core dump.
int signal_for_children(int sig, const siginfo_t* info) {
  const bool from_keyboard = (sig == SIGINT || sig == SIGQUIT) && info != nullptr && info->si_code == SI_KERNEL;
  if (from_keyboard) return 0;
  return sig == SIGTERM || sig == SIGHUP || sig == SIGINT ? sig : SIGTERM;
}

void on_signal(int sig, siginfo_t* info, void*) {
  const int saved_errno = errno;
  if (const int forwarded = signal_for_children(sig, info); forwarded != 0) signal_children(forwarded);
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
    action.sa_sigaction = on_signal;
    // The other guarded signals wait while one handler cleans up.
    guarded_signals(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    auto guard = [&action](int sig) {
      // Only a default action is replaced: a signal the process was started
      // with ignored (nohup, a background job) stays ignored, since it would
      // not have ended the process, and a handler someone installed earlier
      // (a sanitizer's) stays in place.
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) return;
      ::sigaction(sig, &action, nullptr);
    };
    for (int sig : kSignals) guard(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) guard(sig);
  });
}

void guarded_signals(sigset_t* set) {
  sigemptyset(set);
  for (int sig : kSignals) sigaddset(set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(set, sig);
}

void forbid_core_dumps() {
  // Called for every key of a password prompt; the flag, once cleared, stays
  // cleared, so one system call is enough.
  static std::atomic<bool> done{false};
  if (!done.exchange(true)) (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

int register_child(pid_t pid) {
  if (pid <= 0) return -1;
  for (std::size_t i = 0; i < kChildSlots; ++i) {
    pid_t expected = 0;
    if (child_slot[i].compare_exchange_strong(expected, pid)) return static_cast<int>(i);
  }
  return -1;
}

void unregister_child(int slot) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= kChildSlots) return;
  child_slot[slot].store(0);
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
  // Files first; a directory (its unlink fails) is removed in the second
  // pass, once the files in it are gone.
  for (const bool directories : {false, true}) {
    for (std::size_t i = 0; i < kFileSlots; ++i) {
      int expected = Ready;
      // Claiming the slot first means a file is unlinked once, even when a
      // signal arrives while this runs on another path.
      if (!slot_state[i].compare_exchange_strong(expected, Claimed)) continue;
      const bool done = directories ? (::rmdir(slot_path[i]), true) : ::unlink(slot_path[i]) == 0 || errno != EISDIR;
      slot_state[i].store(done ? Free : Ready);
    }
  }
}

void fatal(std::string_view message) {
  signal_children(SIGTERM);
  restore_terminal();
  (void)sys::write_all(STDERR_FILENO, message);
  (void)sys::write_all(STDERR_FILENO, "\n");
  unlink_registered_files();
  ::_exit(101);
}

}  // namespace signal_guard
