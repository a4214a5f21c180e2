// Whole setup runs of the wizard in a pseudo-terminal, from the command menu
// to the end of the execution modes: first against a stand-in
// ansible-playbook that records how it was started and copies the run files,
// then against the real ansible-playbook over a loopback sshd.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kTypedSudo = "pa\"ss\\wörd";
const char* const kPhaseFiles[] = {"00-preflight.yml", "05-openssh.yml", "10-user.yml", "30-yay.yml"};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> run_files_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().starts_with("tervane-")) names.push_back(e.path().filename());
  return names;
}

PtyOptions wide() {
  PtyOptions options;
  options.cols = 120;
  options.rows = 50;
  return options;
}

bool wait_for_file(const fs::path& file, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!fs::exists(file)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// One user's machine with a project tree holding a copy of the wizard, a
// configured SSH host with its key, a complete repository cache and a
// stand-in ansible-playbook.
class SetupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root = box.work / "project";
    log = box.work / "ansible-log";
    fs::create_directories(root / "playbooks");
    fs::create_directories(log);
    box.dir.write_file(root / "bootstrap.yml", "- hosts: workstation\n");
    for (const char* phase : kPhaseFiles) box.dir.write_file(root / "playbooks" / phase, "- hosts: workstation\n");
    wizard = box.install_wizard(root);

    box.dir.write_file(box.home / ".ssh/config",
                       "Host arch\n  HostName 10.9.8.7\n  User installer\n  IdentityFile ~/.ssh/arch_key\n");
    box.dir.write_file(box.home / ".ssh/arch_key", "not really a key\n", 0600);
    // Clones that are present, so the cache question offers to use them as they are.
    fs::create_directories(box.home / "temp/.tervane-bootstrap/configs/.git");
    fs::create_directories(box.home / "temp/.tervane-bootstrap/wallpapers/.git");
    box.link_real("git");

    box.stub("ansible-playbook",
             "L='" + log.string() + "'\n"
             "n=1; while [ -d \"$L/call$n\" ]; do n=$((n+1)); done\n"
             "c=\"$L/call$n\"; mkdir -p \"$c\"\n"
             "printf '%s\\n' \"$@\" > \"$c/argv\"\n"
             "pwd -P > \"$c/cwd\"\n"
             "printf '%s' \"${PYTHONUNBUFFERED-unset}\" > \"$c/unbuffered\"\n"
             "cp \"$3\" \"$c/inventory\"; stat -c %a \"$3\" > \"$c/inventory.mode\"\n"
             "v=\"${5#@}\"; cp \"$v\" \"$c/vars\"; stat -c %a \"$v\" > \"$c/vars.mode\"\n"
             "echo \"TASK [stand-in $n] ***\"\n"
             "echo 'warning from stand-in' >&2\n"
             "touch \"$c/started\"\n"
             "if [ -f \"$L/hang\" ]; then while kill -0 \"$PPID\" 2>/dev/null; do sleep 0.1; done; fi\n"
             "exit \"$(cat \"$L/code$n\" 2>/dev/null || echo 0)\"\n");
  }

  // The exit status the stand-in gives on its `call`-th run.
  void fail_call(int call, int code) { box.dir.write_file(log / ("code" + std::to_string(call)), std::to_string(code)); }
  fs::path call_dir(int call) const { return log / ("call" + std::to_string(call)); }

  std::unique_ptr<PtyDriver> start(const fs::path& program = {}) {
    return std::make_unique<PtyDriver>(std::vector<std::string>{(program.empty() ? wizard : program).string()},
                                       box.env(), wide());
  }

  // From the command menu to the execution-mode question.
  static void answer_questions(PtyDriver& tty) {
    ASSERT_TRUE(tty.expect("Select a global command to continue:"));
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Select target Arch workstation from SSH Config:"));
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Cached repositories detected locally:"));
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Target username to create/setup on Arch:"));
    tty.send("maria");
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Target user password:"));
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Remote administrator sudo password (to become root):"));
    tty.send(kTypedSudo);
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Choose execution mode:"));
  }

  static void choose_phases(PtyDriver& tty) {
    tty.key(PtyDriver::kDown);
    tty.key(PtyDriver::kEnter);
  }
  // Picks the menu row `index` (0 is the first) and submits it.
  static void pick_row(PtyDriver& tty, int index) {
    ASSERT_TRUE(tty.expect("Select a standalone playbook phase to execute:"));
    tty.settle();
    for (int i = 0; i < index; ++i) tty.key(PtyDriver::kDown);
    tty.key(PtyDriver::kEnter);
  }

  // Checks one recorded call: argv, working directory, environment and the
  // exact run files; returns the inventory and variables paths.
  std::pair<std::string, std::string> check_call(int call, const std::string& playbook) const {
    const fs::path c = call_dir(call);
    const auto argv = lines_of(box.dir.read_file(c / "argv"));
    EXPECT_EQ(argv.size(), 5u);
    if (argv.size() != 5) return {};
    EXPECT_EQ(argv[0], (root / playbook).string());
    EXPECT_EQ(argv[1], "-i");
    EXPECT_TRUE(std::regex_match(argv[2], std::regex(box.tmp.string() + "/tervane-hosts-[A-Za-z0-9]{6}\\.ini")))
        << argv[2];
    EXPECT_EQ(argv[3], "--extra-vars");
    EXPECT_TRUE(std::regex_match(argv[4], std::regex("@" + box.tmp.string() + "/tervane-vars-[A-Za-z0-9]{6}\\.json")))
        << argv[4];
    EXPECT_EQ(box.dir.read_file(c / "cwd"), fs::canonical(root).string() + "\n");
    EXPECT_EQ(box.dir.read_file(c / "unbuffered"), "1");
    const std::string key = (box.home / ".ssh/arch_key").string();
    EXPECT_EQ(box.dir.read_file(c / "inventory"),
              "[workstation]\narch ansible_host=10.9.8.7 ansible_user=installer ansible_ssh_private_key_file=" + key +
                  " ansible_ssh_common_args='-o StrictHostKeyChecking=no'\n");
    const std::string cache = (box.home / "temp/.tervane-bootstrap").string();
    EXPECT_EQ(box.dir.read_file(c / "vars"),
              R"({"ansible_become_password":"pa\"ss\\wörd","ansible_host":"10.9.8.7",)"
              R"("ansible_ssh_private_key_file":")" + key + R"(","ansible_user":"installer",)"
              R"("default_password":"583920","default_user":"maria",)"
              R"("local_tervane_path":")" + cache + R"(/configs","local_transfer_mode":true,)"
              R"("local_wallpapers_path":")" + cache + R"(/wallpapers","noninteractive":true})");
    EXPECT_EQ(box.dir.read_file(c / "inventory.mode"), "600\n");
    EXPECT_EQ(box.dir.read_file(c / "vars.mode"), "600\n");
    return {argv[2], argv[4].substr(1)};
  }

  Sandbox box;
  fs::path root, log, wizard;
};

