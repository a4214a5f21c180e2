// The built wizard up to and through its command menu: the start-up checks,
// the intro, leaving the menu by Escape and Ctrl-C, its streams, and `make run`.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"
#include "support/pattern.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kNoAnsible = "Error: ansible-playbook not found in PATH. Install it before running this tool.\n";
const std::string kNoGit = "Error: git not found in PATH. Install git locally to clone repositories.\n";
const std::string kTitle = "\x1b[1m Tervane TUI Wizard \x1b[0m";
const std::string kMenuPrompt = "Select a global command to continue:";

/// The terminal turns every line feed the program writes into CR LF.
std::string on_tty(std::string text) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, "\r");
  return text;
}

/// A sandbox in which both tools are found: a stand-in ansible-playbook (the
/// menu never runs it) and the real git.
struct ReadyBox : Sandbox {
  ReadyBox() {
    fake("ansible-playbook", "ansible-playbook-unused");
    link_real("git");
  }
};

}  // namespace

TEST(Preflight, AMissingToolIsTheOnlyOutput) {
  Sandbox box;
  box.set_env("PATH", box.bin.string());  // neither tool: only the first is named
  {
    PtyDriver tty(box.wizard_argv(), box.env());
    const PtyExit end = tty.wait();
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.code, 1);
    EXPECT_EQ(tty.output(), on_tty(kNoAnsible));
    EXPECT_TRUE(tty.screen().cursor_visible());
  }
  const RunResult piped = box.run(box.wizard_argv());  // the same bytes on a pipe
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.output, kNoAnsible);

  box.fake("ansible-playbook", "ansible-playbook-unused");
  PtyDriver tty(box.wizard_argv(), box.env());
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_EQ(tty.output(), on_tty(kNoGit));
}

TEST(Intro, TitleIsBoldWithColoursOnAndOffAndNothingGoesToStandardOutput) {
  const struct {
    const char* name;
    const char* value;
    bool stdout_to_file;
    std::string intro;
  } cases[] = {
      {"TERVANE_UNUSED", "1", false,
       "\x1b[38;5;8m\xe2\x94\x8c\x1b[0m  " + kTitle + "\r\n\x1b[38;5;8m\xe2\x94\x82\x1b[0m\r\n"},
      {"NO_COLOR", "1", false, "\xe2\x94\x8c  " + kTitle + "\r\n\xe2\x94\x82\r\n"},
      {"TERVANE_UNUSED", "1", true, "\xe2\x94\x8c  " + kTitle + "\r\n\xe2\x94\x82\r\n"},
      {"LANG", "C", false, "T  " + kTitle + "\r\n|\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value + (c.stdout_to_file ? ", stdout to a file" : ""));
    ReadyBox box;
    box.set_env(c.name, c.value);
    if (std::string(c.name) == "LANG") box.set_env("NO_COLOR", "");
    const fs::path out = box.dir / "stdout.txt";
    PtyDriver tty(box.wizard_argv(), box.env(), {.stdout_path = c.stdout_to_file ? out.string() : ""});
    ASSERT_TRUE(tty.expect(kMenuPrompt));
    tty.settle();
    const std::string& all = tty.output();
    const auto hide = all.find("\x1b[?25l");  // the intro comes before the menu hides the cursor
    EXPECT_EQ(all.substr(0, hide), c.intro);
    if (c.intro.starts_with("\x1b")) continue;
    EXPECT_EQ(all.find("\x1b[3", hide), std::string::npos) << all;  // uncoloured menu too
    EXPECT_EQ(all.find("\x1b[2m", hide), std::string::npos) << all;
    tty.key(PtyDriver::kEsc);
    EXPECT_EQ(tty.wait().code, 1);
    EXPECT_EQ(read_file(out), "");
  }
}

TEST(CommandMenu, EscapeLeavesTheCancelledFrameAndReportsTheInterruption) {
  ReadyBox box;
  PtyDriver tty(box.wizard_argv(), box.env(), {.cols = 100, .rows = 20});
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  EXPECT_EQ(tty.screen().text(),
            "┌   Tervane TUI Wizard\n"
            "│\n"
            "◆  Select a global command to continue:\n"
            "│  ● Select target Arch workstation (Choose an SSH host and bootstrap Tervane)\n"
            "│  ○ Clear temp, cache...\n"
            "└");
  EXPECT_FALSE(tty.screen().cursor_visible());

  // The cursor stops on the last option and the hint follows it; an
  // unchanged frame is not redrawn.
  tty.key(PtyDriver::kDown);
  tty.take_new();
  tty.key("j");
  EXPECT_EQ(tty.take_new(), "");
  EXPECT_EQ(tty.screen().line(3), "│  ○ Select target Arch workstation");
  EXPECT_EQ(tty.screen().line(4),
            "│  ● Clear temp, cache... (Delete local temporary configurations & wallpapers cache)");
  EXPECT_EQ(tty.screen().line(6), "");

  tty.key(PtyDriver::kEsc);
  const PtyExit end = tty.wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  EXPECT_EQ(tty.screen().text(),
            "┌   Tervane TUI Wizard\n"
            "│\n"
            "■  Select a global command to continue:\n"
            "│  Clear temp, cache...\n"
            "└  Operation cancelled.\n"
            "Error: operation interrupted");
  EXPECT_TRUE(tty.output().ends_with("\x1b[?25hError: operation interrupted\r\n"));
}

TEST(CommandMenu, CtrlCEndsTheProcessBySigintWithTheCursorShown) {
  ReadyBox box;
  PtyDriver tty(box.wizard_argv(), box.env());
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  tty.send(PtyDriver::kCtrlC);
  const PtyExit end = tty.wait();
  EXPECT_FALSE(end.exited);
  EXPECT_EQ(end.signal, SIGINT);
  const std::string& out = tty.output();
  const auto hidden = out.rfind("\x1b[?25l");
  ASSERT_NE(hidden, std::string::npos);
  EXPECT_NE(out.find("\x1b[?25h", hidden), std::string::npos);
  EXPECT_TRUE(tty.screen().cursor_visible());
  EXPECT_FALSE(tty.screen().contains("Operation cancelled."));  // no cancelled frame, no report
  EXPECT_EQ(out.find("Error"), std::string::npos);
}

TEST(Streams, StandardErrorNotATerminalIsNotConnected) {
  ReadyBox box;
  const fs::path err = box.dir / "stderr.txt";
  PtyDriver tty(box.wizard_argv(), box.env(), {.stderr_path = err.string()});
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_EQ(tty.output(), "");  // the file holds the intro and the report
  const std::string text = read_file(err);
  EXPECT_TRUE(text.ends_with("\nError: not connected\n")) << text;
  EXPECT_NE(text.find(kTitle), std::string::npos);
  EXPECT_EQ(text.find(kMenuPrompt), std::string::npos);
}

namespace {

/// Every path in the sandbox, to see that a run created nothing.
std::set<std::string> paths_in(const Sandbox& box) {
  std::set<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(box.dir.path())) paths.insert(e.path().string());
  return paths;
}

}  // namespace

