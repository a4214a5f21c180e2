// pty_driver.cpp: a program on the slave side of a pseudo-terminal, the test
// on the master side.
#include "e2e/pty_driver.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

/// Output with control bytes spelled out, so a failure message shows what the
/// program sent.
std::string visible(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == 0x1b) {
      out += "\\e";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      static const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

milliseconds left_until(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return milliseconds(0);
  return std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1);
}

/// The child's half of the start: never returns.
/// Steps of the child's set-up, for the failure message.
const char* const kSteps[] = {"TIOCSCTTY", "dup2", "open stdout_path", "open stdin_path",
                              "open stderr_path", "chdir", "exec"};

/// Tells the parent through `report` which step failed, and ends the child.
[[noreturn]] void fail_child(int report, int step) {
  const int info[2] = {step, errno};
  ssize_t ignored = write(report, info, sizeof info);
  (void)ignored;
  _exit(127);
}

/// Makes `slave` the child's controlling terminal and standard streams, with
/// the redirections of `options`. Only async-signal-safe calls.
void setup_child(int slave, int report, const PtyOptions& options) {
  setsid();
  // The slave becomes the controlling terminal, so Ctrl-C from the master
  // reaches the program as SIGINT.
  if (ioctl(slave, TIOCSCTTY, 0) < 0) fail_child(report, 0);
  for (int fd = 0; fd <= 2; ++fd)
    if (dup2(slave, fd) < 0) fail_child(report, 1);
  const struct {
    const std::string& path;
    int fd, flags, step;
  } redirects[] = {
      {options.stdout_path, 1, O_WRONLY | O_CREAT | O_TRUNC, 2},
      {options.stdin_path, 0, O_RDONLY, 3},
      {options.stderr_path, 2, O_WRONLY | O_CREAT | O_TRUNC, 4},
  };
  for (const auto& r : redirects) {
    if (r.path.empty()) continue;
    const int fd = open(r.path.c_str(), r.flags, 0644);
    if (fd < 0 || dup2(fd, r.fd) < 0) fail_child(report, r.step);
    close(fd);
  }
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) < 0) fail_child(report, 5);
  const long max_fd = sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (max_fd > 0 && max_fd < 65536 ? max_fd : 1024); ++fd)
    if (fd != report) close(fd);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

std::vector<std::string> env_strings(const std::map<std::string, std::string>& env) {
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

}  // namespace

PtyDriver::PtyDriver(std::vector<std::string> argv, std::map<std::string, std::string> env,
                     PtyOptions options)
    : screen_(options.cols, options.rows), cols_(options.cols) {
  // Everything the child needs is built before fork: no allocation after it.
  std::vector<std::string> envs = env_strings(env);
  std::vector<char*> cargv, cenv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  start([&] { execve(cargv[0], cargv.data(), cenv.data()); }, argv.empty() ? "" : argv[0],
        true, options);
}

PtyDriver::PtyDriver(std::function<int()> body, std::map<std::string, std::string> env,
                     PtyOptions options)
    : screen_(options.cols, options.rows), cols_(options.cols) {
  start(
      [&] {
        clearenv();
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        const int status = body();
        _exit(status);
      },
      "test body", false, options);
}

void PtyDriver::start(const std::function<void()>& run_child, const std::string& what,
                      bool execs, const PtyOptions& options) {
  winsize ws{};
  ws.ws_col = options.cols;
  ws.ws_row = options.rows;
  int slave = -1;
  if (openpty(&master_, &slave, nullptr, nullptr, &ws) < 0) {
    ADD_FAILURE() << "openpty: " << std::strerror(errno);
    eof_ = true;
    exit_ = PtyExit{};
    return;
  }
  if (options.raw_before_start) {
    termios t{};
    tcgetattr(slave, &t);
    // ISIG stays on: Ctrl-C outside a raw read still raises SIGINT.
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(slave, TCSANOW, &t);
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    report[0] = report[1] = -1;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(master_);
    close(report[0]);
    setup_child(slave, report[1], options);
    // An exec closes the report pipe by itself; a test body closes it here.
    if (!execs) close(report[1]);
    run_child();
    fail_child(report[1], 6);
  }
  close(slave);
  close(report[1]);
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(report[0]);
    eof_ = true;
    exit_ = PtyExit{};
    return;
  }
  // Returning only once the program runs means the terminal is already its
  // controlling terminal: a Ctrl-C sent right away reaches it.
  int info[2] = {0, 0};
  ssize_t got;
  do {
    got = read(report[0], info, sizeof info);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof info))
    ADD_FAILURE() << "starting " << what << ": " << kSteps[info[0]] << ": "
                  << std::strerror(info[1]);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
}

