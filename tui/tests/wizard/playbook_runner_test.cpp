// Whole runs of a stand-in ansible-playbook whose output, exit status and
// death are scripted, checked byte for byte on standard output and error.
#include "wizard/playbook_runner.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "support/capture.hpp"
#include "support/escapes.hpp"
#include "support/eventually.hpp"
#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

// Writes a stand-in ansible-playbook to `dir`/bin that prints `out` and `err`
// to its standard output and error, then runs `ending`. Returns the PATH
// that finds it.
std::string stand_in(const TempDir& dir, const std::string& out, const std::string& err,
                     const std::string& ending = "exit 0") {
  const std::string o = dir.write_file("out", out).string(), e = dir.write_file("err", err).string();
  dir.write_file("bin/ansible-playbook", "#!/bin/sh\ncat '" + o + "'\ncat '" + e + "' >&2\n" + ending + "\n", 0755);
  return (dir / "bin").string() + ":/usr/bin:/bin";
}

// Standard output and error go to files until finish(), which returns what
// each received.
struct Capture {
  Redirect out{STDOUT_FILENO}, err{STDERR_FILENO};
  std::pair<std::string, std::string> finish() { return {out.restore(), err.restore()}; }
};

// The run log's folder goes into `root` too, not into the user's home.
Result<void> run_in(const TempDir& root) {
  ScopedEnv home("HOME", (root / "home").string());
  ScopedEnv state("XDG_STATE_HOME", std::nullopt);
  return run_playbook((root / "playbooks/10-user.yml").string(), "/tmp/inv.ini", "/tmp/vars.json",
                      root.path().string());
}

}  // namespace

TEST(RunPlaybook, ColoursEveryLineOfStdoutAndDimsStderrBehindTheRail) {
  const std::string long_line(20000, 'x');
  const std::string straddling = std::string(8191, 'a') + "é";  // split by the first 8192-byte read
  const struct {
    std::string line;
    const char* style;
  } rows[] = {
      {straddling, DIM},
      // The shapes of the runner's table, which the runner's fuzz target
      // checks row by row against a reference: the indentation trimmed,
      // earlier rows winning over the summary row, exact prefixes.
      {"  ok: [workstation]", BOLD_GREEN},
      {"\u00a0\u3000TASK [x]", BOLD_CYAN},  // Unicode white space is indentation
      {"workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 rescued=0 ignored=0", BOLD BOLD_YELLOW},
      {"failed=1 then ok=2", BOLD BOLD_YELLOW},
      {"PLAY RECAP ok=1 failed=0", BOLD BOLD_WHITE},
      {"ok:", BOLD_GREEN},
      {"ok", DIM},
      {"   ", DIM},
      {"mid\rline", DIM},
      {long_line, DIM},
      // A failed task's result over several lines is red to its "}"; a line of a shape of its own ends it.
      {"fatal: [w]: FAILED! => {", BOLD_RED}, {"  \"msg\": \"why\"", BOLD_RED}, {"}", BOLD_RED}, {"}", DIM},
      {"failed: [w] (item=x) => {", BOLD_RED}, {"ok: [w]", BOLD_GREEN}, {"  \"after\": 1", DIM},
  };
  std::string script, want;
  for (const auto& r : rows) {
    script += r.line + "\n";
    want += RAIL + std::string(r.style) + r.line + RST "\n";
  }
  // CRLF loses the CR; empty and invalid UTF-8 lines are dropped; the last
  // line counts without a line feed, keeping a carriage return no line feed follows.
  script += "TASK [crlf] ***\r\n\nbad \xff\xfe bytes\nlast line without feed\r";
  want += RAIL BOLD_CYAN "TASK [crlf] ***" RST "\n" RAIL DIM "last line without feed\r" RST "\n";

  TempDir dir;
  ScopedEnv path("PATH", stand_in(dir, script, "[DEPRECATION WARNING]: old syntax\r\n\n\xc3\n  indented warning"));
  ScopedEnv no_color("NO_COLOR", "1");  // not consulted here
  Capture capture;
  auto result = run_in(dir);
  const std::string want_err =
      RAIL DIM "[DEPRECATION WARNING]: old syntax" RST "\n" RAIL DIM "  indented warning" RST "\n";
  const auto [out, err] = capture.finish();
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(out, want);
  EXPECT_EQ(err, want_err);
}

