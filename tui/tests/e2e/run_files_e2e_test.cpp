// The run files as the real Ansible reads them: every value read back as the
// user chose it, nothing read from beside them, and a host block's proxy
// used for the connection.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"
#include "support/scoped_env.hpp"
#include "wizard/run_files.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '\t' ? std::string("\\t") : c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
  return out + "\"";
}

// `ansible-inventory --list` on `inventory`, run outside any project.
RunResult list_inventory(const Sandbox& box, const std::string& inventory) {
  return box.run({"ansible-inventory", "-i", inventory, "--list"}, box.work);
}

}  // namespace

TEST(InventoryWithAnsible, EveryValueIsReadBackExactlyAsChosen) {
  if (find_on_system_path("ansible-inventory").empty()) GTEST_SKIP() << "ansible-inventory is not installed";
  const struct {
    SshHost host;
    std::string key;
  } cases[] = {
      {{"arch", "10.0.0.5", "root", ""}, "/k/id_ed25519"},  // written as it is
      {{"spaced", "10.0.0.5", "root", ""}, "/k/my keys/id_test"},
      {{"local", "192.0.2.9", "root ansible_connection=local", ""}, ""},
      {{"a\tb", "10.0.0.6", "root", ""}, ""},
      {{"q'uote\"", "h\"1", "o'brien", ""}, "/k/it's"},
      {{"e=q", "h=1", "u=1", ""}, "/k/a=b"},
      {{"#hash", "h#1", "ops#1", ""}, "/k/#1"},
      {{";semi", "h;1", "u;1", ""}, "/k/;1"},
      {{"back\\slash", "h\\1", "u\\1", ""}, "/k/\\1"},
      {{"proxied", "10.0.0.7", "root", "", 2222, "ProxyCommand=sh -c 'exec nc %h %p'"}, ""},
  };
  Sandbox box;
  std::string inventory = "[workstation]\n";
  for (const auto& c : cases) inventory += inventory_text(c.host, c.key.empty() ? nullptr : &c.key).substr(14);
  const RunResult listed = list_inventory(box, box.dir.write_file("hosts.ini", inventory).string());
  ASSERT_EQ(listed.status, 0) << listed.output;
  for (const auto& c : cases) {
    const SshHost& h = c.host;
    std::string want = json(h.name) + ": {\n" + std::string(16, ' ') + "\"ansible_host\": " + json(h.hostname) + ",\n";
    if (h.port != 0) want += std::string(16, ' ') + "\"ansible_port\": " + std::to_string(h.port) + ",\n";
    want += std::string(16, ' ') + "\"ansible_ssh_common_args\": " +
            json("-o StrictHostKeyChecking=no" + (h.proxy.empty() ? "" : " -o \"" + h.proxy + "\"")) + ",\n";
    if (!c.key.empty()) want += std::string(16, ' ') + "\"ansible_ssh_private_key_file\": " + json(c.key) + ",\n";
    want += std::string(16, ' ') + "\"ansible_user\": " + json(h.user) + "\n" + std::string(12, ' ') + "}";
    EXPECT_NE(listed.output.find(want), std::string::npos) << want << "\nnot in\n" << inventory << listed.output;
  }
}

// Ansible reads host_vars/ and group_vars/ beside an inventory; another user
// can put them into a shared temporary directory, but not into the run's own.
TEST(InventoryWithAnsible, NothingPlantedBesideTheRunDirectoryIsRead) {
  if (find_on_system_path("ansible-inventory").empty()) GTEST_SKIP() << "ansible-inventory is not installed";
  Sandbox box;
  box.dir.write_file(box.tmp / "host_vars/arch.yml", "planted_host_var: 1\n");
  box.dir.write_file(box.tmp / "group_vars/workstation.yml", "planted_group_var: 1\n");
  ScopedEnv tmpdir("TMPDIR", box.tmp.string());
  SetupAnswers answers;
  answers.host = {"arch", "10.0.0.5", "root", "/no/key"};
  auto files = prepare_run_files(answers);
  ASSERT_TRUE(files) << files.error().message();
  const RunResult listed = list_inventory(box, files->inventory_path);
  ASSERT_EQ(listed.status, 0) << listed.output;
  EXPECT_NE(listed.output.find("\"arch\": {"), std::string::npos) << listed.output;
  EXPECT_EQ(listed.output.find("planted"), std::string::npos) << listed.output;
}

