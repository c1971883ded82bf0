// Options of the measuring chain, shared by `response`, `scans --units` and
// `spectra --units`.
#pragma once

#include <CLI/CLI.hpp>

#include "olmts/response.h"

namespace olmts {

// --require-sensors, --force-box, --gain-frequency.
void AddChainOptions(CLI::App* command, ChainOptions* options);

}  // namespace olmts
