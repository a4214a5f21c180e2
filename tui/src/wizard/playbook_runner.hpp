// playbook_runner.hpp: one ansible-playbook run, its output streamed and coloured.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "prompt/error.hpp"

/// The line as printed on standard output, without the rail and line feed:
/// coloured by the shape of Ansible's output lines.
std::string classify_line(std::string_view line);

/// Runs ansible-playbook on `playbook` with the inventory and variables
/// files, in `project_root`, with --check --diff added for a `preview`;
/// returns when the child has ended, with all it wrote by then printed and
/// nothing printed later.
Result<void> run_playbook(const std::string& playbook, const std::string& inventory,
                          const std::string& vars, const std::string& project_root, bool preview = false);
/// Where Ansible logs the wizard's playbook runs: ANSIBLE_LOG_PATH when the user
/// set it, else {XDG_STATE_HOME}/tervane/ansible.log, else
/// ~/.local/state/tervane/ansible.log (the path ansible.cfg names); nothing when
/// the home directory is unknown. run_playbook creates the latter two's folder.
std::optional<std::string> run_log_path();
