// vrinsweep: the fault sweep over the bundled roads (those of the road
// tests and vrinsim's bundled scenarios), with its report.
//   vrinsweep [--sample N] [ROAD...]
//   vrinsweep --replay ROAD FUNCTION NTH
// --sample N fails each function's first and last call and every Nth one
// between instead of every call; ROAD names roads by a part of their name.
// --replay prints the log of one road with one call failing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/road/road_scenarios.h"
#include "tools/vrinsim/scenario_sweep.h"

namespace {

std::vector<vrinroad::SweepScenario> AllRoads() {
  std::vector<vrinroad::SweepScenario> roads = vrinroad::BundledRoads();
  for (const auto& entry : std::filesystem::directory_iterator(VRINSIM_SCENARIOS_DIR)) {
    if (!std::filesystem::exists(entry.path() / "scenario.txt")) continue;
    if (auto sweep = vrinsim::SweepScenarioOf(vrinsim::LoadScenario(entry.path().string()))) roads.push_back(*sweep);
  }
  return roads;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--replay") {
    for (const vrinroad::SweepScenario& scenario : AllRoads()) {
      if (scenario.name.find(argv[2]) == std::string::npos) continue;
      vrinroad::FailedCall call{argv[3], std::atoi(argv[4]), "", vrinroad::PlausibleError(argv[3])};
      vrinroad::FaultSweep sweep;
      for (const std::string& line : sweep.ReplayLog(scenario, call)) std::printf("%s\n", line.c_str());
      return 0;
    }
    return 2;
  }
  int sample = 0;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--sample" && i + 1 < argc) {
      sample = std::atoi(argv[++i]);
    } else if (argument.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: vrinsweep [--sample N] [ROAD...]\n");
      return 2;
    } else {
      wanted.push_back(argument);
    }
  }
  const auto start = std::chrono::steady_clock::now();
  vrinroad::KeepMachinesInMemory();
  vrinroad::FaultSweep sweep;
  sweep.OnScenario([](const std::string& name) { std::fprintf(stderr, "sweeping %s\n", name.c_str()); });
  for (vrinroad::SweepScenario& scenario : AllRoads()) {
    bool chosen = wanted.empty();
    for (const std::string& part : wanted) chosen = chosen || scenario.name.find(part) != std::string::npos;
    if (!chosen) continue;
    if (sample > 0) scenario.sampleEvery = sample;
    sweep.Sweep(scenario);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fputs(sweep.Report().Text().c_str(), stdout);
  std::printf("run time: %.1f s\n", seconds);
  return sweep.Report().violations.empty() ? 0 : 1;
}
