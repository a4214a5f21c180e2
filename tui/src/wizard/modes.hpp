// modes.hpp: the execution modes and the phase menu that end the setup path.
#pragma once

#include <string>
#include <vector>

#include "prompt/error.hpp"
#include "prompt/select.hpp"
#include "wizard/run_files.hpp"

/// Preview mode (--check): every playbook runs with --check and --diff, so
/// nothing on the target changes, and the notes say so. Set by main before
/// the flow starts; off by default.
void set_preview(bool on);

/// The rows of the phase menu, in order; the last one ("exit") leaves it.
const std::vector<RadioButton<std::string>>& playbook_phases();

/// Asks for the execution mode and runs the full bootstrap or the phase menu.
Result<void> run_execution_modes(const RunFiles& files);

/// The setup path from host discovery to its end.
Result<void> run_setup(const std::string& cache_root);
