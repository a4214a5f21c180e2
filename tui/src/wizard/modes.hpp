// modes.hpp: the execution modes and the phase menu that end the setup path.
#pragma once

#include <string>
#include <vector>

#include "prompt/error.hpp"
#include "prompt/select.hpp"
#include "wizard/run_files.hpp"
#include "wizard/setup_context.hpp"

/// The rows of the phase menu, in order; the last one ("exit") leaves it.
const std::vector<RadioButton<std::string>>& playbook_phases();

/// Asks for the execution mode and runs the full bootstrap or the phase menu
/// of the project at `project_root`.
Result<void> run_execution_modes(const std::string& project_root, bool preview, const RunFiles& files);

/// The setup path from host discovery to its end.
Result<void> run_setup(const SetupContext& context);
