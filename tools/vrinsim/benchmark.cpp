// The whole first-installation road on the simulated machine, service waits
// on the virtual clock: machine preparation, the package, the orchestrators
// and the machine's before/after states, as `vrinsim run` plays it.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace {

void BM_FirstInstallationRoad(benchmark::State& state) {
  const vrinsim::Scenario scenario = vrinsim::LoadScenario(std::string(VRINSIM_SCENARIOS_DIR) + "/first-install");
  vrinsim::PlayResult result;
  for (auto _ : state) {
    result = vrinsim::Play(scenario);
    benchmark::DoNotOptimize(result);
  }
  if (result.failed || result.steps.empty()) {
    state.SkipWithError("the road failed");
    return;
  }
  const vrinsim::StepResult& step = result.steps.front();
  state.counters["trace_lines"] = step.traceLines;
  state.counters["error_table_queries"] = step.errorTableQueries.value_or(0);
  state.counters["virtual_blocked_ms"] = static_cast<double>(step.blockedMilliseconds.value_or(0));
}
BENCHMARK(BM_FirstInstallationRoad)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