// A host reached only through its block's ProxyCommand: its Port is closed,
// and the command relays to the loopback sshd. The wizard runs a phase there
// with the real ansible-playbook.
TEST(InventoryWithAnsible, AHostBlocksProxyCommandCarriesThePlaybooksConnection) {
  if (find_on_system_path("ansible-playbook").empty()) GTEST_SKIP() << "ansible-playbook is not installed";
  Sandbox box;
  const std::string sshd = (fs::path(TERVANE_SOURCE_DIR) / "tests/fixtures/sshd.sh").string();
  const fs::path sshd_dir = box.work / "sshd";
  const RunResult started = box.run({"bash", sshd, "start", sshd_dir.string()});
  if (started.status == 77) GTEST_SKIP() << "no sshd on loopback here: " << started.output;
  ASSERT_EQ(started.status, 0) << started.output;
  struct Stop {
    const Sandbox& box;
    std::vector<std::string> argv;
    ~Stop() { box.run(argv); }
  } stop{box, {"bash", sshd, "stop", sshd_dir.string()}};
  std::map<std::string, std::string> server;
  std::ifstream env(sshd_dir / "env");
  for (std::string line; std::getline(env, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) server[line.substr(0, eq)] = line.substr(eq + 1);

  const fs::path root = box.work / "project";
  box.dir.write_file(root / "ansible.cfg", "[defaults]\nhost_key_checking = False\n[ssh_connection]\nssh_args = -o "
                                           "ControlMaster=no\n");
  box.dir.write_file(root / "bootstrap.yml", "- hosts: workstation\n");
  box.dir.write_file(root / "playbooks/00-preflight.yml",
                     "- hosts: workstation\n  gather_facts: false\n  tasks:\n    - ansible.builtin.ping:\n");
  const std::string relay = (fs::path(TERVANE_SOURCE_DIR) / "tests/playbooks/relay.py").string();
  box.dir.write_file(box.home / ".ssh/config", "Host arch\n  HostName 127.0.0.1\n  Port 1\n  User " + server["USER"] +
                                                   "\n  IdentityFile " + server["KEY"] + "\n  ProxyCommand python3 '" +
                                                   relay + "' 127.0.0.1 " + server["PORT"] + "\n");
  for (const char* name : {"configs", "wallpapers"})
    fs::create_directories(box.home / "temp/.tervane-bootstrap" / name / ".git");
  box.link_real("git");
  box.link_real("ansible-playbook");
  box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());

  PtyDriver tty({box.install_wizard(root).string()}, box.env(), {.cols = 120, .rows = 50});
  ASSERT_TRUE(tty.answer("Select a global command to continue:"));
  ASSERT_TRUE(tty.answer("Select target Arch workstation from SSH Config:"));
  ASSERT_TRUE(tty.answer("Cached repositories detected locally:"));
  ASSERT_TRUE(tty.answer("Target username to create/setup on Arch:"));
  ASSERT_TRUE(tty.answer("Target user password:"));
  ASSERT_TRUE(tty.answer("Remote administrator sudo password (to become root):", "unused"));
  ASSERT_TRUE(tty.expect("Choose execution mode:"));
  tty.key(PtyDriver::kDown);
  tty.key(PtyDriver::kEnter);
  ASSERT_TRUE(tty.answer("Select a standalone playbook phase to execute:"));  // 00-preflight.yml
  ASSERT_TRUE(tty.expect("00-preflight.yml completed successfully!", 120s)) << tty.dump();
  tty.send(PtyDriver::kEsc);
  EXPECT_EQ(tty.wait().code, 1);
}
