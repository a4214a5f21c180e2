// The setup command up to the execution-mode menu, run as a user would: the
// target, the repository cache with the real git and local repositories, and
// the account questions. Each run ends with Escape at the mode menu.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kDotsUrl = "https://gitlab.com/tervane/tervane-dots.git";
const std::string kWallsUrl = "https://gitlab.com/tervane/tervane-wallpapers.git";

std::string without_cr(std::string s) {
  std::erase(s, '\r');
  return s;
}

// The first file in `dir` whose name starts with `prefix`.
std::string file_starting(const fs::path& dir, const std::string& prefix) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().starts_with(prefix)) return read_file(e.path());
  return "";
}

class SetupFlow : public testing::Test {
 protected:
  void SetUp() override {
    // Only local repositories may be reached: an https URL that no
    // insteadOf rule maps to a local path fails instead of leaving the machine.
    box.set_env("GIT_ALLOW_PROTOCOL", "file");
    git_log = box.dir / "git-calls.log";
    const fs::path real_git = find_on_system_path("git");
    ASSERT_FALSE(real_git.empty());
    box.stub("git", "echo \"$*\" >> '" + git_log.string() + "'\nexec '" + real_git.string() + "' \"$@\"");
    box.link_real("ansible-playbook");
    wizard = box.install_wizard(box.dir / "project");
    cache = box.home / "temp" / ".tervane-bootstrap";
  }

  // Maps a default URL to a local bare repository.
  void map_url(const std::string& url, const fs::path& repo) {
    ASSERT_EQ(box.run({"git", "config", "--file", box.git_config().string(), "url." + repo.string() + ".insteadOf",
                       url})
                  .status,
              0);
  }

  // Clones both repositories into the cache as an earlier run would have.
  void fill_cache(const fs::path& dots, const fs::path& walls) {
    ASSERT_EQ(box.run({"git", "clone", "-q", dots.string(), (cache / "configs").string()}).status, 0);
    ASSERT_EQ(box.run({"git", "clone", "-q", walls.string(), (cache / "wallpapers").string()}).status, 0);
    fs::remove(git_log);
  }

  void write_ssh_config(const std::string& text) { box.dir.write_file(box.home / ".ssh" / "config", text); }

  void start() {
    PtyOptions options;
    options.cwd = box.work.string();
    tty = std::make_unique<PtyDriver>(std::vector<std::string>{wizard.string()}, box.env(), options);
    ASSERT_TRUE(tty->expect("Select a global command to continue:"));
    tty->settle();
    tty->key(PtyDriver::kEnter);
  }

  // Waits for `prompt`, types `text` and presses Enter.
  void answer(const std::string& prompt, const std::string& text) {
    ASSERT_TRUE(tty->expect(prompt)) << prompt;
    tty->settle();
    if (!text.empty()) tty->send(text);
    tty->key(PtyDriver::kEnter);
  }

  // Enter on `text` at the open prompt must be refused with `message`; the
  // text is then erased again.
  void refused(const std::string& text, const std::string& message) {
    tty->settle();
    tty->send(text);
    tty->key(PtyDriver::kEnter);
    EXPECT_TRUE(tty->expect_screen(message)) << message;
    for (std::size_t i = 0; i < text.size(); ++i) tty->send(PtyDriver::kBackspace);
    tty->settle();
  }

  void manual_target(const std::string& hostname) {
    answer("Remote hostname or IP:", hostname);
    answer("SSH user:", "");
    answer("SSH private key path:", "");
  }

  void default_account(const std::string& sudo) {
    answer("Target username to create/setup on Arch:", "");
    answer("Target user password:", "");
    answer("Remote administrator sudo password (to become root):", sudo);
  }

  void reach_mode_menu() {
    ASSERT_TRUE(tty->expect("Choose execution mode:"));
    tty->settle();
  }

  // Escape at the mode menu; the run ends with the cancellation report.
  void cancel_at_mode_menu() {
    tty->key(PtyDriver::kEsc);
    const PtyExit exit = tty->wait();
    EXPECT_EQ(exit.code, 1);
    EXPECT_TRUE(without_cr(tty->output()).ends_with("Error: operation interrupted\n")) << tty->output();
  }

