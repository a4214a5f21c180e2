// The terminal handle on a real pseudo-terminal: the test types on the master
// side, the handle works on the slave side, which starts in the normal
// (cooked, echoing) mode a shell leaves it in.
#include "prompt/term.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "support/eventually.hpp"
#include "support/pty_pair.hpp"
#include "support/readable.hpp"

namespace {

using namespace std::chrono_literals;
using K = Key::Kind;

bool same_attrs(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

// Types `bytes` once the handle waits in raw mode and returns the key read.
Result<Key> press(const PtyPair& pty, const Term& term, std::string_view bytes) {
  auto pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  EXPECT_TRUE(pty.wait_for_raw());
  pty.type(bytes);
  if (pending.wait_for(5s) != std::future_status::ready) {
    ADD_FAILURE() << "no key decoded from " << readable(bytes);
    pty.type("\r");  // let the reader finish so the test can end
  }
  return pending.get();
}

int lowest_free_fd() {
  const int fd = ::dup(0);
  ::close(fd);
  return fd;
}

}  // namespace

TEST(TermKeys, DecodesWhatIsTypedWithoutEchoUntilEndOfInput) {
  const struct {
    std::string bytes;
    Key want;
  } cases[] = {
      {"\x1b", Key::of(K::Escape)},        {"\x1b[3~", Key::of(K::Del)},
      {"\n", Key::of(K::Enter)},           {"\r", Key::of(K::Enter)},
      {"\x08", Key::of(K::Backspace)},     {"\x7f", Key::of(K::Backspace)},
      {"\xc3\xa9", Key::character(U'é')},  {"\xf0\x9f\x98\x80", Key::character(U'\U0001F600')},
      {"\x04", Key::character(4)},         {"\x1a", Key::character(0x1a)},  // not EOF, not suspend
  };
  PtyPair pty;
  const Term term(pty.slave(), pty.slave());
  const termios before = pty.attrs();
  for (const auto& c : cases) {
    auto got = press(pty, term, c.bytes);
    ASSERT_TRUE(got.has_value()) << readable(c.bytes) << ": " << got.error().message();
    EXPECT_EQ(*got, c.want) << readable(c.bytes);
    EXPECT_TRUE(same_attrs(pty.attrs(), before)) << "attributes changed by " << readable(c.bytes);
    EXPECT_EQ(readable(pty.echo()), "") << "echo of " << readable(c.bytes);
  }

  // A frame written while a key is awaited still gets its carriage returns.
  auto pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  ASSERT_TRUE(pty.wait_for_raw());
  ASSERT_TRUE(term.write_str("one\ntwo\n"));
  EXPECT_EQ(pty.shown_until("two\r\n"), "one\r\ntwo\r\n");
  pty.type("x");
  ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(pending.get().value(), Key::character(U'x'));

  // The tail of a modified arrow key (ESC [ 1 ; 5 C), once the decoder
  // stopped after "[1;", may arrive byte by byte.
  auto tail = std::async(std::launch::async, [&term] { return term.read_bytes(2); });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("5");
  std::this_thread::sleep_for(30ms);
  pty.type("C");
  ASSERT_EQ(tail.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tail.get().value(), "5C");
  EXPECT_TRUE(same_attrs(pty.attrs(), before));

  // End of input: the read fails, and so does restoring the attributes of
  // the terminal that is gone; that failure is what the caller gets.
  pending = std::async(std::launch::async, [&term] { return term.read_key(); });
  ASSERT_TRUE(pty.wait_for_raw());
  pty.hang_up();
  ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
  auto got = pending.get();
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind(), ErrorKind::System);
  EXPECT_EQ(got.error().message(), "Input/output error (os error 5)");
}

// As with `tervane-wizard < file`: keys come from the controlling terminal,
// opened for one key only.
TEST(TermKeys, InputNotATerminalReadsFromTheControllingTerminal) {
  PtyPair pty;
  const termios before = pty.attrs();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(pty.slave(), TIOCSCTTY, 0);
    int fds[2];
    if (::pipe(fds) != 0) ::_exit(10);
    const Term term(pty.slave(), fds[0]);
    const int lowest_free = lowest_free_fd();
    auto key = term.read_key();
    if (!key || *key != Key::of(K::Del)) ::_exit(11);
    ::_exit(lowest_free_fd() == lowest_free ? 0 : 12);
  }
  ASSERT_TRUE(pty.wait_for_raw());
  pty.type("\x1b[3~");
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(same_attrs(pty.attrs(), before));
}

// A prompt holds raw mode from its first key read until it ends, so keys
// typed while it is busy between two reads are never echoed (a password
// typed fast by a password manager stays off the screen).
TEST(TermKeys, HeldInputEchoesNothingBetweenReadsAndIsRestoredAtRelease) {
  PtyPair pty;
  const Term term(pty.slave(), pty.slave());
  const termios before = pty.attrs();
  term.hold_input();
  auto first = press(pty, term, "p");
  ASSERT_TRUE(first.has_value());
  pty.type("assw0rd");  // no read is waiting now
  pollfd taken_in{pty.slave(), POLLIN, 0};
  ASSERT_EQ(::poll(&taken_in, 1, 5000), 1);
  EXPECT_EQ(readable(pty.echo()), "");
  std::string typed;
  for (int i = 0; i < 7; ++i) {
    auto key = term.read_key();
    ASSERT_TRUE(key.has_value());
    typed += static_cast<char>(key->ch);
  }
  EXPECT_EQ(typed, "assw0rd");
  ASSERT_TRUE(term.release_input());
  EXPECT_TRUE(same_attrs(pty.attrs(), before));
}

// Keys that arrive together are read together but decoded one at a time: the
// rest waits for the next read, made through whichever handle the next prompt
// uses, and a character split between two reads still comes whole. Keys left
// over from a terminal that has gone are not keys of the next one.
TEST(TermKeys, KeysReadTogetherReachTheNextPromptAndNoOtherTerminal) {
  {
    PtyPair pty;
    const Term first(pty.slave(), pty.slave());
    first.hold_input();
    auto key = press(pty, first, "ab\x1b[A");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(*key, Key::character(U'a'));
    ASSERT_TRUE(first.release_input());

    const Term next(pty.slave(), pty.slave());
    next.hold_input();
    EXPECT_EQ(next.read_key().value(), Key::character(U'b'));
    EXPECT_EQ(next.read_key().value(), Key::of(K::ArrowUp));

    // A read takes at most 4,095 bytes from the terminal, here the first two
    // of the four of the emoji.
    const std::string paste = std::string(4093, 'x') + "\xf0\x9f\x98\x80";
    pty.type(paste);
    int queued = 0;
    eventually([&] { return ::ioctl(pty.slave(), FIONREAD, &queued) == 0 && queued >= 4095; }, 5s, 1ms);
    ASSERT_EQ(queued, 4095);
    std::u32string got;
    for (int i = 0; i < 4094; ++i) {
      auto k = next.read_key();
      ASSERT_TRUE(k.has_value());
      got += k->ch;
    }
    EXPECT_EQ(std::count(got.begin(), got.end(), U'x'), 4093);
    EXPECT_EQ(static_cast<std::uint32_t>(got.back()), 0x1F600u);

    pty.type("zz");  // one is read, one is left behind with the terminal
    EXPECT_EQ(next.read_key().value(), Key::character(U'z'));
    ASSERT_TRUE(next.release_input());
  }
  PtyPair other;
  const Term term(other.slave(), other.slave());
  auto key = press(other, term, "q");
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(*key, Key::character(U'q'));
}
