// The bundled roads as sweep scenarios: each road of the road tests, from
// the machine it starts on (with the roads before it) to its end.
#pragma once

#include <vector>

#include "tools/road/fault_sweep.h"

namespace vrinroad {

std::vector<SweepScenario> BundledRoads();

}  // namespace vrinroad