TEST(Arguments, HelpAndVersionNeedNoToolsAndAnyOtherArgumentStartsTheWizardWritingNothing) {
  Sandbox box;
  box.set_env("PATH", box.bin.string());  // neither tool
  box.set_env("XDG_STATE_HOME", (box.dir / "state").string());
  const std::string cmake = read_file(fs::path(TERVANE_SOURCE_DIR) / "CMakeLists.txt");
  const auto version = first_group(cmake, R"(project\(tervane_wizard VERSION ([0-9.]+))");
  ASSERT_TRUE(version);
  const RunResult shown = box.run({TERVANE_WIZARD_BINARY, "--version"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.output, "tervane-wizard " + *version + "\n");

  const RunResult help = box.run({TERVANE_WIZARD_BINARY, "--help"});
  EXPECT_EQ(help.status, 0);
  for (const std::string& part : std::initializer_list<std::string>{
           "interactive", "PATH", "HOME", "TMPDIR", "NO_COLOR", "XDG_STATE_HOME", "typed by hand defaults to root",
        "appended to " + (box.dir / "state/tervane/ansible.log").string() + "\n",
        fs::canonical(TERVANE_PROJECT_ROOT).string() + "/README.md\n"})
    EXPECT_NE(help.output.find(part), std::string::npos) << part << " missing in\n" << help.output;
  EXPECT_FALSE(fs::exists(box.dir / "state"));

  box.stub("ansible-playbook", "exit 0");
  box.link_real("git");
  const auto before = paths_in(box);
  PtyDriver tty({TERVANE_WIZARD_BINARY, "--versions"}, box.env());
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle();
  EXPECT_TRUE(tty.output().starts_with("\x1b[38;5;8m\xe2\x94\x8c\x1b[0m  " + kTitle)) << tty.dump();
  tty.key(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_EQ(paths_in(box), before);  // no log folder, nothing else
}

TEST(CommandMenu, KeysTypedBeforeTheWizardStartsDoNotAnswerIt) {
  ReadyBox box;
  const std::string program = TERVANE_WIZARD_BINARY;
  const std::string typed = std::string(PtyDriver::kDown) + PtyDriver::kEnter;  // would pick "clean"
  PtyDriver tty(
      [&] {
        // The wizard starts once the keys wait in the terminal's input queue,
        // as keys typed during `make run`'s build do.
        int queued = 0;
        for (int i = 0; i < 1000 && (ioctl(0, FIONREAD, &queued) != 0 || queued < static_cast<int>(typed.size()));
             ++i)
          usleep(10000);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execv(argv[0], argv);
        return 127;
      },
      box.env());
  tty.send(typed);
  ASSERT_TRUE(tty.expect(kMenuPrompt));
  tty.settle(std::chrono::milliseconds(300));
  EXPECT_EQ(tty.screen().line(3), "│  ● Select target Arch workstation (Choose an SSH host and bootstrap Tervane)")
      << tty.dump();
  tty.key(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_FALSE(tty.screen().contains("Clean completed!"));
}

// `make run` as a user types it, on the debug build this test belongs to:
// the path of make, or "" when the test cannot run here.
static fs::path make_for_this_build() {
  const fs::path make = find_on_system_path("make");
  const fs::path debug_build = fs::canonical(TERVANE_PROJECT_ROOT) / "tui/build/debug/bin/tervane-wizard";
  if (make.empty() || fs::canonical(TERVANE_WIZARD_BINARY) != debug_build) return {};
  return make;
}

TEST(MakeRun, AnUpToDateWizardStartsWithItsFirstFrameAndEscapeAddsNoMakeLine) {
  const fs::path make = make_for_this_build();
  if (make.empty()) GTEST_SKIP() << "needs make and the wizard built in tui/build/debug";
  ReadyBox box;
  // A tree edited since its last build is built first, saying so in one line.
  const RunResult built = box.run({make.string(), "build", "PRESET=debug"}, TERVANE_PROJECT_ROOT);
  EXPECT_EQ(built.status, 0) << built.output;
  if (!built.output.empty()) {
    EXPECT_EQ(built.output, "Building tervane-wizard (debug)...\n");
  }
  PtyDriver tty({make.string(), "run", "PRESET=debug"}, box.env(), {.cwd = TERVANE_PROJECT_ROOT});
  ASSERT_TRUE(tty.expect(kMenuPrompt, std::chrono::seconds(60)));
  tty.settle();
  EXPECT_TRUE(tty.output().starts_with("\x1b[38;5;8m\xe2\x94\x8c\x1b[0m  " + kTitle)) << tty.dump();
  tty.key(PtyDriver::kEsc);
  const PtyExit end = tty.wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
  EXPECT_TRUE(tty.output().ends_with("\x1b[?25hError: operation interrupted\r\n")) << tty.dump();
}

// On a terminal a shell left with echo on: keys typed while `make run` builds
// are not echoed; Ctrl-C in the wizard ends make by SIGINT, as it ends the
// wizard, with echo back on.
TEST(MakeRun, KeysTypedDuringTheBuildAreNotEchoedAndCtrlCEndsMakeBySigintAlone) {
  const fs::path make = make_for_this_build();
  if (make.empty()) GTEST_SKIP() << "needs make and the wizard built in tui/build/debug";
  ReadyBox box;
  // A stand-in cmake builds until the terminal holds the keys (and would have echoed them).
  const fs::path building = box.work / "building", done = box.work / "done";
  box.stub("cmake", "[ \"$1\" = --build ] || exit 0\necho '[ 50%] Building CXX object x.o'\n: >" + building.string() +
                        "\nwhile [ ! -e " + done.string() + " ]; do sleep 0.01; done\n");
  PtyDriver tty({make.string(), "run", "PRESET=debug"}, box.env(), {.cwd = TERVANE_PROJECT_ROOT, .echo = true});
  ASSERT_TRUE(eventually([&] { return fs::exists(building); }, std::chrono::seconds(60)));
  tty.send(std::string(PtyDriver::kDown) + PtyDriver::kDown + PtyDriver::kEnter);
  EXPECT_TRUE(eventually([&] { return tty.queued_input() == 7; }, std::chrono::seconds(10)));
  box.dir.write_file(done, "");
  ASSERT_TRUE(tty.expect(kMenuPrompt, std::chrono::seconds(60)));
  tty.settle();
  EXPECT_TRUE(tty.output().starts_with("Building tervane-wizard (debug)...\r\n\x1b[")) << tty.dump();  // no echo
  tty.key(PtyDriver::kCtrlC);
  EXPECT_EQ(tty.wait().signal, SIGINT);
  EXPECT_EQ(tty.output().find("make:"), std::string::npos) << tty.dump();
  termios after{};
  EXPECT_TRUE(::tcgetattr(tty.master(), &after) == 0 && (after.c_lflag & ECHO));
}