TEST_F(SetupRun, FullBootstrapRunsOnceWithTheRunFilesThenCelebrates) {
  // Started through a link elsewhere: the project root follows the link's target.
  fs::create_directories(box.work / "elsewhere");
  fs::create_symlink(wizard, box.work / "elsewhere/tw");
  auto tty = start(box.work / "elsewhere/tw");
  answer_questions(*tty);
  EXPECT_NE(tty->output().find("Preparing dynamic configuration…"), std::string::npos);
  EXPECT_NE(tty->output().find("Target: installer@10.9.8.7"), std::string::npos);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Deployment Running"));
  ASSERT_TRUE(tty->expect("Executing bootstrap.yml over SSH. Outputs are colorized below..."));
  ASSERT_TRUE(tty->expect("│  \x1b[1;36mTASK [stand-in 1] ***\x1b[0m"));
  ASSERT_TRUE(tty->expect(
      "\x1b[1m Tervane Hyprland installed successfully! Reboot and enjoy your beautiful desktop.\x1b[0m"));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
  EXPECT_NE(tty->output().find("│  \x1b[2mwarning from stand-in\x1b[0m"), std::string::npos);

  check_call(1, "bootstrap.yml");
  EXPECT_FALSE(fs::exists(call_dir(2)));
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, FailedBootstrapEndsWithTheReportAndNoCelebration) {
  fail_call(1, 2);
  auto tty = start();
  answer_questions(*tty);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Error: Playbook failed during execution."));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  EXPECT_EQ(tty->output().find("installed successfully"), std::string::npos);
  EXPECT_EQ(tty->output().find("Keep standalone menu open anyway?"), std::string::npos);
  check_call(1, "bootstrap.yml");
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, PhaseMenuRunsPhasesUntilExitKeepingTheSameRunFiles) {
  fail_call(2, 2);
  auto tty = start();
  answer_questions(*tty);
  choose_phases(*tty);

  pick_row(*tty, 2);  // 10-user.yml
  ASSERT_TRUE(tty->expect("Executing 10-user.yml over SSH. Outputs are colorized below..."));
  ASSERT_TRUE(tty->expect("Success"));
  ASSERT_TRUE(tty->expect("10-user.yml completed successfully!"));

  // The menu comes back with the cursor on the first row: Enter runs 00-preflight.
  pick_row(*tty, 0);
  ASSERT_TRUE(tty->expect("Executing 00-preflight.yml over SSH."));
  ASSERT_TRUE(tty->expect("00-preflight.yml failed: Playbook failed during execution."));
  ASSERT_TRUE(tty->expect("Keep standalone menu open anyway?"));
  tty->settle();
  EXPECT_TRUE(tty->screen().contains("Yes"));
  tty->key(PtyDriver::kEnter);  // preset yes

  pick_row(*tty, 10);  // Exit Wizard
  ASSERT_TRUE(tty->expect("Exited standalone wizard!"));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);

  const auto first = check_call(1, "playbooks/10-user.yml");
  const auto second = check_call(2, "playbooks/00-preflight.yml");
  EXPECT_EQ(first, second);
  EXPECT_FALSE(fs::exists(call_dir(3)));
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, FailedPhaseAnsweredNoEndsSuccessfully) {
  fail_call(1, 4);
  auto tty = start();
  answer_questions(*tty);
  choose_phases(*tty);
  pick_row(*tty, 4);  // 30-yay.yml
  ASSERT_TRUE(tty->expect("30-yay.yml failed: Playbook failed during execution."));
  ASSERT_TRUE(tty->expect("Keep standalone menu open anyway?"));
  tty->settle();
  tty->key(PtyDriver::kRight);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Exited standalone wizard!"));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, EscapeAtAMenuEndsWithTheReportAndRemovesTheFiles) {
  auto tty = start();
  answer_questions(*tty);
  choose_phases(*tty);
  ASSERT_TRUE(tty->expect("Select a standalone playbook phase to execute:"));
  tty->settle();
  EXPECT_EQ(run_files_in(box.tmp).size(), 2u);
  tty->key(PtyDriver::kEsc);
  ASSERT_TRUE(tty->expect("Error: operation interrupted"));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  EXPECT_FALSE(fs::exists(call_dir(1)));
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, MissingPhasePlaybookEndsTheRunNamingWhereItWasExpected) {
  auto tty = start();
  answer_questions(*tty);
  choose_phases(*tty);
  pick_row(*tty, 3);  // 20-network.yml, absent from the project
  ASSERT_TRUE(tty->expect("Error: Playbook not found: playbooks/20-network.yml"));
  ASSERT_TRUE(tty->expect("Expected at: " + (root / "playbooks/20-network.yml").string()));
  const PtyExit end = tty->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 1);
  EXPECT_FALSE(fs::exists(call_dir(1)));
  EXPECT_EQ(tty->output().find("Deployment Running"), std::string::npos);
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

