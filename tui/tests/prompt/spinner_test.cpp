// Tests of the spinner: the bytes it writes, what they leave on a screen, and
// the redraw rate limiter.
#include "prompt/spinner.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

#define ESC "\x1b"
#define MAGENTA(x) ESC "[35m" x ESC "[0m"
#define GREEN(x) ESC "[32m" x ESC "[0m"
#define GREY(x) ESC "[38;5;8m" x ESC "[0m"

/// A temporary file standing in for standard error; it never fills up.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  int fd() const { return fileno(file_); }
  SpinnerTarget target(std::size_t columns, bool visible = true) const {
    return SpinnerTarget{fd(), visible, columns};
  }
  std::string bytes() const {
    std::string out;
    char buf[4096];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd(), buf, sizeof buf, at);
      if (n <= 0) return out;
      out.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
  }

 private:
  std::FILE* file_;
};

/// Rows of a terminal `cols` wide fed with the spinner's bytes. "\n" is taken
/// as carriage return plus line feed, as a terminal's output processing does.
/// A character written in the last column leaves the cursor there until the
/// next one (the deferred wrap of real terminals). Every character is one
/// column wide, which holds for all the symbols these tests draw.
class RowModel {
 public:
  explicit RowModel(std::size_t cols) : cols_(cols) {}

  void feed(std::string_view b) {
    for (std::size_t i = 0; i < b.size();) {
      const unsigned char c = static_cast<unsigned char>(b[i]);
      if (c == 0x1b) {
        ASSERT_LT(i + 2, b.size());
        ASSERT_EQ(b[i + 1], '[');
        std::size_t end = i + 2;
        while (end < b.size() && !(b[end] >= 0x40 && b[end] <= 0x7e)) ++end;
        ASSERT_LT(end, b.size());
        const std::string param(b.substr(i + 2, end - i - 2));
        const int n = param.empty() ? 1 : std::atoi(param.c_str());
        switch (b[end]) {
          case 'A': row_ -= std::min<std::size_t>(row_, static_cast<std::size_t>(n)); break;
          case 'B': row_ += static_cast<std::size_t>(n); break;
          case 'K':
            ASSERT_EQ(param, "2");
            cells(row_).assign(cols_, " ");
            break;
          case 'm': break;
          default: FAIL() << "unexpected sequence " << b.substr(i, end - i + 1);
        }
        wrap_ = false;
        i = end + 1;
      } else if (c == '\r') {
        col_ = 0, wrap_ = false, ++i;
      } else if (c == '\n') {
        ++row_, col_ = 0, wrap_ = false, ++i;
      } else {
        const std::size_t len = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        if (wrap_) ++row_, col_ = 0, wrap_ = false;
        cells(row_)[col_] = std::string(b.substr(i, len));
        if (col_ + 1 == cols_) wrap_ = true; else ++col_;
        i += len;
      }
    }
  }

