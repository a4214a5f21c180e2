// The run log with the real ansible-playbook and this project's ansible.cfg:
// a folder another user could steer is not written to, and an empty
// ANSIBLE_LOG_PATH is the default log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"
#include "wizard/playbook_runner.hpp"

namespace fs = std::filesystem;

namespace {

// One run of a playbook on this machine with its standard output and error
// in files; whether it succeeded, and its standard error.
std::pair<bool, std::string> run_captured(const TempDir& dir) {
  const std::string playbook = dir.write_file("p.yml",
                                              "- hosts: workstation\n  gather_facts: false\n  tasks:\n"
                                              "    - ansible.builtin.debug:\n        msg: logged run\n"),
                    inventory = dir.write_file("hosts.ini", "[workstation]\nloopback ansible_connection=local\n"),
                    vars = dir.write_file("vars.json", "{}");
  const int saved[] = {::dup(STDOUT_FILENO), ::dup(STDERR_FILENO)};
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    const int file = ::open((dir / std::to_string(fd)).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, fd);
    ::close(file);
  }
  const bool ok = run_playbook(playbook, inventory, vars, TERVANE_PROJECT_ROOT).has_value();
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    ::dup2(saved[fd - 1], fd);
    ::close(saved[fd - 1]);
  }
  return {ok, read_file(dir / "2")};
}

}  // namespace

TEST(RunLogWithAnsible, AFolderAnotherUserCouldSteerGetsNothingAndTheRunSaysSo) {
  if (!fs::exists("/usr/bin/ansible-playbook")) GTEST_SKIP() << "ansible-playbook is not installed";
  TempDir dir;
  ScopedEnv home("HOME", (dir / "home").string());
  ScopedEnv config("ANSIBLE_CONFIG", std::nullopt);
  ScopedEnv log_path("ANSIBLE_LOG_PATH", std::nullopt);
  ScopedEnv local_tmp("ANSIBLE_LOCAL_TEMP", (dir / "tmp").string());
  const fs::path victim = dir.write_file("victim", "untouched\n");
  // A shared sticky folder where another user made `tervane` a link to
  // their own folder, whose ansible.log links to a file they may not write.
  fs::create_directories(dir / "other");
  fs::create_directories(dir / "shared");
  fs::create_directory_symlink(dir / "other", dir / "shared/tervane");
  fs::create_symlink(victim, dir / "other/ansible.log");
  ::chmod((dir / "shared").c_str(), 01777);
  // A real folder that others may write to, and one another user owns.
  fs::create_directories(dir / "open/tervane");
  ::chmod((dir / "open/tervane").c_str(), 0777);
  fs::create_directories(dir / "foreign/tervane");
  const bool root = ::geteuid() == 0 && ::chown((dir / "foreign/tervane").c_str(), 65534, 65534) == 0;
  for (const char* state : {"shared", "open", "foreign"}) {
    if (std::string(state) == "foreign" && !root) continue;  // only root can give a folder away
    SCOPED_TRACE(state);
    ScopedEnv xdg("XDG_STATE_HOME", (dir / state).string());
    const auto [ok, err] = run_captured(dir);
    EXPECT_TRUE(ok) << err;
    EXPECT_TRUE(err.starts_with("│  \x1b[1;33mRunning without a log: " + (dir / state / "tervane").string() +
                                " is not a folder of yours that only you can write to.\x1b[0m\n"))
        << err;
    EXPECT_EQ(err.find("Running without"), err.rfind("Running without")) << err;
    EXPECT_FALSE(fs::exists(dir / "open/tervane/ansible.log"));
    EXPECT_FALSE(fs::exists(dir / "foreign/tervane/ansible.log"));
  }
  EXPECT_EQ(read_file(victim), "untouched\n");
  EXPECT_FALSE(fs::exists(dir / "home/.local/state/tervane/ansible.log"));

  // An empty ANSIBLE_LOG_PATH is as if unset: the run logs to the default.
  ScopedEnv empty("ANSIBLE_LOG_PATH", "");
  const auto [ok, err] = run_captured(dir);
  EXPECT_TRUE(ok) << err;
  EXPECT_NE(read_file(dir / "home/.local/state/tervane/ansible.log").find("logged run"), std::string::npos);
}
