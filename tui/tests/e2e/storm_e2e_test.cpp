// Hostile typing into the real wizard: fixed-seed storms of keys, broken
// bytes and window-size changes into each prompt of a setup run, and host
// names holding tabs redrawn on a narrow terminal.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/pattern.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

/// The prompts of a setup run in order, each with the keys that answer it.
struct Stop {
  const char* prompt;
  std::string answer;  // sent before Enter
  bool list;
};
const std::vector<Stop> kStops = {
    {"Select a global command to continue:", "", true},
    {"Select target Arch workstation from SSH Config:", "", true},
    {"Cached repositories detected locally:", "", true},
    {"Target username to create/setup on Arch:", "maria", false},
    {"Target user password:", "", false},
    {"Remote administrator sudo password (to become root):", "pw", false},
    {"Choose execution mode:", PtyDriver::kDown, true},  // standalone phases: the run files exist
    {"Select a standalone playbook phase to execute:", "", true},
};

constexpr std::size_t kPasteBytes = 1 << 20;

/// Peak resident memory of `pid` in kB, from /proc.
long peak_kb(pid_t pid) {
  const auto kb = first_group(read_file("/proc/" + std::to_string(pid) + "/status"), "VmHWM:\\s+(\\d+)");
  return kb ? std::stol(*kb) : -1;
}

/// Waits until the wizard has read every byte sent to it (the terminal's
/// input queue is empty) and its output has settled.
bool wait_consumed(PtyDriver& tty, std::chrono::seconds timeout) {
  // The terminal itself, not the wizard's /proc entry: once a password is
  // typed, only root may look into the wizard's process.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (tty.queued_input() == 0) {
      tty.settle(100ms);
      if (tty.queued_input() == 0) return true;
    }
    tty.settle(20ms);
  }
  return false;
}

void resize(const PtyDriver& tty, unsigned short rows, unsigned short cols) {
  winsize ws{};
  ws.ws_row = rows;
  ws.ws_col = cols;
  ASSERT_EQ(ioctl(tty.master(), TIOCSWINSZ, &ws), 0);
}

/// A random stream of what a terminal can deliver to a prompt, short of the
/// keys that end it: no Enter, no lone Escape, and none of the bytes the
/// terminal turns into signals or flow control (Ctrl-C, Ctrl-Z, Ctrl-\,
/// Ctrl-Q, Ctrl-S).
class Storm {
 public:
  explicit Storm(unsigned seed) : rng_(seed) {}

  /// The next piece: bytes that go out in one write, or a window size.
  struct Piece {
    std::string bytes;
    bool split = false;  // bytes[0..2) go first, the rest after a pause
    int rows = -1, cols = -1;
  };
  Piece next(std::size_t text_budget) {
    Piece p;
    switch (pick(12)) {
      case 0: case 1: case 2:
        for (int n = 1 + pick(6); n > 0; --n) p.bytes += static_cast<char>(' ' + pick(95));
        break;
      case 3: {
        static const char* const kChars[] = {"é", "日本", "😀", "e\u0301", "\u200b", "\uFEFF", "\t", "ß", "\uFFFD"};
        p.bytes = kChars[pick(std::size(kChars))];
        break;
      }
      case 4: {  // invalid UTF-8: stray continuation bytes, cut or overlong sequences
        static const char* const kBad[] = {"\x80", "\xbf\xbf", "\xe6\x97", "\xf0\x9f\x98", "\xc0\xaf", "\xff", "\xed\xa0\x80", "\xf4\x90\x80\x80"};
        p.bytes = kBad[pick(std::size(kBad))];
        if (pick(2)) p.bytes += 'a';
        break;
      }
      case 5: {
        static const char kControls[] = {0x00, 0x01, 0x02, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0b, 0x0c,
                                         0x0e, 0x0f, 0x10, 0x12, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1d,
                                         0x1e, 0x1f, 0x7f};
        p.bytes.assign(1, kControls[pick(sizeof kControls)]);
        break;
      }
      case 6: case 7: {
        static const char* const kKeys[] = {
            "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D", "\x1b[H", "\x1b[F", "\x1b[1~", "\x1b[4~", "\x1b[3~",
            "\x1b[2~", "\x1b[5~", "\x1b[6~", "\x1b[Z", "\x1b" "b", "\x1b" "f", "\x1b\x7f", "\x1b[1;5C",
            "\x1b[1;5D", "\x1b[1;2A", "\x1bOA", "\x1bOH"};
        p.bytes = kKeys[pick(std::size(kKeys))];
        break;
      }
      case 8: {  // broken: an escape followed by what no key has
        static const char* const kBroken[] = {"\x1b[", "\x1b[9", "\x1b[1;", "\x1b[1;9", "\x1b\x1b", "\x1b[3", "\x1bO"};
        p.bytes = kBroken[pick(std::size(kBroken))];
        p.bytes += static_cast<char>(' ' + pick(95));
        p.bytes += static_cast<char>(' ' + pick(95));
        break;
      }
      case 9: {  // a key split across two writes, never right after ESC
        static const char* const kSplit[] = {"\x1b[A", "\x1b[3~", "\x1b[1;5C", "\x1b[2~", "\x1b[Z"};
        p.bytes = kSplit[pick(std::size(kSplit))];
        p.split = true;
        break;
      }
      case 10: {
        static const int kSizes[][2] = {{1, 1}, {0, 0}, {2, 10}, {24, 80}, {5, 3}, {50, 200}, {40, 20}};
        const auto& s = kSizes[pick(std::size(kSizes))];
        p.rows = s[0];
        p.cols = s[1];
        break;
      }
      case 11:  // a paste, as long as the text prompts can redraw it quickly
        for (std::size_t n = std::min<std::size_t>(text_budget, 20 + pick(200)); n > 0; --n)
          p.bytes += static_cast<char>(' ' + pick(95));
        break;
    }
    return p;
  }

