// Plays a scenario on the simulated machine and records what happened; the
// report (report.h) tells it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/road/road.h"
#include "tools/vrinsim/machine_state.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

struct StepResult {
  std::string title;
  StepKind kind = StepKind::kInstall;
  std::vector<std::string> log;  // the installation log
  std::vector<vrinroad::ActionCall> calls;
  std::vector<std::string> outcome;  // what a master-setup step returned and wrote
  std::vector<std::string> messageBoxes;
  bool failed = false;
  std::string failure;                        // which action failed, and its last lines
  std::vector<std::string> changes;           // the machine's changes as report lines
  std::vector<MachineChange> machineChanges;  // and as data
  std::vector<std::pair<std::string, std::string>> propertiesLeftSet;
  std::vector<std::string> featureRequests;  // features whose requested state the actions changed
  int traceLines = 0;                        // lines the library wrote into the log
  int failureReports = 0;                    // of them, failure reports (the Error table's row 1)
  int warnings = 0;                          // and warnings (row 2)
  // What the engine could not do of what the step asks (Wine has no network
  // server, ...), each said once.
  std::vector<std::string> engineNotes;
  // Why the engine's machine is no longer the one the scenario describes
  // (an event of this step or an earlier one it could not make), on this
  // step and every later one; empty while it is.
  std::string machineNotTheScenarios;
  // Figures only the simulated engine measures.
  std::optional<int> errorTableQueries;
  std::optional<uint64_t> blockedMilliseconds;  // service waits and pauses, on the virtual clock
  double wallMilliseconds = 0;
};

struct PlayResult {
  std::string engine;             // as the engine names itself
  std::vector<StepResult> steps;  // up to and including a failed one
  bool failed = false;
  double wallMilliseconds = 0;
  // What the play showed to be pointless in the scenario (a service script
  // nothing used, a message-box answer nothing asked for).
  std::vector<Problem> warnings;
};

inline constexpr size_t kAllSteps = std::numeric_limits<size_t>::max();

// Looks at the machine during a play: called once before the first step
// (played 0, last null) and after each step that went through or failed;
// false ends the play there.
using StepObserver = std::function<bool(size_t played, const StepResult* last)>;

// Resets the simulated machine, puts the scenario's machine on it and plays
// the scenario's first `steps` steps there; a step that fails ends the play.
// The machine stays as the play leaves it. (engine.h plays on any engine.)
//
// A scenario with mistakes (its own problems and those only the machine
// shows: a .reg line the registry refuses, a running service that does not
// exist, a script for a service nothing creates) is a ScenarioError listing
// them all, before anything is played; so is a package that does not build.
// What the simulated installer refuses during a step is a StepError naming
// the step. The library's standard output is discarded while it runs.
PlayResult Play(const Scenario& scenario, size_t steps = kAllSteps, const StepObserver& observer = {});

// What the scenario puts on a machine that has the standard machine (or
// not, as it says) already: registry, remote machines, files, services,
// shares, installed products. A problem of the machine is a ScenarioError.
void SeedMachine(const Scenario& scenario);

// The step's message-box answers and service start scripts, for the calls
// that follow; the previous step's that were not used are dropped.
void ScriptStep(const Step& step);

// What an event step does to the machine, in order. A service or file the
// machine does not have is a std::runtime_error.
void ApplyEvents(const Step& step);

// The package of the scenario's roads, for a package built in, given as .idt
// tables or as an .msi (a .wxs is built only by Play).
vrinroad::PackageOptions RoadPackage(const Scenario& scenario);

// The package and options of a road step: PRODUCTS of the step applied.
std::pair<vrinroad::PackageOptions, vrinroad::RoadOptions> RoadOf(const Step& step,
                                                                  const vrinroad::PackageOptions& package);

// "unknown", "absent", "local", "source", or the number of any other state.
std::string InstallStateName(INSTALLSTATE state);

// Which action of the calls failed, and the failure reports written while
// it ran, each on one line: the first names the cause, the last the
// action's own report. Empty when none failed.
std::string FailureOf(const std::vector<vrinroad::ActionCall>& calls, const std::vector<std::string>& log);

// What the master setup's three calls returned and left, as an engine read
// them: the numbers as the calls returned them, the profile's lines when
// the step writes one.
struct MasterSetupCalls {
  std::string check, message, folder, fixed, create, post;
  std::vector<std::string> components, profileLines;
};

// The step's outcome lines and verdict from those calls, the same for every
// engine.
void TellMasterSetup(const Step& step, const MasterSetupCalls& calls, StepResult& out);

}  // namespace vrinsim
