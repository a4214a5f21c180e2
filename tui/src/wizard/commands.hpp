// commands.hpp: the command menu and the clean command.
#pragma once

#include <string>

#include "prompt/error.hpp"
#include "wizard/setup_context.hpp"

/// Removes the cache root under a spinner and closes with "Clean completed!".
Result<void> clean_cache(const SetupContext& context);

/// The command menu, then the chosen command to its end.
Result<void> run_command_menu(const SetupContext& context);
