// pty_driver.cpp: the program on the slave side of a pseudo-terminal, the
// test on the master side.
#include "e2e/pty_driver.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/pty_pair.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

/// Control bytes spelled out, so a failure message shows what was sent.
std::string visible(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    if (c == 0x1b)
      out += "\\e";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n\n";
    else if (c < 0x20 || c == 0x7f)
      out += hex;
    else
      out += static_cast<char>(c);
  }
  return out;
}

milliseconds left_until(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return milliseconds(0);
  return std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1);
}

/// Steps of the child's set-up, named in the failure message.
const char* const kSteps[] = {"open stdout_path", "open stderr_path", "chdir", "exec"};

/// Tells the parent through `report` which step failed, and ends the child.
[[noreturn]] void fail_child(int report, int step) {
  const int info[2] = {step, errno};
  ssize_t ignored = write(report, info, sizeof info);
  (void)ignored;
  _exit(127);
}

/// In the child, whose controlling terminal and standard streams forkpty made
/// the slave (so Ctrl-C raises SIGINT): echo and canonical mode off, so keys
/// sent between two reads are neither echoed nor held back (ISIG stays on),
/// then `options`. Async-signal-safe calls only.
void echo_and_canonical_off(termios& t) {
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

void setup_child(int report, const PtyOptions& options) {
  termios t{};
  tcgetattr(0, &t);
  if (!options.echo) echo_and_canonical_off(t);
  tcsetattr(0, TCSANOW, &t);
  const struct {
    const std::string& path;
    int fd, step;
  } redirects[] = {{options.stdout_path, 1, 0}, {options.stderr_path, 2, 1}};
  for (const auto& r : redirects) {
    if (r.path.empty()) continue;
    const int fd = open(r.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, r.fd) < 0) fail_child(report, r.step);
    close(fd);
  }
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) < 0) fail_child(report, 2);
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != report) close(fd);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

/// What the main thread of a process is doing, from /proc: whether it could
/// be read, whether the process has ended, whether the thread is asleep and
/// in which system call (number and arguments).
struct MainThread {
  bool readable = false, ended = false, asleep = false;
  long call = -1;
  std::array<unsigned long, 6> args{};
};

MainThread main_thread(pid_t pid) {
  MainThread t;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream stat(dir + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return t;
  // The state follows the parenthesised command name, which may hold spaces.
  const auto close_paren = line.rfind(')');
  const char state = close_paren != std::string::npos && close_paren + 2 < line.size() ? line[close_paren + 2] : '?';
  if (state == 'Z' || state == 'X') {
    t.readable = t.ended = true;
    return t;
  }
  std::ifstream syscall_file(dir + "/syscall");
  if (!std::getline(syscall_file, line) || line.empty()) return t;
  t.readable = true;
  // "running", or the call it sleeps in; an uninterruptible sleep is a disk
  // or a lock, not an event from outside.
  t.asleep = state == 'S' && !line.starts_with("running");
  if (!t.asleep) return t;
  std::istringstream fields(line);
  fields >> t.call;
  for (auto& a : t.args) fields >> std::hex >> a;
  return t;
}

/// Whether a blocking call waits for something outside the program: input
/// on a descriptor, a child, a signal. Only calls that would not return by
/// themselves count: a sleep or a wait with a timeout is still the program
/// at work, and so is a lock (a thread holding it is running).
bool waits_on_event(const MainThread& t) {
  const auto& a = t.args;
  const auto infinite_ms = [](unsigned long ms) { return static_cast<int>(ms) < 0; };
  switch (t.call) {
    case SYS_read:
    case SYS_readv:
    case SYS_wait4:
    case SYS_waitid:
    case SYS_rt_sigsuspend:
#ifdef SYS_pause
    case SYS_pause:
#endif
      return true;
#ifdef SYS_poll
    case SYS_poll: return a[1] > 0 && infinite_ms(a[2]);
#endif
    case SYS_ppoll: return a[1] > 0 && a[2] == 0;
#ifdef SYS_select
    case SYS_select:
#endif
    case SYS_pselect6: return a[4] == 0;
#ifdef SYS_epoll_wait
    case SYS_epoll_wait:
#endif
    case SYS_epoll_pwait: return infinite_ms(a[3]);
    default: return false;
  }
}

}  // namespace

