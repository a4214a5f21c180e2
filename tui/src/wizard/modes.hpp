// modes.hpp: the execution modes and the phase menu that end the setup path.
#pragma once

#include "prompt/error.hpp"
#include "wizard/run_files.hpp"

/// Asks for the execution mode and runs the full bootstrap or the phase menu.
Result<void> run_execution_modes(const RunFiles& files);

/// The setup path from host discovery to its end.
Result<void> run_setup(const std::string& cache_root);
