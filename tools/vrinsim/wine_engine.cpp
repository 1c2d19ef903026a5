// The Wine engine: the scenario played by Wine's own msiexec with the
// shipped DLL (dist/<arch>/vrinca.dll), in a Wine prefix made for the play
// (a copy of a pristine prefix booted once per user and kept in the cache
// folder). The package is built for the engine from the integration kit's
// rows; the machine is seeded with reg import and files in the prefix, and
// read back through reg export and the prefix's folders.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "tools/road/package_sql.h"
#include "tools/road/pe_builder.h"
#include "tools/vrinsim/action_table.h"
#include "tools/vrinsim/engine.h"
#include "tools/wine/wine_harness.h"

namespace vrinsim {

namespace {

namespace fs = std::filesystem;

const char kActionsProbe[] = "vrinsim_actions.dll";
const char kMasterSetupCaller[] = "vrinsim_master_setup.exe";
const char kSessionManagerKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager";
const char kServicesKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services";
// Where the library and the installer write, read back after every step.
const char* const kReadKeys[] = {
    "HKEY_LOCAL_MACHINE\\Software\\Orvannic",
    "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    kServicesKey,
    kSessionManagerKey,
};
// The folders of the prefix read back, with their subfolders: where
// packages, the previous generations and the Start menu put files.
const char* const kReadFolders[] = {"C:\\Program Files", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu", "C:\\Temp"};
// And these without subfolders: the Windows folder's .ini files, the drivers.
const char* const kReadFlatFolders[] = {"C:\\WINDOWS", "C:\\WINDOWS\\system32\\drivers"};
// Files larger than this are shown by size: the prefix's own programs.
const uintmax_t kLargestReadFile = 1 << 20;

std::optional<wine::Arch> ArchOf(const std::string& arch) {
  if (arch == "win32") return wine::Arch::kWin32;
  if (arch == "win64") return wine::Arch::kWin64;
  return std::nullopt;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where the pristine prefixes are kept between runs.
fs::path CacheDir() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    return fs::path(cache) / "vrinsim";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && home[0] == '/' ? home : "/tmp") / ".cache" / "vrinsim";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "C:\WINDOWS\..." as the simulated machine spells the Windows folder.
std::string SimulatedSpelling(std::string path) {
  const std::string windows = "C:\\windows";
  if (path.size() >= windows.size() && Upper(path.substr(0, windows.size())) == Upper(windows) &&
      (path.size() == windows.size() || path[windows.size()] == '\\')) {
    path.replace(0, windows.size(), "C:\\WINDOWS");
  }
  return path;
}

// The rows of an exported .idt table (after its three header lines), each
// split at tabs.
std::vector<std::vector<std::string>> IdtRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (++number <= 3 || line.empty()) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    if (line.back() == '\t') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

// A product code of its own for each product number, so that two products
// of the built-in package are two installed products.
std::string ProductCode(const std::string& products) {
  unsigned number = 0;
  for (char c : products) number = number * 31 + static_cast<unsigned char>(c);
  char code[64];
  std::snprintf(code, sizeof(code), "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A%04X}", number & 0xFFFF);
  return code;
}

// Where a package action sits in the sequence: after the modules'
// orchestrators at its point.
int SequenceOf(vrinroad::Point point) {
  switch (point) {
    case vrinroad::Point::kAfterLaunchConditions:
      return 1003;
    case vrinroad::Point::kAfterInstallInitialize:
      return 1503;
    case vrinroad::Point::kBeforeInstallExecute:
      return 3999;
    case vrinroad::Point::kBeforeInstallFinalize:
      return 6599;
    case vrinroad::Point::kAfterInstallFinalize:
      break;
  }
  return 6603;
}

// A line the library wrote while its action ran, counted as the report
// counts them.
void AddTraceLine(const std::string& line, StepResult& out) {
  out.log.push_back(line);
  out.traceLines += 1;
  out.failureReports += line.rfind("ERR: ", 0) == 0;
  out.warnings += line.rfind("WARN: ", 0) == 0;
}

// "Action start 1:49:17: Name." -> Name; "Action ended 1:49:17: Name.
// Return value 1." -> Name and 1.
bool ActionLine(const std::string& line, const char* keyword, std::string& name, int* returnValue) {
  if (line.rfind(keyword, 0) != 0) return false;
  const size_t colon = line.find(": ", std::char_traits<char>::length(keyword));
  if (colon == std::string::npos) return false;
  const size_t dot = line.find('.', colon + 2);
  if (dot == std::string::npos) return false;
  name = line.substr(colon + 2, dot - colon - 2);
  if (returnValue != nullptr) {
    const size_t value = line.find("Return value ", dot);
    if (value == std::string::npos) return false;
    *returnValue = std::atoi(line.c_str() + value + 13);
  }
  return true;
}

// The library's part of a verbose log: the runs of its actions, from their
// "Action start" to their "Action ended" line, and nothing of the
// installer's own actions.
void LibraryPart(const std::string& verboseLog, const std::set<std::string>& actions, StepResult& out) {
  std::string current;
  for (const std::string& line : wine::SplitLines(verboseLog)) {
    std::string name;
    int value = 0;
    if (current.empty()) {
      if (ActionLine(line, "Action start ", name, nullptr) && actions.count(name)) {
        current = name;
        out.log.push_back(line);
      }
      continue;
    }
    if (ActionLine(line, "Action ended ", name, &value) && name == current) {
      out.log.push_back(line);
      // Wine logs a failed action as 0, Windows as 3: both are the 1603 the
      // installation fails with.
      out.calls.push_back({current, value == 1 ? 0u : 1603u});
      current.clear();
      continue;
    }
    AddTraceLine(line, out);
  }
}

// The "Property(S): NAME = value" list that ends a verbose log.
std::map<std::string, std::string> LoggedProperties(const std::string& verboseLog) {
  std::map<std::string, std::string> properties;
  const std::string mark = "Property(S): ";
  for (const std::string& line : wine::SplitLines(verboseLog)) {
    if (line.rfind(mark, 0) != 0) continue;
    const size_t equals = line.find(" = ", mark.size());
    if (equals == std::string::npos) continue;
    properties[line.substr(mark.size(), equals - mark.size())] = line.substr(equals + 3);
  }
  return properties;
}

// What an engine note says once per play.
class Notes {
 public:
  void Add(const std::string& note) {
    if (given_.insert(note).second) pending_.push_back(note);
  }
  std::vector<std::string> Take() { return std::exchange(pending_, {}); }

 private:
  std::set<std::string> given_;
  std::vector<std::string> pending_;
};

// One package of the scenario built for Wine, with what the engine reads of
// its tables.
struct WinePackage {
  wine::Package package;
  std::map<std::string, std::string> properties;   // its Property table
  std::map<std::string, std::string> directories;  // its Directory table: key -> target path as costing makes it
  std::string serverFeature, consoleFeature;       // the features of the modules' components
};

class WineInstaller : public Engine {
 public:
  explicit WineInstaller(wine::Arch arch) : arch_(arch) {
    char pattern[] = "/tmp/vrinsim-wine-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder for the Wine prefix in /tmp");
    runDir_ = pattern;
    prefix_ = std::make_unique<wine::Prefix>(arch, runDir_);
    prefix_->DoNotWaitForServer();
  }
  ~WineInstaller() override {
    try {
      prefix_->WaitForServer();
    } catch (const std::exception&) {
      // The prefix goes all the same.
    }
    std::error_code ignored;
    if (std::getenv("VRINSIM_KEEP_PREFIX") == nullptr) fs::remove_all(runDir_, ignored);
  }

  std::string Name() const override { return std::string("wine ") + wine::ArchName(arch_); }

  void Seed(const Scenario& scenario) override {
    scenario_ = &scenario;
    std::vector<Problem> problems = scenario.problems;
    for (const Problem& problem : problems) {
      if (!problem.warning) throw ScenarioError(problems);
    }
    const wine::Prefix pristine(arch_, CacheDir() / (std::string("wine-") + wine::ArchName(arch_)));
    prefix_->CopyOf(pristine);
    actions_.clear();
    for (const std::string& name : ActionNames()) actions_.insert(name);
    SeedMachine(scenario, problems);
    // Wine's service manager reads the services from the registry when it
    // starts: the next call must start a new one, which knows the seeded.
    prefix_->WaitForServer();
    if (std::any_of(problems.begin(), problems.end(), [](const Problem& p) { return !p.warning; })) {
      throw ScenarioError(problems);
    }
    try {
      BuildPackages(scenario);
    } catch (const ScenarioError&) {
      throw;
    } catch (const std::exception& error) {
      throw ScenarioError(scenario.packageFile.empty() ? scenario.file : scenario.packageFile, 0,
                          std::string("the package for Wine: ") + error.what());
    }
  }

  StepResult PlayStep(const Scenario& scenario, size_t index, std::vector<Problem>&) override {
    const Step& step = scenario.steps.at(index);
    StepResult out;
    out.title = step.title;
    out.kind = step.kind;
    if (!step.services.empty()) {
      notes_.Add("service start scripts are the simulated machine's: Wine's services start as they do");
    }
    if (!step.messageBoxAnswers.empty()) {
      notes_.Add("message-box answers are the simulated machine's: Wine runs without a display");
    }
    switch (step.kind) {
      case StepKind::kInstall:
      case StepKind::kRemove:
      case StepKind::kRepair:
        PlayRoad(step, out);
        break;
      case StepKind::kActions:
        PlayActions(step, out);
        break;
      case StepKind::kMasterSetup:
        PlayMasterSetup(step, out);
        break;
      case StepKind::kRestart:
        Check(prefix_->Run({"wineboot", "-r"}), "wineboot -r");
        break;
      case StepKind::kEvent:
        PlayEvents(step);
        break;
    }
    if (out.failed && out.failure.empty()) out.failure = FailureOf(out.calls, out.log);
    out.engineNotes = notes_.Take();
    out.machineNotTheScenarios = eventNotMade_;
    return out;
  }

  MachineState ReadMachine() override {
    MachineState state;
    // Each key once: none under another of the list.
    // reg export names the keys as they are asked for: in the spelling of
    // the list, the scenario's .reg files or the library.
    std::map<std::string, std::string> keys;  // upper case -> as spelled
    for (const char* key : kReadKeys) keys.emplace(Upper(key), key);
    for (const std::string& key : seededKeys_) keys.emplace(Upper(key), key);
    std::vector<std::string> outermost, outermostUpper;
    for (const auto& entry : keys) {
      const std::string& upper = entry.first;
      // Sorted, so a key's listed parents come before it.
      const bool under = std::any_of(outermostUpper.begin(), outermostUpper.end(), [&](const std::string& parent) {
        return upper.compare(0, parent.size() + 1, parent + "\\") == 0;
      });
      if (under) continue;
      outermost.push_back(entry.second);
      outermostUpper.push_back(upper);
    }
    for (const std::optional<std::string>& text : prefix_->ExportRegistryText(outermost)) {
      if (!text) continue;
      for (auto& [key, values] : RegistryValues(*text)) state.registry[key] = values;
    }
    // The installer's registration of the packages: the simulated engine
    // registers products elsewhere.
    for (const std::string& code : productCodes_) {
      state.registry.erase("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code);
    }
    ReadServices(state);
    ReadPendingDeletions(state);
    for (const char* folder : kReadFolders) ReadFiles(folder, true, state);
    for (const char* folder : kReadFlatFolders) ReadFiles(folder, false, state);
    return state;
  }

 private:
  // An msiexec that wrote no log did not run the package at all.
  static void RequireLog(const wine::MsiexecResult& run) {
    if (run.log.empty()) {
      throw std::runtime_error("msiexec left no log (exit " + std::to_string(run.exitCode) + "):\n" + run.output);
    }
  }

  static void Check(const wine::RunResult& run, const std::string& what) {
    if (run.exitCode != 0) {
      throw std::runtime_error(what + " failed with exit code " + std::to_string(run.exitCode) + ":\n" + run.output);
    }
  }

  // The scenario's machine in the prefix. Wine's own files stay: the
  // prefix has its C runtime, drivers, program folders and network server
  // key already (the standard machine of the simulated engine).
  void SeedMachine(const Scenario& scenario, std::vector<Problem>& problems) {
    if (scenario.standardMachine) {
      prefix_->RunBatch({"reg add \"HKLM\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters\" /f >nul"});
    } else {
      notes_.Add(
          "a machine without the standard machine is not made on Wine: the prefix keeps its C runtime, "
          "drivers and program folders");
    }
    for (const std::string& file : scenario.machineRegFiles) ImportRegFile(file, problems);
    if (!scenario.remoteMachines.empty()) {
      notes_.Add("Wine has no remote machines: their registries (remote-machine) are not seeded");
    }
    if (!scenario.computerName.empty()) {
      notes_.Add("the computer name " + scenario.computerName + " is not set on Wine: it answers with its own");
    }
    if (!scenario.drivesFolder.empty()) SeedDrives(scenario.drivesFolder, problems);
    std::vector<std::pair<std::string, std::string>> files;
    for (const MachineFile& file : scenario.files) {
      switch (file.kind) {
        case MachineFile::Kind::kVersioned:
          files.emplace_back(file.path, vrintest::VersionedDll(file.version));
          break;
        case MachineFile::Kind::kUnversioned:
          files.emplace_back(file.path, vrintest::UnversionedDll());
          break;
        case MachineFile::Kind::kText:
          files.emplace_back(file.path, file.content);
          break;
        case MachineFile::Kind::kCopy:
          files.emplace_back(file.path, ReadFile(file.content));
          break;
      }
    }
    try {
      prefix_->WriteFiles(files);
    } catch (const std::exception& error) {
      problems.push_back(Problem{scenario.file, 0, error.what(), false});
    }
    for (const auto& [service, line] : scenario.runningServices) {
      notes_.Add("Wine cannot run the service " + service + ": it has no program for it (running-service)");
    }
    for (const auto& [name, folder] : scenario.shares) {
      notes_.Add("Wine has no network server: the share " + name + " is not there (NetShareAdd answers 50)");
    }
    if (!scenario.installedProducts.empty()) {
      notes_.Add("installed products (installed-product) are not registered on Wine");
    }
  }

  // expand:"..." and multi:"...", "..." (forms the simulated registry
  // reads) as the hex(2) and hex(7) data reg import takes; nullopt for any
  // other line.
  static std::optional<std::string> HexForm(const std::string& line) {
    const size_t equals =
        line.find("=expand:\"") != std::string::npos ? line.find("=expand:\"") : line.find("=multi:\"");
    if (equals == std::string::npos || line[0] == '[') return std::nullopt;
    const bool multi = line.compare(equals, 7, "=multi:") == 0;
    std::vector<std::string> strings;
    for (size_t i = line.find('"', equals); i != std::string::npos && i < line.size();) {
      std::string text;
      size_t j = i + 1;
      for (; j < line.size() && line[j] != '"'; ++j)
        text += line[j] == '\\' && j + 1 < line.size() ? line[++j] : line[j];
      strings.push_back(text);
      i = line.find('"', j + 1);
    }
    std::string hex = line.substr(0, equals) + (multi ? "=hex(7):" : "=hex(2):");
    auto add = [&](unsigned char c) {
      char byte[8];
      std::snprintf(byte, sizeof(byte), "%02x,00,", c);
      hex += byte;
    };
    for (const std::string& text : strings) {
      for (char c : text) add(static_cast<unsigned char>(c));
      add(0);
    }
    if (multi) add(0);
    hex.pop_back();
    return hex;
  }

  void ImportRegFile(const std::string& file, std::vector<Problem>& problems) {
    std::string text;
    {
      std::istringstream lines(wine::DecodeText(ReadFile(file)));
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += HexForm(line).value_or(line) + "\r\n";
      }
    }
    // The header goes: ImportRegistry writes its own.
    const size_t firstLineEnd = text.find('\n');
    if (text.rfind("Windows Registry Editor", 0) == 0 || text.rfind("REGEDIT4", 0) == 0) {
      text = firstLineEnd == std::string::npos ? "" : text.substr(firstLineEnd + 1);
    }
    // Its keys are read back after every step (with their subkeys).
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() > 2 && line[0] == '[' && line[1] != '-')
        seededKeys_.push_back(line.substr(1, line.find(']') - 1));
    }
    try {
      prefix_->ImportRegistry(text);
    } catch (const std::exception& error) {
      problems.push_back(Problem{file, 0, error.what(), false});
    }
  }

