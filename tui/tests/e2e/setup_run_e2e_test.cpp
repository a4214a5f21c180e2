// Whole setup runs from the command menu to the end of the execution modes:
// first against a stand-in ansible-playbook that records how it was started
// and copies the run files (and waits while log/hold exists), then against
// the real one over a loopback sshd.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"
#include "support/pattern.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kPhasePrompt = kSetupPrompts[kPhaseMenu];

/// In the phase menu: row `index` (0 the first), submitted.
void pick_phase(PtyDriver& tty, int index) {
  ASSERT_TRUE(tty.expect(kPhasePrompt));
  tty.settle();
  for (int i = 0; i < index; ++i) tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
}

/// A project tree holding a copy of the wizard, a configured SSH host with
/// its key, a complete repository cache and a stand-in ansible-playbook.
class SetupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard = box.project(root, {"bootstrap.yml", "playbooks/00-preflight.yml", "playbooks/05-openssh.yml",
                                "playbooks/10-user.yml", "playbooks/30-yay.yml"});
    box.dir.write_file(box.home / ".ssh/config",
                       "Host arch\n  HostName 10.9.8.7\n  User installer\n  IdentityFile ~/.ssh/arch_key\n");
    box.dir.write_file(box.home / ".ssh/arch_key", "not really a key\n", 0600);
    box.cache_clones();  // the cache question offers them
    box.link_real("git");
    fs::create_directories(log);
    box.fake("ansible-playbook", "ansible-playbook-recorder", {{"FAKE_LOG", log.string()}});
  }

  /// The exit status the stand-in gives on its `call`-th run.
  void fail_call(int call, int code) {
    box.dir.write_file(log / ("code" + std::to_string(call)), std::to_string(code));
  }
  fs::path call_dir(int call) const { return log / ("call" + std::to_string(call)); }

  /// The wizard, with `option` if any, answered up to the execution-mode question.
  std::unique_ptr<PtyDriver> start(const fs::path& program = {}, const std::string& option = {}) {
    std::vector<std::string> argv{(program.empty() ? wizard : program).string()};
    if (!option.empty()) argv.push_back(option);
    auto tty = std::make_unique<PtyDriver>(argv, box.env(), PtyOptions{.cols = 120, .rows = 50});
    EXPECT_TRUE(answer_setup(*tty, kCommandMenu, kModeMenu, {"", "", "", "maria", "", "pa\"ss\\wörd"}));
    return tty;
  }

  /// Types `keys` (a line end last) once `started` exists; when the terminal
  /// has taken them in, lets the waiting stand-in go on.
  void type_while_waiting(PtyDriver& tty, const fs::path& started, const std::string& keys) {
    EXPECT_TRUE(eventually([&] { return fs::exists(started); }, 20s)) << started;
    tty.send(keys);
    EXPECT_TRUE(eventually([&] { return tty.queued_input() > 0; }, 5s));
    fs::remove(log / "hold");
  }

  /// One recorded call: argv, working directory, environment and the exact
  /// run files. Returns the inventory and variables paths.
  std::pair<std::string, std::string> check_call(int call, const std::string& playbook) const {
    const fs::path c = call_dir(call);
    std::vector<std::string> argv;
    std::istringstream lines(read_file(c / "argv"));
    for (std::string line; std::getline(lines, line);) argv.push_back(line);
    EXPECT_EQ(argv.size(), 5u);
    if (argv.size() != 5) return {};
    EXPECT_EQ(argv[0], (root / playbook).string());
    EXPECT_EQ(argv[1], "-i");
    EXPECT_TRUE(
        full_match(argv[2], box.tmp.string() + "/tervane-run-[A-Za-z0-9]{6}/tervane-hosts-[A-Za-z0-9]{6}\\.ini"))
        << argv[2];
    EXPECT_EQ(argv[3], "--extra-vars");
    EXPECT_TRUE(
        full_match(argv[4], "@" + box.tmp.string() + "/tervane-run-[A-Za-z0-9]{6}/tervane-vars-[A-Za-z0-9]{6}\\.json"))
        << argv[4];
    EXPECT_EQ(read_file(c / "cwd"), fs::canonical(root).string() + "\n");
    EXPECT_EQ(read_file(c / "unbuffered"), "1");
    const std::string key = (box.home / ".ssh/arch_key").string();
    EXPECT_EQ(read_file(c / "inventory"),
              "[workstation]\narch ansible_host=10.9.8.7 ansible_user=installer ansible_ssh_private_key_file=" + key +
                  " ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
    const std::string cache = (box.home / "temp/.tervane-bootstrap").string();
    EXPECT_EQ(read_file(c / "vars"),
              R"({"ansible_become_password":"pa\"ss\\wörd","ansible_host":"10.9.8.7",)"
              R"("ansible_ssh_private_key_file":")" + key + R"(","ansible_user":"installer",)"
              R"("default_password":"583920","default_user":"maria",)"
              R"("local_tervane_path":")" + cache + R"(/configs","local_transfer_mode":true,)"
              R"("local_wallpapers_path":")" + cache + R"(/wallpapers","noninteractive":true})");
    EXPECT_EQ(read_file(c / "inventory.mode"), "600\n");
    EXPECT_EQ(read_file(c / "vars.mode"), "600\n");
    return {argv[2], argv[4].substr(1)};
  }

  /// The run ends with `code`, the stand-in ran `calls` times, no run file is left.
  void ends(PtyDriver& tty, int code, int calls) {
    const PtyExit end = tty.wait();
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.code, code);
    EXPECT_TRUE(calls == 0 || fs::exists(call_dir(calls)));
    EXPECT_FALSE(fs::exists(call_dir(calls + 1)));
    EXPECT_TRUE(box.run_files().empty());
  }

  Sandbox box;
  fs::path root = box.work / "project", log = box.work / "ansible-log", wizard;
};

}  // namespace

