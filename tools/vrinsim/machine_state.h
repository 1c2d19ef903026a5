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

// One change of the machine, as the report and the JSON report tell it.
struct MachineChange {
  std::string area;  // "registry", "service", "file", "share"
  std::string what;  // registry: "key added", "key deleted", "value added", "value changed", "value deleted";
                     // service: "created", "reconfigured", "state", "marked for deletion", "deleted";
                     // file: "added", "changed", "deleted", "deleted at restart"; share: "added", "changed", "deleted"
  std::string key;   // the registry key, service name, file path or share name
  std::string name;  // a registry value's name as a .reg file writes it ("\"Products\"", "@" for the default)
  std::string before;  // a value's .reg text, a service's configuration or state, a file's version ("" for none), a
  std::string after;   // share's path, remark and access; empty where there is nothing on that side
};

// The changes from before to after: registry keys in order (a key's own
// change before its values), then services, files and shares.
std::vector<MachineChange> ChangesBetween(const MachineState& before, const MachineState& after);

// A registry value's name as Windows names it: without the .reg file's
// quotes and escapes, "" for the default value ("@" there).
std::string ValueName(const std::string& regName);

// A change as its report line: "[+key]" or "[-key]" for a registry key's own
// change, a registry value's without its key.
std::string ChangeLine(const MachineChange& change);

// The changes as report lines (empty: none). Each section starts with its
// heading: "Registry:", "Services:", "Files:", "Shares:".
std::vector<std::string> DescribeChanges(const std::vector<MachineChange>& changes);

}  // namespace vrinsim
