// The merge modules' roads under Wine's own msiexec: a package carrying both
// components and the eight orchestrators at their points is installed
// silently, repaired with a plain second installation and removed. Each
// verbose log's orchestrator and action entry and exit lines are compared
// with the simulated road of the same kind (tests/roads), driven on the
// simulated machine in the same order, and Wine's registry is read back for
// the product key values the actions write.
//
// Where Wine's logs and the simulated roads differ, and why:
// - An exit line "Name <- [n]" reads "Name <- " on Wine: its installer
//   formats an INFO text once more, and "[n]" is taken for a property
//   reference. RoadLines drops the "[n]" of the simulated lines.
// - Failure reports carry Wine's own system texts ("Service does not
//   exist." where Windows and the simulated machine say "The specified
//   service does not exist as an installed service."), so only their
//   CONTEXT lines are compared.
// - roads.wxs has no Error table, so Wine's lines lack the "ERR: " / "WARN: "
//   markers of the simulated package; both are read from "OV VRIN : " on.
// - The simulated server component also installs and counts
//   system32\drivers\skdnt.sys; the Wine package has no driver file. Both
//   removals find it missing before InstallFinalize (removed by RemoveFiles
//   there, never installed here), so the reports are the same.
// - Wine scripts the file, registry and service actions and runs them at
//   InstallExecute; roads.wxs schedules one at 6500 so that the
//   pre-finalise orchestrators see the machine the simulated road gives
//   them. Without it VrinNTDeleteLeftOvers finds and deletes Skdnt.exe on a
//   removal, one "not found" report fewer than the simulated road.
// - STARTUPMODE is "Automatic" in both: VrinNTStartVrin does not run, since
//   Wine has no filter driver to start (StartService fails with 1114 for a
//   driver whose image is missing) and the wait for it would vary.
// Nothing else differs: the orchestrators, the actions they call, their
// order and their results are the same on the three roads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/roads/road_fixture.h"
#include "tools/road/pe_builder.h"
#include "tests/wine/wine_harness.h"

namespace {

using vrinroad::Lines;

const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const char kVendorKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic";
const char kLanmanKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
const char kTraceMark[] = "OV VRIN : ";

const std::set<std::string> kOrchestrators = {"VrinNTMergePostLaunchConditions",   "VrinNTMergePostInstallInitialize",
                                              "VrinGUIMergePostInstallInitialize", "VrinNTMergePreInstallExecute",
                                              "VrinNTMergePreInstallFinalize",     "VrinGUIMergePreInstallFinalize",
                                              "VrinNTMergePostInstallFinalize",    "VrinGUIMergePostInstallFinalize"};

// An entry or exit line of the library's actions: "Name ->", "Name -->",
// "Name->", "Name <-" followed by anything (Wine drops a "[n]" result).
bool IsActionTrace(const std::string& text) {
  if (text.rfind("Vrin", 0) != 0 && text.rfind("VRIN", 0) != 0) return false;
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) return text.size() > 2 && text.compare(text.size() - 2, 2, "->") == 0;
  const std::string rest = text.substr(blank);
  return rest == " ->" || rest == " -->" || rest.rfind(" <-", 0) == 0;
}

// "Action start hh:mm:ss: Name." / "Action ended hh:mm:ss: Name. Return
// value n." of an orchestrator, without the time; empty for anything else.
std::string OrchestratorLine(const std::string& line) {
  for (const char* kind : {"Action start ", "Action ended "}) {
    const size_t at = line.find(kind);
    if (at == std::string::npos) continue;
    const size_t colon = line.find(": ", at);
    if (colon == std::string::npos) return {};
    const std::string rest = line.substr(colon + 2);
    const std::string name = rest.substr(0, rest.find('.'));
    if (kOrchestrators.count(name) == 0) return {};
    return std::string(kind, 12) + rest;
  }
  return {};
}