PtyDriver::PtyDriver(std::vector<std::string> argv, std::map<std::string, std::string> env, PtyOptions options)
    : screen_(options.cols, options.rows) {
  // Everything the child needs is built before fork: no allocation after it.
  std::vector<std::string> envs;
  for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
  std::vector<char*> cargv, cenv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  start([&] { execve(cargv[0], cargv.data(), cenv.data()); }, argv.empty() ? "" : argv[0], true, options);
}

PtyDriver::PtyDriver(std::function<int()> body, std::map<std::string, std::string> env, PtyOptions options)
    : screen_(options.cols, options.rows) {
  start(
      [&] {
        clearenv();
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        _exit(body());
      },
      "test body", false, options);
}

void PtyDriver::start(const std::function<void()>& run_child, const std::string& what, bool execs,
                      const PtyOptions& options) {
  winsize ws{};
  ws.ws_col = options.cols;
  ws.ws_row = options.rows;
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) != 0 || (pid_ = forkpty(&master_, nullptr, nullptr, &ws)) < 0) {
    ADD_FAILURE() << "pipe or forkpty: " << std::strerror(errno);
    eof_ = true;
    exit_ = PtyExit{};
    return;
  }
  if (pid_ == 0) {
    close(report[0]);
    setup_child(report[1], options);
    if (!execs) close(report[1]);  // an exec closes it by itself
    run_child();
    fail_child(report[1], 3);
  }
  close(report[1]);
  // Returning once the program runs: a Ctrl-C sent right away reaches it.
  int info[2] = {0, 0};
  ssize_t got;
  do {
    got = read(report[0], info, sizeof info);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof info))
    ADD_FAILURE() << "starting " << what << ": " << kSteps[info[0]] << ": " << std::strerror(info[1]);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  if (const char* name = ptsname(master_)) slave_path_ = name;
}

termios PtyDriver::initial_attributes() {
  termios t = PtyPair().attrs();
  echo_and_canonical_off(t);
  return t;
}

PtyDriver::~PtyDriver() {
  if (pid_ > 0 && !exit_) {
    ::kill(-pid_, SIGKILL);  // the program leads its own session and group
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  if (master_ >= 0) close(master_);
}

std::size_t PtyDriver::pump(milliseconds timeout) {
  if (master_ < 0 || eof_) return 0;
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return 0;
  std::size_t total = 0;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      output_.append(buf, static_cast<std::size_t>(n));
      total += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || errno != EAGAIN) eof_ = true;  // EIO: no slave descriptor left
      return total;
    }
  }
}

bool PtyDriver::reap(bool block) {
  if (exit_ || pid_ <= 0) return exit_.has_value();
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  PtyExit e;
  if (WIFEXITED(status)) {
    e.exited = true;
    e.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    e.signal = WTERMSIG(status);
  }
  exit_ = e;
  return true;
}

bool PtyDriver::wait_until(const std::function<bool()>& done, const std::string& what, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (eof_ || Clock::now() >= deadline) {
      ADD_FAILURE() << "expected " << what << (eof_ ? " but the terminal closed\n" : " within the timeout\n") << dump();
      return false;
    }
    pump(std::min(left_until(deadline), milliseconds(50)));
  }
  return true;
}

bool PtyDriver::expect(const std::string& text, milliseconds timeout) {
  return wait_until(
      [&] {
        const auto at = output_.find(text, mark_);
        if (at != std::string::npos) mark_ = at + text.size();
        return at != std::string::npos;
      },
      "output " + testing::PrintToString(text), timeout);
}

bool PtyDriver::expect_screen(const std::string& text, milliseconds timeout) {
  return wait_until([&] { return screen().contains(text); }, "on screen " + testing::PrintToString(text), timeout);
}

PtyDriver::Activity PtyDriver::activity() const {
  if (pid_ <= 0 || slave_path_.empty()) return Activity::Unknown;
  // Keys still queued for the program are not answered yet.
  const MainThread t = main_thread(pid_);
  // An undumpable program hides its system call from an ordinary user: then
  // at least the keys must have been taken before its output may settle.
  if (!t.readable) return queued_input() > 0 ? Activity::Busy : Activity::Unknown;
  if (t.ended) return Activity::Waiting;
  if (!t.asleep || !waits_on_event(t)) return Activity::Busy;
  if (queued_input() > 0) return Activity::Busy;
  // The keys were read before the check above: a wait seen now began after.
  const MainThread again = main_thread(pid_);
  return again.ended || (again.asleep && waits_on_event(again)) ? Activity::Waiting : Activity::Busy;
}

