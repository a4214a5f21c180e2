// The run files as the real Ansible reads them, and a whole run to a host
// behind a proxy while another user has planted files that could steer it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "wizard/run_files.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
TEST(ProxiedRun, AProxiedHostIsSetUpWithNothingPlantedReadOrWritten) {
  if (find_on_system_path("ansible-playbook").empty()) GTEST_SKIP() << "ansible-playbook is not installed";
  Sandbox box;
  const std::string sshd = std::string(TERVANE_SOURCE_DIR) + "/tests/fixtures/sshd.sh",
                    at = (box.work / "sshd").string();
  const RunResult started = box.run({"bash", sshd, "start", at});
  if (started.status == 77) GTEST_SKIP() << "no sshd on loopback here: " << started.output;
  ASSERT_EQ(started.status, 0) << started.output;
  struct Stop {  // the server, whatever way the test ends
    std::function<void()> stop;
    ~Stop() { stop(); }
  } stop{[&] { box.run({"bash", sshd, "stop", at}); }};
  std::map<std::string, std::string> server;
  std::ifstream env(at + "/env");
  for (std::string line; std::getline(env, line);)
    server[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);

  const fs::path root = box.work / "project", victim = box.dir.write_file("victim", "untouched\n");
  box.dir.write_file(root / "ansible.cfg", "[ssh_connection]\nssh_args = -o ControlMaster=no\n");
  box.dir.write_file(root / "playbooks/00-preflight.yml",
                     "- hosts: workstation\n  gather_facts: false\n  tasks:\n    - ansible.builtin.ping:\n");
  box.dir.write_file(box.tmp / "host_vars/arch.yml",
                     "ansible_ssh_executable: " + box.stub("planted", "exit 1").string());
  fs::create_directories(box.work / "shared");
  fs::create_directory_symlink(box.work, box.work / "shared/tervane");
  fs::create_symlink(victim, box.work / "ansible.log");
  box.set_env("XDG_STATE_HOME", (box.work / "shared").string());
  box.set_env("ANSIBLE_LOG_PATH", "");
  box.dir.write_file(box.home / ".ssh/config", "Host arch\n HostName 127.0.0.1\n Port 1\n User " + server["USER"] +
                                                   "\n IdentityFile " + server["KEY"] + "\n ProxyCommand python3 " +
                                                   TERVANE_SOURCE_DIR + "/tests/playbooks/relay.py 127.0.0.1 " +
                                                   server["PORT"] + "\n");
  for (const char* name : {"configs", "wallpapers"})
    fs::create_directories(box.home / "temp/.tervane-bootstrap" / name / ".git");
  box.link_real("git");
  box.link_real("ansible-playbook");
  PtyDriver tty({box.install_wizard(root).string()}, box.env(), {.cols = 120, .rows = 50});
  for (const char* prompt :
       {"Select a global command to continue:", "Select target Arch workstation from SSH Config:",
        "Cached repositories detected locally:", "Target username to create/setup on Arch:", "Target user password:"})
    ASSERT_TRUE(tty.answer(prompt));
  ASSERT_TRUE(tty.answer("Remote administrator sudo password (to become root):", "unused"));
  ASSERT_TRUE(tty.expect("Choose execution mode:"));
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.answer("Select a standalone playbook phase to execute:"));  // 00-preflight.yml
  ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!", 120s)) << tty.dump();
  const std::string said = "Running without a log: " + (box.work / "shared/tervane").string() +
                           " is not a folder of yours that only you can write to.";
  EXPECT_TRUE(tty.output().find(said) != std::string::npos && tty.output().find(said) == tty.output().rfind(said));
  EXPECT_EQ(read_file(victim), "untouched\n");
  tty.send(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(box.tmp), {}), 1);  // host_vars alone
}