// The road's skeleton in a log: orchestrator start and end lines and the
// library's entry and exit lines, in order. An exit line's " <- [n]" is
// shown as " <- ", as Wine's log shows it: an INFO text is formatted once
// more there, and "[n]" is read as a property reference to nothing.
Lines RoadLines(const std::vector<std::string>& log) {
  Lines lines;
  for (const std::string& line : log) {
    std::string action = OrchestratorLine(line);
    if (!action.empty()) {
      lines.push_back(action);
      continue;
    }
    const size_t mark = line.find(kTraceMark);
    if (mark == std::string::npos) continue;
    std::string text = line.substr(mark + sizeof(kTraceMark) - 1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (!IsActionTrace(text)) continue;
    const size_t result = text.find(" <- [");
    if (result != std::string::npos && text.back() == ']') text = text.substr(0, result) + " <- ";
    lines.push_back(text);
  }
  return lines;
}

// The contexts of the failure reports in a log, in order: what each
// detecting or cleaning action found missing on the machine. A report is one
// record of several lines; the simulated log keeps it as one entry.
Lines ReportContexts(const std::vector<std::string>& log) {
  Lines contexts;
  for (const std::string& entry : log) {
    size_t start = 0;
    while (start <= entry.size()) {
      size_t end = entry.find('\n', start);
      std::string line = entry.substr(start, end == std::string::npos ? std::string::npos : end - start);
      while (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t at = line.find("CONTEXT = ");
      if (at != std::string::npos) contexts.push_back(line.substr(at));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return contexts;
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A DWORD value as Wine holds it; nullopt when key or value is missing.
std::optional<std::uint64_t> WineDword(const std::optional<wine::RegistryDump>& dump, const std::string& name,
                                       const char* keyPath = kProductKey) {
  if (!dump) return std::nullopt;
  auto key = dump->find(keyPath);
  if (key == dump->end()) return std::nullopt;
  auto value = key->second.find(name);
  if (value == key->second.end() || value->second.type != wine::RegistryValue::Type::kDword) return std::nullopt;
  return value->second.number;
}

// The network server's IRPstackSize as "IRPstackSize=dword:n", the form of
// vrinroad::ValuesOf; "<none>" when it is not set.
std::string WineIrpStackSize(const std::optional<wine::RegistryDump>& dump) {
  std::optional<std::uint64_t> size = WineDword(dump, "IRPstackSize", kLanmanKey);
  return size ? "IRPstackSize=dword:" + std::to_string(*size) : "<none>";
}
std::string SimulatedIrpStackSize() {
  for (const std::string& value : vrinroad::ValuesOf(vrinroad::kLanmanParametersKey)) {
    if (value.rfind("IRPstackSize=", 0) == 0) return value;
  }
  return "<none>";
}

// Puts the prefix back to what a fresh one holds of what the road touches:
// no driver or service entries, no product keys, no IRPstackSize (the
// simulated machine starts without one too).
void CleanPrefix() {
  wine::RunWine({"sc", "delete", "SKDDriver"});
  wine::RunWine({"sc", "delete", "Skelda"});
  wine::RunWine({"reg", "delete", kVendorKey, "/f"});
  wine::RunWine({"reg", "delete", kLanmanKey, "/v", "IRPstackSize", "/f"});
}

// Takes out of the prefix what the road leaves when an assertion stops it
// half way: the product, the driver and service entries, the product keys.
class PrefixCleaner {
 public:
  explicit PrefixCleaner(const wine::Package& package) : package_(package) {}
  ~PrefixCleaner() {
    try {
      if (!removed_) wine::Remove(package_);
      CleanPrefix();
    } catch (const std::exception&) {
      // A broken environment has already failed the test.
    }
  }
  void Removed() { removed_ = true; }

 private:
  const wine::Package& package_;
  bool removed_ = false;
};

class WineRoadsTest : public vrinroad::RoadTest {
 protected:
  // The simulated package: the same properties as roads.wxs.
  static vrinroad::PackageOptions Package() {
    vrinroad::PackageOptions package;
    package.products = "1";
    package.productSubType = "2";
    package.releaseFlags = "NTGUI";
    package.installDir = "C:\\Program Files\\Lumicor Velmora\\";
    return package;
  }
  // msiexec /qn: UILevel 2; STARTUPMODE as the package sets it.
  static vrinroad::RoadOptions Silent(vrinroad::RoadOptions spec) {
    spec.userInterface = false;
    spec.startupMode = "Automatic";
    return spec;
  }
  static Lines Simulated(vrinroad::Road& road) { return RoadLines(road.Log()); }
  static Lines OnWine(const wine::MsiexecResult& run) { return RoadLines(wine::SplitLines(run.log)); }
  static Lines SimulatedContexts(vrinroad::Road& road) { return ReportContexts(road.Log()); }
  static Lines WineContexts(const wine::MsiexecResult& run) { return ReportContexts(wine::SplitLines(run.log)); }
};

TEST_F(WineRoadsTest, InstallRepairAndRemoveFollowTheSimulatedRoads) {
  wine::EnsurePrefix();
  CleanPrefix();

  wine::PackageOptions options;
  options.templateName = "roads.wxs";
  options.workName = "roads";
  options.files = {{"Skdnt.exe", vrintest::VersionedDll({9, 0, 12, 0})},
                   {"Skdwin.exe", vrintest::VersionedDll({9, 0, 12, 0})}};
  // Attributes 264: 64-bit and shared-DLL counting of the key file, which
  // the reference-count actions read; the File versions the actions query.
  options.sql = {
      "UPDATE `Component` SET `Attributes` = 264",
      "UPDATE `File` SET `Version` = '9.0.12.0', `Language` = '1033'",
  };
  wine::Package package = wine::BuildPackage(options);
  PrefixCleaner cleaner(package);

  // First installation, silent.
  wine::MsiexecResult install = wine::Install(package);
  std::optional<wine::RegistryDump> installed = wine::ExportRegistry(kProductKey);
  std::optional<wine::RegistryDump> installedLanman = wine::ExportRegistry(kLanmanKey);
  vrinroad::Road& firstRoad = Drive(Package(), Silent(vrinroad::RoadOptions::FirstInstallation(false)));
  ASSERT_EQ(install.exitCode, 0) << install.log;
  EXPECT_EQ(OnWine(install), Simulated(firstRoad)) << install.log;
  EXPECT_EQ(WineContexts(install), SimulatedContexts(firstRoad)) << install.log;
  // The installation steps ran: the comparison is not one of two empty logs.
  EXPECT_TRUE(Contains(OnWine(install), "VrinNTInstallDriver ->")) << install.log;
  EXPECT_TRUE(Contains(OnWine(install), "VrinGUIWriteGuiCode->")) << install.log;

  // What the actions wrote, on Wine and on the simulated machine alike.
  ASSERT_TRUE(installed.has_value()) << install.log;
  EXPECT_EQ(WineDword(installed, "Products"), std::optional<std::uint64_t>(1)) << "product 1 owns bit 0";
  EXPECT_EQ(WineDword(installed, "BuildNumber"), std::optional<std::uint64_t>(12)) << "build of Skdnt.exe 9.0.12.0";
  EXPECT_EQ(WineDword(installed, "ProdSubType"), std::optional<std::uint64_t>(2)) << "PRODUCTSUBTYPE";
  // Wine reports Windows 7 (build 7601), the simulated machine its own
  // build: both are past the build where the larger bounds apply.
  EXPECT_EQ(WineIrpStackSize(installedLanman), SimulatedIrpStackSize());
  EXPECT_NE(WineIrpStackSize(installedLanman), "<none>");
  const Lines simulatedValues = vrinroad::ValuesOf(kProductKey);
  for (const char* value : {"Products=dword:1", "BuildNumber=dword:12", "ProdSubType=dword:2"}) {
    EXPECT_NE(std::find(simulatedValues.begin(), simulatedValues.end(), value), simulatedValues.end()) << value;
  }

  // A plain second /i: maintenance mode without REINSTALL, ADDLOCAL or
  // REMOVE, so no feature has a change requested (-1), as in the simulated
  // repair. REINSTALL=ALL would request "local" for both features and rerun
  // the installation steps instead.
  wine::MsiexecResult repair = wine::Install(package);
  std::optional<wine::RegistryDump> repaired = wine::ExportRegistry(kProductKey);
  vrinroad::Road& repairRoad = Drive(Package(), Silent(vrinroad::RoadOptions::Repair()));
  ASSERT_EQ(repair.exitCode, 0) << repair.log;
  EXPECT_EQ(OnWine(repair), Simulated(repairRoad)) << repair.log;
  EXPECT_EQ(WineContexts(repair), SimulatedContexts(repairRoad)) << repair.log;
  EXPECT_TRUE(Contains(OnWine(repair), "VrinNTPreviousVersionInstalled ->")) << repair.log;
  EXPECT_FALSE(Contains(OnWine(repair), "VrinNTInstallDriver ->")) << "a feature state was requested";
  EXPECT_FALSE(Contains(OnWine(repair), "VrinNTUnSetProducts ->")) << "a feature state was requested";
  EXPECT_EQ(WineDword(repaired, "Products"), std::optional<std::uint64_t>(1));
  EXPECT_EQ(WineDword(repaired, "BuildNumber"), std::optional<std::uint64_t>(12));

  // Removal of the last server and console.
  wine::MsiexecResult remove = wine::Remove(package);
  cleaner.Removed();
  std::optional<wine::RegistryDump> removed = wine::ExportRegistry(kProductKey);
  std::optional<wine::RegistryDump> removedLanman = wine::ExportRegistry(kLanmanKey);
  vrinroad::Road& removalRoad = Drive(Package(), Silent(vrinroad::RoadOptions::Removal()));
  ASSERT_EQ(remove.exitCode, 0) << remove.log;
  EXPECT_EQ(OnWine(remove), Simulated(removalRoad)) << remove.log;
  EXPECT_EQ(WineContexts(remove), SimulatedContexts(removalRoad)) << remove.log;
  // Both counts read "1": the last reference's steps ran.
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteLeftOvers ->")) << remove.log;
  EXPECT_TRUE(Contains(OnWine(remove), "VrinGUIDeleteLeftOvers ->")) << remove.log;
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteShare ->")) << remove.log;
  EXPECT_FALSE(removed.has_value()) << "the product key outlived the removal";
  EXPECT_FALSE(vrinroad::KeyExists(kProductKey));
  EXPECT_EQ(WineIrpStackSize(removedLanman), SimulatedIrpStackSize()) << "the setting undone alike";

  std::fprintf(stderr, "Wine: install %.1f s, repair %.1f s, removal %.1f s\n", install.seconds, repair.seconds,
               remove.seconds);
}

}  // namespace