TEST_F(SetupRun, BootstrapDirectoryCountsAsFoundAndMissingBootstrapIsReported) {
  fs::remove(root / "bootstrap.yml");
  {
    auto tty = start();
    answer_questions(*tty);
    tty->key(PtyDriver::kEnter);
    ASSERT_TRUE(tty->expect("Error: Playbook not found: bootstrap.yml"));
    ASSERT_TRUE(tty->expect("Expected at: " + (root / "bootstrap.yml").string()));
    EXPECT_EQ(tty->wait().code, 1);
    EXPECT_FALSE(fs::exists(call_dir(1)));
    EXPECT_TRUE(run_files_in(box.tmp).empty());
  }
  fs::create_directory(root / "bootstrap.yml");
  auto tty = start();
  answer_questions(*tty);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("installed successfully!"));
  EXPECT_EQ(tty->wait().code, 0);
  check_call(1, "bootstrap.yml");
}

TEST_F(SetupRun, SignalDuringAPlaybookRemovesTheRunFilesAndKillsTheWizardBySignal) {
  box.dir.write_file(log / "hang", "");
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int call = 1; call <= 3; ++call) {
    const int sig = signals[call - 1];
    auto tty = start();
    answer_questions(*tty);
    tty->key(PtyDriver::kEnter);
    ASSERT_TRUE(wait_for_file(call_dir(call) / "started")) << strsignal(sig);
    EXPECT_EQ(run_files_in(box.tmp).size(), 2u) << strsignal(sig);
    if (sig == SIGINT)
      tty->send(PtyDriver::kCtrlC);  // as a user would: the whole foreground group gets it
    else
      tty->kill_with(sig);
    const PtyExit end = tty->wait();
    EXPECT_FALSE(end.exited) << strsignal(sig);
    EXPECT_EQ(end.signal, sig) << strsignal(sig);
    EXPECT_TRUE(run_files_in(box.tmp).empty()) << strsignal(sig);
    EXPECT_EQ(tty->output().find("Error:"), std::string::npos) << strsignal(sig);
  }
}

