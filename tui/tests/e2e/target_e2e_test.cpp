// The whole wizard against a booted stand-in of a fresh Arch install
// (tests/playbooks/target.sh): the full bootstrap, then one phase from the
// phase menu, with the real ansible-playbook; then the target is inspected.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kScripts = (fs::path(TERVANE_SOURCE_DIR) / "tests/playbooks").string();
constexpr const char* kHost = "tervane-e2e";

class TargetRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "booting the target needs root";
    if (!fs::exists("/usr/bin/ansible-playbook")) GTEST_SKIP() << "ansible-playbook is not installed";
    const RunResult image = box.run({"bash", kScripts + "/target.sh", "image"});
    if (image.status == 77) GTEST_SKIP() << "no target image here: " << image.output;
    ASSERT_EQ(image.status, 0) << image.output;
    ASSERT_EQ(box.run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key.string()}).status, 0);
    // A mount namespace for this start only: the overlay then lives in the container's own.
    box.set_env("TERVANE_TARGET_OWNER", std::to_string(::getpid()));
    const RunResult started = box.run({"unshare", "--mount", "--propagation", "private", "--", "bash",
                                       kScripts + "/target.sh", "start", run.string(), kHost, key.string()});
    if (started.status == 77) GTEST_SKIP() << "the target cannot boot here: " << started.output;
    running = true;
    ASSERT_EQ(started.status, 0) << started.output;
  }
  void TearDown() override {
    if (running) box.run({"bash", kScripts + "/target.sh", "stop", run.string(), kHost});
  }

  /// The wizard up to the execution-mode question, the target chosen from
  /// ~/.ssh/config and the account answers given.
  void answer_up_to_mode(PtyDriver& tty, bool first) {
    if (first)
      ASSERT_TRUE(answer_setup(tty, kCommandMenu, kHostMenu) && answer_clone_urls(tty, dots, walls));
    else
      ASSERT_TRUE(answer_setup(tty, kCommandMenu, kCacheMenu) && tty.answer(kSetupPrompts[kCacheMenu]));
    ASSERT_TRUE(tty.expect_screen(kSetupPrompts[kUserPrompt], 60s));
    ASSERT_TRUE(answer_setup(tty, kUserPrompt, kModeMenu, {"maria", "s3cret pass", "not needed as root"}));
    tty.settle();
  }

  Sandbox box;
  const fs::path run = box.work / "run", key = box.work / "key";
  fs::path dots, walls;
  bool running = false;
};

TEST_F(TargetRun, FullBootstrapThenOnePhaseLeaveAFinishedDesktop) {
  const fs::path root = box.work / "project";
  fs::create_directories(root);
  for (const char* entry : {"ansible.cfg", "bootstrap.yml", "playbooks", "roles"})
    fs::create_symlink(fs::path(TERVANE_SOURCE_DIR).parent_path() / entry, root / entry);
  const fs::path wizard = box.install_wizard(root);
  box.dir.write_file(box.home / ".ssh/config", std::string("Host ") + kHost + "\n  HostName " + kHost +
                                                   "\n  User root\n  IdentityFile " + key.string() + "\n");
  // ssh reaches the container only through its network namespace, as target.sh's file says.
  const std::string ssh_config = (run / kHost / "ssh_config").string();
  for (const char* name : {"ANSIBLE_SSH_EXTRA_ARGS", "ANSIBLE_SFTP_EXTRA_ARGS", "ANSIBLE_SCP_EXTRA_ARGS"})
    box.set_env(name, "-F " + ssh_config);
  box.set_env("ANSIBLE_LOCAL_TEMP", (box.work / "ansible-tmp").string());
  box.link_real("git");
  box.link_real("ansible-playbook");
  std::map<std::string, std::string> configs{
      {"install.fish", "echo \"run as \"(id -un)\" in \"(pwd) >>$HOME/.tervane-installer-runs\n"},
      {"hypr/hyprland.conf", "monitor=,preferred,auto,1\n"}};
  std::map<std::string, std::string> wallpapers;
  for (int i = 0; i < 40; ++i)
    wallpapers["set" + std::to_string(i % 4) + "/w" + std::to_string(i) + ".pgm"] = "P5 1 1 255 " + std::to_string(i);
  dots = box.bare_repo("dots", configs);
  walls = box.bare_repo("walls", wallpapers);
  ASSERT_FALSE(dots.empty() || walls.empty());

  {
    PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50});
    answer_up_to_mode(tty, true);
    tty.key(PtyDriver::kEnter);  // Run full bootstrap (all tasks in order)
    ASSERT_TRUE(tty.expect("Executing bootstrap.yml over SSH."));
    ASSERT_TRUE(tty.expect("Tervane Hyprland installed successfully! Reboot and enjoy your beautiful desktop.", 900s))
        << tty.dump();
    const PtyExit end = tty.wait(60s);
    EXPECT_TRUE(end.exited && end.code == 0) << tty.dump();
  }
  {
    PtyDriver tty({wizard.string()}, box.env(), {.cols = 120, .rows = 50});
    answer_up_to_mode(tty, false);
    tty.key(PtyDriver::kDown);  // Run specific playbook phases interactively
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Select a standalone playbook phase to execute:"));
    tty.settle();
    for (int i = 0; i < 2; ++i) tty.key(PtyDriver::kDown);  // 10-user
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Executing 10-user.yml over SSH."));
    ASSERT_TRUE(tty.expect("Success", 300s)) << tty.dump();
    ASSERT_TRUE(tty.expect("10-user.yml completed successfully!"));
    ASSERT_TRUE(tty.expect("Select a standalone playbook phase to execute:"));
    tty.settle();
    for (int i = 0; i < 10; ++i) tty.key(PtyDriver::kDown);  // Exit Wizard
    tty.key(PtyDriver::kEnter);
    ASSERT_TRUE(tty.expect("Exited standalone wizard!"));
    const PtyExit end = tty.wait(60s);
    EXPECT_TRUE(end.exited && end.code == 0) << tty.dump();
  }

  const RunResult verdict = box.run(
      {"bash", kScripts + "/target_verify.sh", ssh_config, kHost, "maria", "s3cret pass", std::to_string(wallpapers.size())});
  EXPECT_EQ(verdict.output, "");
  EXPECT_EQ(verdict.status, 0);
}

}  // namespace
