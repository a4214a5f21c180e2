// Whole runs of the built wizard up to and through its command menu: the
// start-up checks, the intro, leaving the menu by Escape and Ctrl-C, and the
// streams it draws on.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kNoAnsible =
    "Error: ansible-playbook not found in PATH. Install it before running this tool.\n";
const std::string kNoGit = "Error: git not found in PATH. Install git locally to clone repositories.\n";
const std::string kTitle = "\x1b[1m Tervane TUI Wizard \x1b[0m";
const std::string kMenuPrompt = "Select a global command to continue:";

/// The terminal turns every line feed the program writes into CR LF.
std::string on_tty(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

/// A sandbox in which both tools are found: a stand-in ansible-playbook (the
/// menu never runs it) and the real git.
Sandbox ready_box() {
  Sandbox box;
  box.stub("ansible-playbook", "exit 0");
  box.link_real("git");
  return box;
}

}  // namespace

TEST(Preflight, AMissingToolIsTheOnlyOutput) {
  Sandbox box;
  const fs::path empty_bin = box.bin;
  // Neither tool: only the first is named.
  box.set_env("PATH", empty_bin.string());
  {
    PtyDriver tty(box.wizard_argv(), box.env());
    const PtyExit end = tty.wait();
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.code, 1);
    EXPECT_EQ(tty.output(), on_tty(kNoAnsible));
    EXPECT_TRUE(tty.screen().cursor_visible());
  }
  // The report is the same bytes when standard error is a file.
  const RunResult piped = box.run(box.wizard_argv());
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.output, kNoAnsible);

  box.stub("ansible-playbook", "echo must not run; exit 3");
  {
    PtyDriver tty(box.wizard_argv(), box.env());
    const PtyExit end = tty.wait();
    EXPECT_EQ(end.code, 1);
    EXPECT_EQ(tty.output(), on_tty(kNoGit));
  }
}

TEST(Preflight, PathLookupSkipsDirectoriesAndFilesThatCannotRun) {
  Sandbox box;
  box.stub("ansible-playbook", "exit 0");
  const fs::path as_dir = box.dir / "path-a", not_exec = box.dir / "path-b",
                 good = box.dir / "path-c";
  fs::create_directories(as_dir / "git");
  box.dir.write_file(not_exec / "git", "#!/bin/sh\nexit 0\n", 0644);
  fs::create_directories(good);
  fs::create_symlink(find_on_system_path("git"), good / "git");

  // Only the two faulty entries: git is not found.
  box.set_env("PATH", as_dir.string() + ":" + not_exec.string() + ":" + box.bin.string());
  {
    PtyDriver tty(box.wizard_argv(), box.env());
    EXPECT_EQ(tty.wait().code, 1);
    EXPECT_EQ(tty.output(), on_tty(kNoGit));
  }
  // A later entry with an executable git: the intro and the menu appear.
  box.set_env("PATH", as_dir.string() + ":" + not_exec.string() + ":" + box.bin.string() + ":" +
                          good.string());
  PtyDriver tty(box.wizard_argv(), box.env());
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  EXPECT_TRUE(tty.screen().contains("Tervane TUI Wizard"));
  EXPECT_EQ(tty.output().find("Error"), std::string::npos);
}

