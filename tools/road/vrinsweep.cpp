// vrinsweep: the fault sweep over the bundled roads (those of the road
// tests, vrinsim's bundled scenarios and the master setup), with its report.
//   vrinsweep [--calls | --texts] [--sample N] [ROAD...]
//   vrinsweep --replay ROAD FUNCTION NTH
//   vrinsweep --replay-text ROAD FUNCTION LENGTH KEY
// Both kinds of fault by default: every call failing in turn, and every
// outside text over-long at each boundary length; --calls or --texts makes
// only one kind. --sample N fails each function's first and last call and
// every Nth one between instead of every call, and replays each text's first
// length and every Nth replay after it; ROAD names roads by a part of their
// name. --replay prints the log of one road with one call failing,
// --replay-text with one text over-long.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  const bool replayCall = argc == 5 && std::string(argv[1]) == "--replay";
  const bool replayText = argc == 6 && std::string(argv[1]) == "--replay-text";
  if (replayCall || replayText) {
    for (const vrinroad::SweepScenario& scenario : AllRoads()) {
      if (scenario.name.find(argv[2]) == std::string::npos) continue;
      vrinroad::FailedCall call{argv[3], std::atoi(argv[4]), "", vrinroad::PlausibleError(argv[3])};
      if (replayText) call = vrinroad::FailedCall{argv[3], 0, argv[5], 0, std::strtoul(argv[4], nullptr, 10)};
      vrinroad::FaultSweep sweep;
      for (const std::string& line : sweep.ReplayLog(scenario, call)) std::printf("%s\n", line.c_str());
      return 0;
    }
    return 2;
  }
  int sample = 0;
  bool calls = true;
  bool texts = true;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--sample" && i + 1 < argc) {
      sample = std::atoi(argv[++i]);
    } else if (argument == "--calls" || argument == "--texts") {
      calls = argument == "--calls";
      texts = argument == "--texts";
    } else if (argument.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: vrinsweep [--calls | --texts] [--sample N] [ROAD...]\n");
      return 2;
    } else {
      wanted.push_back(argument);
    }
  }
  const auto start = std::chrono::steady_clock::now();
  vrinroad::KeepMachinesInMemory();
  vrinroad::FaultSweep sweep;
  sweep.Kinds(calls, texts);
  sweep.OnScenario([](const std::string& name) { std::fprintf(stderr, "sweeping %s\n", name.c_str()); });
  for (vrinroad::SweepScenario& scenario : AllRoads()) {
    bool chosen = wanted.empty();
    for (const std::string& part : wanted) chosen = chosen || scenario.name.find(part) != std::string::npos;
    if (!chosen) continue;
    if (sample > 0) {
      scenario.sampleEvery = sample;
      scenario.textSampleEvery = sample;
    }
    sweep.Sweep(scenario);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fputs(sweep.Report().Text().c_str(), stdout);
  std::printf("run time: %.1f s\n", seconds);
  return sweep.Report().violations.empty() ? 0 : 1;
}
