// commands.hpp: the command menu and the clean command.
#pragma once

#include <string>

#include "prompt/error.hpp"

/// "~/temp/.tervane-bootstrap" with the home directory expanded.
std::string cache_root();

/// Removes the cache root under a spinner and closes with "Clean completed!".
Result<void> clean_cache(const std::string& cache_root);

/// The command menu, then the chosen command to its end.
Result<void> run_command_menu();