  void SeedDrives(const std::string& folder, std::vector<Problem>& problems) {
    for (const auto& drive : fs::directory_iterator(folder)) {
      const std::string letter = drive.path().filename().string();
      if (letter != "C" && letter != "c") {
        notes_.Add("Wine has only drive C: here: the drives folder's " + letter + " is not seeded");
        continue;
      }
      std::error_code error;
      fs::copy(drive.path(), prefix_->Path("C:\\"), fs::copy_options::recursive | fs::copy_options::overwrite_existing,
               error);
      if (error) problems.push_back(Problem{drive.path().string(), 0, error.message(), false});
    }
  }

  // Every package the steps need: the built-in package once per product
  // number, a package file once.
  void BuildPackages(const Scenario& scenario) {
    std::set<std::string> products = {scenario.package.products};
    for (const Step& step : scenario.steps) {
      if (step.products) products.insert(*step.products);
    }
    for (const vrinroad::PackageAction& action : scenario.packageActions) actions_.insert(action.name);
    const bool needsPackage = std::any_of(scenario.steps.begin(), scenario.steps.end(), [](const Step& step) {
      return step.kind != StepKind::kMasterSetup && step.kind != StepKind::kRestart && step.kind != StepKind::kEvent;
    });
    if (!needsPackage) return;
    if (!scenario.packageFile.empty()) {
      packages_[""] = Described(BuildPackageFile(scenario));
      return;
    }
    for (const std::string& number : products) packages_[number] = Described(BuildBuiltIn(scenario, number));
  }