// The real ansible-playbook over SSH to a loopback sshd, the target being this
// machine: the 10-user phase writes the variables it received into a file.
class RealAnsibleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/ansible-playbook")) GTEST_SKIP() << "ansible-playbook is not installed";
    sshd_dir = box.work / "sshd";
    fs::create_directories(sshd_dir);
    const RunResult started =
        box.run({"bash", (fs::path(TERVANE_SOURCE_DIR) / "tests/fixtures/sshd.sh").string(), "start",
                 sshd_dir.string()});
    if (started.status == 77) GTEST_SKIP() << "no sshd on loopback here: " << started.output;
    ASSERT_EQ(started.status, 0) << started.output;
    running = true;
    std::ifstream env(sshd_dir / "env");
    for (std::string line; std::getline(env, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) server[line.substr(0, eq)] = line.substr(eq + 1);
    }
    for (const char* k : {"PORT", "KEY", "USER"}) ASSERT_FALSE(server[k].empty()) << k << " missing in env";
  }
  void TearDown() override {
    if (running) box.run({"bash", (fs::path(TERVANE_SOURCE_DIR) / "tests/fixtures/sshd.sh").string(), "stop",
                          sshd_dir.string()});
  }

  Sandbox box;
  fs::path sshd_dir;
  bool running = false;
  std::map<std::string, std::string> server;
};

TEST_F(RealAnsibleRun, UserPhaseReceivesTheAnswersOnTheTarget) {
  const fs::path root = box.work / "project";
  const fs::path received = box.work / "received.txt";
  box.dir.write_file(root / "ansible.cfg",
                     "[defaults]\n"
                     "host_key_checking = False\n"
                     "remote_port = " + server["PORT"] + "\n"
                     "[ssh_connection]\n"
                     "ssh_args = -o UserKnownHostsFile=" + (box.work / "known_hosts").string() +
                         " -o ControlMaster=no\n");
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
  box.dir.write_file(box.home / ".ssh/config", "Host loop\n  HostName 127.0.0.1\n  User " + server["USER"] +
                                                   "\n  IdentityFile " + server["KEY"] + "\n");
  box.link_real("git");
  box.link_real("ansible-playbook");
  const fs::path dots = box.bare_repo("dots", {{"install.fish", "echo hi\n"}});
  const fs::path walls = box.bare_repo("walls", {{"a.png", "png"}});
  ASSERT_FALSE(dots.empty() || walls.empty());
  box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());

  PtyDriver tty({wizard.string()}, box.env(), wide());
  ASSERT_TRUE(tty.expect("Select a global command to continue:"));
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Select target Arch workstation from SSH Config:"));
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Tervane Dots Configs Git URL:"));
  tty.send(dots.string());
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Tervane Wallpapers Git URL:"));
  tty.send(walls.string());
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Target username to create/setup on Arch:", 30s));
  tty.send("maria");
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Target user password:"));
  tty.send("s3cr\"t");
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Remote administrator sudo password (to become root):"));
  tty.send("unused");
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Choose execution mode:"));
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Select a standalone playbook phase to execute:"));
  tty.settle();
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Executing 10-user.yml over SSH."));
  ASSERT_TRUE(tty.expect("│  \x1b[1;36mTASK [Record the variables]", 120s));
  ASSERT_TRUE(tty.expect("10-user.yml completed successfully!", 120s));
  ASSERT_TRUE(tty.expect("Select a standalone playbook phase to execute:"));
  tty.settle();
  for (int i = 0; i < 10; ++i) tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.expect("Exited standalone wizard!"));
  EXPECT_EQ(tty.wait().code, 0);

  const std::string cache = (box.home / "temp/.tervane-bootstrap").string();
  EXPECT_EQ(box.dir.read_file(received), "user=maria\npassword=s3cr\"t\nconfigs=" + cache +
                                             "/configs\nwallpapers=" + cache + "/wallpapers\nnoninteractive=True\n");
  EXPECT_TRUE(fs::exists(cache + "/configs/install.fish"));
  EXPECT_TRUE(run_files_in(box.tmp).empty());
}

}  // namespace