TEST(RunPlaybook, NonZeroExitOrDeathIsAFailureAfterTheFullOutput) {
  for (const char* ending : {"exit 2", "kill -9 $$"}) {
    TempDir dir;
    ScopedEnv path("PATH", stand_in(dir, "TASK [one] ***\nfatal: [w]: FAILED!\n", "boom\n", ending));
    Capture capture;
    auto result = run_in(dir);
    const auto [out, err] = capture.finish();
    ASSERT_FALSE(result.has_value()) << ending;
    EXPECT_EQ(result.error().message(), "Playbook failed during execution.") << ending;
    EXPECT_TRUE(result.error().causes().empty()) << ending;
    EXPECT_EQ(out, RAIL BOLD_CYAN "TASK [one] ***" RST "\n" RAIL BOLD_RED "fatal: [w]: FAILED!" RST "\n") << ending;
    EXPECT_EQ(err, RAIL DIM "boom" RST "\n") << ending;
  }
}

// A program that the playbook leaves running holds both pipes: the run ends
// with the playbook all the same, and what that program writes later is
// printed nowhere.
TEST(RunPlaybook, EndsWithThePlaybookThoughAProgramItLeftHoldsThePipes) {
  TempDir dir;
  const std::string release = (dir / "release").string(), done = (dir / "done").string();
  ScopedEnv path("PATH", stand_in(dir, "TASK [one] ***\nno line feed", "warned\n",
                                  "(trap '' PIPE; for i in $(seq 100); do [ -e " + release + " ] || sleep 0.1; done; "
                                  "echo late; echo late >&2; touch " + done + ") &"));
  Capture capture;
  const auto started = std::chrono::steady_clock::now();
  auto result = run_in(dir);
  const auto took = (std::chrono::steady_clock::now() - started) / std::chrono::milliseconds(1);
  std::printf("run_playbook returned after %lld ms\n", static_cast<long long>(took));
  dir.write_file("release", "");
  EXPECT_TRUE(eventually([&] { return fs::exists(done); }, std::chrono::seconds(20)));
  const auto [out, err] = capture.finish();
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(out, RAIL BOLD_CYAN "TASK [one] ***" RST "\n" RAIL DIM "no line feed" RST "\n");
  EXPECT_EQ(err, RAIL DIM "warned" RST "\n");
}

TEST(RunPlaybook, MissingOrNonExecutableProgramIsASpawnFailureWithTheSystemCause) {
  TempDir empty;
  ScopedEnv path("PATH", empty.path().string());
  {
    Capture capture;
    auto result = run_in(empty);
    const auto [out, err] = capture.finish();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), "Failed to spawn ansible-playbook process");
    EXPECT_EQ(result.error().causes(), std::vector<std::string>{"No such file or directory (os error 2)"});
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
  }
  empty.write_file("ansible-playbook", "#!/bin/sh\nexit 0\n", 0644);
  auto refused = run_in(empty);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "Failed to spawn ansible-playbook process");
  EXPECT_EQ(refused.error().causes(), std::vector<std::string>{"Permission denied (os error 13)"});
}