PtyDriver::~PtyDriver() {
  if (pid_ > 0 && !exit_) {
    // The program leads its own session: the group takes its children along.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  if (master_ >= 0) close(master_);
}

std::size_t PtyDriver::pump(milliseconds timeout) {
  if (master_ < 0 || eof_) return 0;
  pollfd p{master_, POLLIN, 0};
  const int ready = poll(&p, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return 0;
  std::size_t total = 0;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      output_.append(buf, static_cast<std::size_t>(n));
      total += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    // EIO (or 0): every descriptor of the slave is closed.
    eof_ = true;
    break;
  }
  return total;
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

bool PtyDriver::expect(const std::string& text, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto at = output_.find(text, mark_);
    if (at != std::string::npos) {
      mark_ = at + text.size();
      return true;
    }
    if (eof_ || Clock::now() >= deadline) break;
    pump(std::min(left_until(deadline), milliseconds(50)));
  }
  ADD_FAILURE() << "expected output " << testing::PrintToString(text)
                << (eof_ ? " but the terminal closed" : " within the timeout") << "\n"
                << dump();
  return false;
}

bool PtyDriver::expect_screen(const std::string& text, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (screen().contains(text)) return true;
    if (eof_ || Clock::now() >= deadline) break;
    pump(std::min(left_until(deadline), milliseconds(50)));
  }
  ADD_FAILURE() << "expected on screen " << testing::PrintToString(text)
                << (eof_ ? " but the terminal closed" : " within the timeout") << "\n"
                << dump();
  return false;
}

void PtyDriver::settle(milliseconds quiet) {
  // A spinner never falls quiet; give up waiting after a few seconds.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!eof_ && Clock::now() < deadline) {
    if (pump(quiet) == 0) return;
  }
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
  // Wait for the first byte of the answer, then for the frame to complete.
  pump(milliseconds(2000));
  settle();
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
  if (fed_ < output_.size()) {
    screen_.feed(std::string_view(output_).substr(fed_));
    fed_ = output_.size();
  }
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
  // Whatever it wrote last is still in the terminal: read until EIO. A child
  // of the program that keeps the terminal open cuts this short.
  const auto drain_deadline = Clock::now() + std::chrono::seconds(2);
  while (!eof_ && Clock::now() < drain_deadline) pump(milliseconds(50));
  return *exit_;
}

void PtyDriver::kill_with(int signal) {
  if (pid_ > 0 && !exit_) ::kill(pid_, signal);
}

void PtyDriver::resize(unsigned short cols, unsigned short rows) {
  screen();  // what was drawn at the old size stays drawn at it
  winsize ws{};
  ws.ws_col = cols;
  ws.ws_row = rows;
  if (master_ >= 0) ioctl(master_, TIOCSWINSZ, &ws);
  screen_.resize(cols, rows);
  cols_ = cols;
}

std::string PtyDriver::dump() {
  const Screen& s = screen();
  std::string out = "--- output (" + std::to_string(output_.size()) + " bytes";
  std::string_view shown = output_;
  if (shown.size() > 6000) {
    out += ", last 6000";
    shown = shown.substr(shown.size() - 6000);
  }
  out += ") ---\n" + visible(shown) + "\n--- screen ";
  out += std::to_string(s.cols()) + "x" + std::to_string(s.rows()) + ", cursor " +
         std::to_string(s.cursor_row()) + "," + std::to_string(s.cursor_col()) +
         (s.cursor_visible() ? "" : " hidden") + " ---\n";
  const std::string text = s.text();
  std::size_t row = 0, start = 0;
  for (;;) {
    const auto end = text.find('\n', start);
    std::string num = std::to_string(row++);
    out += std::string(num.size() < 2 ? 2 - num.size() : 0, ' ') + num + "|" +
           text.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}