  /// The rows without trailing spaces, trailing empty rows dropped.
  std::string text() const {
    std::vector<std::string> lines;
    for (const auto& r : rows_) {
      std::string line;
      for (const auto& cell : r) line += cell;
      line.erase(line.find_last_not_of(' ') + 1);
      lines.push_back(line);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
  }
  std::size_t row() const { return row_; }
  std::size_t col() const { return col_; }

 private:
  std::vector<std::string>& cells(std::size_t r) {
    while (rows_.size() <= r) rows_.emplace_back(cols_, " ");
    return rows_[r];
  }
  std::size_t cols_;
  std::vector<std::vector<std::string>> rows_;
  std::size_t row_ = 0, col_ = 0;
  bool wrap_ = false;
};

std::string screen_after(std::size_t cols, std::string_view bytes) {
  RowModel screen(cols);
  screen.feed(bytes);
  return screen.text();
}

/// The frame characters in `bytes`, in the order they were drawn.
std::vector<std::string> frames_in(std::string_view bytes, std::string_view chars) {
  std::vector<std::string> glyphs;
  for (std::size_t i = 0; i < chars.size();) {
    const std::size_t len = static_cast<unsigned char>(chars[i]) < 0x80 ? 1 : 3;
    glyphs.emplace_back(chars.substr(i, len));
    i += len;
  }
  std::vector<std::string> found;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    for (const auto& g : glyphs)
      if (bytes.substr(i, g.size()) == g) found.push_back(g);
  return found;
}

std::string pad(std::size_t n) { return std::string(n, ' '); }

TEST(SpinnerRateLimiter, BurstOfTwentyThenOnePerFiftyMilliseconds) {
  const auto t0 = RateLimiter::Clock::time_point{} + 1h;
  RateLimiter limiter(t0);
  int allowed = 0;
  for (int i = 0; i < 25; ++i) allowed += limiter.allow(t0) ? 1 : 0;
  EXPECT_EQ(allowed, 20) << "a full bucket allows a burst of exactly 20";
  EXPECT_FALSE(limiter.allow(t0 + 49ms));
  EXPECT_TRUE(limiter.allow(t0 + 75ms)) << "one interval has passed";
  EXPECT_FALSE(limiter.allow(t0 + 76ms));
  // 25 ms were left over at 75 ms; they count towards the next token.
  EXPECT_TRUE(limiter.allow(t0 + 100ms));
  EXPECT_FALSE(limiter.allow(t0 + 100ms));
  EXPECT_FALSE(limiter.allow(t0 + 90ms)) << "a clock running backwards refuses";
  EXPECT_FALSE(limiter.allow(t0 + 149ms));
  EXPECT_TRUE(limiter.allow(t0 + 150ms));

  // A long pause refills no more than 20 tokens.
  allowed = 0;
  for (int i = 0; i < 30; ++i) allowed += limiter.allow(t0 + 60s) ? 1 : 0;
  EXPECT_EQ(allowed, 20);

  RateLimiter fresh(t0);
  EXPECT_FALSE(fresh.allow(t0 - 1ms)) << "even with tokens, time before the last draw refuses";
  EXPECT_TRUE(fresh.allow(t0));
}

TEST(SpinnerVisibility, HiddenUnlessATerminalWithColourAndAUsableTerm) {
  const auto env = [](std::optional<std::string> no_color, std::optional<std::string> term,
                      std::optional<std::string> force = std::nullopt) {
    EnvSnapshot e;
    e.no_color = std::move(no_color);
    e.term = std::move(term);
    e.clicolor_force = std::move(force);
    return e;
  };
  const struct {
    const char* what;
    EnvSnapshot env;
    bool tty;
    bool hidden;
  } cases[] = {
      {"terminal with TERM", env(std::nullopt, "xterm-256color"), true, false},
      {"not a terminal", env(std::nullopt, "xterm"), false, true},
      {"not a terminal, colours forced", env(std::nullopt, "xterm", "1"), false, true},
      {"NO_COLOR empty", env("", "xterm"), true, true},
      {"NO_COLOR=1", env("1", "xterm"), true, true},
      {"TERM unset", env(std::nullopt, std::nullopt), true, true},
      {"TERM=dumb", env(std::nullopt, "dumb"), true, true},
  };
  for (const auto& c : cases) EXPECT_EQ(spinner_hidden(c.env, c.tty), c.hidden) << c.what;
}

TEST(SpinnerHidden, WritesNothingAtAllNotEvenTheFinalLine) {
  Capture out;
  {
    ProgressBar bar(out.target(80, /*visible=*/false));
    bar.start("Working");
    std::this_thread::sleep_for(250ms);
    bar.finish_with_state("Done", ThemeState::Submit);
    ProgressBar dropped(out.target(80, false));
    dropped.start("Dropped while running");
  }
  EXPECT_EQ(out.bytes(), "");

  // The real constructor decides from standard error, here a file.
  Capture err;
  const int saved = ::dup(2);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(err.fd(), 2), 2);
  {
    ProgressBar bar = spinner();
    bar.start("Cleaning temporary cache folder...");
    std::this_thread::sleep_for(150ms);
    bar.finish_with_state("Cache removed.", ThemeState::Submit);
  }
  ::dup2(saved, 2);
  ::close(saved);
  EXPECT_EQ(err.bytes(), "");
}

