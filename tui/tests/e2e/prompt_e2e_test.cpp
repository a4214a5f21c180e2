// The spinner on a real terminal: inside the wizard's clean command, and in a
// forked child that keeps one running long enough to see it animate.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "prompt/spinner.hpp"
#include "prompt/theme.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kLastFrame = "\xe2\x97\x91";  // ◑, shown only by a finished bar
const std::string kFrames[] = {"\xe2\x97\x92", "\xe2\x97\x90", "\xe2\x97\x93"};  // ◒ ◐ ◓
const std::string kCleaning = "Cleaning temporary cache folder\xe2\x80\xa6";
const std::string kRemoved =
    "Temporary folder ~/temp/.tervane-bootstrap/ removed successfully.";

std::map<std::string, std::string> child_env(bool no_color) {
  std::map<std::string, std::string> env = {{"LANG", "C.UTF-8"}, {"TERM", "xterm-256color"}};
  if (no_color) env["NO_COLOR"] = "1";
  return env;
}

void write_out(const std::string& text) {
  ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

/// Chooses "clean" in the command menu and waits for the run to end.
PtyExit run_clean(PtyDriver& tty) {
  if (!tty.expect("Select a global command to continue:")) return {};
  tty.settle();
  tty.key(PtyDriver::kDown);
  tty.send(PtyDriver::kEnter);
  return tty.wait();
}

}  // namespace

TEST(SpinnerInWizard, CleanEndsOnTheSubmittedLineWithoutTheLastFrame) {
  Sandbox box;
  box.stub("ansible-playbook", "exit 0");
  box.link_real("git");
  const fs::path cache = box.home / "temp" / ".tervane-bootstrap";
  box.dir.write_file(cache / "configs" / "install.fish", "echo hi\n");
  box.dir.write_file(cache / "wallpapers" / "a.png", std::string(4096, 'x'));

  PtyDriver tty(box.wizard_argv(), box.env(), {.cols = 90, .rows = 20});
  const PtyExit end = run_clean(tty);
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
  EXPECT_FALSE(fs::exists(cache));
  EXPECT_TRUE(fs::exists(box.home / "temp"));

  const std::string& out = tty.output();
  EXPECT_NE(out.find(kCleaning), std::string::npos);
  EXPECT_EQ(out.find(kLastFrame), std::string::npos);
  // The live line is gone; the final line and the closing line remain.
  EXPECT_EQ(tty.screen().text(),
            "\xe2\x94\x8c   Tervane TUI Wizard\n"
            "\xe2\x94\x82\n"
            "\xe2\x97\x87  Select a global command to continue:\n"
            "\xe2\x94\x82  Clear temp, cache...\n"
            "\xe2\x94\x82\n"
            "\xe2\x97\x87  " + kRemoved + "\n"
            "\xe2\x94\x82\n"
            "\xe2\x94\x94  Clean completed!");
  EXPECT_TRUE(tty.screen().cursor_visible());
}

TEST(SpinnerInWizard, NoColorHidesTheSpinnerWhilePromptsAreDrawnPlain) {
  Sandbox box;
  box.stub("ansible-playbook", "exit 0");
  box.link_real("git");
  box.set_env("NO_COLOR", "1");
  box.dir.write_file(box.home / "temp" / ".tervane-bootstrap" / "configs" / "x", "x");

  PtyDriver tty(box.wizard_argv(), box.env(), {.cols = 90, .rows = 20});
  const PtyExit end = run_clean(tty);
  EXPECT_EQ(end.code, 0);
  EXPECT_FALSE(fs::exists(box.home / "temp" / ".tervane-bootstrap"));
  const std::string& out = tty.output();
  // Neither the live line nor its final line is written.
  EXPECT_EQ(out.find("Cleaning"), std::string::npos) << out;
  EXPECT_EQ(out.find(kRemoved), std::string::npos) << out;
  for (const auto& frame : kFrames) EXPECT_EQ(out.find(frame), std::string::npos);
  // The menu and the closing line still are, without a colour sequence.
  EXPECT_EQ(out.find("\x1b[3"), std::string::npos) << out;
  EXPECT_EQ(tty.screen().text(),
            "\xe2\x94\x8c   Tervane TUI Wizard\n"
            "\xe2\x94\x82\n"
            "\xe2\x97\x87  Select a global command to continue:\n"
            "\xe2\x94\x82  Clear temp, cache...\n"
            "\xe2\x94\x82\n"
            "\xe2\x94\x94  Clean completed!");
}

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
  const PtyExit end = tty.wait();
  EXPECT_EQ(end.code, 0);
  const std::string& out = tty.output();
  for (const auto& frame : kFrames) EXPECT_NE(out.find(frame), std::string::npos) << frame;
  EXPECT_EQ(out.find(kLastFrame), std::string::npos);
  EXPECT_EQ(out.find("Twice"), std::string::npos);
  // The animation runs in magenta.
  EXPECT_NE(out.find("\x1b[35m"), std::string::npos);
  EXPECT_EQ(tty.screen().text(),
            "above\n"
            "\xe2\x97\x87  All done\n"
            "\xe2\x94\x82\n"
            "below");
}

TEST(SpinnerOnTerminal, DroppedWhileRunningOrHiddenLeavesNoTrace) {
  for (const bool no_color : {false, true}) {
    SCOPED_TRACE(no_color ? "NO_COLOR=1" : "colours");
    PtyDriver tty(
        [] {
          write_out("before\n");
          {
            ProgressBar bar = spinner();
            bar.start("Syncing a long message that wraps past forty columns of terminal");
            std::this_thread::sleep_for(std::chrono::milliseconds(350));
          }
          write_out("after\n");
          return 0;
        },
        child_env(no_color), {.cols = 40, .rows = 10});
    const PtyExit end = tty.wait();
    EXPECT_EQ(end.code, 0);
    const std::string& out = tty.output();
    if (no_color)
      EXPECT_EQ(out, "before\r\nafter\r\n");
    else
      EXPECT_NE(out.find("Syncing a long message"), std::string::npos);
    EXPECT_EQ(out.find(kLastFrame), std::string::npos);
    EXPECT_EQ(tty.screen().text(), "before\nafter");
  }
}
