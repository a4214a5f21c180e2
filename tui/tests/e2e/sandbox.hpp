// sandbox.hpp: a user's world for one end-to-end run: its own HOME, TMPDIR,
// a bin directory that is the whole search path of interest, local git
// repositories and a global git config of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

/// How a helper program ended, with what it wrote (standard output and
/// standard error together).
struct RunResult {
  int status = -1;  // exit code, or 128 + signal
  std::string output;
};

class Sandbox {
 public:
  Sandbox();

  TempDir dir;
  std::filesystem::path home, tmp, bin, work;

  /// The environment of a run: HOME, TMPDIR, PATH (bin first, then the
  /// system directories), LANG, TERM, USER, the git isolation variables, and
  /// whatever set_env/unset_env changed.
  std::map<std::string, std::string> env() const;
  void set_env(const std::string& name, const std::string& value);
  void unset_env(const std::string& name);

  /// Writes an executable bin/`name`: "#!/bin/sh" and `body`.
  std::filesystem::path stub(const std::string& name, const std::string& body);
  /// Links the program found on the test's own PATH into bin (fails the test
  /// when there is none).
  std::filesystem::path link_real(const std::string& name);

  /// The built wizard, to run in place.
  std::vector<std::string> wizard_argv() const;
  /// Copies the built wizard to `project_root`/tui/build/e2e/bin/tervane-wizard
  /// (the project root is the fifth parent of the binary) and returns that path.
  std::filesystem::path install_wizard(const std::filesystem::path& project_root) const;

  /// A bare repository work/repos/`name`.git with one commit holding `files`
  /// (path -> content). Fails the test and returns "" when git fails.
  std::filesystem::path bare_repo(const std::string& name,
                                  const std::map<std::string, std::string>& files);
  /// The sandbox's global git config file (empty at first).
  std::filesystem::path git_config() const { return git_config_; }

  /// Runs `argv` (argv[0] looked up on the test's own PATH unless it holds a
  /// "/") in `cwd` with env() and waits for it.
  RunResult run(const std::vector<std::string>& argv, const std::filesystem::path& cwd = {}) const;

 private:
  std::filesystem::path git_config_;
  std::map<std::string, std::string> changes_;
  std::vector<std::string> removed_;
};

/// The full path of `name` on the test process's own PATH, or "".
std::filesystem::path find_on_system_path(const std::string& name);
