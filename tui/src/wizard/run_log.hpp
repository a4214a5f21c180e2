// run_log.hpp: where Ansible logs the wizard's playbook runs, and the checks
// made before each run writes there.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

/// Where Ansible logs the wizard's playbook runs: ANSIBLE_LOG_PATH when the user
/// set it (an empty value counts as unset), else
/// {XDG_STATE_HOME}/tervane/ansible.log, else ~/.local/state/tervane/ansible.log
/// (the path ansible.cfg names); nothing when the home directory is unknown.
std::optional<std::string> run_log_path();

struct RunLog {
  std::vector<std::pair<std::string, std::string>> env;  // for the child's environment
  std::string refused_folder;  // the log's folder when it cannot be used, else ""
};

/// Readies the log of one playbook run. A path the user chose is left
/// alone. Otherwise the log's folder is created (mode 0700, with any missing
/// parent) and used only when it is a real directory of this user that
/// nobody else may write to; if it is not, the run goes without a log
/// (ANSIBLE_LOG_PATH=/dev/null) and the folder is named for the caller to say so.
RunLog prepare_run_log();