TEST_F(SetupRun, FullBootstrapRunsOnceWithTheRunFilesThenCelebratesOrReportsItsFailure) {
  // Started through a link elsewhere: the project root follows the link's
  // target. A directory named bootstrap.yml counts as found.
  fs::remove(root / "bootstrap.yml");
  fs::create_directory(root / "bootstrap.yml");
  fs::create_directories(box.work / "elsewhere");
  fs::create_symlink(wizard, box.work / "elsewhere/tw");
  fail_call(2, 2);
  for (const int call : {1, 2}) {
    SCOPED_TRACE(call == 1 ? "success" : "failure");
    auto tty = start(box.work / "elsewhere/tw");
    EXPECT_NE(tty->output().find("Preparing dynamic configuration…"), std::string::npos);
    EXPECT_NE(tty->output().find("Target: installer@10.9.8.7"), std::string::npos);
    tty->key(PtyDriver::kEnter);
    ASSERT_TRUE(tty->expect("Deployment Running"));
    ASSERT_TRUE(tty->expect("Executing bootstrap.yml over SSH. Outputs are colorized below..."));
    ASSERT_TRUE(tty->expect("│  \x1b[1;36mTASK [stand-in " + std::to_string(call) + "] ***\x1b[0m"));
    const std::string celebration =
        "\x1b[1m Tervane Hyprland installed successfully! Reboot and enjoy your beautiful desktop.\x1b[0m";
    ASSERT_TRUE(tty->expect(call == 1 ? celebration : "Error: Playbook failed during execution."));
    ends(*tty, call == 1 ? 0 : 1, call);
    EXPECT_NE(tty->output().find("│  \x1b[2mwarning from stand-in\x1b[0m"), std::string::npos);
    EXPECT_EQ(tty->output().find(celebration) == std::string::npos, call == 2);
    EXPECT_EQ(tty->output().find("Keep standalone menu open anyway?"), std::string::npos);
    check_call(call, "bootstrap.yml");
  }
}

TEST_F(SetupRun, PhaseMenuRunsPhasesWithTheSameRunFilesUntilAFailureAnsweredNo) {
  fail_call(2, 2);
  fail_call(3, 4);
  auto tty = start();
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);

  pick_phase(*tty, 2);
  ASSERT_TRUE(tty->expect("Executing 10-user.yml over SSH. Outputs are colorized below..."));
  ASSERT_TRUE(tty->expect("Success"));
  ASSERT_TRUE(tty->expect("10-user.yml completed successfully!"));
  // The menu comes back with the cursor on the first row.
  pick_phase(*tty, 0);
  ASSERT_TRUE(tty->expect("00-preflight.yml failed: Playbook failed during execution."));
  ASSERT_TRUE(tty->expect("Keep standalone menu open anyway?"));
  tty->settle();
  EXPECT_TRUE(tty->screen().contains("Yes"));
  tty->key(PtyDriver::kEnter);  // preset yes
  pick_phase(*tty, 4);
  ASSERT_TRUE(tty->expect("30-yay.yml failed: Playbook failed during execution."));
  ASSERT_TRUE(tty->expect("Keep standalone menu open anyway?"));
  tty->settle();
  tty->key(PtyDriver::kRight);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Exited standalone wizard!"));
  ends(*tty, 0, 3);

  const auto first = check_call(1, "playbooks/10-user.yml");
  EXPECT_EQ(check_call(2, "playbooks/00-preflight.yml"), first);
  EXPECT_EQ(check_call(3, "playbooks/30-yay.yml"), first);
}

