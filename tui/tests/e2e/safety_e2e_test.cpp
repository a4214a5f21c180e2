// The wizard under faults and hostile conditions, with the real binary and
// the real ansible-playbook: the port of a host block, a closed standard
// output, and signals during a run.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/eventually.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<fs::path> run_files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))  // the private directory and its files
    if (e.path().filename().string().starts_with("tervane-")) files.push_back(e.path());
  return files;
}

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
    for (const char* name : {"configs", "wallpapers"})
      fs::create_directories(box.home / "temp/.tervane-bootstrap" / name / ".git");
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
    EXPECT_TRUE(tty->answer("Select a global command to continue:"));
    EXPECT_TRUE(tty->answer("Select target Arch workstation from SSH Config:"));
    EXPECT_TRUE(tty->answer("Cached repositories detected locally:"));
    EXPECT_TRUE(tty->answer("Target username to create/setup on Arch:", "maria"));
    EXPECT_TRUE(tty->answer("Target user password:", "t4rget"));
    EXPECT_TRUE(tty->answer("Remote administrator sudo password (to become root):", "sud0"));
    EXPECT_TRUE(tty->expect("Choose execution mode:"));
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
  ASSERT_TRUE(tty->expect("Select a standalone playbook phase to execute:"));
  tty->settle();
  const auto files = run_files_in(box.tmp);
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
    EXPECT_EQ(run_files_in(box.tmp).size(), 3u);
    tty->kill_with(sig);
    const PtyExit end = tty->wait();
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, sig);
    EXPECT_TRUE(run_files_in(box.tmp).empty());
    for (const fs::path& dir : {cwd, root})
      for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().filename().string().starts_with("core")) << e.path();
    EXPECT_TRUE(none_left(box.tmp.string(), 10s)) << ::testing::PrintToString(processes_with(box.tmp.string()));
    EXPECT_TRUE(none_left("sleep 29.25", 10s)) << ::testing::PrintToString(processes_with("sleep 29.25"));
  }
}

// A host reached on the port its ~/.ssh/config block names, and only there:
// the loopback sshd listens on a high port that nothing else tells Ansible.
TEST(SafetyPort, TheHostBlocksPortIsWhereThePlaybookRuns) {
  // An ordinary user's sshd can only log that user in, whose login shell
  // may refuse (nobody's does): as for the other runs over the loopback sshd.
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the loopback sshd logs in only its own user otherwise";
  if (find_on_system_path("ansible-playbook").empty()) GTEST_SKIP() << "ansible-playbook is not installed";
  Sandbox box;
  const std::string sshd_script = (fs::path(TERVANE_SOURCE_DIR) / "tests/fixtures/sshd.sh").string();
  const fs::path sshd_dir = box.work / "sshd";
  const RunResult started = box.run({"bash", sshd_script, "start", sshd_dir.string()});
  if (started.status == 77) GTEST_SKIP() << "no sshd on loopback here: " << started.output;
  ASSERT_EQ(started.status, 0) << started.output;
  struct Stop {
    Sandbox& box;
    std::string script, dir;
    ~Stop() { box.run({"bash", script, "stop", dir}); }
  } stop{box, sshd_script, sshd_dir.string()};
  std::map<std::string, std::string> server;
  std::ifstream env(sshd_dir / "env");
  for (std::string line; std::getline(env, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) server[line.substr(0, eq)] = line.substr(eq + 1);

  const fs::path root = box.work / "project", reached = box.work / "reached";
  box.dir.write_file(root / "ansible.cfg", "[defaults]\nhost_key_checking = False\n[ssh_connection]\n"
                                           "ssh_args = -o UserKnownHostsFile=" + (box.work / "known_hosts").string() +
                                               " -o ControlMaster=no\n");
  box.dir.write_file(root / "bootstrap.yml",
                     "- hosts: workstation\n  gather_facts: false\n  tasks:\n"
                     "    - ansible.builtin.command: touch " + reached.string() + "\n");
  const fs::path wizard = box.install_wizard(root);
  box.dir.write_file(box.home / ".ssh/config", "Host loop\n  HostName 127.0.0.1\n  Port " + server["PORT"] +
                                                   "\n  User " + server["USER"] + "\n  IdentityFile " +
                                                   server["KEY"] + "\n");
  for (const char* name : {"configs", "wallpapers"})
    fs::create_directories(box.home / "temp/.tervane-bootstrap" / name / ".git");
  box.link_real("git");
  box.link_real("ansible-playbook");
  box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());

  PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50});
  ASSERT_TRUE(tty.answer("Select a global command to continue:"));
  ASSERT_TRUE(tty.expect_screen(server["USER"] + "@127.0.0.1"));  // the row's hint has no port
  ASSERT_TRUE(tty.answer("Select target Arch workstation from SSH Config:"));
  ASSERT_TRUE(tty.answer("Cached repositories detected locally:"));
  for (const char* prompt : {"Target username to create/setup on Arch:", "Target user password:",
                             "Remote administrator sudo password (to become root):"})
    ASSERT_TRUE(tty.answer(prompt, "x"));
  ASSERT_TRUE(tty.expect("Choose execution mode:"));
  tty.key(PtyDriver::kEnter);
  EXPECT_TRUE(tty.expect("Tervane Hyprland installed successfully!", 120s)) << tty.dump();
  EXPECT_EQ(tty.wait().code, 0);
  EXPECT_TRUE(fs::exists(reached));
}