  wine::Package BuildBuiltIn(const Scenario& scenario, const std::string& products) {
    const vrinroad::PackageOptions& options = scenario.package;
    wine::PackageOptions build;
    build.templateName = wine::RoadsTemplate().string();
    build.workName = "product-" + products;
    build.defines = {{"ProductCode", ProductCode(products)},
                     {"Products", products},
                     {"SubType", options.productSubType.empty() ? "0" : options.productSubType},
                     {"InstallDir", options.installDir},
                     {"Console", options.withConsole ? "yes" : "no"}};
    build.files = {{"Skdnt.exe", vrintest::VersionedDll(options.serverVersion)}};
    if (options.withConsole) build.files["Skdwin.exe"] = vrintest::VersionedDll(options.consoleVersion);
    // The kit's Error rows, which the library's trace lines take their
    // templates from ("ERR: ", "WARN: "), as in the simulated package.
    build.kitTables = {"common/Error.idt"};
    build.sql = FixUps();
    build.sql.push_back("UPDATE `File` SET `Version` = '" + vrinroad::VersionText(options.serverVersion) +
                        "', `Language` = '1033' WHERE `File` = 'skdnt.exe'");
    if (options.withConsole) {
      build.sql.push_back("UPDATE `File` SET `Version` = '" + vrinroad::VersionText(options.consoleVersion) +
                          "', `Language` = '1033' WHERE `File` = 'skdwin.exe'");
    }
    // The simulated package sets only the properties its options give.
    build.sql.push_back("DELETE FROM `Property` WHERE `Property` = 'STARTUPMODE'");
    if (options.productSubType.empty())
      build.sql.push_back("DELETE FROM `Property` WHERE `Property` = 'PRODUCTSUBTYPE'");
    if (options.releaseFlags.empty()) {
      build.sql.push_back("DELETE FROM `Property` WHERE `Property` = 'ISReleaseFlags'");
    } else {
      build.sql.push_back("UPDATE `Property` SET `Value` = " + vrintest::SqlText(options.releaseFlags) +
                          " WHERE `Property` = 'ISReleaseFlags'");
    }
    for (const vrinroad::PackageAction& action : scenario.packageActions) {
      build.sql.push_back("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES (" +
                          vrintest::SqlText(action.name) + ", 1, 'VrincaDll', " + vrintest::SqlText(action.name) + ")");
      build.sql.push_back("INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES (" +
                          vrintest::SqlText(action.name) + ", " + vrintest::SqlText(action.condition) + ", " +
                          std::to_string(SequenceOf(action.point)) + ")");
    }
    if (!options.errorTableSql.empty()) {
      notes_.Add("the package's own Error table is not built for Wine: the kit's rows 1, 2 and 4 are used");
    }
    return prefix_->BuildPackage(build);
  }