TEST(Intro, TitleIsBoldWithColoursOnAndOff) {
  const struct {
    const char* name;
    const char* value;
    std::string intro;
  } cases[] = {
      {"TERVANE_UNUSED", "1",
       "\x1b[38;5;8m\xe2\x94\x8c\x1b[0m  " + kTitle + "\r\n\x1b[38;5;8m\xe2\x94\x82\x1b[0m\r\n"},
      {"NO_COLOR", "1", "\xe2\x94\x8c  " + kTitle + "\r\n\xe2\x94\x82\r\n"},
      {"LANG", "C", "T  " + kTitle + "\r\n|\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    Sandbox box = ready_box();
    box.set_env(c.name, c.value);
    if (std::string(c.name) == "LANG") box.set_env("NO_COLOR", "");
    PtyDriver tty(box.wizard_argv(), box.env());
    ASSERT_TRUE(tty.expect(kMenuPrompt));
    // The intro is written before the menu hides the cursor.
    const std::string& out = tty.output();
    EXPECT_EQ(out.substr(0, out.find("\x1b[?25l")), c.intro);
  }
}

TEST(CommandMenu, EscapeLeavesTheCancelledFrameAndReportsTheInterruption) {
  Sandbox box = ready_box();
  PtyDriver tty(box.wizard_argv(), box.env(), {.cols = 100, .rows = 20});
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  EXPECT_EQ(tty.screen().text(),
            "\xe2\x94\x8c   Tervane TUI Wizard\n"
            "\xe2\x94\x82\n"
            "\xe2\x97\x86  Select a global command to continue:\n"
            "\xe2\x94\x82  \xe2\x97\x8f Select target Arch workstation (Choose an SSH host and "
            "bootstrap Tervane)\n"
            "\xe2\x94\x82  \xe2\x97\x8b Clear temp, cache...\n"
            "\xe2\x94\x94");
  EXPECT_FALSE(tty.screen().cursor_visible());

  // The cursor moves down and stops on the last option; the hint follows it.
  tty.key(PtyDriver::kDown);
  tty.take_new();
  tty.key("j");
  EXPECT_EQ(tty.take_new(), "");  // an unchanged frame is not redrawn
  EXPECT_EQ(tty.screen().line(3),
            "\xe2\x94\x82  \xe2\x97\x8b Select target Arch workstation");
  EXPECT_EQ(tty.screen().line(4),
            "\xe2\x94\x82  \xe2\x97\x8f Clear temp, cache... (Delete local temporary "
            "configurations & wallpapers cache)");
  EXPECT_EQ(tty.screen().line(6), "");

  tty.key(PtyDriver::kEsc);
  const PtyExit end = tty.wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  EXPECT_EQ(tty.screen().text(),
            "\xe2\x94\x8c   Tervane TUI Wizard\n"
            "\xe2\x94\x82\n"
            "\xe2\x96\xa0  Select a global command to continue:\n"
            "\xe2\x94\x82  Clear temp, cache...\n"
            "\xe2\x94\x94  Operation cancelled.\n"
            "Error: operation interrupted");
  EXPECT_TRUE(tty.screen().cursor_visible());
  EXPECT_TRUE(tty.output().ends_with("\x1b[?25hError: operation interrupted\r\n"));
}

TEST(CommandMenu, CtrlCEndsTheProcessBySigintWithTheCursorShown) {
  Sandbox box = ready_box();
  PtyDriver tty(box.wizard_argv(), box.env());
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  tty.send(PtyDriver::kCtrlC);
  const PtyExit end = tty.wait();
  EXPECT_FALSE(end.exited);
  EXPECT_EQ(end.signal, SIGINT);
  const std::string& out = tty.output();
  const auto hidden = out.rfind("\x1b[?25l");
  const auto shown = out.rfind("\x1b[?25h");
  ASSERT_NE(hidden, std::string::npos);
  ASSERT_NE(shown, std::string::npos);
  EXPECT_GT(shown, hidden);
  EXPECT_TRUE(tty.screen().cursor_visible());
  // No cancelled frame and no report.
  EXPECT_FALSE(tty.screen().contains("Operation cancelled."));
  EXPECT_EQ(out.find("Error"), std::string::npos);
}

TEST(Streams, StandardErrorNotATerminalIsNotConnected) {
  Sandbox box = ready_box();
  const fs::path err = box.dir / "stderr.txt";
  PtyDriver tty(box.wizard_argv(), box.env(), {.stderr_path = err.string()});
  const PtyExit end = tty.wait();
  EXPECT_EQ(end.code, 1);
  // Nothing reaches the terminal; the file holds the intro and the report.
  EXPECT_EQ(tty.output(), "");
  const std::string text = read_file(err);
  EXPECT_TRUE(text.ends_with("\nError: not connected\n")) << text;
  EXPECT_NE(text.find(kTitle), std::string::npos);
  EXPECT_EQ(text.find(kMenuPrompt), std::string::npos);
}

TEST(Streams, StandardOutputToAFileLeavesPromptsUncolouredUnlessForced) {
  for (const bool forced : {false, true}) {
    SCOPED_TRACE(forced ? "CLICOLOR_FORCE=1" : "no force");
    Sandbox box = ready_box();
    if (forced) box.set_env("CLICOLOR_FORCE", "1");
    const fs::path out = box.dir / "stdout.txt";
    PtyDriver tty(box.wizard_argv(), box.env(), {.stdout_path = out.string()});
    ASSERT_TRUE(tty.expect(kMenuPrompt));
    tty.settle();
    EXPECT_TRUE(tty.screen().contains("\xe2\x97\x8f Select target Arch workstation"));
    const std::string frame = tty.output().substr(tty.output().find("\x1b[?25l"));
    if (forced) {
      EXPECT_NE(frame.find("\x1b[36m\xe2\x97\x86\x1b[0m"), std::string::npos) << frame;
      EXPECT_NE(frame.find("\x1b[32m\xe2\x97\x8f\x1b[0m"), std::string::npos) << frame;
    } else {
      EXPECT_EQ(frame.find("\x1b[3"), std::string::npos) << frame;
      EXPECT_EQ(frame.find("\x1b[2m"), std::string::npos) << frame;
    }
    tty.key(PtyDriver::kEsc);
    EXPECT_EQ(tty.wait().code, 1);
    EXPECT_EQ(read_file(out), "");  // the kit never draws on standard output
  }
}
