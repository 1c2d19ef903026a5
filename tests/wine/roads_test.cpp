// The merge modules' roads under Wine's own msiexec: packages carrying the
// server component (and the console component, unless left out) with the
// orchestrators at their points are installed, repaired and removed, over a
// clean prefix, over the previous generation, over a 9.x server and beside a
// second product. Each verbose log's orchestrator and action entry and exit
// lines, and the contexts of its failure reports, are compared with the
// simulated road of the same kind (tests/roads), driven on the simulated
// machine from the same starting machine, and Wine's registry and folders
// are read back beside the simulated machine's.
//
// Where Wine's logs and the simulated roads differ, and why (vrinsim's list
// of known engine differences, tools/vrinsim/engine_differences.cpp, names
// the same ones, and this test reads logs through its normalisations):
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
//   system32\drivers\skdnt.sys; the Wine package has no driver image (see
//   roads.wxs). Both removals of a clean installation find it missing before
//   InstallFinalize (removed by RemoveFiles there, never installed here).
//   Over the previous generation, whose driver image the simulated
//   installation replaces and its removal deletes, the test deletes the
//   earlier image on Wine before the removal as that RemoveFiles would. The
//   driver's shared-file count is left out of the comparisons.
// - Wine scripts the file, registry and service actions and runs them at
//   InstallExecute; roads.wxs schedules one at 6500 so that the
//   pre-finalise orchestrators see the machine the simulated road gives
//   them. Without it VrinNTDeleteLeftOvers finds and deletes Skdnt.exe on a
//   removal, one "not found" report fewer than the simulated road.
// - STARTUPMODE is "Automatic" in the silent roads. Where it is "Manual",
//   Wine has no filter driver to start: StartService fails with 1114 for a
//   driver whose image is missing, so the simulated road is given the same
//   failure.
// - Wine has no network server: NetShareAdd answers 50 (not supported), and
//   no earlier share can be seeded. The simulated road with a user interface
//   is given the same answer; the upgrade roads start without the share.
// - A user interface: UILevel cannot be set on Wine's command line (msiexec
//   /qn UILevel=5 still runs at 2; /qb runs at 3). msiexec /qf runs at 5
//   without a display, since roads.wxs has no dialog to wait on.
// - Wine removes a component whose key file's shared count stays above 0
//   (its files and registry values), where Windows Installer keeps it until
//   the count reaches 0. After product 1 leaves product 3's 9.x server,
//   the same actions run on both, but on Wine VrinDeleteCommonResources
//   finds no component paths left and deletes the product key; the
//   simulated road keeps it with product 3's bit. Wine's outcome is
//   checked as it is, so that a change in Wine shows.
// - Wine counts a component once more when a maintenance run removes
//   another feature of the product and keeps the component's own: after
//   product 2 removes its server and keeps its console, the console's count
//   is 2 on Wine, 1 on the simulated road (and on Windows Installer).
// - The service's image is no program on Wine: when a removal leaves the
//   server to another product and VrinNTUninstallService starts it again,
//   StartService fails with 193 (bad EXE format). The simulated road is
//   given the same failure.
// Nothing else differs: the orchestrators, the actions they call, their
// order and their results are the same, and so are the product key's
// values, the shared-file counts and the components' folders (a second
// product shares the components with the first through their component
// GUIDs, as on Windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/shell_folders.h"
#include "tests/roads/road_fixture.h"
#include "tests/wine/wine_test.h"
#include "tools/road/pe_builder.h"
#include "tools/vrinsim/engine_differences.h"

