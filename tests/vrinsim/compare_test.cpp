// The comparison of two engines' plays: each difference is found, and named
// only when the known difference it is recognised as, with its evidence, is
// there; anything else is unexplained.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/vrinsim/compare.h"
#include "tools/vrinsim/scenario.h"

namespace {

using vrinsim::MachineChange;
using vrinsim::StepResult;

const char kSharedDlls[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kDriverReport[] =
    "ERR: OV VRIN : VrinNTStartVrin : 1114\r\n\r\nCONTEXT = VrinNTStartVrin : StartService (1)\r\n"
    "DESCRIPTION = A dynamic link library (DLL) initialization routine failed.\r\n";

// A step as the simulated engine records it: an orchestrator that failed,
// an action's entry and exit, a failure report, a property and changes.
StepResult SimulatedStep() {
  StepResult step;
  step.title = "First installation";
  step.log = {"Action start 00:01:00: VrinNTMergePreInstallFinalize.", "OV VRIN : VrinNTStartVrin ->",
              "ERR: OV VRIN : VrinNTPreviousVersionInstalled : 1060\r\n\r\nCONTEXT = VrinNTPreviousVersionInstalled : "
              "OpenService\r\nDESCRIPTION = The specified service does not exist as an installed service.\r\n",
              "OV VRIN : VrinNTStartVrin <- [0]",
              "Action ended 00:01:00: VrinNTMergePreInstallFinalize. Return value 3."};
  step.calls = {{"VrinNTMergePreInstallFinalize", 1603}};
  step.failed = true;
  step.propertiesLeftSet = {{"STARTUPMODE", "Manual"}};
  step.machineChanges = {
      {"registry", "value changed", kSharedDlls, "\"C:\\\\Server\\\\Skdnt.exe\"", "dword:00000001", "dword:00000002"},
      {"service", "created", "SKDDriver", "", "", "kernel driver, manual; running"},
      {"share", "added", "VRIN$", "", "", "C:\\Server, access: Everyone read"},
  };
  return step;
}

MachineChange* Find(StepResult& step, const std::string& area) {
  for (MachineChange& change : step.machineChanges) {
    if (change.area == area) return &change;
  }
  return nullptr;
}

TEST(EngineComparison, NamesEachKnownDifferenceAndLeavesTheRestUnexplained) {
  const struct {
    const char* what;
    std::function<void(StepResult&)> onWine;
    std::vector<std::string> expected;  // the differences' known names in order; "" for unexplained
  } cases[] = {
      {"the same play", [](StepResult&) {}, {}},
      {"an exit line formatted once more",
       [](StepResult& wine) { wine.log[3] = "OV VRIN : VrinNTStartVrin <- "; },
       {"info-formatted-twice"}},
      {"no Error-table marker", [](StepResult& wine) { wine.log[2].erase(0, 5); }, {"error-table-markers"}},
      {"Wine's system text",
       [](StepResult& wine) {
         wine.log[2] =
             wine.log[2].substr(0, wine.log[2].find("DESCRIPTION = ")) + "DESCRIPTION = Service does not exist.";
       },
       {"system-message-texts"}},
      {"a failed action logged with 0",
       [](StepResult& wine) { wine.log[4].replace(wine.log[4].size() - 2, 1, "0"); },
       {"failed-action-return-value"}},
      {"no share", [](StepResult& wine) { wine.machineChanges.pop_back(); }, {"no-network-server"}},
      {"the driver does not start",
       [](StepResult& wine) {
         wine.log.insert(wine.log.begin() + 2, kDriverReport);
         wine.log.insert(wine.log.begin() + 3, "OV VRIN : Set STARTUPMODE=NeedReboot");
         wine.propertiesLeftSet = {{"STARTUPMODE", "NeedReboot"}};
         Find(wine, "service")->after = "kernel driver, manual; stopped";
       },
       {"no-filter-driver", "no-filter-driver", "no-filter-driver", "no-filter-driver"}},
      {"a file removed while counted",
       [](StepResult& wine) {
         wine.machineChanges.push_back({"file", "deleted", "C:\\Server\\Skdnt.exe", "", "9.0", ""});
       },
       {"component-removed-while-counted"}},
      {"a component removed while counted, with its value",
       [](StepResult& wine) {
         wine.machineChanges.push_back({"file", "deleted", "C:\\Server\\Skdnt.exe", "", "9.0", ""});
         wine.machineChanges.push_back({"registry", "value deleted", "HKEY_LOCAL_MACHINE\\Software\\Orvannic",
                                        "\"ServicePath\"", "\"C:\\\\Server\\\\Skdnt.exe\"", ""});
       },
       {"component-removed-while-counted", "component-removed-while-counted"}},
      {"a component counted once more",
       [](StepResult& wine) { Find(wine, "registry")->after = "dword:00000003"; },
       {"component-counted-once-more"}},
      {"after an event Wine could not make",
       [](StepResult& wine) {
         wine.machineNotTheScenarios = "Wine's machine has no C:\\held.sys to hold open (hold-file)";
         wine.log[3] = "OV VRIN : VrinNTStartVrin <- ";
         wine.calls[0].result = 0;
       },
       {"event-not-made", "info-formatted-twice"}},
      // Without its evidence a known difference's effect is unexplained.
      {"NeedReboot without the driver's failure",
       [](StepResult& wine) {
         wine.propertiesLeftSet = {{"STARTUPMODE", "NeedReboot"}};
       },
       {""}},
      {"a trace line of Wine's own",
       [](StepResult& wine) { wine.log.insert(wine.log.begin() + 2, "OV VRIN : odd"); },
       {""}},
      {"a value of another file removed",
       [](StepResult& wine) {
         wine.machineChanges.push_back({"file", "deleted", "C:\\Server\\Skdnt.exe", "", "9.0", ""});
         wine.machineChanges.push_back({"registry", "value deleted", "HKEY_LOCAL_MACHINE\\Software\\Orvannic",
                                        "\"GuiPath\"", "\"C:\\\\Console\"", ""});
       },
       {"component-removed-while-counted", ""}},
      {"a count two above", [](StepResult& wine) { Find(wine, "registry")->after = "dword:00000004"; }, {""}},
      {"the step went through", [](StepResult& wine) { wine.failed = false; }, {""}},
      {"another result", [](StepResult& wine) { wine.calls[0].result = 0; }, {""}},
  };
  for (const auto& row : cases) {
    vrinsim::PlayResult simulated, wine;
    simulated.steps = {SimulatedStep()};
    wine.steps = {SimulatedStep()};
    row.onWine(wine.steps[0]);
    const vrinsim::Comparison comparison = vrinsim::Compare(simulated, wine);
    std::vector<std::string> names;
    size_t unexplained = 0;
    for (const vrinsim::Difference& difference : comparison.differences) {
      names.push_back(difference.known);
      unexplained += difference.known.empty() ? 1 : 0;
    }
    EXPECT_EQ(names, row.expected) << row.what;
    EXPECT_EQ(comparison.Unexplained(), unexplained) << row.what;
  }
}

// Wine counts the component once more in step 1; step 2 reads the count
// (answered as the row says) and takes another branch on Wine; step 3, a
// restart, carries out the pending deletions step 2 wrote differently.
TEST(EngineComparison, StepFollowsAnEarlierDifferenceOnlyWhenItReadsItOtherwise) {
  const char kRead[] =
      "OV VRIN : InstallGetRegValue -> Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls\\C:\\Server\\Skdnt.exe "
      "[0]";
  const struct {
    const char* what;
    const char* countOnWine;  // after step 1
    const char* answerOnWine;
    std::vector<std::string> expected;  // step 2's and 3's known names in order
  } cases[] = {
      {"read one above",
       "dword:00000003",
       "OV VRIN : InstallGetRegValue <- 3",
       {"follows-earlier-difference", "follows-earlier-difference", "follows-earlier-difference",
        "follows-earlier-difference"}},
      {"read alike", "dword:00000003", "OV VRIN : InstallGetRegValue <- 2", {"", "", ""}},
      {"counted alike before", "dword:00000002", "OV VRIN : InstallGetRegValue <- 3", {"", "", "", ""}},
  };
  const std::string pending = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  for (const auto& row : cases) {
    vrinsim::PlayResult simulated, wine;
    StepResult first = SimulatedStep(), second, restart;
    second.log = {kRead, "OV VRIN : InstallGetRegValue <- 2"};
    second.machineChanges = {{"registry", "value added", pending, "\"P\"", "", "hex(7):41,00"}};
    restart.machineChanges = {{"registry", "value deleted", pending, "\"P\"", "hex(7):41,00", ""}};
    simulated.steps = {first, second, restart};
    Find(first, "registry")->after = row.countOnWine;
    second.log = {kRead, row.answerOnWine, "OV VRIN : Still used elsewhere"};
    second.machineChanges[0].after = restart.machineChanges[0].before = "hex(7):42,00";
    wine.steps = {first, second, restart};
    const vrinsim::Comparison comparison = vrinsim::Compare(simulated, wine);
    std::vector<std::string> names;
    for (const vrinsim::Difference& difference : comparison.differences) {
      if (difference.step > 1) names.push_back(difference.known);
    }
    EXPECT_EQ(names, row.expected) << row.what;
    EXPECT_EQ(comparison.follows.count(2), row.expected.back().empty() ? 0u : 1u) << row.what;
  }
}

TEST(EngineComparison, StepOnlyOneEnginePlayedIsUnexplained) {
  vrinsim::PlayResult simulated, wine;
  simulated.steps = {SimulatedStep(), SimulatedStep()};
  wine.steps = {SimulatedStep()};
  const vrinsim::Comparison comparison = vrinsim::Compare(simulated, wine);
  ASSERT_EQ(comparison.differences.size(), 1u);
  EXPECT_EQ(comparison.differences[0].step, 2u);
  EXPECT_EQ(comparison.differences[0].area, "step");
  EXPECT_EQ(comparison.Unexplained(), 1u);
}

// A real play and the same play as Wine's log would show it: every "[n]"
// formatted away and no Error-table markers. Every such line is lined up
// with its own and named; nothing else differs.
TEST(EngineComparison, WholePlayAsWineLogsItDiffersOnlyInKnownWays) {
  const vrinsim::Scenario scenario =
      vrinsim::LoadScenario(std::string(VRINCA_SOURCE_DIR) + "/scenarios/upgrade-previous-generation");
  const vrinsim::PlayResult simulated = vrinsim::Play(scenario);
  vrinsim::PlayResult wine = simulated;
  wine.engine = "wine win64";
  size_t formatted = 0, unmarked = 0;
  for (StepResult& step : wine.steps) {
    for (std::string& entry : step.log) {
      const std::string text = vrinsim::LibraryText(entry);
      if (text.empty() || entry.find('\n') != std::string::npos) continue;
      if (vrinsim::FormattedOnceMore(text) != text) {
        entry = "OV VRIN : " + vrinsim::FormattedOnceMore(text);
        ++formatted;
      } else if (entry.rfind("ERR: ", 0) == 0) {
        entry.erase(0, 5);
        ++unmarked;
      }
    }
  }
  ASSERT_GT(formatted, 10u);
  ASSERT_GT(unmarked, 0u);
  const vrinsim::Comparison comparison = vrinsim::Compare(simulated, wine);
  EXPECT_EQ(comparison.differences.size(), formatted + unmarked);
  EXPECT_EQ(comparison.Unexplained(), 0u);
  const std::string text = vrinsim::ComparisonText(scenario, comparison, simulated, wine, false);
  EXPECT_NE(text.find("0 unexplained differences, " + std::to_string(formatted + unmarked) + " known differences ==="),
            std::string::npos)
      << text;
}

}  // namespace
