// The setup command up to the execution-mode menu: the target, the repository
// cache with the real git and local bare repositories, and the account
// questions. Each run ends with Escape at the mode menu.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/pty_driver.hpp"
#include "e2e/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kDotsUrl = "https://gitlab.com/tervane/tervane-dots.git";
const std::string kWallsUrl = "https://gitlab.com/tervane/tervane-wallpapers.git";
const std::string kSynced = "Repositories synced successfully in temporary folder.";

std::string without_cr(std::string s) {
  std::erase(s, '\r');
  return s;
}

/// The first file in `dir` whose name starts with `prefix`.
std::string file_starting(const fs::path& dir, const std::string& prefix) {
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename().string().starts_with(prefix)) return read_file(e.path());
  return "";
}

class SetupFlow : public testing::Test {
 protected:
  void SetUp() override {
    // Only local repositories may be reached: an https URL that no insteadOf
    // rule maps to a local path fails instead of leaving the machine.
    box.set_env("GIT_ALLOW_PROTOCOL", "file");
    const fs::path real_git = find_on_system_path("git");
    ASSERT_FALSE(real_git.empty());
    box.fake("git", "git-logged", {{"FAKE_LOG", git_log.string()}, {"FAKE_REAL_GIT", real_git.string()}});
    box.link_real("ansible-playbook");
    wizard = box.install_wizard(box.dir / "project");
  }

  /// Makes git fetch the local `repo` for the default `url`.
  void map_url(const std::string& url, const fs::path& repo) {
    ASSERT_EQ(box.run({"git", "config", "--file", box.git_config().string(),
                       "url." + repo.string() + ".insteadOf", url}).status, 0);
  }

  /// Clones both repositories into the cache as an earlier run would have.
  void fill_cache(const fs::path& dots, const fs::path& walls) {
    for (const auto& [repo, name] : {std::pair{dots, "configs"}, std::pair{walls, "wallpapers"}})
      ASSERT_EQ(box.run({"git", "clone", "-q", repo.string(), (cache / name).string()}).status, 0);
    fs::remove(git_log);
  }

  void start() {
    tty = std::make_unique<PtyDriver>(std::vector<std::string>{wizard.string()}, box.env(),
                                      PtyOptions{.cwd = box.work.string()});
    ASSERT_TRUE(tty->answer("Select a global command to continue:"));
  }

  /// Enter on `text` at the open prompt is refused with `message`; the text
  /// is then erased again.
  void refused(const std::string& text, const std::string& message) {
    tty->settle();
    tty->send(text);
    tty->key(PtyDriver::kEnter);
    EXPECT_TRUE(tty->expect_screen(message)) << message;
    for (std::size_t i = 0; i < text.size(); ++i) tty->send(PtyDriver::kBackspace);
    tty->settle();
  }

  /// Manual target "web01", then the cache menu's row `cache_row` (0 yes,
  /// 1 sync, 2 no) unless it is -1.
  void manual_target(int cache_row = -1) {
    ASSERT_TRUE(tty->answer("Remote hostname or IP:", "web01"));
    ASSERT_TRUE(tty->answer("SSH user:"));
    ASSERT_TRUE(tty->answer("SSH private key path:"));
    if (cache_row < 0) return;
    ASSERT_TRUE(tty->expect("Cached repositories detected locally:"));
    tty->settle();
    for (int i = 0; i < cache_row; ++i) tty->key(PtyDriver::kDown);
    tty->key(PtyDriver::kEnter);
  }

  /// Default account answers; Escape at the mode menu ends the run with the
  /// cancellation report.
  void default_account_then_cancel() {
    ASSERT_TRUE(tty->answer("Target username to create/setup on Arch:"));
    ASSERT_TRUE(tty->answer("Target user password:"));
    ASSERT_TRUE(tty->answer("Remote administrator sudo password (to become root):", "pw"));
    ASSERT_TRUE(tty->expect("Choose execution mode:"));
    tty->settle();
    shown = tty->screen().text();
    cancel();
  }

  void cancel() {
    tty->key(PtyDriver::kEsc);
    EXPECT_EQ(tty->wait().code, 1);
    EXPECT_TRUE(without_cr(tty->output()).ends_with("Error: operation interrupted\n")) << tty->output();
  }

  Sandbox box;
  fs::path git_log = box.dir / "git-calls.log", wizard, cache = box.home / "temp/.tervane-bootstrap";
  std::unique_ptr<PtyDriver> tty;
  std::string shown;  // the screen at the mode menu
};

}  // namespace

