// The wizard while nobody is asked anything, and what it holds meanwhile:
// keys typed under a spinner or during a playbook run, an arrow key split by
// a pause, a core-dumping signal at the password prompt; and the preview
// (--check) runs. git and ansible-playbook are stand-ins that wait while a
// file exists.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kPhasePrompt = "Select a standalone playbook phase to execute:";

/// A configured host, a cache to reuse or sync, a git whose pull and a
/// recording ansible-playbook whose run wait while log/hold exists.
class Unattended : public ::testing::Test {
 protected:
  void SetUp() override {
    box.dir.write_file(root / "bootstrap.yml", "- hosts: workstation\n");
    for (const char* phase : {"00-preflight.yml", "10-user.yml"})
      box.dir.write_file(root / "playbooks" / phase, "- hosts: workstation\n");
    wizard = box.install_wizard(root);
    box.dir.write_file(box.home / ".ssh/config", "Host arch\n  HostName 10.9.8.7\n  User installer\n");
    for (const char* name : {"configs", "wallpapers"})
      fs::create_directories(box.home / "temp/.tervane-bootstrap" / name / ".git");
    fs::create_directories(log);
    box.stub("git", "touch '" + (log / "pulled").string() + "'\nwhile [ -e '" + (log / "hold").string() +
                        "' ]; do sleep 0.05; done\n");
    box.fake("ansible-playbook", "ansible-playbook-recorder", {{"FAKE_LOG", log.string()}});
  }

  /// Menu, host, the cache row `cache_row`, the default user name, then
  /// `password`, up to the sudo prompt.
  void to_sudo_prompt(PtyDriver& tty, int cache_row, const std::string& password = "") {
    ASSERT_TRUE(tty.answer("Select a global command to continue:"));
    ASSERT_TRUE(tty.answer("Select target Arch workstation from SSH Config:"));
    ASSERT_TRUE(tty.expect("Cached repositories detected locally:"));
    tty.settle();
    for (int i = 0; i < cache_row; ++i) tty.key(PtyDriver::kDown);
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.answer("Target username to create/setup on Arch:"));
    ASSERT_TRUE(tty.answer("Target user password:", password));
    ASSERT_TRUE(tty.expect("Remote administrator sudo password (to become root):"));
    tty.settle();
  }

  /// Types `keys` (ending with a line end) while the stand-in waits in `started`,
  /// lets the terminal take them in, then lets the stand-in go on.
  void type_while_waiting(PtyDriver& tty, const fs::path& started, const std::string& keys) {
    ASSERT_TRUE(eventually([&] { return fs::exists(started); }, 20s)) << started;
    tty.send(keys);
    const int slave = ::open(tty.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    pollfd taken_in{slave, POLLIN, 0};
    EXPECT_EQ(::poll(&taken_in, 1, 5000), 1) << "the terminal did not take the keys in";
    ::close(slave);
    fs::remove(log / "hold");
  }

  Sandbox box;
  fs::path root = box.work / "project", log = box.work / "log", wizard;
};

}  // namespace

// On a terminal that echoes, as a shell leaves it: keys typed while the
// repositories sync and while a playbook runs never show and answer no later
// prompt (Down Down Enter would start 10-user, Esc would end the wizard). An
// arrow split by a pause still moves the cursor in the password.
TEST_F(Unattended, KeysTypedWhileNothingIsAskedAreNeitherShownNorAnswers) {
  PtyDriver tty({wizard.string()}, box.env(), PtyOptions{.cols = 120, .rows = 50, .echo = true});
  box.dir.write_file(log / "hold", "");
  ASSERT_TRUE(tty.answer("Select a global command to continue:"));
  ASSERT_TRUE(tty.answer("Select target Arch workstation from SSH Config:"));
  ASSERT_TRUE(tty.expect("Cached repositories detected locally:"));
  tty.settle();
  tty.key(PtyDriver::kDown);  // Yes & Sync
  tty.key(PtyDriver::kEnter);
  type_while_waiting(tty, log / "pulled", "typed-while-syncing\r");
  ASSERT_TRUE(tty.answer("Target username to create/setup on Arch:"));  // the default
  ASSERT_TRUE(tty.answer("Target user password:"));
  ASSERT_TRUE(tty.expect("Remote administrator sudo password (to become root):"));
  tty.settle();
  tty.send("pass\x1b[");
  std::this_thread::sleep_for(60ms);
  tty.send("D");
  tty.send("word");
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Choose execution mode:"));
  tty.settle();
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect(kPhasePrompt));
  tty.settle();
  box.dir.write_file(log / "hold", "");
  tty.key(PtyDriver::kEnter);  // 00-preflight
  type_while_waiting(tty, log / "call1/started", "\x1b[B\x1b[Bhello\r\x1b\r");
  ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!"));
  ASSERT_TRUE(tty.expect(kPhasePrompt));
  tty.settle();
  EXPECT_TRUE(tty.screen().contains("● 00-preflight: Preflight checks & gum helper")) << tty.dump();
  for (const char* shown : {"typed-while-syncing", "hello", "^["})
    EXPECT_EQ(tty.output().find(shown), std::string::npos) << shown << "\n" << tty.dump();
  for (int i = 0; i < 10; ++i) tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Exited standalone wizard!"));
  EXPECT_EQ(tty.wait().code, 0);
  EXPECT_FALSE(fs::exists(log / "call2"));
  const std::string vars = read_file(log / "call1/vars");
  EXPECT_NE(vars.find("\"ansible_become_password\":\"paswords\""), std::string::npos) << vars;
  EXPECT_NE(vars.find("\"default_user\":\"dovik\""), std::string::npos) << vars;
}