  std::string calls() const { return read_file(git_log); }
  std::string screen() { return tty->screen().text(); }

  Sandbox box;
  fs::path git_log, wizard, cache;
  std::unique_ptr<PtyDriver> tty;
};

}  // namespace

TEST_F(SetupFlow, FirstRunAsksEverythingAndClonesIntoANewCache) {
  const fs::path dots = box.bare_repo("dots", {{"dots.txt", "configs\n"}});
  const fs::path walls = box.bare_repo("walls", {{"walls.txt", "wallpapers\n"}});
  const fs::path key = box.dir.write_file(box.home / ".ssh" / "id_rsa", "key", 0600);
  start();

  ASSERT_TRUE(tty->expect_screen("~/.ssh/config contains no valid hosts. Enter connection details manually."));
  EXPECT_TRUE(tty->expect_screen("No SSH Config Found"));
  ASSERT_TRUE(tty->expect("Remote hostname or IP:"));
  refused("   ", "Hostname is required");
  tty->send("web01");
  tty->key(PtyDriver::kEnter);
  answer("SSH user:", "");
  answer("SSH private key path:", "");

  ASSERT_TRUE(tty->expect("Tervane Dots Configs Git URL:"));
  refused("  ", "Repository URL is required");
  tty->send(dots.string());
  tty->key(PtyDriver::kEnter);
  answer("Tervane Wallpapers Git URL:", walls.string());
  EXPECT_TRUE(tty->expect_screen("Repositories synced successfully in temporary folder."));

  ASSERT_TRUE(tty->expect("Target username to create/setup on Arch:"));
  refused("  ", "Username cannot be empty");
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Target user password:"));
  refused(" ", "Password cannot be empty");
  tty->key(PtyDriver::kEnter);
  ASSERT_TRUE(tty->expect("Remote administrator sudo password (to become root):"));
  tty->key(PtyDriver::kEnter);
  EXPECT_TRUE(tty->expect_screen("Input required"));
  refused("  ", "Sudo password is required");
  tty->send("s3cretX");
  tty->key(PtyDriver::kEnter);

  reach_mode_menu();
  const std::string shown = screen();
  EXPECT_NE(shown.find("◇  Remote hostname or IP:\n│  web01\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("◇  SSH user:\n│  root\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("◇  SSH private key path:\n│  ~/.ssh/id_rsa\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("◇  Tervane Dots Configs Git URL:\n│  " + dots.string() + "\n"), std::string::npos);
  EXPECT_NE(shown.find("◇  Repositories synced successfully in temporary folder.\n"), std::string::npos);
  EXPECT_EQ(shown.find("Syncing repositories"), std::string::npos) << shown;
  EXPECT_NE(shown.find("│  dovik\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("│  583920\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("│  ▪▪▪▪▪▪▪\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Target: root@web01"), std::string::npos) << shown;
  EXPECT_EQ(tty->output().find("s3c"), std::string::npos);
  EXPECT_EQ(tty->output().find("Cached repositories detected locally:"), std::string::npos);

  // The answers as typed reach the run files, which exist while the menu waits.
  const std::string vars = file_starting(box.tmp, "tervane-vars-");
  EXPECT_NE(vars.find("s3cretX"), std::string::npos) << vars;
  EXPECT_NE(vars.find("dovik"), std::string::npos) << vars;
  EXPECT_NE(vars.find("583920"), std::string::npos) << vars;
  const std::string inventory = file_starting(box.tmp, "tervane-hosts-");
  EXPECT_NE(inventory.find("ansible_host=web01 ansible_user=root"), std::string::npos) << inventory;
  EXPECT_NE(inventory.find(key.string()), std::string::npos) << inventory;
  cancel_at_mode_menu();

  EXPECT_EQ(read_file(cache / "configs" / "dots.txt"), "configs\n");
  EXPECT_EQ(read_file(cache / "wallpapers" / "walls.txt"), "wallpapers\n");
  EXPECT_EQ(calls(), "clone " + dots.string() + " " + (cache / "configs").string() + "\nclone " + walls.string() +
                         " " + (cache / "wallpapers").string() + "\n");
}

TEST_F(SetupFlow, KnownHostsAreListedAndTheCacheIsUsedAsIs) {
  write_ssh_config(
      "Host web\n  HostName 10.0.0.5\n  User deploy\n  IdentityFile ~/.ssh/web_key\n"
      "Host *\n  User nobody\n"
      "Host db\n  HostName db.local\n"
      "Host nameless\n  User x\n"
      "Host cache\n  HostName 10.0.0.9\n  User ops\n");
  fill_cache(box.bare_repo("dots", {{"dots.txt", "v1\n"}}), box.bare_repo("walls", {{"walls.txt", "w1\n"}}));
  start();

  ASSERT_TRUE(tty->expect("Select target Arch workstation from SSH Config:"));
  tty->settle();
  // The hint shows beside the row under the cursor, which starts on the first host.
  const std::vector<std::string> rows = {"● web (deploy@10.0.0.5)", "● db (tester@db.local)", "● cache (ops@10.0.0.9)"};
  EXPECT_NE(screen().find("from SSH Config:\n│  " + rows[0] + "\n│  ○ db\n│  ○ cache\n└"), std::string::npos)
      << screen();
  for (std::size_t i = 1; i < rows.size(); ++i) {
    tty->key(PtyDriver::kDown);
    EXPECT_NE(screen().find("│  " + rows[i] + "\n"), std::string::npos) << screen();
  }
  EXPECT_EQ(tty->output().find("nameless"), std::string::npos);
  EXPECT_EQ(tty->output().find("nobody"), std::string::npos);
  tty->key(PtyDriver::kUp);
  tty->key(PtyDriver::kEnter);

  answer("Cached repositories detected locally:", "");
  EXPECT_TRUE(tty->expect_screen("Skipped remote repository syncing. Using local cached directories as-is."));
  EXPECT_TRUE(tty->expect_screen("Cache Active"));
  default_account("pw");
  reach_mode_menu();
  EXPECT_NE(screen().find("Target: tester@db.local"), std::string::npos) << screen();
  EXPECT_EQ(tty->output().find("Git URL:"), std::string::npos);
  cancel_at_mode_menu();
  EXPECT_EQ(calls(), "");  // no git at all
}

TEST_F(SetupFlow, SyncPullsBothClonesWithoutAskingForUrls) {
  const fs::path dots = box.bare_repo("dots", {{"dots.txt", "v1\n"}});
  fill_cache(dots, box.bare_repo("walls", {{"walls.txt", "w1\n"}}));
  // A newer commit upstream.
  const fs::path work = box.work / "upstream";
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"git", "clone", "-q", dots.string(), work.string()},
           {"sh", "-c", "echo v2 > '" + (work / "dots.txt").string() + "'"},
           {"git", "-C", work.string(), "-c", "user.name=t", "-c", "user.email=t@example.invalid", "commit", "-qam",
            "v2"},
           {"git", "-C", work.string(), "push", "-q", "origin", "HEAD"}})
    ASSERT_EQ(box.run(step).status, 0) << step[1];
  fs::remove(git_log);
  start();

  manual_target("web01");
  ASSERT_TRUE(tty->expect("Cached repositories detected locally:"));
  tty->settle();
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);
  EXPECT_TRUE(tty->expect_screen("Repositories synced successfully in temporary folder."));
  default_account("pw");
  reach_mode_menu();
  cancel_at_mode_menu();

  EXPECT_EQ(tty->output().find("Git URL:"), std::string::npos);
  EXPECT_EQ(calls(), "pull\npull\n");
  EXPECT_EQ(read_file(cache / "configs" / "dots.txt"), "v2\n");
}

