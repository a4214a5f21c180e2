// The terminal handle on a real pseudo-terminal: the test plays the person at
// the keyboard on the master side, the handle works on the slave side.
#include "prompt/term.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using K = Key::Kind;

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) std::abort();
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) std::abort();
  }
  ~Pty() {
    close_master();
    ::close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }
  void close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void type(std::string_view bytes) const { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

  // Everything the terminal shows until it has been quiet for a moment.
  std::string screen_bytes(std::chrono::milliseconds quiet = 150ms) const {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
      char buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

  termios attrs() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
  }

  // Waits until a reader has put the terminal into raw input mode.
  bool wait_for_raw() const {
    for (int i = 0; i < 500; ++i) {
      if ((attrs().c_lflag & ICANON) == 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  void set_size(unsigned short rows, unsigned short cols) const {
    winsize ws{};
    ws.ws_row = rows;
    ws.ws_col = cols;
    ::ioctl(master_, TIOCSWINSZ, &ws);
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

bool same_attrs(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Types `bytes` once the handle waits in raw mode and returns the key read.
Result<Key> press(const Pty& pty, const Term& term, std::string_view bytes) {
  auto pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  EXPECT_TRUE(pty.wait_for_raw());
  pty.type(bytes);
  if (pending.wait_for(5s) != std::future_status::ready) {
    ADD_FAILURE() << "no key decoded from " << readable(bytes);
    pty.type("\r");  // let the reader finish so the test can end
  }
  return pending.get();
}

// Starts `body` in a child process whose controlling terminal is `pty`'s
// slave; the child exits with what `body` returns.
template <class Body>
pid_t start_child(const Pty& pty, Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(pty.slave(), TIOCSCTTY, 0);
    ::_exit(body());
  }
  return pid;
}

int lowest_free_fd() {
  const int fd = ::dup(0);
  ::close(fd);
  return fd;
}

int wait_status(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

}  // namespace

TEST(TermKeys, DecodesWhatIsTypedWithoutEchoAndRestoresTheTerminal) {
  const struct {
    std::string bytes;
    Key want;
  } cases[] = {
      {"\x1b", Key::of(K::Escape)},        {"\x1b[3~", Key::of(K::Del)},
      {"\x1b[A", Key::of(K::ArrowUp)},     {"\n", Key::of(K::Enter)},
      {"\r", Key::of(K::Enter)},           {"\x08", Key::of(K::Backspace)},
      {"\x7f", Key::of(K::Backspace)},     {"q", Key::character(U'q')},
      {"\xc3\xa9", Key::character(U'é')},  {"\xf0\x9f\x98\x80", Key::character(U'\U0001F600')},
      {"\x04", Key::character(4)},         {"\x1a", Key::character(0x1a)},
  };
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  ASSERT_TRUE(term.is_term());
  const termios before = pty.attrs();
  for (const auto& c : cases) {
    auto got = press(pty, term, c.bytes);
    ASSERT_TRUE(got.has_value()) << readable(c.bytes) << ": " << got.error().message();
    EXPECT_EQ(*got, c.want) << readable(c.bytes);
    EXPECT_TRUE(same_attrs(pty.attrs(), before)) << "attributes changed by " << readable(c.bytes);
    EXPECT_EQ(readable(pty.screen_bytes(20ms)), "") << "echo of " << readable(c.bytes);
  }
}

TEST(TermKeys, RawModeKeepsOutputProcessing) {
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  const termios before = pty.attrs();
  auto pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  ASSERT_TRUE(pty.wait_for_raw());
  const termios raw = pty.attrs();
  EXPECT_EQ(raw.c_lflag & (ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(raw.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(raw.c_oflag, before.c_oflag);
  // A frame written while a key is awaited still gets its carriage returns.
  ASSERT_TRUE(term.write_str("one\ntwo\n"));
  EXPECT_EQ(pty.screen_bytes(), "one\r\ntwo\r\n");
  pty.type("x");
  ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(pending.get().value(), Key::character(U'x'));
}

TEST(TermKeys, ReadBytesTakesTheTailOfAModifiedArrow) {
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  const termios before = pty.attrs();
  EXPECT_EQ(press(pty, term, "\x1b[1;5C").value(), Key::unknown_esc("[1;"));
  auto tail = std::async(std::launch::async, [&term] { return term.read_bytes(2); });
  ASSERT_EQ(tail.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tail.get().value(), "5C");
  EXPECT_TRUE(same_attrs(pty.attrs(), before));
  // The bytes may also arrive after the read started.
  tail = std::async(std::launch::async, [&term] { return term.read_bytes(2); });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("2");
  std::this_thread::sleep_for(30ms);
  pty.type("D");
  ASSERT_EQ(tail.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tail.get().value(), "2D");
}

TEST(TermKeys, HangUpWhileWaitingEndsTheRead) {
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  auto pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.close_master();
  ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
  auto got = pending.get();
  ASSERT_FALSE(got.has_value());
  // The read sees end of input, but the terminal is gone, so restoring its
  // attributes fails too, and that failure is what the caller gets.
  EXPECT_EQ(got.error().kind(), ErrorKind::System);
  EXPECT_EQ(got.error().message(), "Input/output error (os error 5)");
}

TEST(TermKeys, OutputNotATerminalGivesUnknownWithoutReading) {
  Pty pty;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const Term term(fds[1], pty.slave());
  EXPECT_FALSE(term.is_term());
  pty.type("z");
  EXPECT_EQ(term.read_key().value(), Key::of(K::Unknown));
  EXPECT_EQ(term.read_bytes(2).value(), "");
  EXPECT_FALSE(term.size().has_value());
  // The typed key is still there for a reader on the terminal.
  const Term reader(pty.slave(), pty.slave());
  auto later = std::async(std::launch::async, [&reader] { return reader.read_key(); });
  ASSERT_EQ(later.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(later.get().value(), Key::character(U'z'));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(TermKeys, InputNotATerminalReadsFromTheControllingTerminal) {
  Pty pty;
  const termios before = pty.attrs();
  const pid_t pid = start_child(pty, [&pty] {
    int fds[2];
    if (::pipe(fds) != 0) return 10;
    const Term term(pty.slave(), fds[0]);  // as with `tervane-wizard < file`
    const int lowest_free = lowest_free_fd();
    auto key = term.read_key();
    if (!key) return 11;
    if (*key != Key::of(K::Del)) return 12;
    // /dev/tty was opened for that one key only.
    return lowest_free_fd() == lowest_free ? 0 : 13;
  });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("\x1b[3~");
  const int status = wait_status(pid);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(same_attrs(pty.attrs(), before));
}

TEST(TermKeys, CtrlCRestoresTheTerminalShowsTheCursorAndRaisesSigint) {
  Pty pty;
  const termios before = pty.attrs();
  const pid_t pid = start_child(pty, [&pty] {
    const Term term(pty.slave(), pty.slave());
    (void)term.hide_cursor();
    (void)term.read_key();
    return 0;  // not reached: SIGINT has no handler here
  });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("\x03");
  const int status = wait_status(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_TRUE(same_attrs(pty.attrs(), before));
  EXPECT_EQ(readable(pty.screen_bytes()), "<esc>[?25l<esc>[?25h");
}

TEST(TermKeys, CtrlCIsAnInterruptedErrorWhenTheProcessSurvives) {
  Pty pty;
  const pid_t pid = start_child(pty, [&pty] {
    std::signal(SIGINT, SIG_IGN);
    const Term term(pty.slave(), pty.slave());
    auto first = term.read_key();    // Ctrl-C alone
    auto second = term.read_key();   // Ctrl-C as the first continuation byte
    const bool ok = !first && first.error().kind() == ErrorKind::Interrupted &&
                    first.error().message() == "read interrupted" && !second &&
                    second.error().kind() == ErrorKind::Interrupted;
    return ok ? 0 : 1;
  });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("\x03");
  // The second read must have begun: a Ctrl-C typed in between would be
  // handled by the terminal's line mode instead.
  std::this_thread::sleep_for(150ms);
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("\xc3\x03");
  const int status = wait_status(pid);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TermOutput, WritesLineClearingAndCursorSequencesAsIs) {
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  ASSERT_TRUE(term.clear_last_lines(0));
  EXPECT_EQ(pty.screen_bytes(50ms), "");
  ASSERT_TRUE(term.clear_last_lines(3));
  EXPECT_EQ(readable(pty.screen_bytes()),
            "<esc>[3A"
            "<0x0d><esc>[2K<esc>[1B<0x0d><esc>[2K<esc>[1B<0x0d><esc>[2K<esc>[1B"
            "<esc>[3A");
  ASSERT_TRUE(term.clear_last_lines(12));
  const std::string twelve = pty.screen_bytes();
  EXPECT_TRUE(twelve.starts_with("\x1b[12A\r\x1b[2K\x1b[1B")) << readable(twelve);
  EXPECT_TRUE(twelve.ends_with("\r\x1b[2K\x1b[1B\x1b[12A")) << readable(twelve);
  EXPECT_EQ(twelve.size(), 2 * 5 + 12 * 9u);
  ASSERT_TRUE(term.hide_cursor());
  ASSERT_TRUE(term.write_str("│  ok\n"));
  ASSERT_TRUE(term.show_cursor());
  EXPECT_EQ(pty.screen_bytes(), "\x1b[?25l│  ok\r\n\x1b[?25h");
}

TEST(TermOutput, WriteErrorsReachTheCaller) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  const Term closed(fds[1], fds[0]);
  const auto results = {closed.write_str("x"), closed.clear_last_lines(2), closed.hide_cursor(),
                        closed.show_cursor()};
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::System);
    EXPECT_EQ(r.error().message(), "Bad file descriptor (os error 9)");
  }
  ::close(fds[0]);
}

TEST(TermOutput, SizeCountsOnlyWhenBothSidesAreNonZero) {
  Pty pty;
  const Term term(pty.slave(), pty.slave());
  const struct {
    unsigned short rows, cols;
    bool known;
  } cases[] = {{24, 80, true}, {40, 100, true}, {1, 1, true}, {24, 0, false}, {0, 80, false}, {0, 0, false}};
  for (const auto& c : cases) {
    pty.set_size(c.rows, c.cols);
    const auto size = term.size();
    ASSERT_EQ(size.has_value(), c.known) << c.rows << "x" << c.cols;
    if (size) {
      EXPECT_EQ(size->rows, c.rows);
      EXPECT_EQ(size->cols, c.cols);
    }
  }
}