// At the sudo prompt the process holds the target password, typed in clear:
// a signal whose default action dumps core leaves no core file.
TEST_F(Unattended, ACoreDumpingSignalAtTheSudoPromptLeavesNoCore) {
  const fs::path cwd = box.work / "cwd";
  fs::create_directories(cwd);
  box.set_env("ASAN_OPTIONS", "disable_coredump=0:detect_leaks=0");  // the debug build would never dump
  const auto cores = [&] {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(cwd))
      if (e.path().filename().string().starts_with("core")) found.push_back(e.path().filename());
    return found;
  };
  const auto start = [&](std::vector<std::string> argv) {
    return std::make_unique<PtyDriver>(
        [argv] {
          rlimit core{};
          ::getrlimit(RLIMIT_CORE, &core);
          core.rlim_cur = core.rlim_max;
          if (::setrlimit(RLIMIT_CORE, &core) != 0) return 125;
          std::vector<char*> args;
          for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
          args.push_back(nullptr);
          ::execv(args[0], args.data());
          return 127;
        },
        box.env(), PtyOptions{.cols = 120, .rows = 50, .cwd = cwd.string()});
  };
  // Where cores go is the machine's choice (kernel.core_pattern): this tells
  // only where a plain shell's core lands in its working folder.
  start({"/bin/sh", "-c", "kill -QUIT $$"})->wait();
  if (cores().empty()) GTEST_SKIP() << "no core file lands in the working folder on this machine";
  for (const auto& c : cores()) fs::remove(cwd / c);

  for (const int sig : {SIGQUIT, SIGXCPU, SIGXFSZ}) {
    SCOPED_TRACE(strsignal(sig));
    auto tty = start({wizard.string()});
    to_sudo_prompt(*tty, 0, "t4rget-pw");
    tty->kill_with(sig);
    const PtyExit end = tty->wait();
    EXPECT_EQ(end.signal, sig);
    EXPECT_TRUE(cores().empty()) << ::testing::PrintToString(cores());
    for (const auto& c : cores()) fs::remove(cwd / c);
  }
}

// --check: the same flow, each playbook run with --check --diff, "preview"
// in the intro and in every note before a run, and a full run that ends by
// saying nothing was changed instead of celebrating.
TEST_F(Unattended, CheckPreviewsEveryRunAndNeverCelebrates) {
  for (const bool full : {true, false}) {
    SCOPED_TRACE(full ? "full bootstrap" : "phase menu");
    PtyDriver tty({wizard.string(), "--check"}, box.env(), PtyOptions{.cols = 120, .rows = 50});
    ASSERT_TRUE(tty.expect("\x1b[1m Tervane TUI Wizard (preview) \x1b[0m"));
    to_sudo_prompt(tty, 0);
    tty.send("pw");
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Choose execution mode:"));
    tty.settle();
    if (full) {
      tty.key(PtyDriver::kEnter);
      ASSERT_TRUE(tty.expect("Previewing bootstrap.yml over SSH: nothing is changed."));
      ASSERT_TRUE(tty.expect("Preview finished: nothing on the target was changed."));
    } else {
      tty.key(PtyDriver::kDown);
      tty.key(PtyDriver::kEnter);
      ASSERT_TRUE(tty.expect(kPhasePrompt));
      tty.settle();
      tty.key(PtyDriver::kEnter);
      ASSERT_TRUE(tty.expect("Previewing 00-preflight.yml over SSH: nothing is changed."));
      ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!"));
      ASSERT_TRUE(tty.expect(kPhasePrompt));
      tty.settle();
      for (int i = 0; i < 10; ++i) tty.key(PtyDriver::kDown);
      tty.key(PtyDriver::kEnter);
      ASSERT_TRUE(tty.expect("Exited standalone wizard!"));
    }
    EXPECT_EQ(tty.wait().code, 0);
    EXPECT_EQ(tty.output().find("installed successfully"), std::string::npos);
    const std::string argv = read_file(log / (full ? "call1/argv" : "call2/argv"));
    EXPECT_TRUE(argv.ends_with("\n--check\n--diff\n")) << argv;
  }
}