TEST_F(SetupFlow, NoReclonesFromTheDefaultUrls) {
  fill_cache(box.bare_repo("old-dots", {{"old.txt", "old\n"}}), box.bare_repo("old-walls", {{"old.txt", "old\n"}}));
  box.dir.write_file(cache / "configs" / "local-edit", "x");
  map_url(kDotsUrl, box.bare_repo("dots", {{"dots.txt", "new\n"}}));
  map_url(kWallsUrl, box.bare_repo("walls", {{"walls.txt", "new\n"}}));
  start();

  manual_target("web01");
  ASSERT_TRUE(tty->expect("Cached repositories detected locally:"));
  tty->settle();
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);
  answer("Tervane Dots Configs Git URL:", "");  // empty answers take the defaults
  answer("Tervane Wallpapers Git URL:", "");
  default_account("pw");
  reach_mode_menu();
  EXPECT_NE(screen().find("◇  Tervane Dots Configs Git URL:\n│  " + kDotsUrl + "\n"), std::string::npos) << screen();
  cancel_at_mode_menu();

  EXPECT_EQ(calls(), "clone " + kDotsUrl + " " + (cache / "configs").string() + "\nclone " + kWallsUrl + " " +
                         (cache / "wallpapers").string() + "\n");
  EXPECT_EQ(read_file(cache / "configs" / "dots.txt"), "new\n");
  EXPECT_EQ(read_file(cache / "wallpapers" / "walls.txt"), "new\n");
  EXPECT_FALSE(fs::exists(cache / "configs" / "old.txt"));
  EXPECT_FALSE(fs::exists(cache / "configs" / "local-edit"));
}