namespace {

using vrinroad::Lines;

const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const char kVendorKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic";
const char kLanmanKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";

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

// "Action start: Name." / "Action ended: Name. Return value n." of an
// orchestrator; empty for anything else.
std::string OrchestratorLine(const std::string& line) {
  const std::string action = vrinsim::ActionLine(line);
  return kOrchestrators.count(vrinsim::ActionOf(action)) ? action : std::string();
}

// The library's text of a trace line as Wine's log shows it, empty for any
// other line: Wine's installer formats an INFO text once more, so an exit
// line's " <- [n]" reads " <- " there.
std::string TraceText(const std::string& line) { return vrinsim::FormattedOnceMore(vrinsim::LibraryText(line)); }

// The road's skeleton in a log: orchestrator start and end lines and the
// library's entry and exit lines, in order.
Lines RoadLines(const std::vector<std::string>& log) {
  Lines lines;
  for (const std::string& line : log) {
    std::string action = OrchestratorLine(line);
    if (!action.empty()) {
      lines.push_back(action);
      continue;
    }
    std::string text = TraceText(line);
    if (IsActionTrace(text)) lines.push_back(text);
  }
  return lines;
}

// Every trace line of an action's first run in a log, its entry and exit
// lines included.
Lines ActionTrace(const std::vector<std::string>& log, const std::string& action) {
  Lines lines;
  for (const std::string& line : log) {
    std::string text = TraceText(line);
    if (lines.empty() && text != action + " ->") continue;
    lines.push_back(text);
    if (text.rfind(action + " <-", 0) == 0) break;
  }
  return lines;
}

// The contexts of the failure reports in a log, in order: what each
// detecting or cleaning action found missing on the machine. A report is one
// record of several lines; the simulated log keeps it as one entry.
Lines ReportContexts(const std::vector<std::string>& log) {
  Lines contexts;
  for (const std::string& line : vrinsim::LogLines(log)) {
    const size_t at = line.find("CONTEXT = ");
    if (at != std::string::npos) contexts.push_back(line.substr(at));
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

// A key's values as Wine holds them, in the form of vrinroad::ValuesOf;
// "<no key>" when it is missing.
Lines WineValues(const std::optional<wine::RegistryDump>& dump, const std::string& keyPath) {
  if (!dump || dump->find(keyPath) == dump->end()) return {"<no key>"};
  Lines values;
  for (const auto& [name, value] : dump->at(keyPath)) {
    if (value.type == wine::RegistryValue::Type::kDword) {
      values.push_back(name + "=dword:" + std::to_string(value.number));
    } else if (value.type == wine::RegistryValue::Type::kExpandString) {
      values.push_back(name + "=expand:" + value.text);
    } else {
      values.push_back(name + "=" + value.text);
    }
  }
  return values;
}
// Values sorted, their names in lower case (registry names do not tell
// case apart), without the driver image's shared-file count: only the
// simulated package installs the driver.
Lines Comparable(Lines values) {
  Lines comparable;
  for (const std::string& value : values) {
    const size_t equals = value.find('=');
    if (equals == std::string::npos) {
      comparable.push_back(value);
      continue;
    }
    const std::string name = vrinsim::Lower(value.substr(0, equals));
    if (name != vrinsim::Lower(vrinroad::kDriverFile)) comparable.push_back(name + value.substr(equals));
  }
  std::sort(comparable.begin(), comparable.end());
  return comparable;
}
Lines SimulatedValues(const std::string& keyPath) { return Comparable(vrinroad::ValuesOf(keyPath)); }

// A folder's names, lower case and sorted: Wine keeps the case of a file it
// overwrites, the simulated machine the case it was given.
Lines LowerSorted(const Lines& names) {
  Lines lower;
  for (const std::string& name : names) lower.push_back(vrinsim::Lower(name));
  std::sort(lower.begin(), lower.end());
  return lower;
}
Lines WineNames(const wine::Prefix& prefix, const std::string& folder) {
  const wine::fs::path path = prefix.Path(folder);
  if (!wine::fs::is_directory(path)) return {"<no folder>"};
  Lines names;
  for (const auto& entry : wine::fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
  return LowerSorted(names);
}
Lines SimulatedNames(const std::string& folder) { return LowerSorted(vrinroad::Names(folder)); }

// What the roads touch, read back from Wine in one go.
struct WineMachine {
  std::optional<wine::RegistryDump> product, lanman, sharedDlls, oldKey, tarrow;
};
const char kSharedDllsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kTarrowKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG";
WineMachine ReadWineMachine(const wine::Prefix& prefix) {
  std::vector<std::optional<wine::RegistryDump>> dumps =
      prefix.ExportRegistry({kProductKey, kLanmanKey, kSharedDllsKey, vrinroad::kOldKey, kTarrowKey});
  return {dumps[0], dumps[1], dumps[2], dumps[3], dumps[4]};
}

// Puts the prefix back to what a fresh one holds of what the roads touch:
// no driver or service entries, no product keys, counts or earlier
// generations, no IRPstackSize (the simulated machine starts without one
// too), none of the components' folders.
void CleanPrefix(const wine::Prefix& prefix) {
  prefix.RunBatch({
      "sc delete SKDDriver >nul 2>nul",
      "sc delete Skelda >nul 2>nul",
      std::string("reg delete \"") + kVendorKey + "\" /f >nul 2>nul",
      std::string("reg delete \"") + kTarrowKey + "\" /f >nul 2>nul",
      std::string("reg delete \"") + kSharedDllsKey + "\" /f >nul 2>nul",
      std::string("reg delete \"") + kLanmanKey + "\" /v IRPstackSize /f >nul 2>nul",
      // A file the library could only schedule for deletion would make the
      // next installation ask for a restart.
      "reg delete \"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\" "
      "/v PendingFileRenameOperations /f >nul 2>nul",
  });
  const std::string programs = host::kDefaultCommonPrograms;
  for (const std::string& path :
       {std::string("C:\\Program Files\\Lumicor Velmora"), std::string("C:\\Program Files\\Orvannic"),
        std::string("C:\\Program Files\\Velmora"), std::string("C:\\Program Files\\Tessaro"),
        std::string("C:\\WINDOWS\\skdwin.ini"), std::string(vrinroad::kDriverFile), programs + "\\Velmora.lnk",
        programs + "\\Velmora"}) {
    wine::fs::remove_all(prefix.Path(path));
  }
}

// Takes out of the prefix what the roads leave when an assertion stops them
// half way: the products still installed, then everything CleanPrefix knows.
class PrefixCleaner {
 public:
  ~PrefixCleaner() {
    if (prefix_ == nullptr) return;
    try {
      for (auto package = installed_.rbegin(); package != installed_.rend(); ++package) prefix_->Remove(*package);
      CleanPrefix(*prefix_);
    } catch (const std::exception&) {
      // A broken environment has already failed the test.
    }
  }
  // The prefix to clean; none for a test that never ran.
  void Watch(const wine::Prefix& prefix) { prefix_ = &prefix; }
  // Copies: the test's packages are gone when the fixture is destroyed.
  void Installed(const wine::Package& package) {
    Removed(package);
    installed_.push_back(package);
  }
  void Removed(const wine::Package& package) {
    installed_.erase(std::remove_if(installed_.begin(), installed_.end(),
                                    [&](const wine::Package& installed) { return installed.msi == package.msi; }),
                     installed_.end());
  }

 private:
  const wine::Prefix* prefix_ = nullptr;
  std::vector<wine::Package> installed_;
};

std::string VersionText(const vrintest::FileVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.build) +
         "." + std::to_string(version.revision);
}

// roads.wxs built for the simulated package's options.
wine::Package BuildRoadsPackage(const wine::Prefix& prefix, const vrinroad::PackageOptions& simulated,
                                const std::string& productCode, const std::string& workName) {
  wine::PackageOptions options;
  options.templateName = wine::RoadsTemplate().string();
  options.workName = workName;
  options.defines = {{"ProductCode", productCode},
                     {"Products", simulated.products},
                     {"SubType", simulated.productSubType},
                     {"InstallDir", simulated.installDir},
                     {"Console", simulated.withConsole ? "yes" : "no"}};
  options.files = {{"Skdnt.exe", vrintest::VersionedDll(simulated.serverVersion)}};
  // Shared-DLL counting of the key file (8), which the reference-count
  // actions read, on 64-bit components (256) in the 64-bit package; the File
  // versions the actions query.
  const int attributes = prefix.arch() == wine::Arch::kWin64 ? 264 : 8;
  options.sql = {"UPDATE `Component` SET `Attributes` = " + std::to_string(attributes),
                 "UPDATE `File` SET `Version` = '" + VersionText(simulated.serverVersion) +
                     "', `Language` = '1033' WHERE `File` = 'skdnt.exe'"};
  if (simulated.withConsole) {
    options.files["Skdwin.exe"] = vrintest::VersionedDll(simulated.consoleVersion);
    options.sql.push_back("UPDATE `File` SET `Version` = '" + VersionText(simulated.consoleVersion) +
                          "', `Language` = '1033' WHERE `File` = 'skdwin.exe'");
  }
  return prefix.BuildPackage(options);
}

const char kProductOneCode[] = "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C61}";
const char kProductTwoCode[] = "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C71}";
const char kServerOnlyCode[] = "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C81}";

class WineRoadsTest : public wine::ArchTest<vrinroad::RoadTest> {
 protected:
  void SetUp() override {
    ArchTest::SetUp();
    if (IsSkipped()) return;
    Wine().Ensure();
    cleaner_.Watch(Wine());
    CleanPrefix(Wine());
  }

  // The simulated package: the same properties as roads.wxs by default.
  static vrinroad::PackageOptions Package() {
    vrinroad::PackageOptions package;
    package.products = "1";
    package.productSubType = "2";
    package.releaseFlags = "NTGUI";
    package.installDir = "C:\\Program Files\\Lumicor Velmora\\";
    return package;
  }
  static vrinroad::PackageOptions ProductTwo() {
    vrinroad::PackageOptions package = Package();
    package.products = "2";
    package.productSubType = "7";
    package.installDir = "C:\\Program Files\\Tessaro\\Agent\\";
    return package;
  }
  // msiexec /qn: UILevel 2; STARTUPMODE as the package sets it.
  static vrinroad::RoadOptions Silent(vrinroad::RoadOptions spec) {
    spec.userInterface = false;
    spec.startupMode = "Automatic";
    return spec;
  }

  // The starting machine on both sides.
  void SeedBoth(const vrinroad::EarlierMachine& machine) const {
    vrinroad::Seed(machine);
    Wine().ImportRegistry(machine.reg);
    Wine().WriteFiles(machine.files);
  }

  wine::MsiexecResult Install(const wine::Package& package, const std::vector<std::string>& properties = {},
                              wine::Ui ui = wine::Ui::kNone) {
    wine::MsiexecResult run = Wine().Install(package, properties, ui);
    cleaner_.Installed(package);
    seconds_.push_back(run.seconds);
    return run;
  }
  wine::MsiexecResult Remove(const wine::Package& package) {
    wine::MsiexecResult run = Wine().Remove(package);
    cleaner_.Removed(package);
    seconds_.push_back(run.seconds);
    return run;
  }

  // The run succeeded and followed the simulated road: the same skeleton of
  // orchestrator and action lines, the same failure contexts.
  static void ExpectSameRoad(const wine::MsiexecResult& run, vrinroad::Road& road) {
    EXPECT_EQ(run.exitCode, 0) << run.logPath << "\n" << run.output;
    EXPECT_EQ(RoadLines(wine::SplitLines(run.log)), RoadLines(road.Log())) << run.logPath;
    EXPECT_EQ(ReportContexts(wine::SplitLines(run.log)), ReportContexts(road.Log())) << run.logPath;
  }
  // The service's next start fails as on Wine, whose service manager cannot
  // run the test's image.
  static void ImageIsNoProgram() {
    const uint32_t kBadExeFormat = 193;
    host::Faults::Instance().Fail("StartService", kBadExeFormat, 1, vrinroad::kServiceName);
  }
  static Lines OnWine(const wine::MsiexecResult& run) { return RoadLines(wine::SplitLines(run.log)); }

  void TearDown() override {
    std::string figures;
    for (double seconds : seconds_) figures += " " + std::to_string(seconds).substr(0, 4);
    if (!figures.empty()) std::fprintf(stderr, "Wine msiexec runs (s):%s\n", figures.c_str());
    RoadTest::TearDown();
  }

 private:
  PrefixCleaner cleaner_;
  std::vector<double> seconds_;
};

TEST_P(WineRoadsTest, InstallRepairAndRemoveFollowTheSimulatedRoads) {
  wine::Package package = BuildRoadsPackage(Wine(), Package(), kProductOneCode, "roads");

  // First installation, silent.
  wine::MsiexecResult install = Install(package);
  WineMachine installed = ReadWineMachine(Wine());
  vrinroad::Road& firstRoad = Drive(Package(), Silent(vrinroad::RoadOptions::FirstInstallation(false)));
  ExpectSameRoad(install, firstRoad);
  // The installation steps ran: the comparison is not one of two empty logs.
  EXPECT_TRUE(Contains(OnWine(install), "VrinNTInstallDriver ->")) << install.logPath;
  EXPECT_TRUE(Contains(OnWine(install), "VrinGUIWriteGuiCode->")) << install.logPath;

  // What the actions wrote, on Wine and on the simulated machine alike.
  // Wine reports Windows 7 (build 7601), the simulated machine its own
  // build: both are past the build where the larger bounds apply.
  EXPECT_EQ(WineDword(installed.product, "Products"), std::optional<std::uint64_t>(1)) << "product 1 owns bit 0";
  EXPECT_EQ(WineDword(installed.product, "BuildNumber"), std::optional<std::uint64_t>(12)) << "of Skdnt.exe 9.0.12.0";
  EXPECT_EQ(Comparable(WineValues(installed.product, kProductKey)), SimulatedValues(kProductKey));
  EXPECT_EQ(WineIrpStackSize(installed.lanman), SimulatedIrpStackSize());
  EXPECT_NE(WineIrpStackSize(installed.lanman), "<none>");

  // A plain second /i: maintenance mode without REINSTALL, ADDLOCAL or
  // REMOVE, so no feature has a change requested (-1), as in the simulated
  // repair. REINSTALL=ALL would request "local" for both features and rerun
  // the installation steps instead.
  wine::MsiexecResult repair = Install(package);
  std::optional<wine::RegistryDump> repaired = Wine().ExportRegistry(kProductKey);
  vrinroad::Road& repairRoad = Drive(Package(), Silent(vrinroad::RoadOptions::Repair()));
  ExpectSameRoad(repair, repairRoad);
  EXPECT_TRUE(Contains(OnWine(repair), "VrinNTPreviousVersionInstalled ->")) << repair.logPath;
  EXPECT_FALSE(Contains(OnWine(repair), "VrinNTInstallDriver ->")) << "a feature state was requested";
  EXPECT_FALSE(Contains(OnWine(repair), "VrinNTUnSetProducts ->")) << "a feature state was requested";
  EXPECT_EQ(Comparable(WineValues(repaired, kProductKey)), SimulatedValues(kProductKey));

  // Removal of the last server and console.
  wine::MsiexecResult remove = Remove(package);
  WineMachine removed = ReadWineMachine(Wine());
  vrinroad::Road& removalRoad = Drive(Package(), Silent(vrinroad::RoadOptions::Removal()));
  ExpectSameRoad(remove, removalRoad);
  // Both counts read "1": the last reference's steps ran.
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteLeftOvers ->")) << remove.logPath;
  EXPECT_TRUE(Contains(OnWine(remove), "VrinGUIDeleteLeftOvers ->")) << remove.logPath;
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteShare ->")) << remove.logPath;
  EXPECT_FALSE(removed.product.has_value()) << "the product key outlived the removal";
  EXPECT_FALSE(vrinroad::KeyExists(kProductKey));
  EXPECT_EQ(WineIrpStackSize(removed.lanman), SimulatedIrpStackSize()) << "the setting undone alike";
  // The components' folders and the product's folder above them, left
  // empty by the removal, go on both.
  const std::string productFolder = "C:\\Program Files\\Lumicor Velmora";
  EXPECT_EQ(WineNames(Wine(), productFolder), SimulatedNames(productFolder));
}

TEST_P(WineRoadsTest, UpgradeOverThePreviousGenerationAndItsRemoval) {
  SeedBoth(vrinroad::PreviousGeneration());
  wine::Package package = BuildRoadsPackage(Wine(), Package(), kProductOneCode, "roads-previous");

  wine::MsiexecResult install = Install(package);
  WineMachine installed = ReadWineMachine(Wine());
  vrinroad::Road& upgrade = Drive(Package(), Silent(vrinroad::RoadOptions::FirstInstallation(false)));
  ExpectSameRoad(install, upgrade);
  EXPECT_TRUE(Contains(OnWine(install), "VrinNTDeleteUpgradeLeftOvers ->")) << install.logPath;
  EXPECT_TRUE(Contains(OnWine(install), "VrinGUIDeleteUpgradeLeftOvers ->")) << install.logPath;
  // Settings migrated, counts handed over, the earlier keys gone, the
  // components in the earlier folders and the left-overs deleted there.
  EXPECT_EQ(Comparable(WineValues(installed.product, kProductKey)), SimulatedValues(kProductKey));
  EXPECT_EQ(Comparable(WineValues(installed.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));
  EXPECT_EQ(WineIrpStackSize(installed.lanman), SimulatedIrpStackSize());
  EXPECT_FALSE(installed.oldKey.has_value());
  EXPECT_FALSE(installed.tarrow.has_value());
  EXPECT_EQ(WineNames(Wine(), vrinroad::kOldServer), SimulatedNames(vrinroad::kOldServer));
  EXPECT_EQ(WineNames(Wine(), vrinroad::kOldConsole), SimulatedNames(vrinroad::kOldConsole));
  // The earlier Start-menu entries are gone (Wine's own stay).
  const std::string programs = host::kDefaultCommonPrograms;
  for (const std::string& entry : {programs + "\\Velmora.lnk", programs + "\\Velmora"}) {
    EXPECT_FALSE(wine::fs::exists(Wine().Path(entry))) << entry;
    EXPECT_FALSE(host::Files().Exists(entry)) << entry;
  }
  EXPECT_FALSE(wine::fs::exists(Wine().Path("C:\\WINDOWS\\skdwin.ini")));

  wine::fs::remove(Wine().Path(vrinroad::kDriverFile));
  wine::MsiexecResult remove = Remove(package);
  WineMachine removed = ReadWineMachine(Wine());
  vrinroad::Road& removal = Drive(Package(), Silent(vrinroad::RoadOptions::Removal()));
  ExpectSameRoad(remove, removal);
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteLeftOvers ->")) << "the upgrade's count was handed back";
  EXPECT_FALSE(removed.product.has_value());
  EXPECT_EQ(Comparable(WineValues(removed.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));
  EXPECT_EQ(WineNames(Wine(), vrinroad::kOldServer), SimulatedNames(vrinroad::kOldServer));
  EXPECT_EQ(WineNames(Wine(), vrinroad::kOldConsole), SimulatedNames(vrinroad::kOldConsole));
}

TEST_P(WineRoadsTest, NineServerOfAnotherProductIsJoinedAndKeptAtTheRemoval) {
  SeedBoth(vrinroad::NineServerOfProductThree());
  wine::Package package = BuildRoadsPackage(Wine(), Package(), kProductOneCode, "roads-nine");

  wine::MsiexecResult install = Install(package);
  WineMachine installed = ReadWineMachine(Wine());
  vrinroad::Road& join = Drive(Package(), Silent(vrinroad::RoadOptions::FirstInstallation(false)));
  ExpectSameRoad(install, join);
  EXPECT_TRUE(Contains(OnWine(install), "VrinNTSetProducts ->")) << install.logPath;
  EXPECT_EQ(WineDword(installed.product, "Products"), std::optional<std::uint64_t>(5)) << "products 1 and 3";
  EXPECT_EQ(Comparable(WineValues(installed.product, kProductKey)), SimulatedValues(kProductKey));
  EXPECT_EQ(Comparable(WineValues(installed.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));
  EXPECT_EQ(WineNames(Wine(), vrinroad::kNineServer), SimulatedNames(vrinroad::kNineServer));

  // Product 3 still counts the components: the same actions run on both,
  // and each count goes down by one.
  wine::MsiexecResult remove = Remove(package);
  WineMachine removed = ReadWineMachine(Wine());
  ImageIsNoProgram();
  vrinroad::Road& removal = Drive(Package(), Silent(vrinroad::RoadOptions::Removal()));
  ExpectSameRoad(remove, removal);
  EXPECT_TRUE(Contains(OnWine(remove), "VrinDeleteCommonResources ->")) << remove.logPath;
  EXPECT_EQ(Comparable(WineValues(removed.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));
  // Windows Installer keeps a component whose key file is still counted,
  // and so does the simulated road: only product 1's bit goes.
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "Products"), 4u);
  EXPECT_EQ(SimulatedNames(vrinroad::kNineServer), (Lines{"skdnt.cfg", "skdnt.exe"}));
  // Wine removes it all the same: the image and the component's paths go,
  // so VrinDeleteCommonResources finds no component left and takes the
  // product key with it.
  EXPECT_FALSE(removed.product.has_value());
  EXPECT_EQ(WineNames(Wine(), vrinroad::kNineServer), Lines{"skdnt.cfg"});
}

TEST_P(WineRoadsTest, SecondProductInstallsOverTheFirstAndIsRemovedAlone) {
  wine::Package first = BuildRoadsPackage(Wine(), Package(), kProductOneCode, "roads-product1");
  wine::Package second = BuildRoadsPackage(Wine(), ProductTwo(), kProductTwoCode, "roads-product2");

  wine::MsiexecResult installFirst = Install(first);
  ExpectSameRoad(installFirst, Drive(Package(), Silent(vrinroad::RoadOptions::FirstInstallation(false))));

  wine::MsiexecResult installSecond = Install(second);
  WineMachine joined = ReadWineMachine(Wine());
  vrinroad::Road& secondRoad = Drive(ProductTwo(), Silent(vrinroad::RoadOptions::FirstInstallation(false)));
  ExpectSameRoad(installSecond, secondRoad);
  EXPECT_EQ(wine::LoggedProperty(installSecond.log, "NTSERVERREFCOUNTER"), secondRoad.Property("NTSERVERREFCOUNTER"));
  EXPECT_EQ(WineDword(joined.product, "Products"), std::optional<std::uint64_t>(3));
  EXPECT_EQ(Comparable(WineValues(joined.product, kProductKey)), SimulatedValues(kProductKey));
  EXPECT_EQ(Comparable(WineValues(joined.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));

  // Product 1 is left: nothing is deleted, and SKIPUNINSTALL stays unset
  // (product 1 never keeps the server for others).
  wine::MsiexecResult removeSecond = Remove(second);
  WineMachine left = ReadWineMachine(Wine());
  ImageIsNoProgram();
  vrinroad::Road& removal = Drive(ProductTwo(), Silent(vrinroad::RoadOptions::Removal()));
  ExpectSameRoad(removeSecond, removal);
  EXPECT_TRUE(Contains(OnWine(removeSecond), "VrinNTUnSetProducts ->")) << removeSecond.logPath;
  EXPECT_FALSE(Contains(OnWine(removeSecond), "VrinNTDeleteLeftOvers ->")) << removeSecond.logPath;
  EXPECT_EQ(wine::LoggedProperty(removeSecond.log, "SKIPUNINSTALL"), std::nullopt);
  EXPECT_FALSE(removal.Session().HasProperty("SKIPUNINSTALL"));
  EXPECT_EQ(WineDword(left.product, "Products"), std::optional<std::uint64_t>(1));
  EXPECT_EQ(Comparable(WineValues(left.product, kProductKey)), SimulatedValues(kProductKey));
  EXPECT_EQ(Comparable(WineValues(left.sharedDlls, kSharedDllsKey)), SimulatedValues(vrinroad::kSharedDllsKey));
  const std::string serverFolder = "C:\\Program Files\\Lumicor Velmora\\Server";
  EXPECT_EQ(WineNames(Wine(), serverFolder), SimulatedNames(serverFolder));

  wine::MsiexecResult removeFirst = Remove(first);
  ExpectSameRoad(removeFirst, Drive(Package(), Silent(vrinroad::RoadOptions::Removal())));
  EXPECT_TRUE(Contains(OnWine(removeFirst), "VrinNTDeleteLeftOvers ->")) << removeFirst.logPath;
}

// Product 2 removes its server and keeps its console; a later maintenance
// run of product 2 (a plain /i) must not register it as a server user
// again: the server feature is installed absent (!Server = 2) with no change
// requested (&Server = -1) on Wine as on the simulated road.
TEST_P(WineRoadsTest, ProductKeepingOnlyTheConsoleIsNotRegisteredAgain) {
  wine::Package second = BuildRoadsPackage(Wine(), ProductTwo(), kProductTwoCode, "roads-product2");
  ExpectSameRoad(Install(second), Drive(ProductTwo(), Silent(vrinroad::RoadOptions::FirstInstallation(false))));

  vrinroad::RoadOptions serverRemoved = vrinroad::RoadOptions::Removal();
  serverRemoved.console = vrinroad::FeatureRequest::kLeave;
  wine::MsiexecResult removeServer = Install(second, {"REMOVE=ServerFeature"});
  ExpectSameRoad(removeServer, Drive(ProductTwo(), Silent(serverRemoved)));
  EXPECT_TRUE(Contains(OnWine(removeServer), "VrinNTUnSetProducts ->")) << removeServer.logPath;

  vrinroad::RoadOptions maintenance = vrinroad::RoadOptions::Repair();
  maintenance.server = vrinroad::FeatureRequest::kAbsent;
  wine::MsiexecResult repair = Install(second);
  WineMachine repaired = ReadWineMachine(Wine());
  ExpectSameRoad(repair, Drive(ProductTwo(), Silent(maintenance)));
  EXPECT_FALSE(Contains(OnWine(repair), "VrinNTSetProducts ->")) << repair.logPath;
  EXPECT_EQ(WineDword(repaired.product, "Products"), std::optional<std::uint64_t>(0));
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "Products"), 0u);
  EXPECT_EQ(Comparable(WineValues(repaired.product, kProductKey)), SimulatedValues(kProductKey));
  // Wine counts the console's component once more in the run that removes
  // the server and keeps the console; the simulated road, as Windows
  // Installer, leaves it at 1. Wine's outcome is checked as it is.
  const std::string console = "c:\\program files\\tessaro\\agent\\console\\skdwin.exe=dword:";
  EXPECT_EQ(Comparable(WineValues(repaired.sharedDlls, kSharedDllsKey)), Lines{console + "2"});
  EXPECT_EQ(SimulatedValues(vrinroad::kSharedDllsKey), Lines{console + "1"});
  Remove(second);
}

TEST_P(WineRoadsTest, PackageWithoutTheConsoleInstallsAndRemovesTheServerAlone) {
  vrinroad::PackageOptions serverOnly = Package();
  serverOnly.withConsole = false;
  wine::Package package = BuildRoadsPackage(Wine(), serverOnly, kServerOnlyCode, "roads-server");

  wine::MsiexecResult install = Install(package);
  WineMachine installed = ReadWineMachine(Wine());
  ExpectSameRoad(install, Drive(serverOnly, Silent(vrinroad::RoadOptions::FirstInstallation(false))));
  EXPECT_FALSE(Contains(OnWine(install), "VrinGUIWriteGuiCode->")) << install.logPath;
  EXPECT_EQ(Comparable(WineValues(installed.product, kProductKey)), SimulatedValues(kProductKey));

  wine::MsiexecResult remove = Remove(package);
  WineMachine removed = ReadWineMachine(Wine());
  ExpectSameRoad(remove, Drive(serverOnly, Silent(vrinroad::RoadOptions::Removal())));
  EXPECT_TRUE(Contains(OnWine(remove), "VrinNTDeleteShare ->")) << remove.logPath;
  EXPECT_FALSE(removed.product.has_value());
  EXPECT_EQ(WineIrpStackSize(removed.lanman), SimulatedIrpStackSize());
}

TEST_P(WineRoadsTest, UserInterfaceCreatesTheShareAndManualModeStartsTheServer) {
  wine::Package package = BuildRoadsPackage(Wine(), Package(), kProductOneCode, "roads-ui");

  wine::MsiexecResult install = Install(package, {"STARTUPMODE=Manual"}, wine::Ui::kFull);
  vrinroad::RoadOptions withUi = vrinroad::RoadOptions::FirstInstallation(true);
  withUi.startupMode = "Manual";
  // What Wine answers: no network server, no filter driver.
  host::Faults::Instance().Fail("NetShareAdd", 50);
  host::Faults::Instance().Fail("StartService", 1114, 1, vrinroad::kDriverName);
  vrinroad::Road& road = Drive(Package(), withUi);
  host::Faults::Instance().Clear();
  ExpectSameRoad(install, road);
  EXPECT_EQ(wine::LoggedProperty(install.log, "UILevel"), std::optional<std::string>("5"));
  // The share's functions, taken from NETAPI32.DLL at run time, were called
  // and came back: Wine has no network server and answers 50 (where a
  // calling convention did not match, the 32-bit engine would not come
  // back cleanly).
  const Lines createShare = ActionTrace(wine::SplitLines(install.log), "VrinNTCreateShare");
  EXPECT_EQ(createShare, ActionTrace(road.Log(), "VrinNTCreateShare")) << install.logPath;
  const std::string share = "'VRIN$', 'C:\\Program Files\\Lumicor Velmora\\Server' )";
  EXPECT_TRUE(Contains(createShare, "AddShare(" + share + "  -> 50")) << install.logPath;
  EXPECT_TRUE(Contains(OnWine(install), "VrinNTStartVrin ->")) << install.logPath;
  // The failed start leaves the start to the next boot, on both.
  EXPECT_EQ(wine::LoggedProperty(install.log, "STARTUPMODE"), std::optional<std::string>("NeedReboot"));
  EXPECT_EQ(road.Property("STARTUPMODE"), "NeedReboot");

  // NetShareDel: nothing to delete, nothing to report.
  wine::MsiexecResult remove = Remove(package);
  ExpectSameRoad(remove, Drive(Package(), Silent(vrinroad::RoadOptions::Removal())));
  EXPECT_EQ(ActionTrace(wine::SplitLines(remove.log), "VrinNTDeleteShare"),
            (Lines{"VrinNTDeleteShare ->", "VrinNTDeleteShare <- "}))
      << remove.logPath;
}

INSTANTIATE_TEST_SUITE_P(, WineRoadsTest, wine::AllArches(), wine::ArchTestName);

}  // namespace