TEST_F(SetupFlow, FirstRunAsksEverythingAndClonesIntoANewCache) {
  const fs::path dots = box.bare_repo("dots", {{"dots.txt", "configs\n"}});
  const fs::path walls = box.bare_repo("walls", {{"walls.txt", "wallpapers\n"}});
  const fs::path key = box.dir.write_file(box.home / ".ssh/id_rsa", "key", 0600);
  start();

  // No ~/.ssh/config: a note and the three manual questions.
  ASSERT_TRUE(tty->expect_screen("~/.ssh/config contains no valid hosts. Enter connection details manually."));
  EXPECT_TRUE(tty->expect_screen("No SSH Config Found"));
  ASSERT_TRUE(tty->expect("Remote hostname or IP:"));
  refused("   ", "Hostname is required");
  ASSERT_TRUE(tty->answer("", "web01"));
  ASSERT_TRUE(tty->answer("SSH user:"));
  ASSERT_TRUE(tty->answer("SSH private key path:"));

  ASSERT_TRUE(tty->expect("Tervane Dots Configs Git URL:"));
  refused("  ", "Repository URL is required");
  ASSERT_TRUE(tty->answer("", dots.string()));
  ASSERT_TRUE(tty->answer("Tervane Wallpapers Git URL:", walls.string()));
  EXPECT_TRUE(tty->expect_screen(kSynced));

  ASSERT_TRUE(tty->expect("Target username to create/setup on Arch:"));
  refused("  ", "Username cannot be empty");
  ASSERT_TRUE(tty->answer(""));
  ASSERT_TRUE(tty->expect("Target user password:"));
  refused(" ", "Password cannot be empty");
  ASSERT_TRUE(tty->answer(""));
  ASSERT_TRUE(tty->answer("Remote administrator sudo password (to become root):"));
  EXPECT_TRUE(tty->expect_screen("Input required"));
  refused("  ", "Sudo password is required");
  ASSERT_TRUE(tty->answer("", "s3cretX"));

  ASSERT_TRUE(tty->expect("Choose execution mode:"));
  tty->settle();
  shown = tty->screen().text();
  const std::string parts[] = {"◇  Remote hostname or IP:\n│  web01\n", "◇  SSH user:\n│  root\n",
                               "◇  SSH private key path:\n│  ~/.ssh/id_rsa\n",
                               "◇  Tervane Dots Configs Git URL:\n│  " + dots.string() + "\n",
                               "◇  " + kSynced + "\n", "│  dovik\n", "│  583920\n", "│  ▪▪▪▪▪▪▪\n",
                               "Target: root@web01"};
  for (const std::string& part : parts)
    EXPECT_NE(shown.find(part), std::string::npos) << part << "\n" << shown;
  EXPECT_EQ(shown.find("Syncing repositories"), std::string::npos) << shown;
  EXPECT_EQ(tty->output().find("s3c"), std::string::npos);
  EXPECT_EQ(tty->output().find("Cached repositories detected locally:"), std::string::npos);

  // The answers and defaults reach the run files, which exist while the menu waits.
  const std::string vars = file_starting(box.tmp, "tervane-vars-");
  for (const char* part : {"\"s3cretX\"", "\"default_user\":\"dovik\"", "\"default_password\":\"583920\""})
    EXPECT_NE(vars.find(part), std::string::npos) << part << "\n" << vars;
  EXPECT_NE(file_starting(box.tmp, "tervane-hosts-")
                .find("ansible_host=web01 ansible_user=root ansible_ssh_private_key_file=" + key.string()),
            std::string::npos);
  cancel();

  EXPECT_EQ(read_file(cache / "configs/dots.txt"), "configs\n");
  EXPECT_EQ(read_file(cache / "wallpapers/walls.txt"), "wallpapers\n");
  EXPECT_EQ(read_file(git_log), "clone " + dots.string() + " " + (cache / "configs").string() + "\nclone " +
                         walls.string() + " " + (cache / "wallpapers").string() + "\n");
}

