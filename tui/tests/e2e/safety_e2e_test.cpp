// The wizard under faults and hostile conditions, with the real binary and
// the real ansible-playbook: values Ansible would read otherwise, the port
// and the proxy of a host block, files planted by another user, a closed
// standard output, and signals during a run.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"
#include "wizard/run_files.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Live processes whose command line contains `needle` (zombies count as gone).
std::vector<std::string> processes_with(const std::string& needle) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string pid = e.path().filename();
    if (!std::isdigit(static_cast<unsigned char>(pid[0])) || pid == std::to_string(getpid())) continue;
    std::string cmdline = read_file(e.path() / "cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    const std::string stat = read_file(e.path() / "stat");
    if (cmdline.find(needle) != std::string::npos && stat.find(") Z ") == std::string::npos)
      found.push_back(pid + ": " + cmdline);
  }
  return found;
}

bool none_left(const std::string& needle, std::chrono::milliseconds within) {
  return eventually([&] { return processes_with(needle).empty(); }, within, 50ms);
}

// A project whose playbooks run on this machine (no SSH), a configured host,
// a repository cache to reuse, and the real git and ansible-playbook.
class Safety : public ::testing::Test {
 protected:
  void SetUp() override {
    if (find_on_system_path("ansible-playbook").empty()) GTEST_SKIP() << "ansible-playbook is not installed";
    box.dir.write_file(root / "ansible.cfg", "[defaults]\nhost_key_checking = False\n");
    box.dir.write_file(root / "bootstrap.yml",
                       "- hosts: workstation\n  gather_facts: false\n  connection: local\n  tasks:\n"
                       "    - name: Wait\n      ansible.builtin.command: sleep 29.25\n");
    box.dir.write_file(root / "playbooks/00-preflight.yml",
                       "- hosts: workstation\n  gather_facts: false\n  connection: local\n  tasks:\n"
                       "    - ansible.builtin.debug:\n        msg: hello\n");
    wizard = box.install_wizard(root);
    box.dir.write_file(box.home / ".ssh/config", "Host arch\n  HostName 10.9.8.7\n  User installer\n");
    box.cache_clones();
    box.link_real("git");
    box.link_real("ansible-playbook");
    box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());
    fs::create_directories(cwd);
  }

  // The wizard started through `prepare` (run in the child first), answered
  // up to the execution-mode question.
  std::unique_ptr<PtyDriver> start(const std::function<bool()>& prepare = [] { return true; }) {
    const std::string program = wizard.string();
    auto tty = std::make_unique<PtyDriver>(
        [program, prepare] {
          if (!prepare()) return 125;
          char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
          execv(argv[0], argv);
          return 127;
        },
        box.env(), PtyOptions{.cols = 120, .rows = 50, .cwd = cwd.string()});
    EXPECT_TRUE(answer_setup(*tty, kCommandMenu, kModeMenu, {"", "", "", "maria", "t4rget", "sud0"}));
    return tty;
  }

  Sandbox box;
  fs::path root = box.work / "project", cwd = box.work / "cwd", wizard;
};

}  // namespace

// Started with standard output closed, the variables file must not become
// descriptor 1 and receive the playbook's output.
TEST_F(Safety, ClosedStandardOutputLeavesTheVariablesFileIntact) {
  auto tty = start([] { return ::close(STDOUT_FILENO) == 0; });
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect(kSetupPrompts[kPhaseMenu]));
  tty->settle();
  const auto files = box.run_files();
  ASSERT_EQ(files.size(), 3u);
  const fs::path vars =
      *std::find_if(files.begin(), files.end(), [](const fs::path& f) { return f.extension() == ".json"; });
  const std::string before = read_file(vars);
  ASSERT_TRUE(before.starts_with("{\"ansible_become_password\":\"sud0\"") && before.ends_with("}")) << before;

  tty->key(PtyDriver::kEnter);  // 00-preflight.yml
  ASSERT_TRUE(tty->expect("00-preflight.yml completed successfully!", 120s)) << tty->dump();
  ASSERT_TRUE(tty->expect("Select a standalone playbook phase to execute:"));
  EXPECT_EQ(read_file(vars), before);
  tty->settle();
  for (int i = 0; i < 10; ++i) tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Exited standalone wizard!"));
  EXPECT_EQ(tty->wait().code, 0);
}

// A signal sent to the wizard alone while a playbook runs: the wizard dies by
// it, no run file, no core file and no process of the run is left.
TEST_F(Safety, SignalsDuringARunLeaveNoRunFileNoCoreAndNoPlaybookProcess) {
  box.set_env("ASAN_OPTIONS", "disable_coredump=0:detect_leaks=0");  // the debug build may dump cores too
  for (const int sig : {SIGQUIT, SIGPIPE, SIGUSR1, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    auto tty = start([] {
      rlimit core{};
      ::getrlimit(RLIMIT_CORE, &core);
      core.rlim_cur = core.rlim_max;  // as large as this user may have it
      return ::setrlimit(RLIMIT_CORE, &core) == 0;
    });
    tty->key(PtyDriver::kEnter);  // the whole bootstrap
    ASSERT_TRUE(tty->expect("TASK [Wait]", 120s)) << tty->dump();
    ASSERT_TRUE(eventually([] { return !processes_with("sleep 29.25").empty(); }, 30s, 50ms))
        << "the task did not start";
    EXPECT_EQ(box.run_files().size(), 3u);
    tty->kill_with(sig);
    const PtyExit end = tty->wait();
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, sig);
    EXPECT_TRUE(box.run_files().empty());
    for (const fs::path& dir : {cwd, root})
      for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().filename().string().starts_with("core")) << e.path();
    EXPECT_TRUE(none_left(box.tmp.string(), 10s)) << ::testing::PrintToString(processes_with(box.tmp.string()));
    EXPECT_TRUE(none_left("sleep 29.25", 10s)) << ::testing::PrintToString(processes_with("sleep 29.25"));
  }
}