// The real ansible-playbook with this project's ansible.cfg, on this machine
// through a local connection: a phase that sets the account password as root
// (becoming root with the sudo password when the test runs as root), then
// stops with a reason, as the shared checks do on a target that is not Arch.
TEST(RunPlaybookWithAnsible, AFailedTaskShowsItsReasonInBoldRedAndEveryRunIsLoggedWithoutThePasswords) {
  if (!fs::exists("/usr/bin/ansible-playbook")) GTEST_SKIP() << "ansible-playbook is not installed";
  TempDir dir;
  const std::string account = "account-pw-" + std::to_string(::getpid()) + "x7",
                    sudo = "sudo-pw-" + std::to_string(::getpid()) + "q2";
  const std::string reason = "This playbook targets Arch Linux; the target runs Debian.";
  const fs::path written = dir / "password";
  const std::string playbook =
      dir.write_file("10-user.yml",
                     "- hosts: workstation\n"
                     "  gather_facts: false\n"
                     "  become: " + std::string(::geteuid() == 0 ? "true" : "false") + "\n"
                     "  tasks:\n"
                     "    - name: Set the account password\n"
                     "      ansible.builtin.copy:\n"
                     "        dest: " + written.string() + "\n"
                     "        content: '{{ default_password }}'\n"
                     "        mode: '0600'\n"
                     "      no_log: true\n"
                     "    - name: Check the distribution\n"
                     "      ansible.builtin.assert:\n"
                     "        that: [false]\n"
                     "        fail_msg: " + reason + "\n")
          .string();
  const std::string inventory =
      dir.write_file("hosts.ini", "[workstation]\nloopback ansible_connection=local\n", 0600).string();
  const std::string vars = dir.write_file("vars.json",
                                          R"({"ansible_become_password":")" + sudo +
                                              R"(","default_password":")" + account + R"(","default_user":"maria"})",
                                          0600)
                               .string();
  ScopedEnv home("HOME", (dir / "home").string());
  ScopedEnv config("ANSIBLE_CONFIG", std::nullopt);  // the project's own ansible.cfg
  ScopedEnv log_path("ANSIBLE_LOG_PATH", std::nullopt);
  ScopedEnv no_color("ANSIBLE_NOCOLOR", "1");
  // The local connection's temporary folder, away from an account's home
  // that may not exist (nobody's).
  ScopedEnv remote_tmp("ANSIBLE_REMOTE_TMP", (dir / "remote-tmp").string());

  // First without XDG_STATE_HOME: the log goes where ansible.cfg says, into
  // a folder the runner creates; then into XDG_STATE_HOME's, after what an
  // earlier run left there.
  const fs::path default_log = dir / "home/.local/state/tervane/ansible.log",
                 state_log = dir / "state/tervane/ansible.log";
  dir.write_file(state_log, "an earlier run\n", 0600);
  for (const bool xdg : {false, true}) {
    SCOPED_TRACE(xdg ? "XDG_STATE_HOME set" : "XDG_STATE_HOME unset");
    ScopedEnv state("XDG_STATE_HOME", xdg ? std::optional<std::string>((dir / "state").string()) : std::nullopt);
    Capture capture;
    auto result = run_playbook(playbook, inventory, vars, TERVANE_PROJECT_ROOT);
    const auto [out, err] = capture.finish();
    ASSERT_FALSE(result.has_value()) << out << err;
    EXPECT_EQ(read_file(written), account);  // the task did handle the password

    // The reason is on a bold red line of the failed task's result, which
    // Ansible spreads over several lines for an assert.
    const auto why = out.find(reason, out.find(RAIL BOLD_RED "fatal: [loopback]: FAILED! => "));
    ASSERT_NE(why, std::string::npos) << out;
    const auto from = out.rfind('\n', why) + 1;
    const std::string line = out.substr(from, out.find('\n', why) - from);
    EXPECT_TRUE(line.starts_with(RAIL BOLD_RED) && line.ends_with(RST)) << out;
    for (const auto& secret : {account, sudo}) {
      EXPECT_EQ(out.find(secret), std::string::npos) << out;
      EXPECT_EQ(err.find(secret), std::string::npos) << err;
    }
  }
  // Each log holds its run, with the reason and without either password.
  for (const auto& log : {default_log, state_log}) {
    const std::string text = read_file(log);
    EXPECT_NE(text.find("TASK [Set the account password]"), std::string::npos) << log << ":\n" << text;
    EXPECT_NE(text.find(reason), std::string::npos) << log;
    EXPECT_EQ(text.find("PLAY RECAP"), text.rfind("PLAY RECAP")) << log << ": one run only";
    EXPECT_EQ(text.find(account), std::string::npos) << log;
    EXPECT_EQ(text.find(sudo), std::string::npos) << log;
  }
  EXPECT_TRUE(read_file(state_log).starts_with("an earlier run\n"));
  for (const char* folder : {"home/.local", "home/.local/state", "home/.local/state/tervane"})
    EXPECT_EQ(fs::status(dir / folder).permissions(), fs::perms::owner_all) << folder;
}
