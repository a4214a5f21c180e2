// playbook_runner.hpp: one ansible-playbook run, its output streamed and coloured.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "prompt/error.hpp"

/// Runs ansible-playbook on `playbook` with the inventory and variables
/// files, in `project_root`, with --check --diff added for a `preview`;
/// returns when the child has ended, with all it wrote by then printed and
/// nothing printed later.
Result<void> run_playbook(const std::string& playbook, const std::string& inventory,
                          const std::string& vars, const std::string& project_root, bool preview = false);