TEST_F(SetupFlow, AFailedPullIsReplacedByAFreshCloneOfTheDefault) {
  const fs::path other = box.bare_repo("other-dots", {{"other.txt", "other\n"}});
  fill_cache(other, box.bare_repo("walls", {{"walls.txt", "w1\n"}}));
  ASSERT_EQ(box.run({"git", "-C", (cache / "configs").string(), "remote", "set-url", "origin", "/nonexistent/x.git"})
                .status,
            0);
  map_url(kDotsUrl, box.bare_repo("dots", {{"dots.txt", "default\n"}}));
  start();

  manual_target("web01");
  ASSERT_TRUE(tty->expect("Cached repositories detected locally:"));
  tty->settle();
  tty->key(PtyDriver::kDown);
  tty->key(PtyDriver::kEnter);
  default_account("pw");
  reach_mode_menu();
  cancel_at_mode_menu();

  EXPECT_EQ(calls(), "pull\nclone " + kDotsUrl + " " + (cache / "configs").string() + "\npull\n");
  EXPECT_EQ(read_file(cache / "configs" / "dots.txt"), "default\n");
  EXPECT_FALSE(fs::exists(cache / "configs" / "other.txt"));
}

TEST_F(SetupFlow, AnUnreachableUrlEndsTheRunWithTheCloneFailure) {
  // A leftover configs directory that is no clone: no cache question, and it
  // is removed before cloning.
  box.dir.write_file(cache / "configs" / "stale", "x");
  start();

  manual_target("web01");
  answer("Tervane Dots Configs Git URL:", "/nonexistent/dots.git");
  answer("Tervane Wallpapers Git URL:", "");
  const PtyExit exit = tty->wait();
  EXPECT_EQ(exit.code, 1);
  const std::string report =
      "Error: Failed to pull Tervane Dots repository locally\n\nCaused by:\n"
      "    Failed to clone repository: /nonexistent/dots.git\n";
  EXPECT_TRUE(without_cr(tty->output()).ends_with(report)) << tty->output();
  // The spinner that was running leaves nothing behind.
  const std::string shown = screen();
  EXPECT_NE(shown.find("│  " + kWallsUrl + "\n│\n" + report.substr(0, report.size() - 1)), std::string::npos)
      << shown;
  EXPECT_EQ(tty->output().find("Cached repositories detected locally:"), std::string::npos);
  EXPECT_FALSE(fs::exists(cache / "configs"));
  EXPECT_TRUE(fs::is_directory(cache));
  EXPECT_EQ(calls(), "clone /nonexistent/dots.git " + (cache / "configs").string() + "\n");
}
