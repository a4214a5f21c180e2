// environment.hpp: the home directory, "~" expansion, the PATH lookup and
// the presence of a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

/// HOME when set and not empty, else the password database's home for the
/// current user id when not empty, else nothing.
std::optional<std::string> home_dir();

/// "~/rest" becomes home joined with rest (a rest starting with "/" replaces
/// the home; an empty rest leaves the home with a trailing "/"); everything
/// else, and any path when the home is unknown, is returned unchanged.
std::string expand_tilde(std::string_view path);

/// The first PATH entry holding `name` as a regular file (after links) that
/// the current user may execute. A PATH entry whose first component is "~"
/// has it replaced by the home directory. Nothing when PATH is unset.
std::optional<std::string> find_on_path(std::string_view name);

/// Whether something is at `path`, links followed; a failed query (no
/// permission) counts as absent.
bool path_present(const std::filesystem::path& path);
