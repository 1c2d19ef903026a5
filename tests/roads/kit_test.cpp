// The integration kit's rows (packaging/) that every road plays: each
// orchestrator's number in the consuming product's sequence must stand on
// the side of the standard action its module row names, or the flattened
// products and the merge modules would run it at different points.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "tools/road/kit_rows.h"

namespace {

// Windows Installer's standard InstallExecuteSequence numbers.
const std::map<std::string, int> kStandardNumbers = {{"LaunchConditions", 100},
                                                     {"CostFinalize", 1000},
                                                     {"InstallInitialize", 1500},
                                                     {"InstallExecute", 6500},
                                                     {"InstallFinalize", 6600}};

TEST(KitTest, EveryOrchestratorsNumberStandsWhereItsModuleRowPlacesIt) {
  ASSERT_EQ(vrinkit::ModuleRows().size(), 8u);
  std::set<int> numbers;
  for (const vrinkit::ModuleRow& row : vrinkit::ModuleRows()) {
    SCOPED_TRACE(row.action);
    ASSERT_EQ(kStandardNumbers.count(row.baseAction), 1u) << row.baseAction;
    const int standard = kStandardNumbers.at(row.baseAction);
    if (row.after) {
      EXPECT_GT(row.sequence, standard);
    } else {
      EXPECT_LT(row.sequence, standard);
    }
    EXPECT_TRUE(numbers.insert(row.sequence).second) << "two orchestrators share " << row.sequence;
  }
}

TEST(KitTest, TheFirstOrchestratorRunsAfterCostingSoThatARemovalSkipsTheValidation) {
  // Feature action states are known only after CostFinalize: before it the
  // server feature's state reads as unknown and "&Feature <> 2" holds on a
  // removal too.
  for (const vrinkit::ModuleRow& row : vrinkit::ModuleRows()) {
    EXPECT_GT(row.sequence, kStandardNumbers.at("CostFinalize")) << row.action;
  }
}

TEST(KitTest, ErrorRowsCoverTheTracesThreeRows) {
  std::set<int> rows;
  for (const vrinkit::ErrorRow& row : vrinkit::ErrorRows()) {
    EXPECT_NE(std::string(row.message).find("[1]"), std::string::npos) << row.number << " drops the trace text";
    rows.insert(row.number);
  }
  EXPECT_EQ(rows, (std::set<int>{1, 2, 4}));
}

}  // namespace
