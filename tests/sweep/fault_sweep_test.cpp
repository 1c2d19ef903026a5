// The fault sweep: it catches each kind of fault an action can show when a
// platform call fails (a key left open, a value deleted, an exception
// escaping, a failure reported twice), and the bundled roads show none.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <stdexcept>

#include "host/registry.h"
#include "runtime/install_exception.h"
#include "tools/road/fault_sweep.h"
#include "tools/road/road_scenarios.h"

namespace vrinroad {
namespace {

const char kSweepKey[] = "Software\\Sweep";

// A package action that copes badly with a failing registry: a refused key
// is reported twice, the seeded value is deleted when reading fails, the key
// stays open when writing fails, and a C++ exception escapes when the key
// cannot be opened again.
UINT __stdcall CarelessAction(MSIHANDLE hInstall) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSweepKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) {
    CInstallException* failure = new (std::nothrow) CInstallException("CarelessAction : RegCreateKeyEx", result);
    try {
      throw failure;
    } catch (CInstallException* caught) {
      caught->Report(hInstall, "CarelessAction");
      caught->Report(hInstall, "CarelessAction");
      delete caught;
    }
    return ERROR_SUCCESS;
  }
  char data[16] = {};
  DWORD size = sizeof(data);
  if (RegQueryValueExA(key, "Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
    RegDeleteValueA(key, "Kept");
  }
  const BYTE one[] = "1";
  if (RegSetValueExA(key, "Written", 0, REG_SZ, one, sizeof(one)) != ERROR_SUCCESS) return ERROR_SUCCESS;
  RegCloseKey(key);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSweepKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    throw std::runtime_error("careless");
  }
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

SweepScenario CarelessRoad() {
  PackageOptions package;
  package.actions = {{Point::kAfterInstallFinalize, "CarelessAction", CarelessAction}};
  return {"careless", [] { host::LocalRegistry().SetString("HKEY_LOCAL_MACHINE\\Software\\Sweep", "Kept", "1"); },
          [package](RoadRunner& runner) { runner.Drive(package, RoadOptions::FirstInstallation()); },
          // The careless action's calls are the last of their functions,
          // which every sample fails.
          1000};
}

// The violations of the careless road whose failed call is function's.
std::vector<std::string> ViolationsOf(const SweepReport& report, const std::string& function) {
  std::vector<std::string> found;
  for (const SweepViolation& violation : report.violations) {
    if (violation.call.function == function) found.push_back(violation.invariant + ": " + violation.detail);
  }
  return found;
}

class FaultSweepTest : public ::testing::Test {
 protected:
  static const SweepReport& CarelessReport() {
    static const SweepReport report = [] {
      KeepMachinesInMemory();
      FaultSweep sweep;
      sweep.Sweep(CarelessRoad());
      return sweep.Report();
    }();
    return report;
  }
};

TEST_F(FaultSweepTest, KeyLeftOpenWhenWritingFailsIsFound) {
  std::vector<std::string> found = ViolationsOf(CarelessReport(), "RegSetValueEx");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back(), std::string(kNothingHeld) + ": a registry key was left open (1)");
}

TEST_F(FaultSweepTest, ValueDeletedWhenReadingFailsIsFoundLost) {
  std::vector<std::string> found = ViolationsOf(CarelessReport(), "RegQueryValueEx");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back(), std::string(kNothingLost) + ": registry: HKEY_LOCAL_MACHINE\\Software\\Sweep\\Kept");
}

TEST_F(FaultSweepTest, ExceptionEscapingTheActionIsFound) {
  std::vector<std::string> found = ViolationsOf(CarelessReport(), "RegOpenKeyEx");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), std::string(kNoEscape) + ": careless");
}

TEST_F(FaultSweepTest, FailureReportedTwiceIsFound) {
  std::vector<std::string> found = ViolationsOf(CarelessReport(), "RegCreateKeyEx");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back(),
            std::string(kReportedOnce) + ": 2 reports of CarelessAction : RegCreateKeyEx (5) in no action");
}

// The main roads fail every call; the others each function's first and last
// call and every tenth, which keeps the sweep within a few minutes on two
// cores (vrinsweep fails every call of every road).
TEST_F(FaultSweepTest, BundledRoadsHoldEveryInvariantWhateverCallFails) {
  const std::set<std::string> kMainRoads = {"first installation with user interface",
                                            "upgrade of the previous generation",
                                            "removal of the last server and console"};
  KeepMachinesInMemory();
  FaultSweep sweep;
  for (SweepScenario& scenario : BundledRoads()) {
    if (kMainRoads.count(scenario.name) == 0) scenario.sampleEvery = 10;
    sweep.Sweep(scenario);
  }
  const SweepReport& report = sweep.Report();
  std::cerr << report.Text();
  EXPECT_GT(report.callsFailed, 0);
  EXPECT_EQ(report.invariantsHeld, report.invariantsChecked);
  EXPECT_TRUE(report.violations.empty());
}

}  // namespace
}  // namespace vrinroad
