// The spinner on a real terminal, in a forked child that keeps one running
// long enough to see it animate.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e/pty_driver.hpp"
#include "prompt/spinner.hpp"
#include "prompt/theme.hpp"

namespace {

const std::string kLastFrame = "◑";  // shown only by a finished bar

std::map<std::string, std::string> child_env(bool no_color) {
  std::map<std::string, std::string> env = {{"LANG", "C.UTF-8"}, {"TERM", "xterm-256color"}};
  if (no_color) env["NO_COLOR"] = "1";
  return env;
}

void write_out(const std::string& text) {
  ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace

TEST(SpinnerOnTerminal, AnimatesThroughAllButTheLastFrameThenLeavesTheFinalLine) {
  PtyDriver tty(
      [] {
        write_out("above\n");
        ProgressBar bar = spinner();
        bar.start("Working hard");
        std::this_thread::sleep_for(std::chrono::milliseconds(550));
        bar.finish_with_state("All done", ThemeState::Submit);
        bar.finish_with_state("Twice", ThemeState::Submit);  // does nothing
        write_out("below\n");
        return 0;
      },
      child_env(false), {.cols = 40, .rows = 10});
  ASSERT_TRUE(tty.expect("Working hard"));
  EXPECT_EQ(tty.wait().code, 0);
  const std::string& out = tty.output();
  for (const char* frame : {"◒", "◐", "◓", "\x1b[35m"})  // in magenta
    EXPECT_NE(out.find(frame), std::string::npos) << frame;
  EXPECT_EQ(out.find(kLastFrame), std::string::npos);
  EXPECT_EQ(out.find("Twice"), std::string::npos);
  EXPECT_EQ(tty.screen().text(), "above\n◇  All done\n│\nbelow");
}

// Also where the terminal folds a message otherwise than its width divided by
// the columns: at 10 columns "◒  xxxxxx" leaves one column, too few for 日,
// which starts the second of three rows.
TEST(SpinnerOnTerminal, DroppedWhileRunningOrHiddenLeavesNoTrace) {
  const struct {
    bool no_color;
    unsigned short cols;
    const char* message;
  } cases[] = {{false, 40, "Syncing a long message that wraps past forty columns of terminal"},
               {true, 40, "Syncing a long message that wraps past forty columns of terminal"},
               {false, 10, "xxxxxx日xxxxxxxxx"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.no_color ? "NO_COLOR=1, " : "colours, ") + c.message);
    PtyDriver tty(
        [&c] {
          write_out("before\n");
          {
            ProgressBar bar = spinner();
            bar.start(c.message);
            std::this_thread::sleep_for(std::chrono::milliseconds(350));
          }
          write_out("after\n");
          return 0;
        },
        child_env(c.no_color), {.cols = c.cols, .rows = 10});
    EXPECT_EQ(tty.wait().code, 0);
    const std::string& out = tty.output();
    if (c.no_color)
      EXPECT_EQ(out, "before\r\nafter\r\n");
    else
      EXPECT_NE(out.find(c.message), std::string::npos);
    EXPECT_EQ(out.find(kLastFrame), std::string::npos);
    EXPECT_EQ(tty.screen().text(), "before\nafter") << tty.dump();
  }
}
