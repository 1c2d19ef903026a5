// Every bundled scenario plays as its expected report says: the logs, the
// machine's changes and the summaries (without wall time). To accept a
// deliberate change, run the test with VRINSIM_UPDATE_EXPECTED=1 and review
// the diff of scenarios/*/expected.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/vrinsim/player.h"
#include "tools/vrinsim/report.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> BundledScenarios() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(std::string(VRINCA_SOURCE_DIR) + "/scenarios")) {
    if (fs::exists(entry.path() / "scenario.txt")) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class BundledScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BundledScenarioTest, PlaysAsExpected) {
  const fs::path folder = fs::path(VRINCA_SOURCE_DIR) / "scenarios" / GetParam();
  Scenario scenario = LoadScenario(folder.string());
  const std::string report = Report(scenario, Play(scenario), ReportOptions{false});
  const fs::path expected = folder / "expected.txt";
  const char* update = std::getenv("VRINSIM_UPDATE_EXPECTED");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(expected, std::ios::binary) << report;
    return;
  }
  std::ifstream in(expected, std::ios::binary);
  ASSERT_TRUE(in) << expected << " is missing; run with VRINSIM_UPDATE_EXPECTED=1 to write it";
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(report, text.str()) << "the report of " << GetParam() << " changed";
}

TEST_P(BundledScenarioTest, TraceReadsOneErrorRowPerLine) {
  Scenario scenario = LoadScenario((fs::path(VRINCA_SOURCE_DIR) / "scenarios" / GetParam()).string());
  for (const StepResult& step : Play(scenario).steps) {
    EXPECT_EQ(step.errorTableQueries, std::optional<int>(step.traceLines)) << step.title;
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BundledScenarioTest, ::testing::ValuesIn(BundledScenarios()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace vrinsim
