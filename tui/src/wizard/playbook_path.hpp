// playbook_path.hpp: the project root (the executable's fifth parent) and the
// playbooks in it.
#pragma once

#include <string>
#include <string_view>

#include "prompt/error.hpp"

/// The fifth parent of `executable` (an absolute path).
Result<std::string> project_root_from_path(std::string_view executable);
/// The fifth parent of the running executable's real path.
Result<std::string> project_root_from_binary();
/// root/name when something exists there, else "Playbook not found: ...".
Result<std::string> resolve_playbook(std::string_view root, std::string_view name);
