// What a road must not leave on the machine: resources the library holds
// (open handles of every kind, blocks it allocated) and data it lost.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vrinroad {

// Every kind of resource an action may hold, each with what it means to
// leave one behind ("a registry key was left open") and how many are held.
using HeldResources = std::vector<std::pair<std::string, long>>;
HeldResources Held();
// The resources after holds more of than before: one text each.
std::vector<std::string> LeftBehind(const HeldResources& before, const HeldResources& after);

// The machine's data as a set of items: "registry: <key>\<value>",
// "file: <path>" and "share: <name>".
std::set<std::string> MachineItems();
// Items present at the start and at the end of the road without the fault,
// but missing after the faulted road.
std::vector<std::string> LostItems(const std::set<std::string>& start, const std::set<std::string>& baselineEnd,
                                   const std::set<std::string>& faultedEnd);

}  // namespace vrinroad
