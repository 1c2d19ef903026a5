// Two engines' plays of one scenario compared step by step: the library's
// log lines in order (actions' start and end, trace lines, failure reports
// with their contexts), the actions called and their results, the step's
// outcome, the properties left set and the machine's changes. Each
// difference is a known one (engine_differences.h), named, or unexplained.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tools/vrinsim/engine_differences.h"
#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

struct Comparison {
  std::vector<Difference> differences;  // in step order
  size_t steps = 0;                     // steps compared: those either engine played
  // Per step (from 1), why its differences follow from an earlier one.
  std::map<size_t, std::string> follows;
  size_t Unexplained() const;
};

Comparison Compare(const PlayResult& simulated, const PlayResult& wine);

// For people: per step its differences ("no differences" where there are
// none), unexplained ones first; then the known differences met, each with
// its explanation, and a closing line with the counts. Lines end in "\n".
std::string ComparisonText(const Scenario& scenario, const Comparison& comparison, const PlayResult& simulated,
                           const PlayResult& wine, bool wallTime = true);

}  // namespace vrinsim