TEST_F(SetupRun, EscapeAtTheMenuOrAMissingPlaybookEndsWithTheReportAndRemovesTheFiles) {
  for (const bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "20-network.yml, absent from the project");
    auto tty = start();
    tty->key(PtyDriver::kDown);
    tty->key(PtyDriver::kEnter);
    ASSERT_TRUE(tty->expect(kPhasePrompt));
    tty->settle();
    EXPECT_EQ(box.run_files().size(), 3u);
    if (escape) {
      tty->key(PtyDriver::kEsc);
      ASSERT_TRUE(tty->expect("Error: operation interrupted"));
    } else {
      for (int i = 0; i < 3; ++i) tty->key(PtyDriver::kDown);
      tty->key(PtyDriver::kEnter);
      ASSERT_TRUE(tty->expect("Error: Playbook not found: playbooks/20-network.yml"));
      ASSERT_TRUE(tty->expect("Expected at: " + (root / "playbooks/20-network.yml").string()));
    }
    ends(*tty, 1, 0);
    EXPECT_EQ(tty->output().find("Deployment Running"), std::string::npos);
  }
}

TEST_F(SetupRun, SignalDuringAPlaybookRemovesTheRunFilesAndKillsTheWizardBySignal) {
  box.dir.write_file(log / "hang", "");
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int call = 1; call <= 3; ++call) {
    const int sig = signals[call - 1];
    SCOPED_TRACE(strsignal(sig));
    auto tty = start();
    tty->key(PtyDriver::kEnter);
    ASSERT_TRUE(eventually([&] { return fs::exists(call_dir(call) / "started"); }, 10s)) << "not started";
    EXPECT_EQ(box.run_files().size(), 3u);
    if (sig == SIGINT)
      tty->send(PtyDriver::kCtrlC);  // as a user would: the whole foreground group gets it
    else
      tty->kill_with(sig);
    const PtyExit end = tty->wait();
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, sig);
    EXPECT_TRUE(box.run_files().empty());
    EXPECT_EQ(tty->output().find("Error:"), std::string::npos);
  }
}

// On a terminal that echoes, as a shell leaves it: keys typed while the cache
// syncs (git waits) and while a playbook runs never show and answer no later
// prompt (Down Down Enter would start 10-user, Esc would end the wizard).
// Arrow keys split by a pause of 1, 10 or 60 ms still move the cursor.
TEST_F(SetupRun, KeysTypedWhileNothingIsAskedAreNeitherShownNorAnswers) {
  box.stub("git", "touch " + (log / "pulled").string() + "; while [ -e " + (log / "hold").string() +
                      " ]; do sleep 0.05; done");
  box.dir.write_file(log / "hold", "");
  PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50, .echo = true});
  ASSERT_TRUE(answer_setup(tty, kCommandMenu, kCacheMenu));
  ASSERT_TRUE(tty.answer(kSetupPrompts[kCacheMenu], PtyDriver::kDown));  // sync: git waits
  type_while_waiting(tty, log / "pulled", "typed-while-syncing\r");
  ASSERT_TRUE(answer_setup(tty, kUserPrompt, kSudoPrompt));
  tty.settle();
  tty.send("abcd");
  for (const auto& [ms, split] : {std::pair{1, 1}, {10, 2}, {60, 1}}) {
    tty.send(std::string("\x1b[D").substr(0, split));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    tty.send(std::string("\x1b[D").substr(split));
  }
  tty.send("X");
  box.dir.write_file(log / "hold", "");
  ASSERT_TRUE(answer_setup(tty, kSudoPrompt, kPhaseMenu, {"", PtyDriver::kDown}));
  tty.settle();
  tty.key(PtyDriver::kEnter);  // 00-preflight
  type_while_waiting(tty, call_dir(1) / "started", "\x1b[B\x1b[Bhello\r\x1b\r");
  ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!"));
  ASSERT_TRUE(tty.expect(kPhasePrompt));
  tty.settle();
  EXPECT_TRUE(tty.screen().contains("● 00-preflight: Preflight checks & gum helper")) << tty.dump();
  for (const char* shown : {"typed-while-syncing", "hello", "^["})
    EXPECT_EQ(tty.output().find(shown), std::string::npos) << shown;
  for (int i = 0; i < 10; ++i) tty.send(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);  // Exit Wizard
  ends(tty, 0, 1);
  const std::string vars = read_file(call_dir(1) / "vars");
  for (const char* answer : {R"("ansible_become_password":"aXbcd")", R"("default_user":"dovik")"})
    EXPECT_NE(vars.find(answer), std::string::npos) << vars;
}

