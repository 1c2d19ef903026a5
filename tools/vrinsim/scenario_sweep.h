// Bundled scenarios as fault-sweep scenarios: their machine, and their
// install, remove, repair and restart steps as the roads swept.
#pragma once

#include <optional>

#include "tools/road/fault_sweep.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

// Nothing for a scenario with steps outside the installer's roads (actions
// in one session, the master setup) or a package built from WiX source.
std::optional<vrinroad::SweepScenario> SweepScenarioOf(const Scenario& scenario);

}  // namespace vrinsim