void PtyDriver::drain() {
  // A read that finds nothing first pushes through what the program wrote.
  while (pump(milliseconds(0)) > 0) {
  }
}

void PtyDriver::settle(milliseconds quiet) {
  // A spinner over a busy program: give up after a few seconds.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!eof_ && Clock::now() < deadline) {
    switch (activity()) {
      case Activity::Waiting: drain(); return;
      case Activity::Unknown:
        if (pump(quiet) == 0) return;
        break;
      case Activity::Busy: pump(milliseconds(2)); break;
    }
  }
}

int PtyDriver::queued_input() const {
  const int slave = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return 0;
  pollfd p{slave, POLLIN, 0};
  poll(&p, 1, 0);  // moves bytes still on their way into the queue
  int queued = 0;
  if (ioctl(slave, FIONREAD, &queued) != 0) queued = 0;
  close(slave);
  return queued;
}

void PtyDriver::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size() && master_ >= 0) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pump(milliseconds(10));  // the program is not reading: keep its output flowing
    } else {
      ADD_FAILURE() << "writing to the terminal: " << std::strerror(errno);
      return;
    }
  }
}

void PtyDriver::key(const std::string& bytes) {
  send(bytes);
  settle();
}

bool PtyDriver::answer(const std::string& prompt, const std::string& text) {
  if (!expect(prompt)) return false;
  settle();
  if (!text.empty()) send(text);
  key(kEnter);
  return true;
}

const std::string& PtyDriver::output() {
  pump(milliseconds(0));
  return output_;
}

std::string PtyDriver::take_new() {
  pump(milliseconds(0));
  std::string fresh = output_.substr(taken_);
  taken_ = output_.size();
  return fresh;
}

const Screen& PtyDriver::screen() {
  pump(milliseconds(0));
  screen_.feed(std::string_view(output_).substr(fed_));
  fed_ = output_.size();
  return screen_;
}

PtyExit PtyDriver::wait(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!reap(false)) {
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "the program did not end within the timeout\n" << dump();
      return PtyExit{};
    }
    if (eof_)
      std::this_thread::sleep_for(milliseconds(10));
    else
      pump(milliseconds(20));
  }
  // What it wrote last is still in the terminal: read until EIO, unless a
  // child of the program keeps the terminal open.
  const auto drain_deadline = Clock::now() + std::chrono::seconds(2);
  while (!eof_ && Clock::now() < drain_deadline) pump(milliseconds(50));
  return *exit_;
}

void PtyDriver::kill_with(int signal) {
  if (pid_ > 0 && !exit_) ::kill(pid_, signal);
}

std::string PtyDriver::dump() {
  const Screen& s = screen();
  std::string_view shown = output_;
  std::string out = "--- output (" + std::to_string(output_.size()) + " bytes";
  if (shown.size() > 6000) {
    out += ", last 6000";
    shown = shown.substr(shown.size() - 6000);
  }
  out += ") ---\n" + visible(shown) + "\n--- screen " + std::to_string(s.cols()) + "x" + std::to_string(s.rows()) +
         ", cursor " + std::to_string(s.cursor_row()) + "," + std::to_string(s.cursor_col()) +
         (s.cursor_visible() ? "" : " hidden") + " ---\n";
  for (std::size_t r = 0; r < s.rows(); ++r) out += std::to_string(r) + "|" + s.line(r) + "\n";
  return out;
}

const char* const kSetupPrompts[] = {
    "Select a global command to continue:",
    "Select target Arch workstation from SSH Config:",
    "Cached repositories detected locally:",
    "Target username to create/setup on Arch:",
    "Target user password:",
    "Remote administrator sudo password (to become root):",
    "Choose execution mode:",
    "Select a standalone playbook phase to execute:",
};

bool answer_setup(PtyDriver& tty, SetupPrompt from, SetupPrompt to, const std::vector<std::string>& answers) {
  for (int i = from; i < to; ++i) {
    const std::size_t n = static_cast<std::size_t>(i - from);
    if (!tty.answer(kSetupPrompts[i], n < answers.size() ? answers[n] : "")) return false;
  }
  return tty.expect_screen(kSetupPrompts[to]);
}

bool answer_clone_urls(PtyDriver& tty, const std::filesystem::path& dots, const std::filesystem::path& walls) {
  return tty.answer(kSetupPrompts[kHostMenu]) && tty.answer("Tervane Dots Configs Git URL:", dots.string()) &&
         tty.answer("Tervane Wallpapers Git URL:", walls.string());
}
