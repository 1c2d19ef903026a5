// An installer engine plays a scenario's steps on a machine of its own: the
// simulated Windows Installer of host/, or Wine's msiexec in a Wine prefix
// made for the play. The player drives every engine the same way (seed the
// machine, then per step: play it, read the machine back), so that the
// report, the comparison of two engines and the JSON report are written once
// and the engines differ only behind this interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vrinsim/machine_state.h"
#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

class Engine {
 public:
  virtual ~Engine() = default;

  // "simulated", "wine win32", "wine win64": how the report names it.
  virtual std::string Name() const = 0;

  // A fresh machine carrying the scenario's machine, and the scenario's
  // package made ready for this engine. The scenario's own problems and
  // those only the machine shows are one ScenarioError listing them all;
  // nothing is played then.
  virtual void Seed(const Scenario& scenario) = 0;

  // Plays the scenario's step `index` (steps are played in order, each once,
  // after Seed). Fills everything of the StepResult but its machine changes
  // and wall time, which the player measures. What a step that went through
  // showed to be pointless in the scenario is added to warnings. A step the
  // engine refused to set up is a StepError naming it.
  virtual StepResult PlayStep(const Scenario& scenario, size_t index, std::vector<Problem>& warnings) = 0;

  // The machine as it is now: registry, services, files, shares, the
  // deletions pending for the next restart.
  virtual MachineState ReadMachine() = 0;
};

std::unique_ptr<Engine> SimulatedEngine();

// Why this machine cannot run the Wine engine of the architecture ("win32",
// "win64"), empty when it can.
std::string WineCannotRun(const std::string& arch);
std::unique_ptr<Engine> WineEngine(const std::string& arch);

// Seeds the engine's machine and plays the scenario's first `steps` steps
// there; a step that fails ends the play. Each step's changes are the
// differences between the machine read before and after it.
PlayResult Play(Engine& engine, const Scenario& scenario, size_t steps = kAllSteps, const StepObserver& observer = {});

}  // namespace vrinsim