  /// `size` bytes of pasted text for a list: letters, digits and UTF-8, but
  /// not the letters that move its cursor (so the paste redraws nothing).
  std::string list_paste(std::size_t size) {
    static const std::string kText = "abcdefgimnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-_=+/";
    std::string out;
    out.reserve(size + 4);
    while (out.size() < size) out += pick(50) == 0 ? std::string("ü") : std::string(1, kText[pick(kText.size())]);
    return out;
  }

 private:
  int pick(std::size_t n) { return static_cast<int>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_)); }
  std::mt19937 rng_;
};

class Storms : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard = box.project(root, {"bootstrap.yml", "playbooks/00-preflight.yml"});
    box.dir.write_file(box.home / ".ssh/config", "Host arch\n  HostName 10.9.8.7\n  User installer\n");
    box.cache_clones();
    box.link_real("git");
    box.stub("ansible-playbook", "exit 0\n");
    // What AddressSanitizer keeps of freed memory to catch late uses would
    // hide the wizard's own use: a small quarantine.
    box.set_env("ASAN_OPTIONS", "quarantine_size_mb=4");
  }

  Sandbox box;
  fs::path root = box.work / "project";
  fs::path wizard;
};

// Each prompt in turn takes a storm, then Escape; at every ending the wizard
// has ended by the cancel report within a second, within bounded memory,
// leaving the terminal's attributes as they were, the cursor shown and no
// run file behind.
TEST_F(Storms, EveryPromptOfASetupRunSurvivesAKeyStormAndEndsOnEscape) {
  for (std::size_t stop = 0; stop < kStops.size(); ++stop) {
    SCOPED_TRACE(kStops[stop].prompt);
    PtyDriver tty({wizard.string()}, box.env(), PtyOptions{.cols = 100, .rows = 40});
    const termios before = PtyDriver::initial_attributes();
    for (std::size_t i = 0; i < stop; ++i) {
      ASSERT_TRUE(tty.expect(kStops[i].prompt));
      tty.settle();
      tty.send(kStops[i].answer);
      tty.key(PtyDriver::kEnter);
    }
    ASSERT_TRUE(tty.expect(kStops[stop].prompt));
    tty.settle();
    const long start_kb = peak_kb(tty.pid());

    Storm storm(1000 + static_cast<unsigned>(stop));
    // A list redraws nothing for most text: the megabyte paste goes there.
    const bool list = kStops[stop].list;
    const auto storm_at = std::chrono::steady_clock::now();
    if (stop == 0) {
      // A megabyte in 4 KiB writes, as a terminal delivers a paste.
      const std::string paste = storm.list_paste(kPasteBytes);
      for (std::size_t at = 0; at < paste.size(); at += 4096) tty.send(paste.substr(at, 4096));
      ASSERT_TRUE(wait_consumed(tty, 60s)) << "the paste is still unread";
      std::cerr << "paste of " << kPasteBytes << " bytes read in " << (std::chrono::steady_clock::now() - storm_at) / 1ms << " ms\n";
    }
    std::size_t text_budget = list ? 20000 : 1500;
    for (int n = 0; n < 400; ++n) {
      const auto piece = storm.next(text_budget);
      text_budget -= std::min(text_budget, piece.bytes.size());
      if (piece.rows >= 0) {
        resize(tty, static_cast<unsigned short>(piece.rows), static_cast<unsigned short>(piece.cols));
      } else if (piece.split) {
        // The rest follows well inside the reader's wait for it, as a network delivers it.
        tty.send(piece.bytes.substr(0, 2));
        std::this_thread::sleep_for(5ms);
        tty.send(piece.bytes.substr(2));
      } else {
        tty.send(piece.bytes);
      }
    }
    // Two plain letters complete the tail of a modified arrow key that a text
    // prompt may still wait for; then the storm has passed.
    tty.send("zz");
    ASSERT_TRUE(wait_consumed(tty, 30s)) << "the storm is still unread";
    const long peak = peak_kb(tty.pid());
    std::cerr << kStops[stop].prompt << " storm in " << (std::chrono::steady_clock::now() - storm_at) / 1ms
              << " ms, peak memory " << start_kb << " -> " << peak << " kB\n";
    ASSERT_GT(peak, 0) << "the wizard ended during the storm\n" << tty.take_new();

    tty.send(PtyDriver::kEsc);
    EXPECT_TRUE(tty.expect("operation interrupted", 1s)) << "Escape not answered within a second";
    const PtyExit end = tty.wait();
    EXPECT_TRUE(end.exited && end.code == 1) << "signal " << end.signal;
    const std::string& out = tty.output();
    EXPECT_EQ(out.find("runtime error"), std::string::npos) << "a sanitizer report";
    EXPECT_EQ(out.find("AddressSanitizer"), std::string::npos);
    EXPECT_LT(peak - start_kb, 64 * 1024) << "peak " << peak << " kB, " << start_kb << " kB before the storm";
    const auto shown = out.rfind("\x1b[?25h"), hidden = out.rfind("\x1b[?25l");
    EXPECT_TRUE(hidden == std::string::npos || (shown != std::string::npos && shown > hidden)) << "cursor hidden";
    termios after{};
    ASSERT_EQ(tcgetattr(tty.master(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
    EXPECT_TRUE(box.run_files().empty());
  }
}

// A host name holding tabs, on a terminal where the tabs decide whether its
// row folds: every key redraws the list in place, leaving one prompt header.
// A password manager types a password faster than the prompt reads it: on a
// terminal that echoes, no key may ever reach the screen in clear.
TEST_F(Storms, APasswordTypedFasterThanItIsReadIsNeverEchoed) {
  PtyDriver tty({wizard.string()}, box.env(), PtyOptions{.echo = true});
  for (std::size_t i = 0; kStops[i].prompt != std::string("Remote administrator sudo password (to become root):"); ++i) {
    ASSERT_TRUE(tty.expect(kStops[i].prompt));
    tty.settle();
    for (const char c : std::string(kStops[i].answer)) tty.key(std::string(1, c));
    tty.key(PtyDriver::kEnter);
  }
  ASSERT_TRUE(tty.expect("Remote administrator sudo password (to become root):"));
  tty.settle();
  for (int i = 0; i < 300; ++i) tty.send("%");
  tty.settle();
  EXPECT_FALSE(tty.screen().contains("%")) << tty.dump();
  const std::string text = tty.screen().text();
  std::size_t masks = 0;
  for (auto at = text.find("▪"); at != std::string::npos; at = text.find("▪", at + 1)) ++masks;
  EXPECT_EQ(masks, 300u) << "every key is in the field, masked\n" << tty.dump();
}

TEST_F(Storms, TabsInHostNamesRedrawInPlace) {
  const std::string header = "◆  Select target Arch";  // the active header's first row
  box.dir.write_file(box.home / ".ssh/config",
                     "Host a\t\t\tserver-in-the-second-rack\n  HostName 10.0.0.1\n"
                     "Host b\t\tc\n  HostName 10.0.0.2\n");
  PtyDriver tty({wizard.string()}, box.env(), PtyOptions{.cols = 40, .rows = 60});
  ASSERT_TRUE(tty.answer("Select a global command to continue:"));
  ASSERT_TRUE(tty.expect("Select target Arch workstation from SSH Config:"));  // folded at 40 columns
  tty.settle();
  for (int i = 0; i < 12; ++i) tty.key(i % 2 == 0 ? PtyDriver::kDown : PtyDriver::kUp);
  const std::string screen = tty.screen().text();
  std::size_t headers = 0;
  for (auto at = screen.find(header); at != std::string::npos; at = screen.find(header, at + 1)) ++headers;
  EXPECT_EQ(headers, 1u) << tty.dump();
  EXPECT_NE(screen.find("server-in-the-se"), std::string::npos) << screen;
  tty.key(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
}

}  // namespace
