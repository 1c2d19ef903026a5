// The reports of run, compare and explore as JSON, for other tools (--json
// FILE). The layout is the README's "vrinsim-report/1"; anything that
// changes it, other than a field added, comes with a new version.
#pragma once

#include <string>

#include "tools/vrinsim/compare.h"
#include "tools/vrinsim/explore.h"
#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

inline constexpr char kReportSchema[] = "vrinsim-report/1";

std::string PlayJson(const Scenario& scenario, const PlayResult& result);

std::string CompareJson(const Scenario& scenario, const Comparison& comparison, const PlayResult& simulated,
                        const PlayResult& wine);

std::string ExploreJson(const ExploreReport& report);

}  // namespace vrinsim