  // What wixl leaves out: the shared-DLL counting of the modules' key files
  // (on 64-bit components in a 64-bit package).
  std::vector<std::string> FixUps() const {
    const int attributes = arch_ == wine::Arch::kWin64 ? 264 : 8;
    return {"UPDATE `Component` SET `Attributes` = " + std::to_string(attributes) + " WHERE `Component` = '" +
                vrinroad::kServerComponent + "'",
            "UPDATE `Component` SET `Attributes` = " + std::to_string(attributes) + " WHERE `Component` = '" +
                vrinroad::kConsoleComponent + "'"};
  }

  // The scenario's .msi as it is, its .wxs through wixl (in a copy of its
  // folder, so that SourceFile paths stay relative), its .idt tables
  // through msibuild.
  wine::Package BuildPackageFile(const Scenario& scenario) {
    const fs::path file = scenario.packageFile;
    wine::Package package;
    package.arch = arch_;
    package.workDir = runDir_ / "package";
    fs::create_directories(package.workDir);
    if (fs::is_directory(file)) {
      package.msi = package.workDir / "package.msi";
      BuildFromTables(file, package);
      return package;
    }
    if (file.extension() == ".msi") {
      package.msi = package.workDir / file.filename();
      fs::copy_file(file, package.msi);
      return package;
    }
    fs::copy(file.parent_path(), package.workDir, fs::copy_options::recursive);
    package.msi = package.workDir / (file.stem().string() + ".msi");
    Tool({"wixl", "-a", arch_ == wine::Arch::kWin64 ? "x64" : "x86", "-o", package.msi.string(),
          file.filename().string()},
         package.workDir, "wixl could not build " + file.string());
    std::vector<std::string> sql = FixUps();
    // File versions from the files themselves.
    for (const auto& row : IdtRows(Export(package, "File"))) {
      if (row.size() < 3) continue;
      std::string name = row[2].substr(row[2].find('|') == std::string::npos ? 0 : row[2].find('|') + 1);
      for (const auto& entry : fs::recursive_directory_iterator(package.workDir)) {
        if (!entry.is_regular_file() || Upper(entry.path().filename().string()) != Upper(name)) continue;
        if (auto version = vrinroad::FileVersionOf(ReadFile(entry.path()))) {
          sql.push_back("UPDATE `File` SET `Version` = '" + vrinroad::VersionText(*version) +
                        "', `Language` = '1033' WHERE `File` = " + vrintest::SqlText(row[0]));
        }
        break;
      }
    }
    for (const std::string& query : sql) {
      Tool({"msibuild", package.msi.filename().string(), "-q", query}, package.workDir, "msibuild -q " + query);
    }
    return package;
  }

