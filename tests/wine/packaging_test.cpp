// The integration kit's examples (packaging/build-examples.sh) under Wine's
// own msiexec, built for each architecture as `make packages` builds them:
// - the consuming product installs and is removed, and each road runs every
//   orchestrator of both modules, entry and exit line, in the order of the
//   kit's sequence numbers, each with success;
// - the standalone setup's dialog actions run in the order its wiring gives.
//   msiexec /qn shows no dialog and /qf would wait for a click, so
//   wiring_probe.dll, added to the execute sequence, walks the package's
//   InstallUISequence, dialogs and ControlEvent rows and does each DoAction
//   as the dialogs would; the log shows each action's run.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/wine/wine_test.h"
#include "tools/road/kit_rows.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kTracePrefix = "OV VRIN : ";

std::string ReadBytes(const wine::fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The log's entry and exit lines of the named actions, in the log's order,
// as "Name ->" and "Name <-": the orchestrators' " -->" and their results
// are left out.
Lines EntryAndExitLines(const std::string& log, const Lines& actions) {
  Lines lines;
  for (const std::string& line : wine::SplitLines(log)) {
    size_t at = line.find(kTracePrefix);
    if (at == std::string::npos) continue;
    const std::string text = line.substr(at + kTracePrefix.size());
    for (const std::string& action : actions) {
      if (text == action + " ->" || text == action + " -->") lines.push_back(action + " ->");
      if (text.rfind(action + " <-", 0) == 0) lines.push_back(action + " <-");
    }
  }
  return lines;
}

Lines EntryThenExit(const Lines& actions) {
  Lines lines;
  for (const std::string& action : actions) {
    lines.push_back(action + " ->");
    lines.push_back(action + " <-");
  }
  return lines;
}

// The kit's orchestrators in the order of their sequence numbers.
Lines KitOrchestrators() {
  std::vector<vrinkit::ModuleRow> rows = vrinkit::ModuleRows();
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
  Lines names;
  for (const vrinkit::ModuleRow& row : rows) names.push_back(row.action);
  return names;
}

class WinePackagingTest : public wine::ArchTest<> {};

TEST_P(WinePackagingTest, ConsumerExampleRunsEveryOrchestratorInTheKitsOrder) {
  const wine::Package package = Wine().BuildExample("consumer.msi", "example-consumer");
  const Lines orchestrators = KitOrchestrators();
  ASSERT_EQ(orchestrators.size(), 8u);

  wine::MsiexecResult install = Wine().Install(package);
  wine::MsiexecResult removal = Wine().Remove(package);
  for (const wine::MsiexecResult* road : {&install, &removal}) {
    SCOPED_TRACE(road->logPath.string());
    EXPECT_EQ(road->exitCode, 0) << road->output;
    EXPECT_EQ(EntryAndExitLines(road->log, orchestrators), EntryThenExit(orchestrators));
    for (const std::string& orchestrator : orchestrators) {
      std::vector<wine::ActionRun> runs = wine::FindActionRuns(road->log, orchestrator);
      ASSERT_EQ(runs.size(), 1u) << orchestrator;
      EXPECT_EQ(runs[0].returnValue, 1) << orchestrator;
    }
  }
  EXPECT_FALSE(
      Wine().ExportRegistry("HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion").has_value())
      << "the removal of the last product leaves the product key";
}

TEST_P(WinePackagingTest, SetupExampleRunsItsDialogActionsInTheWiringsOrder) {
  const wine::Package package = Wine().BuildExample("setup.msi", "example-setup");
  // The probe, and a console found installed elsewhere, so that changing the
  // console's folder is refused with a warning the warning dialog shows.
  const wine::fs::path probe = package.workDir / "probe";
  wine::fs::create_directories(probe / "Binary");
  wine::fs::copy_file(Probe("wiring_probe.dll"), probe / "Binary" / "wiring_probe.dll");
  const std::vector<std::pair<std::string, std::string>> tables = {
      {"Binary.idt", "Name\tData\ns72\tv0\nBinary\tName\nProbeDll\twiring_probe.dll\n"},
      {"CustomAction.idt",
       "Action\tType\tSource\tTarget\tExtendedType\ns72\ti2\tS72\tS255\tI4\nCustomAction\tAction\n"
       "ProbeWiring\t1\tProbeDll\tProbeWiring\t\n"},
      {"InstallExecuteSequence.idt",
       "Action\tCondition\tSequence\ns72\tS255\tI2\nInstallExecuteSequence\tAction\nProbeWiring\t\t1010\n"},
      {"Property.idt",
       "Property\tValue\ns72\tl0\nProperty\tProperty\nFEATUREDESCRIPTION\tThe Velmora console\n"
       "GUIINSTALLDIR\tC:\\Earlier Console\\\n"}};
  for (const auto& [name, text] : tables) std::ofstream(probe / name, std::ios::binary) << text;
  Wine().Flatten(package, {probe});

  const wine::fs::path done = package.workDir / "done.txt";
  wine::MsiexecResult run = Wine().Install(package, {"PROBEFILE=" + wine::ToWindowsPath(done)});
  EXPECT_EQ(run.exitCode, 1602 % 256) << "the probe ends the installation as a cancel does: " << run.logPath;

  // The sequence's actions before the first dialog (the configuration file's
  // two wait for ICFPATH); the feature dialog's "Change folder" button
  // (tab order before "Next"): the refusal, its warning, the warning
  // dialog; "Next": nothing to install is checked, the warning it removes
  // is not shown; then the sequence's message action.
  const Lines expected = {"VrinReadInfFile",      "VRINSetSelectedFeatureState", "VrinNameLicense",
                          "VrinNameReadMe",       "VrinDisableChangeFolder",     "VrinWarning",
                          "VrinNothingToInstall", "VrinMessageInstall"};
  Lines probed;
  std::istringstream file(ReadBytes(done));
  for (std::string line; std::getline(file, line);) probed.push_back(line);
  EXPECT_EQ(probed, expected);
  EXPECT_EQ(EntryAndExitLines(run.log, expected), EntryThenExit(expected));
  for (const std::string& action : expected) {
    std::vector<wine::ActionRun> runs = wine::FindActionRuns(run.log, action);
    ASSERT_EQ(runs.size(), 1u) << action;
    EXPECT_EQ(runs[0].returnValue, 1) << action;
  }
  EXPECT_EQ(wine::LoggedProperty(run.log, "WARNINGTEXT"), std::nullopt)
      << "VrinNothingToInstall removes the change-folder warning when features are to be installed";
}

INSTANTIATE_TEST_SUITE_P(, WinePackagingTest, wine::AllArches(), wine::ArchTestName);

}  // namespace
