// Plays a scenario on the simulated machine and tells what happened.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/road/road.h"
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
  std::string failure;  // which action failed, and its last lines
  std::vector<std::string> changes;
  std::vector<std::pair<std::string, std::string>> propertiesLeftSet;
  std::vector<std::string> featureRequests;  // features whose requested state the actions changed
  int traceLines = 0;                        // lines the library wrote into the log
  int errorTableQueries = 0;
  uint64_t blockedMilliseconds = 0;  // service waits and pauses, on the virtual clock
  double wallMilliseconds = 0;
};

struct PlayResult {
  std::vector<StepResult> steps;  // up to and including a failed one
  bool failed = false;
  double wallMilliseconds = 0;
};

// Resets the simulated machine and plays the scenario's steps on it; a step
// that fails ends the play. Problems of the scenario itself (a package that
// does not build, a .reg line the registry refuses) are ScenarioErrors.
// The library's standard output is discarded while it runs.
PlayResult Play(const Scenario& scenario);

// What the scenario puts on a machine that has the standard machine (or
// not, as it says) already: registry, remote machines, files, services,
// shares, installed products.
void SeedMachine(const Scenario& scenario);

// The step's message-box answers and service start scripts, for the calls
// that follow.
void ScriptStep(const Step& step);

// The package of the scenario's roads, for a package built in, given as .idt
// tables or as an .msi (a .wxs is built only by Play).
vrinroad::PackageOptions RoadPackage(const Scenario& scenario);

// The package and options of a road step: PRODUCTS of the step applied.
std::pair<vrinroad::PackageOptions, vrinroad::RoadOptions> RoadOf(const Step& step,
                                                                  const vrinroad::PackageOptions& package);

// The report: per step its log, the machine's changes and a summary, then
// the whole play's summary. Without wall time it is the same on every run.
std::string Report(const Scenario& scenario, const PlayResult& result, bool withWallTime);

// The installation logs of all steps, one after the other.
std::string LogText(const PlayResult& result);

}  // namespace vrinsim