  // A package of .idt tables: the tables, the kit's DLL and Error rows, and
  // what msiexec needs to open it (a summary, a product code, the costing
  // actions).
  void BuildFromTables(const fs::path& folder, const wine::Package& package) {
    Tool({"msibuild", package.msi.string(), "-s", "vrinsim tables", "vrinsim", ";1033",
          "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4CFF}"},
         package.workDir, "msibuild could not create a package");
    std::vector<std::string> args = {"msibuild", package.msi.string()};
    // msibuild reads CRLF lines, as MsiDatabaseExport writes them; a scenario's
    // tables may have LF ones.
    const fs::path tables = package.workDir / "tables";
    fs::create_directories(tables);
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() != ".idt") continue;
      std::string text;
      std::istringstream lines(ReadFile(entry.path()));
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += line + "\r\n";
      }
      std::ofstream(tables / entry.path().filename(), std::ios::binary) << text;
      args.push_back("-i");
      args.push_back((tables / entry.path().filename()).string());
    }
    Tool(args, package.workDir, "msibuild could not import the tables of " + folder.string());
    const std::vector<std::string> sql = {
        "CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` "
        "SHORT PRIMARY KEY `Action`)",
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('CostInitialize', 800)",
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('FileCost', 900)",
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('CostFinalize', 1000)",
    };
    for (const std::string& query : sql) {
      Tool({"msibuild", package.msi.string(), "-q", query}, package.workDir, "msibuild -q " + query);
    }
    const std::map<std::string, std::string> required = {{"ProductCode", "{5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4CFE}"},
                                                         {"ProductName", "vrinsim tables"},
                                                         {"ProductVersion", "1.0.0"},
                                                         {"ProductLanguage", "1033"},
                                                         {"Manufacturer", "vrinsim"}};
    const std::string properties = Export(package, "Property");
    std::set<std::string> present;
    for (const auto& row : IdtRows(properties)) present.insert(row.at(0));
    for (const auto& [name, value] : required) {
      if (present.count(name)) continue;
      const std::string query = "INSERT INTO `Property` (`Property`, `Value`) VALUES (" + vrintest::SqlText(name) +
                                ", " + vrintest::SqlText(value) + ")";
      Tool({"msibuild", package.msi.string(), "-q", query}, package.workDir, "msibuild -q " + query);
    }
    prefix_->Flatten(package, {wine::KitDir() / "common"});
  }

  void Tool(const std::vector<std::string>& args, const fs::path& dir, const std::string& what) const {
    const wine::RunResult run = wine::RunTool(args, dir);
    if (run.exitCode != 0)
      throw std::runtime_error(what + " (exit " + std::to_string(run.exitCode) + "):\n" + run.output);
  }

  // A table of the package as .idt text; empty when it has none.
  static std::string Export(const wine::Package& package, const std::string& table) {
    const wine::RunResult run = wine::RunTool({"msiinfo", "export", package.msi.string(), table}, package.workDir);
    return run.exitCode == 0 ? run.output : std::string();
  }

  WinePackage Described(const wine::Package& package) {
    WinePackage described{package, {}, {}, {}, {}};
    for (const auto& row : IdtRows(Export(package, "Property"))) {
      if (row.size() >= 2) described.properties[row[0]] = row[1];
    }
    productCodes_.insert(described.properties["ProductCode"]);
    described.directories = TargetPaths(IdtRows(Export(package, "Directory")));
    for (const auto& row : IdtRows(Export(package, "FeatureComponents"))) {
      if (row.size() < 2) continue;
      if (row[1] == vrinroad::kServerComponent) described.serverFeature = row[0];
      if (row[1] == vrinroad::kConsoleComponent) described.consoleFeature = row[0];
    }
    return described;
  }

  WinePackage& PackageOf(const Step& step, const Scenario& scenario) {
    auto found = packages_.find("");
    if (found == packages_.end()) found = packages_.find(step.products.value_or(scenario.package.products));
    if (found == packages_.end()) throw std::runtime_error("no package was built for this step");
    return found->second;
  }

  // The properties of the command line: what the road sets, PRODUCTS of a
  // package file, the features asked for.
  std::vector<std::string> CommandLine(const Step& step, const WinePackage& package, bool packageFile,
                                       bool& removeAll) const {
    std::vector<std::string> properties;
    const vrinroad::RoadOptions& road = step.road;
    if (!road.startupMode.empty()) properties.push_back("STARTUPMODE=" + road.startupMode);
    if (packageFile && step.products) properties.push_back("PRODUCTS=" + *step.products);
    for (const auto& [name, value] : road.properties) properties.push_back(name + "=" + value);
    std::vector<std::string> add, remove;
    bool leaves = false;
    auto feature = [&](const std::string& name, vrinroad::FeatureRequest request) {
      if (name.empty()) return;
      if (request == vrinroad::FeatureRequest::kInstall) add.push_back(name);
      if (request == vrinroad::FeatureRequest::kRemove) remove.push_back(name);
      if (request == vrinroad::FeatureRequest::kLeave) leaves = true;
    };
    feature(package.serverFeature, road.server);
    feature(package.consoleFeature, road.console);
    removeAll = step.kind == StepKind::kRemove && !leaves && add.empty();
    if (step.kind == StepKind::kRepair || removeAll) return properties;
    const bool everything = !road.installed && remove.empty() && !leaves &&
                            road.server != vrinroad::FeatureRequest::kAbsent &&
                            road.console != vrinroad::FeatureRequest::kAbsent;
    auto join = [](const std::vector<std::string>& names) {
      std::string text;
      for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
      return text;
    };
    if (!everything && !add.empty()) properties.push_back("ADDLOCAL=" + join(add));
    if (!remove.empty()) properties.push_back("REMOVE=" + join(remove));
    return properties;
  }

  void PlayRoad(const Step& step, StepResult& out) {
    WinePackage& package = PackageOf(step, *scenario_);
    bool removeAll = false;
    const std::vector<std::string> properties = CommandLine(step, package, packages_.count("") > 0, removeAll);
    const wine::Ui ui = step.road.userInterface ? wine::Ui::kFull : wine::Ui::kNone;
    const wine::MsiexecResult run = removeAll ? prefix_->Remove(package.package, properties, ui)
                                              : prefix_->Install(package.package, properties, ui);
    RequireLog(run);
    LibraryPart(run.log, actions_, out);
    out.propertiesLeftSet = PropertiesLeftSet(LoggedProperties(run.log), package, properties);
    // What Wine answers where Windows would do it, said once.
    for (const std::string& line : out.log) {
      if (line.find("Error 50 in param") != std::string::npos && line.find("adding share") != std::string::npos) {
        notes_.Add("Wine has no network server: NetShareAdd answers 50, so no share is created");
      }
      if (line.find("VrinNTStartVrin : 1114") != std::string::npos) {
        notes_.Add("Wine cannot start the filter driver: StartService answers 1114 (it has no driver image)");
      }
    }
    // 3010: done, a restart completes it.
    out.failed = run.exitCode != 0 && run.exitCode != 3010;
    if (out.failed && std::none_of(out.calls.begin(), out.calls.end(), [](const auto& c) { return c.result != 0; })) {
      out.failure = "msiexec returned " + std::to_string(run.exitCode) + " (see " + run.logPath.string() + ")";
    }
  }

  // The directories' target paths before any action sets one: the parent's
  // path and the target's long name ("short|long", "target:source", "."
  // for the parent's own folder), from C:\ and the program folders.
  std::map<std::string, std::string> TargetPaths(const std::vector<std::vector<std::string>>& rows) const {
    std::map<std::string, std::pair<std::string, std::string>> table;  // key -> parent, DefaultDir
    for (const auto& row : rows) {
      if (row.size() >= 3) table[row[0]] = {row[1], row[2]};
    }
    std::map<std::string, std::string> paths;
    const std::string programFiles = "C:\\Program Files\\";
    std::function<std::string(const std::string&, int)> resolve = [&](const std::string& key, int depth) {
      if (auto known = paths.find(key); known != paths.end()) return known->second;
      auto row = table.find(key);
      std::string path = "C:\\";
      if (key == "ProgramFiles64Folder" || (key == "ProgramFilesFolder" && arch_ == wine::Arch::kWin32)) {
        path = programFiles;
      } else if (key == "ProgramFilesFolder") {
        path = "C:\\Program Files (x86)\\";
      } else if (row != table.end() && !row->second.first.empty() && row->second.first != key && depth < 64) {
        std::string name = row->second.second.substr(0, row->second.second.find(':'));
        if (name.find('|') != std::string::npos) name = name.substr(name.find('|') + 1);
        path = resolve(row->second.first, depth + 1) + (name == "." ? "" : name + "\\");
      }
      return paths[key] = path;
    };
    for (const auto& [key, row] : table) resolve(key, 0);
    return paths;
  }

  // What the actions left set: the properties of the log's last list that
  // the package did not give so, left out the installer's own (their
  // names have lower-case letters, or are the installer's public
  // properties) and the directories where costing put them.
  static std::vector<std::pair<std::string, std::string>> PropertiesLeftSet(
      const std::map<std::string, std::string>& end, const WinePackage& package,
      const std::vector<std::string>& commandLine) {
    std::map<std::string, std::string> given = package.properties;
    for (const std::string& property : commandLine) {
      const size_t equals = property.find('=');
      if (equals != std::string::npos) given[property.substr(0, equals)] = property.substr(equals + 1);
    }
    static const std::set<std::string> kInstallers = {
        "ACTION",   "EXECUTEACTION", "ROOTDRIVE",       "INSTALLLEVEL", "SOURCEDIR",       "TARGETDIR",
        "ALLUSERS", "ADDLOCAL",      "REMOVE",          "REINSTALL",    "REINSTALLMODE",   "PRODUCTS",
        "UILEVEL",  "DATABASE",      "VRINSIM_ACTIONS", "VRINSIM_DLL",  "VRINSIM_FEATURES"};
    std::vector<std::pair<std::string, std::string>> changed;
    for (const auto& [name, value] : end) {
      if (name != Upper(name) || kInstallers.count(name)) continue;
      if (auto directory = package.directories.find(name); directory != package.directories.end()) {
        if (Upper(directory->second) != Upper(value)) changed.emplace_back(name, value);
        continue;
      }
      auto start = given.find(name);
      if (start == given.end() || start->second != value) changed.emplace_back(name, value);
    }
    for (const auto& [name, value] : given) {
      if (name == Upper(name) && !end.count(name) && !kInstallers.count(name)) changed.emplace_back(name, "(removed)");
    }
    return changed;
  }

  // The named actions through vrinsim_actions.dll, sequenced right after
  // CostFinalize in a copy of the package.
  void PlayActions(const Step& step, StepResult& out) {
    const WinePackage& base = PackageOf(step, *scenario_);
    if (!actionsPackage_) {
      wine::Package package = base.package;
      package.workDir = runDir_ / "actions";
      fs::create_directories(package.workDir);
      package.msi = package.workDir / "actions.msi";
      // A package that names its source folder (SourceDir, as the setup's
      // tables do) is run from there, so that its actions find their files.
      auto source = base.properties.find("SourceDir");
      const bool fromSource = source != base.properties.end() && source->second.rfind("C:\\", 0) == 0;
      fs::copy_file(base.package.msi, package.msi, fs::copy_options::overwrite_existing);
      fs::copy_file(wine::Prefix(arch_).DistDir() / kActionsProbe, package.workDir / kActionsProbe,
                    fs::copy_options::overwrite_existing);
      const std::vector<std::string> sql = {
          "DELETE FROM `InstallExecuteSequence` WHERE `Sequence` > 1000",
          "DELETE FROM `InstallUISequence` WHERE `Sequence` > 0",
          "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('VrinsimCallActions', 1, "
          "'VrinsimActions', 'VrinsimCallActions')",
          "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('VrinsimCallActions', 1001)",
      };
      for (const std::string& query : sql) {
        // A package of tables may lack the UI sequence or the CustomAction table.
        wine::RunTool({"msibuild", package.msi.string(), "-q", query}, package.workDir);
      }
      if (Export(package, "CustomAction").empty()) {
        Tool({"msibuild", package.msi.string(), "-q",
              "CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
              "`Target` CHAR(255), `ExtendedType` LONG PRIMARY KEY `Action`)"},
             package.workDir, "msibuild could not add the CustomAction table");
        Tool({"msibuild", package.msi.string(), "-q",
              "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('VrinsimCallActions', 1, "
              "'VrinsimActions', 'VrinsimCallActions')"},
             package.workDir, "msibuild could not add the probe action");
      }
      // The probe's Binary row, merged in as the kit's rows are: an .idt
      // with its stream in a Binary folder beside it.
      const fs::path binary = package.workDir / "probe";
      fs::create_directories(binary / "Binary");
      fs::rename(package.workDir / kActionsProbe, binary / "Binary" / kActionsProbe);
      std::ofstream(binary / "Binary.idt", std::ios::binary)
          << "Name\tData\ns72\tv0\nBinary\tName\nVrinsimActions\t" << kActionsProbe << "\n";
      prefix_->Flatten(package, {binary / "Binary.idt"});
      if (fromSource) {
        const fs::path there = prefix_->Path(source->second) / "actions.msi";
        fs::create_directories(there.parent_path());
        fs::copy_file(package.msi, there, fs::copy_options::overwrite_existing);
        package.msi = there;
      }
      actionsPackage_ = base;
      actionsPackage_->package = package;
    }
    std::vector<std::string> properties = {"VRINSIM_DLL=" + wine::ToWindowsPath(prefix_->Dll())};
    std::string names;
    for (const std::string& name : step.actions) {
      names += (names.empty() ? "" : ",") + name;
      actions_.insert(name);
    }
    properties.push_back("VRINSIM_ACTIONS=" + names);
    std::string features;
    for (const auto& [feature, states] : step.features) {
      if (states.second != INSTALLSTATE_UNKNOWN) {
        features += (features.empty() ? "" : ";") + feature + "=" + std::to_string(states.second);
      }
      if (states.first != INSTALLSTATE_ABSENT) {
        notes_.Add("Wine cannot set the installed state of the feature " + feature + ": it is what the machine has");
      }
    }
    if (!features.empty()) properties.push_back("VRINSIM_FEATURES=" + features);
    if (!step.road.startupMode.empty()) properties.push_back("STARTUPMODE=" + step.road.startupMode);
    if (step.products) properties.push_back("PRODUCTS=" + *step.products);
    for (const auto& [name, value] : step.road.properties) properties.push_back(name + "=" + value);
    if (step.road.installed) notes_.Add("\"installed = yes\" is not set on Wine: the product is not installed");
    const wine::MsiexecResult run = prefix_->Install(actionsPackage_->package, properties,
                                                     step.road.userInterface ? wine::Ui::kFull : wine::Ui::kNone);
    RequireLog(run);
    // The probe's lines as the simulated engine's calls: "Action start" and
    // "Action ended" lines around each action's own.
    std::string current;
    for (const std::string& line : wine::SplitLines(run.log)) {
      const std::string mark = "VRINSIM ";
      if (line.rfind(mark, 0) == 0) {
        std::istringstream words(line.substr(mark.size()));
        std::string word, name;
        words >> word >> name;
        if (word == "call") {
          current = name;
          out.log.push_back("Action start: " + name + ".");
        } else if (word == "result") {
          unsigned result = 0;
          words >> result;
          out.calls.push_back({name, result});
          out.log.push_back("Action ended: " + name + ". Return value " + (result == 0 ? "1" : "3") + ".");
          current.clear();
          out.failed = out.failed || result != 0;
        } else if (word == "feature") {
          int before = 0, after = 0;
          words >> before >> after;
          out.featureRequests.push_back(name + ": " + InstallStateName(static_cast<INSTALLSTATE>(before)) + " -> " +
                                        InstallStateName(static_cast<INSTALLSTATE>(after)));
        } else {
          out.log.push_back(line);
          out.failed = true;
        }
        continue;
      }
      if (!current.empty()) AddTraceLine(line, out);
    }
    out.propertiesLeftSet = PropertiesLeftSet(LoggedProperties(run.log), *actionsPackage_, properties);
  }

  // The master setup's calls through vrinsim_master_setup.exe; its lines
  // read as the simulated engine's outcome.
  void PlayMasterSetup(const Step& step, StepResult& out) {
    if (!step.machine.empty()) {
      notes_.Add("Wine has no remote machines: the master setup's check of " + step.machine + " finds none");
    }
    const fs::path caller = wine::Prefix(arch_).DistDir() / kMasterSetupCaller;
    const wine::RunResult run = prefix_->Run({wine::ToWindowsPath(caller), wine::ToWindowsPath(prefix_->Dll()),
                                              step.machine.empty() ? "-" : step.machine,
                                              step.profile.empty() ? "-" : step.profile, step.fullCheck ? "1" : "0"});
    if (run.exitCode != 0) {
      throw std::runtime_error(std::string(kMasterSetupCaller) + " failed with exit code " +
                               std::to_string(run.exitCode) + ":\n" + run.output);
    }
    std::map<std::string, std::string> fields;
    MasterSetupCalls calls;
    for (const std::string& line : wine::SplitLines(wine::DecodeText(run.output))) {
      const std::string mark = "VRINSIM ";
      if (line.rfind(mark, 0) != 0) {
        if (!line.empty()) out.log.push_back(line);
        continue;
      }
      const size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string name = line.substr(mark.size(), equals - mark.size());
      if (name == "component") {
        calls.components.push_back(line.substr(equals + 1));
      } else {
        fields[name] = line.substr(equals + 1);
      }
    }
    calls.check = fields["check"];
    calls.message = fields["message"];
    calls.folder = fields["folder"];
    calls.fixed = fields["fixed"];
    calls.create = fields["create"];
    calls.post = fields["post"];
    if (!step.profile.empty()) {
      const fs::path profile = prefix_->Path(step.profile);
      if (fs::exists(profile)) calls.profileLines = wine::SplitLines(ReadFile(profile));
    }
    TellMasterSetup(step, calls, out);
  }

  // A service stopped by hand is one Wine never ran: its machine has the
  // service stopped as the event leaves it. A held file is not: from then
  // on the machine is not the scenario's, and every later step says so.
  void PlayEvents(const Step& step) {
    for (const MachineEvent& event : step.events) {
      if (event.kind == MachineEvent::Kind::kStopService) {
        notes_.Add("Wine runs no service of the scenario, so " + event.target +
                   " was not running to be stopped (stop-service)");
        continue;
      }
      const std::string note = fs::exists(prefix_->Path(event.target))
                                   ? "the Wine engine does not hold " + event.target + " open (hold-file)"
                                   : "Wine's machine has no " + event.target + " to hold open (hold-file)";
      notes_.Add(note + ": the steps from here on are not comparable");
      if (eventNotMade_.empty()) eventNotMade_ = note + " in the step \"" + step.title + "\"";
    }
  }

  // Services: each key under Services with a Type, all stopped (Wine runs
  // none of the scenario's).
  void ReadServices(MachineState& state) const {
    const std::string prefix = std::string(kServicesKey) + "\\";
    for (const auto& entry : state.registry) {
      const std::string& key = entry.first;
      const std::map<std::string, std::string>& values = entry.second;
      if (key.size() <= prefix.size() || Upper(key.substr(0, prefix.size())) != Upper(prefix)) continue;
      const std::string name = key.substr(prefix.size());
      if (name.find('\\') != std::string::npos || !values.count("\"Type\"")) continue;
      auto value = [&](const char* field) {
        auto found = values.find(std::string("\"") + field + "\"");
        if (found == values.end()) return std::string("-");
        const std::string& text = found->second;
        if (text.rfind("dword:", 0) == 0) return std::to_string(std::stoul(text.substr(6), nullptr, 16));
        if (text.size() < 2 || text.front() != '"') return text;
        std::string unescaped;
        for (size_t i = 1; i + 1 < text.size(); ++i) unescaped += text[i] == '\\' ? text[++i] : text[i];
        return unescaped;
      };
      ServiceState service;
      service.config = "Type " + value("Type") + ", Start " + value("Start") + ", ErrorControl " +
                       value("ErrorControl") + ", ImagePath " + value("ImagePath");
      service.state = "stopped";
      state.services[name] = service;
    }
  }

  // PendingFileRenameOperations: pairs of source and target; an empty
  // target deletes the source.
  void ReadPendingDeletions(MachineState& state) const {
    auto key = state.registry.find(kSessionManagerKey);
    if (key == state.registry.end()) return;
    auto value = key->second.find("\"PendingFileRenameOperations\"");
    if (value == key->second.end()) return;
    const std::string& text = value->second;
    std::vector<std::string> strings;
    if (text.rfind("hex(7):", 0) == 0) {
      // Not shown as text (it holds empty strings): UTF-16 bytes.
      std::string bytes;
      std::istringstream digits(text.substr(7));
      for (std::string byte; std::getline(digits, byte, ',');) {
        if (byte.empty() || byte.size() > 2 || byte.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
          continue;
        }
        bytes += static_cast<char>(std::stoul(byte, nullptr, 16));
      }
      std::string all = wine::DecodeText(std::string("\xFF\xFE", 2) + bytes);
      for (size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        strings.push_back(all.substr(start, end - start));
      }
    }
    for (size_t start = strings.empty() ? text.find('"') : std::string::npos; start != std::string::npos;) {
      size_t end = start + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      std::string item = text.substr(start + 1, end - start - 1);
      std::string unescaped;
      for (size_t i = 0; i < item.size(); ++i)
        unescaped += item[i] == '\\' && i + 1 < item.size() ? item[++i] : item[i];
      strings.push_back(unescaped);
      start = end < text.size() ? text.find('"', end + 1) : std::string::npos;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
      if (!strings[i + 1].empty()) continue;
      std::string path = strings[i].rfind("\\??\\", 0) == 0 ? strings[i].substr(4) : strings[i];
      state.pendingDeletions.push_back(SimulatedSpelling(path));
    }
  }

  void ReadFiles(const std::string& folder, bool recursive, MachineState& state) const {
    const fs::path root = prefix_->Path(folder);
    if (!fs::is_directory(root)) return;
    const fs::path driveC = prefix_->Path("C:\\");
    auto windowsPath = [&](const fs::path& path) {
      std::string relative = fs::relative(path, driveC).string();
      std::replace(relative.begin(), relative.end(), '/', '\\');
      return SimulatedSpelling("C:\\" + relative);
    };
    auto add = [&](const fs::directory_entry& entry) {
      if (entry.is_symlink()) return;
      if (entry.is_directory()) {
        state.files[windowsPath(entry.path()) + "\\"] = "";
      } else if (entry.is_regular_file()) {
        state.files[windowsPath(entry.path())] = entry.file_size() > kLargestReadFile
                                                     ? "(" + std::to_string(entry.file_size()) + " bytes)"
                                                     : ReadFile(entry.path());
      }
    };
    state.files[windowsPath(root) + "\\"] = "";
    std::error_code error;
    if (recursive) {
      for (const auto& entry : fs::recursive_directory_iterator(root, error)) add(entry);
    } else {
      for (const auto& entry : fs::directory_iterator(root, error)) {
        if (!entry.is_directory()) add(entry);
      }
    }
  }

  wine::Arch arch_;
  fs::path runDir_;
  std::unique_ptr<wine::Prefix> prefix_;
  const Scenario* scenario_ = nullptr;
  std::map<std::string, WinePackage> packages_;  // by product number; "" for the scenario's package file
  std::optional<WinePackage> actionsPackage_;
  std::set<std::string> actions_;  // whose runs are the library's part of a log
  std::vector<std::string> seededKeys_;
  std::set<std::string> productCodes_;
  Notes notes_;
  std::string eventNotMade_;  // the first event of the play Wine could not make
};

}  // namespace

