// The spinner's exact bytes in a live area of a known width; its look on a
// real terminal is checked end to end.
#include "prompt/spinner.hpp"

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/capture.hpp"
#include "support/scripted_term.hpp"
#include "support/escapes.hpp"
#include "support/eventually.hpp"

using namespace std::chrono_literals;

namespace {

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
  Redirect err(STDERR_FILENO);
  {
    ProgressBar bar = spinner();
    bar.start("Cleaning");
    std::this_thread::sleep_for(kMoreThanATick);
    bar.finish_with_state("Removed.", ThemeState::Submit);
    spinner().start("Dropped while running");
  }
  EXPECT_EQ(err.restore(), "");
}

TEST(SpinnerFrames, CycleAllButTheLastCharacterEveryHundredMilliseconds) {
  const struct {
    bool unicode, colours;
    std::vector<std::string> glyphs;  // in frame order
    std::string frame0;               // as drawn
  } cases[] = {
      {true, true, {"◒", "◐", "◓", "◑"}, MAGENTA "◒" RST},
      {false, false, {"•", "o", "O", "0"}, "•"},
  };
  for (const auto& c : cases) {
    DecisionOverride decisions(c.colours, c.unicode);
    ScriptedTerm out({}, 20);
    ProgressBar bar(out);
    const auto started = std::chrono::steady_clock::now();
    bar.start("Busy");  // no letter is also a frame character
    ASSERT_TRUE(eventually([&] { return frames_in(out.output(), c.glyphs).size() >= 4; }, 2s)) << out.output();
    bar.finish_with_state("", ThemeState::Submit);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string bytes = out.output();
    EXPECT_TRUE(bytes.starts_with(c.frame0 + "  Busy\n" ERASE1)) << bytes;

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

// A multi-line message, and a line that the terminal folds into three rows:
// an empty final message erases every row and prints nothing; a final
// message takes the line's place; a second finish writes nothing.
TEST(SpinnerFinish, TheLiveLineGivesWayToTheFinalLineOrToNothing) {
  DecisionOverride decisions(/*colours=*/true, /*unicode=*/true);
  const struct {
    unsigned short columns;
    std::string message, drawn, final_message, finished;
  } cases[] = {
      {30, "Syncing\nconfigs\nwallpapers",
       MAGENTA "◒" RST "  Syncing\n" GREY "│" RST "  configs\n" GREY "└" RST "  wallpapers\n", "", ERASE3},
      {12, "Preparing dynamic configuration", MAGENTA "◒" RST "  Preparing dynamic configuration\n", "", ERASE3},
      {40, "Syncing", MAGENTA "◒" RST "  Syncing\n", "Repositories synced.",
       ERASE1 GREEN "◇" RST "  Repositories synced.\n" GREY "│" RST "\n" MAGENTA "◒" RST "  Syncing\n" ERASE1},
  };
  for (const auto& c : cases) {
    ScriptedTerm out({}, c.columns);
    ProgressBar bar(out);
    bar.start(c.message);
    EXPECT_EQ(out.output(), c.drawn);
    bar.finish_with_state(c.final_message, ThemeState::Submit);
    EXPECT_EQ(out.output().substr(c.drawn.size()), c.finished) << c.message;
    bar.finish_with_state("Late", ThemeState::Submit);
    std::this_thread::sleep_for(kMoreThanATick);
    EXPECT_EQ(out.output(), c.drawn + c.finished) << "second finish or ticker wrote";
  }
}

TEST(SpinnerDrop, RunningSpinnerIsErasedAndStopsTicking) {
  DecisionOverride decisions(/*colours=*/false, /*unicode=*/true);
  ScriptedTerm out({}, 24), replaced({}, 24);
  ProgressBar bar(out);
  bar.start("Syncing\nto the cache");
  ASSERT_TRUE(eventually([&] { return !frames_in(out.output(), {"◐"}).empty(); }, 2s)) << "the ticker ran";
  bar = ProgressBar(replaced);  // the running one is dropped here
  const std::string bytes = out.output();
  EXPECT_TRUE(bytes.ends_with("└  to the cache\n" ERASE2)) << "both rows erased";
  EXPECT_EQ(bytes.find("◇"), std::string::npos) << "no final line";
  std::this_thread::sleep_for(kMoreThanATick);
  EXPECT_EQ(out.output(), bytes) << "drawn after the line was cleared";
}

}  // namespace
