// sandbox.hpp: a user's world for one end-to-end run: its own HOME, TMPDIR,
// a bin directory first on PATH, local git repositories and a git config.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

/// How a helper program ended, with its standard output and error together.
struct RunResult {
  int status = -1;  // exit code, or 128 + signal
  std::string output;
};

class Sandbox {
 public:
  Sandbox();

  TempDir dir;
  std::filesystem::path home, tmp, bin, work;

  /// HOME, TMPDIR, PATH (bin, then the system directories), LANG, TERM, USER
  /// and the git isolation variables, with set_env's changes.
  std::map<std::string, std::string> env() const;
  void set_env(const std::string& name, const std::string& value) { changes_[name] = value; }

  /// Writes an executable bin/`name`: "#!/bin/sh" and `body` (in place of
  /// whatever bin/`name` was, a link to a real program included).
  std::filesystem::path stub(const std::string& name, const std::string& body);
  /// Puts the stand-in tests/e2e/fakes/`fake` on PATH as bin/`name`; it runs
  /// with `settings` added to the environment it is started with.
  std::filesystem::path fake(const std::string& name, const std::string& fake,
                             const std::map<std::string, std::string>& settings = {});
  /// Links the program found on the test's own PATH into bin.
  std::filesystem::path link_real(const std::string& name);

  /// A project at `root`: each of `playbooks` holding an empty play, and a
  /// copy of the wizard (install_wizard), whose path is returned.
  std::filesystem::path project(const std::filesystem::path& root, std::initializer_list<const char*> playbooks) const;
  /// Clones of both repositories in the cache, as far as the wizard looks
  /// (a .git in each), so that the cache question offers them.
  void cache_clones() const;
  /// The run files' private directory and the files in it, in tmp.
  std::vector<std::filesystem::path> run_files() const;

  /// The built wizard, to run in place.
  std::vector<std::string> wizard_argv() const { return {TERVANE_WIZARD_BINARY}; }
  /// Copies the built wizard to `project_root`/tui/build/e2e/bin/ (the project
  /// root is the fifth parent of the binary) and returns its path.
  std::filesystem::path install_wizard(const std::filesystem::path& project_root) const;

  /// A bare repository work/repos/`name`.git with one commit holding `files`
  /// (path -> content); "" (and a test failure) when git fails.
  std::filesystem::path bare_repo(const std::string& name, const std::map<std::string, std::string>& files);
  /// The global git config file (empty at first).
  std::filesystem::path git_config() const { return dir / "gitconfig"; }

  /// Runs `argv` (argv[0] looked up on the test's own PATH unless it holds a
  /// "/") in `cwd` with env(), standard input from /dev/null.
  RunResult run(const std::vector<std::string>& argv, const std::filesystem::path& cwd = {}) const;

 private:
  std::map<std::string, std::string> changes_;
};

/// The loopback sshd of tests/fixtures/sshd.sh for one test, stopped with
/// this object. False when it does not run: on a machine that cannot run it
/// (the test then skips), or with a test failure.
class LoopbackSshd {
 public:
  explicit LoopbackSshd(const Sandbox& box);
  ~LoopbackSshd();
  explicit operator bool() const { return running_; }
  /// Why it does not run.
  const std::string& why() const { return why_; }
  /// A value of its env file: USER, PORT, KEY.
  std::string operator[](const std::string& key) const;

 private:
  const Sandbox& box_;
  std::string dir_, why_;
  bool running_ = false;
  std::map<std::string, std::string> env_;
};

/// A wizard run against the real git and ansible-playbook over a loopback
/// sshd, the target being this machine. Skipped without root: an ordinary
/// user's sshd logs in only that user, whose login shell may refuse, and the
/// plays become root with sudo there.
class LoopbackRun : public ::testing::Test {
 protected:
  void SetUp() override;
  /// ~/.ssh/config: `alias` at 127.0.0.1 as the sshd's user with its key,
  /// then `more` (whole lines).
  void host_block(const std::string& alias, const std::string& more = "");
  /// The project's ansible.cfg: host keys kept apart from the user's, no SSH
  /// master connection; `defaults` adds lines to [defaults].
  void ansible_cfg(const std::string& defaults = "");

  Sandbox box;
  std::optional<LoopbackSshd> server;
  const std::filesystem::path root = box.work / "project";  // the project, for box.install_wizard
};

/// The full path of `name` on the test process's own PATH, or "".
std::filesystem::path find_on_system_path(const std::string& name);
