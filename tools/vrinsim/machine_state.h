// What an engineer reads off a machine before and after a road: registry,
// services, files and shares, and the differences between two such states.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vrinsim {

struct ServiceState {
  std::string config;  // type, start, error control and image, as a line
  std::string state;   // "stopped", "running", ...
  bool markedForDeletion = false;
};

struct ShareState {
  std::string path;
  std::string remark;
  std::string access;  // the access list, ACE by ACE, or what stands for it
};

struct MachineState {
  // Registry key -> value name ("@" for the default value) -> its .reg text.
  std::map<std::string, std::map<std::string, std::string>> registry;
  std::map<std::string, ServiceState> services;
  std::map<std::string, std::string> files;   // Windows path -> content ("" for a folder, marked by a trailing "\")
  std::vector<std::string> pendingDeletions;  // at the next restart
  std::map<std::string, ShareState> shares;
};

// The keys and values of a .reg file's text (decoded), in the form
// MachineState::registry keeps them; a value's hex continuation lines are
// joined to it.
std::map<std::string, std::map<std::string, std::string>> RegistryValues(const std::string& regText);

// The simulated machine as it is now.
MachineState CaptureMachine();

// The files and folders the machine deletes at the next restart.
std::vector<std::string> PendingDeletions();

// The deletions at the next restart that after has and before had not.
std::vector<std::string> NewPendingDeletions(const MachineState& before, const MachineState& after);

// The simulated machine as a new scenario can start from it: its registry
// as a .reg file (service entries included), then comment lines (";", which
// .reg files may carry) describing it and giving the scenario.txt lines for
// its files, running services and shares. Lines end in "\n".
std::string MachineText(const std::string& description);

// The scenario.txt line ("file PATH = version ...", "= unversioned", "= text
// ...") that puts a file with this content on a machine; nothing for content
// that only a copied file can give.
std::optional<std::string> ScenarioFileLine(const std::string& path, const std::string& content);

// The changes from before to after, as report lines (empty: none). Each
// section starts with its heading: "Registry:", "Services:", "Files:",
// "Shares:".
std::vector<std::string> DescribeChanges(const MachineState& before, const MachineState& after);

}  // namespace vrinsim
