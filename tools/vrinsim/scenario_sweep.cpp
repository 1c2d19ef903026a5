#include "tools/vrinsim/scenario_sweep.h"

#include <filesystem>

#include "host/machine.h"
#include "tools/vrinsim/player.h"

namespace vrinsim {

std::optional<vrinroad::SweepScenario> SweepScenarioOf(const Scenario& scenario) {
  if (!scenario.standardMachine || std::filesystem::path(scenario.packageFile).extension() == ".wxs") {
    return std::nullopt;
  }
  for (const Step& step : scenario.steps) {
    if (step.kind == StepKind::kActions || step.kind == StepKind::kMasterSetup) return std::nullopt;
  }
  const vrinroad::PackageOptions package = RoadPackage(scenario);
  vrinroad::SweepScenario sweep;
  sweep.name = "scenario " + scenario.name;
  sweep.prepare = [scenario] { SeedMachine(scenario); };
  sweep.run = [scenario, package](vrinroad::RoadRunner& runner) {
    for (const Step& step : scenario.steps) {
      if (step.kind == StepKind::kRestart) {
        host::RestartMachine();
        continue;
      }
      if (step.kind == StepKind::kEvent) {
        ApplyEvents(step);
        continue;
      }
      ScriptStep(step);
      const auto [stepPackage, options] = RoadOf(step, package);
      // A failed road ends the installation, as it ends the play.
      if (runner.Drive(stepPackage, options) != ERROR_SUCCESS) return;
    }
  };
  return sweep;
}

}  // namespace vrinsim