// At the sudo prompt the process holds the target password, typed in clear:
// a signal whose default action dumps core leaves no core file.
TEST_F(SetupRun, ACoreDumpingSignalAtTheSudoPromptLeavesNoCore) {
  const fs::path cwd = box.work;
  rlimit core{};  // inherited by the wizard; the debug build must not turn it off
  ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
  core.rlim_cur = core.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &core), 0);
  box.set_env("ASAN_OPTIONS", "disable_coredump=0:detect_leaks=0");
  box.run({"sh", "-c", "kill -QUIT $$"}, cwd);  // where cores go is the machine's choice
  if (!fs::exists(cwd / "core")) GTEST_SKIP() << "a core file does not land in the working folder here";
  for (const int sig : {SIGQUIT, SIGXCPU, SIGXFSZ}) {
    fs::remove(cwd / "core");
    PtyDriver tty({wizard.string()}, box.env(), {.cwd = cwd.string()});
    ASSERT_TRUE(answer_setup(tty, kCommandMenu, kSudoPrompt, {"", "", "", "", "t4rget-pw"}));
    tty.settle();
    tty.kill_with(sig);
    EXPECT_EQ(tty.wait().signal, sig);
    EXPECT_FALSE(fs::exists(cwd / "core")) << strsignal(sig);
  }
}

// --check: "preview" in the intro and in the note before the run, the run
// with --check --diff, and a closing line that says nothing was changed
// instead of the install message.
TEST_F(SetupRun, CheckPreviewsTheRunAndSaysNothingWasChanged) {
  auto tty = start({}, "--check");
  tty->key(PtyDriver::kEnter);  // the full bootstrap
  ASSERT_TRUE(tty->expect("Previewing bootstrap.yml over SSH: nothing is changed."));
  ASSERT_TRUE(tty->expect("Preview finished: nothing on the target was changed."));
  ends(*tty, 0, 1);
  EXPECT_NE(tty->output().find("\x1b[1m Tervane TUI Wizard (preview) \x1b[0m"), std::string::npos);
  EXPECT_EQ(tty->output().find("installed successfully"), std::string::npos);
  EXPECT_TRUE(read_file(call_dir(1) / "argv").ends_with("\n--check\n--diff\n")) << read_file(call_dir(1) / "argv");
}

// The real ansible-playbook over SSH to a loopback sshd, the target being
// this machine: the 10-user phase writes the variables it received to a file.

// Tasks (processes and threads) that `uid` runs now, all processes together.
static int tasks_of(uid_t uid) {
  int tasks = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    if (!std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0]))) continue;
    const std::string status = read_file(e.path() / "status");
    const auto uid_at = status.find("\nUid:\t"), threads_at = status.find("\nThreads:\t");
    if (uid_at != std::string::npos && threads_at != std::string::npos &&
        std::stoul(status.substr(uid_at + 6)) == uid)
      tasks += std::stoi(status.substr(threads_at + 10));
  }
  return tasks;
}