TEST_F(SetupFlow, KnownHostsAreListedInFileOrderAndYesUsesTheCacheAsIs) {
  box.dir.write_file(box.home / ".ssh/config",
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
  const std::string rows[] = {"● web (deploy@10.0.0.5)", "● db (tester@db.local)", "● cache (ops@10.0.0.9)"};
  EXPECT_NE(tty->screen().text().find("from SSH Config:\n│  " + rows[0] + "\n│  ○ db\n│  ○ cache\n└"),
            std::string::npos) << tty->screen().text();
  for (const std::string& row : {rows[1], rows[2]}) {
    tty->key(PtyDriver::kDown);
    EXPECT_NE(tty->screen().text().find("│  " + row + "\n"), std::string::npos) << tty->screen().text();
  }
  EXPECT_EQ(tty->output().find("nameless"), std::string::npos);
  EXPECT_EQ(tty->output().find("nobody"), std::string::npos);
  tty->key(PtyDriver::kUp);
  tty->key(PtyDriver::kEnter);

  ASSERT_TRUE(tty->answer("Cached repositories detected locally:"));
  EXPECT_TRUE(tty->expect_screen("Skipped remote repository syncing. Using local cached directories as-is."));
  EXPECT_TRUE(tty->expect_screen("Cache Active"));
  default_account_then_cancel();
  EXPECT_NE(shown.find("Target: tester@db.local"), std::string::npos) << shown;
  EXPECT_EQ(tty->output().find("Git URL:"), std::string::npos);
  EXPECT_EQ(read_file(git_log), "");  // no git at all
}

TEST_F(SetupFlow, SyncPullsWithoutAskingUrlsAndReclonesAFailedPullFromTheDefault) {
  const fs::path walls = box.bare_repo("walls", {{"walls.txt", "w1\n"}});
  fill_cache(box.bare_repo("other-dots", {{"other.txt", "other\n"}}), walls);
  ASSERT_EQ(box.run({"git", "-C", (cache / "configs").string(), "remote", "set-url", "origin", "/nonexistent/x.git"})
                .status, 0);
  map_url(kDotsUrl, box.bare_repo("dots", {{"dots.txt", "default\n"}}));
  // A newer commit upstream of the wallpapers clone.
  const fs::path up = box.work / "upstream";
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"git", "clone", "-q", walls.string(), up.string()},
           {"sh", "-c", "echo w2 > '" + (up / "walls.txt").string() + "'"},
           {"git", "-C", up.string(), "-c", "user.name=t", "-c", "user.email=t@example.invalid", "commit", "-qam",
            "w2"},
           {"git", "-C", up.string(), "push", "-q", "origin", "HEAD"}})
    ASSERT_EQ(box.run(step).status, 0) << step[1];
  fs::remove(git_log);
  start();

  manual_target(1);
  EXPECT_TRUE(tty->expect_screen(kSynced));
  default_account_then_cancel();
  EXPECT_EQ(tty->output().find("Git URL:"), std::string::npos);
  EXPECT_EQ(read_file(git_log), "pull\nclone " + kDotsUrl + " " + (cache / "configs").string() + "\npull\n");
  EXPECT_EQ(read_file(cache / "configs/dots.txt"), "default\n");
  EXPECT_FALSE(fs::exists(cache / "configs/other.txt"));
  EXPECT_EQ(read_file(cache / "wallpapers/walls.txt"), "w2\n");
}

TEST_F(SetupFlow, NoReclonesFromTheDefaultUrls) {
  fill_cache(box.bare_repo("old-dots", {{"old.txt", "old\n"}}), box.bare_repo("old-walls", {{"old.txt", "old\n"}}));
  box.dir.write_file(cache / "configs/local-edit", "x");
  map_url(kDotsUrl, box.bare_repo("dots", {{"dots.txt", "new\n"}}));
  map_url(kWallsUrl, box.bare_repo("walls", {{"walls.txt", "new\n"}}));
  start();

  manual_target(2);
  ASSERT_TRUE(tty->answer("Tervane Dots Configs Git URL:"));  // empty answers take the defaults
  ASSERT_TRUE(tty->answer("Tervane Wallpapers Git URL:"));
  default_account_then_cancel();
  EXPECT_NE(shown.find("◇  Tervane Dots Configs Git URL:\n│  " + kDotsUrl + "\n"), std::string::npos) << shown;
  EXPECT_EQ(read_file(git_log), "clone " + kDotsUrl + " " + (cache / "configs").string() + "\nclone " +
                                    kWallsUrl + " " + (cache / "wallpapers").string() + "\n");
  EXPECT_EQ(read_file(cache / "configs/dots.txt"), "new\n");
  EXPECT_EQ(read_file(cache / "wallpapers/walls.txt"), "new\n");
  EXPECT_FALSE(fs::exists(cache / "configs/old.txt"));
  EXPECT_FALSE(fs::exists(cache / "configs/local-edit"));
}

TEST_F(SetupFlow, AnUnreachableUrlEndsTheRunWithTheCloneFailure) {
  // A configs directory that is no clone: no cache question, and it is
  // removed before cloning.
  box.dir.write_file(cache / "configs/stale", "x");
  start();

  manual_target();
  ASSERT_TRUE(tty->answer("Tervane Dots Configs Git URL:", "/nonexistent/dots.git"));
  ASSERT_TRUE(tty->answer("Tervane Wallpapers Git URL:"));
  EXPECT_EQ(tty->wait().code, 1);
  const std::string report =
      "Error: Failed to pull Tervane Dots repository locally\n\nCaused by:\n"
      "    Failed to clone repository: /nonexistent/dots.git\n";
  EXPECT_TRUE(without_cr(tty->output()).ends_with(report)) << tty->output();
  // The spinner that was running leaves nothing behind.
  const std::string screen = tty->screen().text();
  EXPECT_NE(screen.find("│  " + kWallsUrl + "\n│\n" + report.substr(0, report.size() - 1)), std::string::npos)
      << screen;
  EXPECT_EQ(tty->output().find("Cached repositories detected locally:"), std::string::npos);
  EXPECT_FALSE(fs::exists(cache / "configs"));
  EXPECT_TRUE(fs::is_directory(cache));
  EXPECT_EQ(read_file(git_log), "clone /nonexistent/dots.git " + (cache / "configs").string() + "\n");
}
