// The spinner's exact bytes; its look on a real
// terminal is checked end to end.
#include "prompt/spinner.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/eventually.hpp"

using namespace std::chrono_literals;

namespace {

#define ESC "\x1b"
#define GREY(x) ESC "[38;5;8m" x ESC "[0m"

/// A temporary file standing in for standard error.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  int fd() const { return fileno(file_); }
  SpinnerTarget target(std::size_t columns) const { return {fd(), true, columns}; }
  std::string bytes() const {
    std::string out(1 << 16, '\0');
    const ssize_t n = ::pread(fd(), out.data(), out.size(), 0);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }

 private:
  std::FILE* file_;
};

std::string pad(std::size_t n) { return std::string(n, ' '); }

/// Longer than one tick: a ticker still running would have drawn by then.
constexpr auto kMoreThanATick = 130ms;

/// The frame characters found in `bytes`, in drawing order.
std::vector<std::string> frames_in(std::string_view bytes, std::vector<std::string> glyphs) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    for (const auto& g : glyphs)
      if (bytes.substr(i, g.size()) == g) found.push_back(g);
  return found;
}

TEST(SpinnerHidden, DecidedFromTheEnvironmentAndWritesNothingAtAll) {
  const auto env = [](std::optional<std::string> no_color, std::optional<std::string> term) {
    EnvSnapshot e;
    e.no_color = std::move(no_color);
    e.term = std::move(term);
    e.clicolor_force = "1";  // forcing colours does not make a spinner visible
    return e;
  };
  EXPECT_FALSE(spinner_hidden(env(std::nullopt, "xterm"), true));
  EXPECT_TRUE(spinner_hidden(env(std::nullopt, "xterm"), false));
  EXPECT_TRUE(spinner_hidden(env("", "xterm"), true));
  EXPECT_TRUE(spinner_hidden(env(std::nullopt, "dumb"), true));

  // The ordinary constructor looks at standard error, here a file.
  Capture out;
  const int saved = ::dup(2);
  ASSERT_EQ(::dup2(out.fd(), 2), 2);
  {
    ProgressBar bar = spinner();
    bar.start("Cleaning");
    std::this_thread::sleep_for(kMoreThanATick);
    bar.finish_with_state("Removed.", ThemeState::Submit);
    spinner().start("Dropped while running");
  }
  ::dup2(saved, 2);
  ::close(saved);
  EXPECT_EQ(out.bytes(), "");
}

TEST(SpinnerFrames, CycleAllButTheLastCharacterEveryHundredMilliseconds) {
  const struct {
    bool unicode, colours;
    std::vector<std::string> glyphs;  // in frame order
    std::string frame0;               // as drawn
  } cases[] = {
      {true, true, {"◒", "◐", "◓", "◑"}, ESC "[35m◒" ESC "[0m"},
      {false, false, {"•", "o", "O", "0"}, "•"},
  };
  for (const auto& c : cases) {
    DecisionOverride decisions(c.colours, c.unicode);
    Capture out;
    ProgressBar bar(out.target(20));
    const auto started = std::chrono::steady_clock::now();
    bar.start("Busy");  // no letter is also a frame character
    ASSERT_TRUE(eventually([&] { return frames_in(out.bytes(), c.glyphs).size() >= 4; }, 2s)) << out.bytes();
    bar.finish_with_state("", ThemeState::Submit);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string bytes = out.bytes();
    EXPECT_TRUE(bytes.starts_with("\r" + c.frame0 + "  Busy" + pad(13) + "\r")) << bytes;

    // Four frames take three ticks; more frames than ticks would mean a faster ticker.
    const auto frames = frames_in(bytes, c.glyphs);
    EXPECT_GE(elapsed, 300ms) << "one frame per 100 ms";
    EXPECT_LE(frames.size(), 1 + static_cast<std::size_t>(elapsed / 100ms)) << "one frame per 100 ms";
    const auto& g = c.glyphs;
    EXPECT_EQ(std::vector(frames.begin(), frames.begin() + 4),
              (std::vector<std::string>{g[0], g[1], g[2], g[0]}));
    for (const auto& f : frames) EXPECT_NE(f, g[3]) << "the last character while running";
  }
}

TEST(SpinnerMessage, RowsOfTheLiveLineAndTheirErasureByAnEmptyFinalMessage) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  const struct {
    std::size_t columns;
    std::string message, drawn;
  } cases[] = {
      {30, "Syncing\nconfigs\nwallpapers",  // continuation lines behind the grey bar and bar end
       "\r" ESC "[35m◒" ESC "[0m  Syncing" + pad(20) + "\n" GREY("│") "  configs" + pad(20) + "\n" GREY("└") "  wallpapers" +
           pad(17) + "\r" ESC "[2A"},
      {12, "Preparing dynamic configuration",  // 34 columns: three rows
       "\r" ESC "[35m◒" ESC "[0m  Preparing dynamic configuration" + pad(2) + "\r" ESC "[2A"},
  };
  for (const auto& c : cases) {
    Capture out;
    ProgressBar bar(out.target(c.columns));
    bar.start(c.message);
    EXPECT_EQ(out.bytes(), c.drawn);
    bar.finish_with_state("", ThemeState::Submit);  // erases every row and prints nothing
    bar.finish_with_state("Late", ThemeState::Submit);
    EXPECT_EQ(out.bytes(), c.drawn + "\r" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[2A");
  }
}

TEST(SpinnerFinish, FinalLineTakesThePlaceOfTheLiveLineAndASecondFinishWritesNothing) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  Capture out;
  ProgressBar bar(out.target(40));
  bar.start("Syncing");
  const std::size_t started = out.bytes().size();
  bar.finish_with_state("Repositories synced.", ThemeState::Submit);
  const std::string bytes = out.bytes();
  // The live line gives way to the final lines; the one redrawn below them is erased.
  const std::string tail = bytes.substr(started);
  EXPECT_TRUE(tail.starts_with("\r" ESC "[2K\r" ESC "[32m◇" ESC "[0m  Repositories synced.\n" GREY("│") "\n")) << tail;
  EXPECT_TRUE(tail.ends_with("\r" ESC "[2K")) << tail;

  bar.finish_with_state("Again", ThemeState::Submit);
  std::this_thread::sleep_for(kMoreThanATick);
  EXPECT_EQ(out.bytes(), bytes) << "second finish or ticker wrote";
}

TEST(SpinnerDrop, RunningSpinnerIsErasedAndStopsTicking) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/true);
  Capture out, replaced;
  ProgressBar bar(out.target(24));
  bar.start("Syncing\nto the cache");
  ASSERT_TRUE(eventually([&] { return !frames_in(out.bytes(), {"◐"}).empty(); }, 2s)) << "the ticker ran";
  bar = ProgressBar(replaced.target(24));  // the running one is dropped here
  const std::string bytes = out.bytes();
  EXPECT_TRUE(bytes.ends_with("\r" ESC "[2K" ESC "[1B" ESC "[2K" ESC "[1A")) << "both rows erased";
  EXPECT_EQ(bytes.find("◇"), std::string::npos) << "no final line";
  std::this_thread::sleep_for(kMoreThanATick);
  EXPECT_EQ(out.bytes(), bytes) << "drawn after the line was cleared";
}

}  // namespace