TEST(SpinnerFrames, CycleAllButTheLastCharacterEveryHundredMilliseconds) {
  const struct {
    bool unicode;
    const char* chars;
    std::vector<std::string> first_four;
    const char* last;
  } cases[] = {
      {true, "◒◐◓◑", {"◒", "◐", "◓", "◒"}, "◑"},
      {false, "•oO0", {"•", "o", "O", "•"}, "0"},
  };
  for (const auto& c : cases) {
    DecisionOverride decisions(/*colours=*/false, c.unicode);
    Capture out;
    ProgressBar bar(out.target(80));
    bar.start("Busy");  // no letter that is also a frame character
    std::this_thread::sleep_for(450ms);
    bar.finish_with_state("", ThemeState::Submit);
    const std::string bytes = out.bytes();

    // The start draws at once; the ticker adds one frame per 100 ms.
    const auto frames = frames_in(bytes, c.chars);
    ASSERT_GE(frames.size(), 4u) << c.chars;
    EXPECT_LE(frames.size(), 6u) << c.chars;
    EXPECT_EQ(std::vector<std::string>(frames.begin(), frames.begin() + 4), c.first_four);
    for (const auto& f : frames) EXPECT_NE(f, c.last) << "shown while running";

    // Every draw is the whole line padded to the width, cursor back at its start.
    const std::string first = std::string("\r") + c.first_four[0] + "  Busy" + pad(73) + "\r";
    EXPECT_TRUE(bytes.starts_with(first)) << bytes;
    const std::string second = std::string("\r") + c.first_four[1] + "  Busy" + pad(73) + "\r";
    EXPECT_EQ(bytes.substr(first.size(), second.size()), second);
  }
}

TEST(SpinnerFrames, FrameIsMagentaOnlyWhenColoursAreOn) {
  for (const bool colours : {true, false}) {
    DecisionOverride decisions(colours, /*unicode=*/true);
    Capture out;
    ProgressBar bar(out.target(20));
    bar.start("Busy");
    bar.finish_with_state("", ThemeState::Submit);
    const std::string frame = colours ? MAGENTA("◒") : "◒";
    EXPECT_EQ(out.bytes(), "\r" + frame + "  Busy" + pad(13) + "\r" + "\r" ESC "[2K") << colours;
  }
}

TEST(SpinnerMessage, ContinuationLinesSitBehindGreyBarAndBarEnd) {
  const struct {
    bool unicode;
    const char* frame;
    const char* bar;
    const char* end;
  } cases[] = {{true, "◒", "│", "└"}, {false, "•", "|", "—"}};
  for (const auto& c : cases) {
    DecisionOverride decisions(/*colours=*/true, c.unicode);
    Capture out;
    ProgressBar bar(out.target(30));
    bar.start("Syncing\nconfigs\nwallpapers");
    const std::string drawn = out.bytes();
    const std::string want = std::string("\r") + ESC "[35m" + c.frame + ESC "[0m" + "  Syncing" +
                             pad(20) + "\n" + ESC "[38;5;8m" + c.bar + ESC "[0m" + "  configs" +
                             pad(20) + "\n" + ESC "[38;5;8m" + c.end + ESC "[0m" +
                             "  wallpapers" + pad(17) + "\r" ESC "[2A";
    EXPECT_EQ(drawn, want);
    EXPECT_EQ(screen_after(30, drawn),
              std::string(c.frame) + "  Syncing\n" + c.bar + "  configs\n" + c.end + "  wallpapers");

    // The ticker's redraw lands on the same three rows.
    std::this_thread::sleep_for(150ms);
    RowModel screen(30);
    screen.feed(out.bytes());
    EXPECT_EQ(screen.text(), std::string(c.unicode ? "◐" : "o") + "  Syncing\n" + c.bar +
                                 "  configs\n" + c.end + "  wallpapers");
    EXPECT_EQ(screen.row(), 0u);
  }
}

TEST(SpinnerFinish, FinalLineReplacesTheSpinnerInEveryState) {
  const struct {
    ThemeState state;
    bool unicode;
    std::string line;
    std::string screen;
  } cases[] = {
      {ThemeState::Submit, true, GREEN("◇") "  Repositories synced.\n" GREY("│") "\n",
       "◇  Repositories synced.\n│"},
      {ThemeState::Submit, false, GREEN("o") "  Repositories synced.\n" GREY("|") "\n",
       "o  Repositories synced.\n|"},
      {ThemeState::Cancel, true, ESC "[31m■" ESC "[0m  Repositories synced.\n" GREY("│") "\n",
       "■  Repositories synced.\n│"},
  };
  for (const auto& c : cases) {
    DecisionOverride decisions(/*colours=*/true, c.unicode);
    Capture out;
    ProgressBar bar(out.target(40));
    bar.start("Syncing repositories");
    bar.finish_with_state("Repositories synced.", c.state);
    const std::string bytes = out.bytes();
    // Erase the live line, write the final lines, then the live line below
    // them is drawn once more and erased for good.
    EXPECT_NE(bytes.find("\r" ESC "[2K\r" + c.line), std::string::npos) << bytes;
    EXPECT_TRUE(bytes.ends_with("\r" ESC "[2K")) << bytes;

    RowModel screen(40);
    screen.feed(bytes);
    EXPECT_EQ(screen.text(), c.screen);
    EXPECT_EQ(screen.row(), 2u) << "the next prompt starts below the grey bar";
    EXPECT_EQ(screen.col(), 0u);

    bar.finish_with_state("Again", c.state);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(out.bytes(), bytes) << "a second finish and the stopped ticker write nothing";
  }
}

