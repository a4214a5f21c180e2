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