// A host reached on the port its ~/.ssh/config block names, and only there:
// the loopback sshd listens on a high port that nothing else tells Ansible.
class SafetyPort : public LoopbackRun {};
TEST_F(SafetyPort, TheHostBlocksPortIsWhereThePlaybookRuns) {
  const fs::path reached = box.work / "reached";
  ansible_cfg();
  box.dir.write_file(root / "bootstrap.yml",
                     "- hosts: workstation\n  gather_facts: false\n  tasks:\n"
                     "    - ansible.builtin.command: touch " + reached.string() + "\n");
  const fs::path wizard = box.install_wizard(root);
  host_block("loop", "  Port " + (*server)["PORT"] + "\n");
  box.cache_clones();

  PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50});
  ASSERT_TRUE(answer_setup(tty, kCommandMenu, kHostMenu));
  ASSERT_TRUE(tty.expect_screen((*server)["USER"] + "@127.0.0.1"));  // the row's hint has no port
  ASSERT_TRUE(answer_setup(tty, kHostMenu, kModeMenu, {"", "", "x", "x", "x"}));
  tty.key(PtyDriver::kEnter);
  EXPECT_TRUE(tty.expect("Tervane Hyprland installed successfully!", 120s)) << tty.dump();
  EXPECT_EQ(tty.wait().code, 0);
  EXPECT_TRUE(fs::exists(reached));
}

// Values that Ansible, reading the inventory, would split, cut or evaluate.
TEST(InventoryWithAnsible, EveryValueIsReadBackExactlyAsChosen) {
  if (find_on_system_path("ansible-inventory").empty()) GTEST_SKIP() << "ansible-inventory is not installed";
  Sandbox box;
  const std::string key = "/k/my keys/id'\"=#;";
  const SshHost host{";a\tb\\'\"=#", "h\"'=#; 1", "root ansible_connection=local", "", 0, "ProxyCommand=nc %h %p #;'"};
  const fs::path inventory = box.dir.write_file("hosts.ini", inventory_text(host, &key));
  const RunResult listed = box.run({"ansible-inventory", "-i", inventory.string(), "--list"}, box.work);
  ASSERT_EQ(listed.status, 0) << listed.output;
  EXPECT_NE(listed.output.find(R"(            ";a\tb\\'\"=#": {
                "ansible_host": "h\"'=#; 1",
                "ansible_ssh_common_args": "-o StrictHostKeyChecking=no -o \"ProxyCommand=nc %h %p #;'\"",
                "ansible_ssh_private_key_file": "/k/my keys/id'\"=#;",
                "ansible_user": "root ansible_connection=local"
            })"),
            std::string::npos)
      << read_file(inventory) << listed.output;
}

// The host's Port is closed: only its block's ProxyCommand, which relays to
// the loopback sshd, reaches it. Another user has put host_vars into the
// temporary folder (naming a program to run as ssh) and links where the log
// goes; ANSIBLE_LOG_PATH is set but empty.
class ProxiedRun : public LoopbackRun {};
TEST_F(ProxiedRun, AProxiedHostIsSetUpWithNothingPlantedReadOrWritten) {
  const fs::path victim = box.dir.write_file("victim", "untouched\n");
  ansible_cfg();
  box.dir.write_file(root / "playbooks/00-preflight.yml",
                     "- hosts: workstation\n  gather_facts: false\n  tasks:\n    - ansible.builtin.ping:\n");
  box.dir.write_file(box.tmp / "host_vars/arch.yml",
                     "ansible_ssh_executable: " + box.stub("planted", "exit 1").string());
  fs::create_directories(box.work / "shared");
  fs::create_directory_symlink(box.work, box.work / "shared/tervane");
  fs::create_symlink(victim, box.work / "ansible.log");
  box.set_env("XDG_STATE_HOME", (box.work / "shared").string());
  box.set_env("ANSIBLE_LOG_PATH", "");
  host_block("arch", "  Port 1\n  ProxyCommand python3 " TERVANE_SOURCE_DIR "/tests/playbooks/relay.py 127.0.0.1 " +
                        (*server)["PORT"] + "\n");
  box.cache_clones();
  PtyDriver tty({box.install_wizard(root).string()}, box.env(), {.cols = 120, .rows = 50});
  ASSERT_TRUE(answer_setup(tty, kCommandMenu, kPhaseMenu, {"", "", "", "", "", "unused", PtyDriver::kDown}));
  ASSERT_TRUE(tty.answer(kSetupPrompts[kPhaseMenu]));  // 00-preflight.yml
  ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!", 120s)) << tty.dump();
  const std::string said = "Running without a log: " + (box.work / "shared/tervane").string() +
                           " is not a folder of yours that only you can write to.";
  EXPECT_TRUE(tty.output().find(said) != std::string::npos && tty.output().find(said) == tty.output().rfind(said));
  EXPECT_EQ(read_file(victim), "untouched\n");
  ASSERT_TRUE(tty.expect(kSetupPrompts[kPhaseMenu]));  // a key sent before it would be dropped
  tty.settle();
  tty.send(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(box.tmp), {}), 1);  // host_vars alone
}