TEST(SpinnerFinish, EmptyMessageClearsTheLineAndPrintsNothing) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/true);
  Capture out;
  ProgressBar bar(out.target(12));
  bar.start("Preparing dynamic configuration");  // three rows at 12 columns
  std::this_thread::sleep_for(120ms);
  bar.finish_with_state("", ThemeState::Submit);
  const std::string bytes = out.bytes();
  EXPECT_TRUE(bytes.starts_with("\r◒  Preparing dynamic configuration" + pad(2) + "\r" ESC "[2A"))
      << bytes;
  EXPECT_TRUE(bytes.ends_with("\r" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[2A"));

  RowModel screen(12);
  screen.feed("before\n");
  screen.feed(bytes);
  EXPECT_EQ(screen.text(), "before");
  EXPECT_EQ(screen.row(), 1u);
  EXPECT_EQ(screen.col(), 0u);

  bar.finish_with_state("", ThemeState::Submit);
  bar.finish_with_state("Late", ThemeState::Submit);
  EXPECT_EQ(out.bytes(), bytes);
}

TEST(SpinnerFinish, WrappedFrameIsErasedBeforeTheFinalLine) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/true);
  Capture out;
  ProgressBar bar(out.target(10));
  bar.start("Cleaning temporary cache");  // 27 columns: three rows
  bar.finish_with_state("Done", ThemeState::Submit);
  EXPECT_EQ(screen_after(10, out.bytes()), "◇  Done\n│");
}

TEST(SpinnerDrop, RunningSpinnerLeavesNothingAndStopsTicking) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  Capture out;
  {
    ProgressBar bar(out.target(24));
    bar.start("Syncing repositories\nto the cache");
    std::this_thread::sleep_for(250ms);
  }
  const std::string bytes = out.bytes();
  EXPECT_GE(frames_in(bytes, "◒◐◓◑").size(), 2u) << "the ticker ran";
  EXPECT_TRUE(bytes.ends_with("\r" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[1A")) << bytes;

  RowModel screen(24);
  screen.feed("above\n");
  screen.feed(bytes);
  EXPECT_EQ(screen.text(), "above") << "no final line either";
  EXPECT_EQ(screen.row(), 1u);
  EXPECT_EQ(screen.col(), 0u);

  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(out.bytes(), bytes) << "nothing drawn after the line was cleared";

  // Replacing a running spinner by assignment drops the old one the same way.
  Capture first, second;
  ProgressBar bar(first.target(24));
  bar.start("First");
  bar = ProgressBar(second.target(24));
  EXPECT_EQ(screen_after(24, first.bytes()), "");
  bar.start("Second");
  bar.finish_with_state("Second done", ThemeState::Submit);
  EXPECT_EQ(screen_after(24, second.bytes()), "◇  Second done\n│");
}

/// A pseudo-terminal pair whose slave side the spinner writes to.
class Pty {
 public:
  Pty(unsigned short cols) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = cols;
    ::ioctl(slave_, TIOCSWINSZ, &ws);
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  ~Pty() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  int slave() const { return slave_; }
  std::string read_all() {
    std::string out;
    char buf[4096];
    for (int idle = 0; idle < 5;) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n)), idle = 0;
      } else {
        ++idle;
        std::this_thread::sleep_for(10ms);
      }
    }
    return out;
  }

 private:
  int master_ = -1, slave_ = -1;
};

TEST(SpinnerTerminal, WidthComesFromTheTerminalOrIsEighty) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/false);
  const struct {
    unsigned short cols;
    std::size_t padded_to;
  } cases[] = {{30, 30}, {0, 80}};
  for (const auto& c : cases) {
    Pty pty(c.cols);
    ASSERT_GE(pty.slave(), 0);
    ProgressBar bar(SpinnerTarget{pty.slave(), true, std::nullopt});
    bar.start("Go");
    bar.finish_with_state("Went", ThemeState::Submit);
    const std::string bytes = pty.read_all();
    EXPECT_TRUE(bytes.starts_with("\r•  Go" + pad(c.padded_to - 5) + "\r")) << bytes;
    // The terminal turns each line feed into carriage return and line feed.
    EXPECT_NE(bytes.find("\ro  Went\r\n|\r\n"), std::string::npos) << bytes;
  }
}

}  // namespace