std::string WineCannotRun(const std::string& arch) {
  const std::optional<wine::Arch> which = ArchOf(arch);
  if (!which) return "no architecture \"" + arch + "\": win32 or win64";
  for (const char* loader : {"/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"}) {
    if (access(loader, X_OK) != 0) {
      return std::string("Wine is not installed (") + loader + " is missing): tools/install-deps.sh installs it";
    }
  }
  if (*which == wine::Arch::kWin32) {
    const std::string reason = wine::CannotRun(*which);
    if (!reason.empty()) {
      return "this machine cannot run 32-bit programs, so not the 32-bit engine of the shipped DLL (" + reason +
             "); --arch win64 plays the 64-bit build";
    }
    if (access("/usr/lib/wine/wine", X_OK) != 0) {
      return "Wine's 32-bit loader is not installed (/usr/lib/wine/wine): tools/install-deps.sh installs wine32";
    }
  }
  const wine::Prefix prefix(*which);
  std::string missing;
  for (const fs::path& file : {prefix.Dll(), prefix.DistDir() / kActionsProbe, prefix.DistDir() / kMasterSetupCaller}) {
    if (!fs::exists(file)) missing += (missing.empty() ? "" : ", ") + file.string();
  }
  if (!missing.empty()) return "the Windows build is missing: " + missing + "; `make dist` builds it";
  return {};
}

std::unique_ptr<Engine> WineEngine(const std::string& arch) {
  const std::optional<wine::Arch> which = ArchOf(arch);
  if (!which) throw std::invalid_argument("no architecture \"" + arch + "\": win32 or win64");
  return std::make_unique<WineInstaller>(*which);
}

}  // namespace vrinsim