TEST_F(SetupRun, AReaderThreadThatCannotStartEndsTheRunAndStillRemovesTheFiles) {
  // The kernel refuses a new task once a user's task limit is reached, but
  // never to root: the wizard runs as nobody for this.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the wizard as another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  ASSERT_EQ(lchown(box.dir.path().c_str(), uid, gid), 0);
  for (const auto& e : fs::recursive_directory_iterator(box.dir.path()))
    ASSERT_EQ(lchown(e.path().c_str(), uid, gid), 0) << e.path();
  box.dir.write_file(log / "hang", "");  // the stand-in outlives the wizard's next steps
  ASSERT_EQ(lchown((log / "hang").c_str(), uid, gid), 0);

  // Room for the wizard and one more task: the spinner's ticker comes and
  // goes, then the playbook's process takes the place its reader thread needs.
  // What an earlier run left to the user may still be on its way out; the
  // user's other tasks (a booted target's daemons run as nobody too) stay.
  int tasks = tasks_of(uid);
  for (int i = 0; i < 50 && tasks > 0; ++i) {
    std::this_thread::sleep_for(100ms);
    const int now = tasks_of(uid);
    if (now >= tasks) break;
    tasks = now;
  }
  const auto room = static_cast<rlim_t>(tasks + 2);
  const std::string program = wizard.string();
  PtyDriver tty(
      [&] {
        const rlimit limit{room, room};
        if (setrlimit(RLIMIT_NPROC, &limit) != 0) return 125;
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 126;
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execv(argv[0], argv);
        return 127;
      },
      box.env(), PtyOptions{.cols = 120, .rows = 50});
  ASSERT_TRUE(answer_setup(tty, kCommandMenu, kPhaseMenu, {"", "", "", "maria", "", "pw", PtyDriver::kDown}));
  tty.settle();
  ASSERT_EQ(box.run_files().size(), 3u);
  tty.key(PtyDriver::kEnter);

  EXPECT_TRUE(tty.expect("failed to spawn thread: Resource temporarily unavailable"));
  const PtyExit end = tty.wait();
  EXPECT_TRUE(end.exited && end.code == 101) << tty.dump();
  EXPECT_TRUE(box.run_files().empty());
}

class RealAnsibleRun : public LoopbackRun {};
TEST_F(RealAnsibleRun, UserPhaseReceivesTheAnswersOnTheTarget) {
  const fs::path received = box.work / "received.txt";
  ansible_cfg("remote_port = " + (*server)["PORT"] + "\n");
  box.dir.write_file(root / "bootstrap.yml", "- hosts: workstation\n");
  box.dir.write_file(root / "playbooks/10-user.yml",
                     "- hosts: workstation\n"
                     "  gather_facts: false\n"
                     "  become: true\n"
                     "  tasks:\n"
                     "    - name: Record the variables\n"
                     "      ansible.builtin.copy:\n"
                     "        dest: " + received.string() + "\n"
                     "        mode: '0644'\n"
                     "        content: |\n"
                     "          user={{ default_user }}\n"
                     "          password={{ default_password }}\n"
                     "          configs={{ local_tervane_path }}\n"
                     "          wallpapers={{ local_wallpapers_path }}\n"
                     "          noninteractive={{ noninteractive }}\n");
  const fs::path wizard = box.install_wizard(root);
  host_block("loop");
  const fs::path dots = box.bare_repo("dots", {{"install.fish", "echo hi\n"}});
  const fs::path walls = box.bare_repo("walls", {{"a.png", "png"}});
  ASSERT_FALSE(dots.empty() || walls.empty());

  PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50});
  ASSERT_TRUE(answer_setup(tty, kCommandMenu, kHostMenu) && answer_clone_urls(tty, dots, walls));
  ASSERT_TRUE(tty.expect_screen(kSetupPrompts[kUserPrompt], 30s));  // after the clones
  ASSERT_TRUE(answer_setup(tty, kUserPrompt, kPhaseMenu, {"maria", "s3cr\"t", "unused", PtyDriver::kDown}));
  pick_phase(tty, 2);
  ASSERT_TRUE(tty.expect("Executing 10-user.yml over SSH."));
  ASSERT_TRUE(tty.expect("│  \x1b[1;36mTASK [Record the variables]", 120s));
  ASSERT_TRUE(tty.expect("10-user.yml completed successfully!", 120s));
  pick_phase(tty, 10);  // Exit Wizard
  ASSERT_TRUE(tty.expect("Exited standalone wizard!"));
  EXPECT_EQ(tty.wait().code, 0);

  const std::string cache = (box.home / "temp/.tervane-bootstrap").string();
  EXPECT_EQ(read_file(received), "user=maria\npassword=s3cr\"t\nconfigs=" + cache + "/configs\nwallpapers=" + cache +
                                     "/wallpapers\nnoninteractive=True\n");
  EXPECT_TRUE(fs::exists(cache + "/configs/install.fish"));
  EXPECT_TRUE(box.run_files().empty());
}
