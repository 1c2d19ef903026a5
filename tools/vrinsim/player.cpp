#include "tools/vrinsim/player.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>

#include "host/clock.h"
#include "host/code_page.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/message_table.h"
#include "host/network.h"
#include "host/package.h"
#include "host/registry.h"
#include "host/services.h"
#include "host/session.h"
#include "host/shares.h"
#include "host/user_interface.h"
#include "runtime/module.h"
#include "suite/master_setup.h"
#include "tools/road/pe_builder.h"
#include "tools/vrinsim/action_table.h"
#include "tools/vrinsim/engine.h"
#include "tools/vrinsim/idt_package.h"
#include "tools/vrinsim/machine_state.h"

namespace vrinsim {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The library also traces to standard output: the report shows the log,
// and the standard output only of calls made without a session. It flushes
// every line, so stdout is a stream in memory meanwhile (glibc lets the
// variable be set), not a file that each line would be written to.
class CaptureStdout {
 public:
  CaptureStdout() {
    std::fflush(stdout);
    saved_ = stdout;
    file_ = open_memstream(&buffer_, &size_);
    if (file_ != nullptr) stdout = file_;
  }
  ~CaptureStdout() {
    if (file_ != nullptr) {
      stdout = saved_;
      std::fclose(file_);
    }
    std::free(buffer_);
  }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;

  // The lines written since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> lines;
    if (file_ == nullptr || std::fflush(file_) != 0 || size_ <= read_) return lines;
    std::istringstream stream(std::string(buffer_ + read_, size_ - read_));
    read_ = size_;
    for (std::string line; std::getline(stream, line);) {
      while (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }

 private:
  std::FILE* saved_;
  std::FILE* file_;
  char* buffer_ = nullptr;
  size_t size_ = 0;
  size_t read_ = 0;
};

// A temporary folder for a package built from WiX source, made when first
// asked for and removed afterwards.
class BuildFolder {
 public:
  BuildFolder() = default;
  ~BuildFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  BuildFolder(const BuildFolder&) = delete;
  BuildFolder& operator=(const BuildFolder&) = delete;
  const std::string& Path() const {
    char pattern[] = "/tmp/vrinsim-XXXXXX";
    if (path_.empty() && mkdtemp(pattern) != nullptr) path_ = pattern;
    return path_;
  }

 private:
  mutable std::string path_;
};

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The package as the roads open it: built in, a ready .msi, a .wxs built
// with wixl, or .idt tables.
vrinroad::PackageOptions PreparePackage(const Scenario& scenario, const BuildFolder& build) {
  vrinroad::PackageOptions package = scenario.package;
  for (vrinroad::PackageAction action : scenario.packageActions) {
    action.action = FindAction(action.name);
    package.actions.push_back(action);
  }
  const std::string& file = scenario.packageFile;
  if (file.empty()) return package;
  if (fs::is_directory(file)) {
    package.sql = IdtTablesSql(file);
  } else if (fs::path(file).extension() == ".msi") {
    package.packagePath = file;
  } else {
    if (build.Path().empty()) throw ScenarioError(file, 0, "no temporary folder to build it in");
    std::string msi = build.Path() + "/package.msi";
    std::string log = build.Path() + "/wixl.log";
    // wixl finds the package's source files next to the WiX source.
    std::string command = "cd " + ShellQuoted(fs::path(file).parent_path().string()) + " && wixl -o " +
                          ShellQuoted(msi) + " " + ShellQuoted(file) + " > " + ShellQuoted(log) + " 2>&1";
    if (std::system(command.c_str()) != 0) {
      throw ScenarioError(file, 0, "wixl could not build it (is msitools installed?):\n" + ReadFile(log));
    }
    package.packagePath = msi;
  }
  return package;
}

// A .reg file onto a registry; a line it refuses is a problem of that file.
void ImportRegistry(host::Registry& registry, const std::string& file, std::vector<Problem>& problems) {
  try {
    registry.Import(ReadFile(file));
  } catch (const host::RegFileError& error) {
    problems.push_back(Problem{file, error.Line(), error.Message(), false});
  } catch (const std::exception& error) {
    problems.push_back(Problem{file, 0, error.what(), false});
  }
}

void CopyDrives(const std::string& folder, std::vector<Problem>& problems) {
  for (const auto& drive : fs::directory_iterator(folder)) {
    std::string letter = drive.path().filename().string();
    if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])) || !drive.is_directory()) {
      problems.push_back(
          Problem{drive.path().string(), 0, "a drives folder holds one folder per drive letter (C, D, ...)", false});
      continue;
    }
    for (const auto& entry : fs::recursive_directory_iterator(drive.path())) {
      std::string relative = fs::relative(entry.path(), drive.path()).generic_string();
      std::string path = letter + ":\\" + relative;
      std::replace(path.begin(), path.end(), '/', '\\');
      try {
        if (entry.is_directory()) {
          host::Files().AddDirectory(path);
        } else {
          host::Files().AddFile(path, ReadFile(entry.path().string()));
        }
      } catch (const std::exception& error) {
        problems.push_back(Problem{entry.path().string(), 0, error.what(), false});
      }
    }
  }
}

void AddMachineFile(const MachineFile& file) {
  switch (file.kind) {
    case MachineFile::Kind::kVersioned:
      host::Files().AddFile(file.path, vrintest::VersionedDll(file.version));
      break;
    case MachineFile::Kind::kUnversioned:
      host::Files().AddFile(file.path, vrintest::UnversionedDll());
      break;
    case MachineFile::Kind::kText:
      host::Files().AddFile(file.path, file.content);
      break;
    case MachineFile::Kind::kCopy:
      host::Files().AddFile(file.path, ReadFile(file.content));
      break;
  }
}

// The services of the machine's registry, as they are spelled.
std::vector<std::string> MachineServices() {
  std::vector<std::string> names;
  if (auto root = host::LocalRegistry().Find(host::kServicesKey)) {
    for (const auto& [folded, key] : root->Subkeys()) {
      if (host::Services().Exists(key->Name())) names.push_back(key->Name());
    }
  }
  return names;
}

// Puts the scenario's machine onto the simulated one and tells what it
// refused.
std::vector<Problem> Seed(const Scenario& scenario) {
  std::vector<Problem> problems;
  auto problem = [&](int line, const std::string& message) {
    problems.push_back(Problem{scenario.file, line, message, false});
  };
  for (const std::string& file : scenario.machineRegFiles) ImportRegistry(host::LocalRegistry(), file, problems);
  for (const auto& [name, file] : scenario.remoteMachines) {
    ImportRegistry(host::Network::Instance().AddMachine(name), file, problems);
  }
  if (!scenario.computerName.empty()) host::Network::Instance().SetComputerName(scenario.computerName);
  if (!scenario.drivesFolder.empty()) CopyDrives(scenario.drivesFolder, problems);
  for (const MachineFile& file : scenario.files) {
    try {
      AddMachineFile(file);
    } catch (const std::exception& error) {
      problem(file.line, error.what());
    }
  }
  const std::vector<std::string> services = MachineServices();
  for (const auto& [service, line] : scenario.runningServices) {
    if (!host::Services().Exists(service)) {
      std::string nearest = NearestWord(service, services);
      problem(line, "\"running-service = " + service + "\": the machine has no service " + service +
                        (nearest.empty() ? "" : ": did you mean " + nearest + "?"));
      continue;
    }
    host::Services().SetRunning(service);
  }
  // The roads create the server's service and the library the driver; a
  // script for any other service the machine lacks would never run.
  std::vector<std::string> known = services;
  known.insert(known.end(), {vrinroad::kServiceName, vrinroad::kDriverName});
  for (const Step& step : scenario.steps) {
    for (const ServiceScript& script : step.services) {
      bool exists = std::any_of(known.begin(), known.end(), [&](const std::string& name) {
        return host::FoldCase(name) == host::FoldCase(script.service);
      });
      if (exists) continue;
      std::string nearest = NearestWord(script.service, known);
      problem(script.line, "\"service " + script.service + " = ...\": " + script.service +
                               " is neither a service of the machine nor one the roads create (" +
                               vrinroad::kServiceName + ", " + vrinroad::kDriverName + ")" +
                               (nearest.empty() ? "" : ": did you mean " + nearest + "?"));
    }
  }
  for (const auto& [name, folder] : scenario.shares) {
    host::Shares::Instance().Seed(host::ShareRecord::Disk(name, folder));
  }
  for (const auto& [product, packageCode] : scenario.installedProducts) {
    host::InstalledProducts::Instance().Set(product, "PackageCode", packageCode);
  }
  return problems;
}

void ThrowErrors(std::vector<Problem> problems) {
  problems.erase(std::remove_if(problems.begin(), problems.end(), [](const Problem& p) { return p.warning; }),
                 problems.end());
  if (problems.empty()) return;
  std::stable_sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) {
    return std::tie(a.file, a.line) < std::tie(b.file, b.line);
  });
  throw ScenarioError(problems);
}

}  // namespace

void SeedMachine(const Scenario& scenario) { ThrowErrors(Seed(scenario)); }

void ScriptStep(const Step& step) {
  host::UserInterface::Instance().ClearAnswers();
  host::Services().ClearStartScripts();
  for (const MessageBoxAnswer& box : step.messageBoxAnswers) host::UserInterface::Instance().ScriptAnswer(box.answer);
  // A script holds for the service's starts on this road, also when the
  // road's InstallServices creates the service.
  for (const ServiceScript& service : step.services) host::Services().SetStartScript(service.service, service.script);
}

void ApplyEvents(const Step& step) {
  for (const MachineEvent& event : step.events) {
    if (event.kind == MachineEvent::Kind::kStopService) {
      if (!host::Services().Exists(event.target))
        throw std::runtime_error("the machine has no service " + event.target);
      host::Services().Stop(event.target);
    } else {
      if (!host::Files().Exists(event.target) || host::Files().IsDirectory(event.target)) {
        throw std::runtime_error("the machine has no file " + event.target);
      }
      host::Files().HoldOpen(event.target, GENERIC_READ, FILE_SHARE_READ);
    }
  }
}

vrinroad::PackageOptions RoadPackage(const Scenario& scenario) {
  if (fs::path(scenario.packageFile).extension() == ".wxs") {
    throw ScenarioError(scenario.packageFile, 0, "is built only when the scenario is played");
  }
  return PreparePackage(scenario, BuildFolder());
}

std::pair<vrinroad::PackageOptions, vrinroad::RoadOptions> RoadOf(const Step& step,
                                                                  const vrinroad::PackageOptions& package) {
  std::pair<vrinroad::PackageOptions, vrinroad::RoadOptions> road{package, step.road};
  if (step.products) {
    road.first.products = *step.products;
    road.second.properties["PRODUCTS"] = *step.products;
  }
  return road;
}

namespace {

std::vector<std::string> LogOf(const host::Session& session) {
  std::vector<std::string> lines;
  for (const host::LogEntry& entry : session.Log()) lines.push_back(entry.text);
  return lines;
}

int TraceLinesOf(const host::Session& session) {
  int lines = 0;
  for (const host::LogEntry& entry : session.Log()) lines += entry.type != INSTALLMESSAGE_ACTIONSTART;
  return lines;
}

std::vector<std::pair<std::string, std::string>> PropertiesLeftSet(const std::map<std::string, std::string>& start,
                                                                   const std::map<std::string, std::string>& end) {
  std::vector<std::pair<std::string, std::string>> changed;
  for (const auto& [name, value] : end) {
    auto old = start.find(name);
    if (old == start.end() || old->second != value) changed.emplace_back(name, value);
  }
  for (const auto& [name, value] : start) {
    if (!end.count(name)) changed.emplace_back(name, "(removed)");
  }
  return changed;
}

}  // namespace

void TellMasterSetup(const Step& step, const MasterSetupCalls& calls, StepResult& out) {
  out.outcome.push_back("CheckInstallInfo(" + (step.machine.empty() ? std::string("this machine") : step.machine) +
                        ") = " + calls.check);
  if (!calls.message.empty()) out.outcome.push_back("  message: " + calls.message);
  out.outcome.push_back("  installation folder: \"" + calls.folder + "\"" +
                        (calls.fixed.empty() || calls.fixed == "0" ? "" : " (fixed)"));
  for (const std::string& component : calls.components) out.outcome.push_back("  component found: " + component);
  if (!step.profile.empty()) {
    out.outcome.push_back("CreateConfigProfile(" + step.profile + ") = " + calls.create);
    for (const std::string& line : calls.profileLines) out.outcome.push_back("  | " + line);
  }
  out.outcome.push_back("GetPostConfigInfo() = " + calls.post);
  out.failed = calls.check == "0";
  if (out.failed) out.failure = "CheckInstallInfo returned 0: the master setup cannot continue";
}

std::string InstallStateName(INSTALLSTATE state) {
  switch (state) {
    case INSTALLSTATE_UNKNOWN:
      return "unknown";
    case INSTALLSTATE_ABSENT:
      return "absent";
    case INSTALLSTATE_LOCAL:
      return "local";
    case INSTALLSTATE_SOURCE:
      return "source";
    default:
      return std::to_string(state);
  }
}
std::string FailureOf(const std::vector<vrinroad::ActionCall>& calls, const std::vector<std::string>& log) {
  for (const vrinroad::ActionCall& call : calls) {
    if (call.result == ERROR_SUCCESS) continue;
    std::string text = call.name + " returned " + std::to_string(call.result);
    std::vector<std::string> reports;
    for (const std::string& line : log) {
      if (line.rfind("Action start", 0) == 0) {
        reports.clear();
      } else if (line.rfind("Action ended", 0) == 0 && line.find(": " + call.name + ".") != std::string::npos) {
        break;
      } else if (line.find("CONTEXT = ") != std::string::npos) {
        std::string joined;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part);) {
          while (!part.empty() && part.back() == '\r') part.pop_back();
          if (!part.empty()) joined += (joined.empty() ? "" : " / ") + part;
        }
        reports.push_back(joined);
      }
    }
    for (const std::string& report : reports) text += "\n    " + report;
    return text;
  }
  return "";
}

namespace {

void PlayRoad(const Step& step, const vrinroad::PackageOptions& packageOptions, StepResult& out) {
  const auto [package, options] = RoadOf(step, packageOptions);
  vrinroad::Road road(package, options);
  UINT result = road.Run();
  out.log = road.Log();
  out.calls = road.Calls();
  out.failed = result != ERROR_SUCCESS;
  out.traceLines = TraceLinesOf(road.Session());
  out.propertiesLeftSet = PropertiesLeftSet(road.StartProperties(), road.Session().Properties());
}

std::shared_ptr<host::Package> OpenPackage(const vrinroad::PackageOptions& package) {
  if (!package.packagePath.empty()) return host::Package::Open(package.packagePath);
  return host::Package::FromSql(package.sql.empty() ? vrinroad::PackageSql(package) : package.sql);
}

// Named actions in one session, as a user-interface or execute sequence
// calls them; the first that fails ends the installation.
void PlayActions(const Step& step, const vrinroad::PackageOptions& package, StepResult& out) {
  DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
  auto session = host::Session::Open(OpenPackage(package));
  vrinroad::SetSystemFolders(*session);
  session->SetProperty("UILevel", step.road.userInterface ? "5" : "2");
  session->SetProperty("ProductLanguage", step.road.productLanguage);
  if (step.road.installed) session->SetProperty("Installed", "1");
  if (step.products) session->SetProperty("PRODUCTS", *step.products);
  if (!step.road.startupMode.empty()) session->SetProperty("STARTUPMODE", step.road.startupMode);
  for (const auto& [name, value] : step.road.properties) session->SetProperty(name, value);
  for (const auto& [feature, states] : step.features) {
    if (!session->FeatureState(feature)) {
      throw std::runtime_error("the package has no feature \"" + feature + "\"");
    }
    session->SetFeatureState(feature, states.first, states.second);
  }
  session->PublishDirectoryProperties();
  const std::map<std::string, std::string> start = session->Properties();
  std::map<std::string, INSTALLSTATE> requested;
  for (const std::string& feature : session->Features()) requested[feature] = session->FeatureState(feature)->action;
  for (const std::string& name : step.actions) {
    UINT result = vrinroad::CallAction(*session, name, FindAction(name));
    out.calls.push_back({name, result});
    if (result != ERROR_SUCCESS) {
      out.failed = true;
      break;
    }
  }
  for (const auto& [feature, before] : requested) {
    INSTALLSTATE now = session->FeatureState(feature)->action;
    if (now != before)
      out.featureRequests.push_back(feature + ": " + InstallStateName(before) + " -> " + InstallStateName(now));
  }
  session->Close();
  out.log = LogOf(*session);
  out.traceLines = TraceLinesOf(*session);
  out.propertiesLeftSet = PropertiesLeftSet(start, session->Properties());
}

void PlayMasterSetup(const Step& step, StepResult& out) {
  ComponentInstallInfo info{};
  info.bWriteInstallDir = 1;
  char message[1024] = "";
  const char* machine = step.machine.empty() ? nullptr : step.machine.c_str();
  const char* profile = step.profile.empty() ? nullptr : step.profile.c_str();
  MasterSetupCalls calls;
  calls.check = std::to_string(CheckInstallInfo(machine, 0, 0, message, 0, &info, profile, 0, step.fullCheck ? 1 : 0));
  calls.message = message;
  calls.folder = info.szInstallDir;
  calls.fixed = std::to_string(info.bInstallDirFixed);
  for (const auto& component : info.szComponents) {
    if (component[0] != '\0') calls.components.push_back(component);
  }
  if (profile != nullptr) {
    calls.create =
        std::to_string(CreateConfigProfile(machine, 0, 0, message, 0, &info, profile, 0, step.fullCheck ? 1 : 0));
    std::istringstream content(host::Files().FileContent(step.profile).value_or(""));
    for (std::string line; std::getline(content, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      calls.profileLines.push_back(line);
    }
  }
  calls.post = std::to_string(GetPostConfigInfo());
  TellMasterSetup(step, calls, out);
}

StepResult PlayStep(const Step& step, const vrinroad::PackageOptions& package, CaptureStdout& output) {
  StepResult out;
  out.title = step.title;
  out.kind = step.kind;
  ScriptStep(step);
  const size_t boxesBefore = host::UserInterface::Instance().Boxes().size();
  const int queriesBefore = host::ErrorTableQueries();
  const int reportsBefore = host::ErrorRowQueries(1);
  const int warningsBefore = host::ErrorRowQueries(2);
  const uint64_t sleptBefore = host::VirtualClock().TotalSlept();
  switch (step.kind) {
    case StepKind::kInstall:
    case StepKind::kRemove:
    case StepKind::kRepair:
      PlayRoad(step, package, out);
      break;
    case StepKind::kActions:
      PlayActions(step, package, out);
      break;
    case StepKind::kMasterSetup:
      output.Take();
      PlayMasterSetup(step, out);
      out.log = output.Take();
      break;
    case StepKind::kRestart:
      host::RestartMachine();
      break;
    case StepKind::kEvent:
      ApplyEvents(step);
      break;
  }
  out.errorTableQueries = host::ErrorTableQueries() - queriesBefore;
  out.failureReports = host::ErrorRowQueries(1) - reportsBefore;
  out.warnings = host::ErrorRowQueries(2) - warningsBefore;
  out.blockedMilliseconds = host::VirtualClock().TotalSlept() - sleptBefore;
  const auto& boxes = host::UserInterface::Instance().Boxes();
  for (size_t i = boxesBefore; i < boxes.size(); ++i) out.messageBoxes.push_back(boxes[i].text);
  if (out.failed && out.failure.empty()) out.failure = FailureOf(out.calls, out.log);
  return out;
}

// What a step that went through showed to be pointless in the scenario.
void AddStepWarnings(const Scenario& scenario, const Step& step, const std::map<std::string, int>& startsBefore,
                     std::vector<Problem>& warnings) {
  for (const ServiceScript& script : step.services) {
    if (host::Services().StartRequests(script.service) != startsBefore.at(script.service)) continue;
    warnings.push_back(Problem{
        scenario.file, script.line,
        "nothing started " + script.service + " on road \"" + step.title + "\", so its script was not used", true});
  }
  const size_t unused = host::UserInterface::Instance().PendingAnswers();
  const size_t given = step.messageBoxAnswers.size();
  for (size_t i = given - std::min(unused, given); i < given; ++i) {
    warnings.push_back(Problem{scenario.file, step.messageBoxAnswers[i].line,
                               "no message box asked for this answer on road \"" + step.title + "\"", true});
  }
}

// The simulated Windows Installer of host/: one machine per process, reset
// by Seed. The library's standard output is captured from Seed on, for as
// long as the engine lives.
class SimulatedInstaller : public Engine {
 public:
  std::string Name() const override { return "simulated"; }

  void Seed(const Scenario& scenario) override {
    if (!output_) output_.emplace();
    std::vector<Problem> problems = scenario.problems;
    try {
      host::ResetMachine();
      if (scenario.standardMachine) vrinroad::PrepareMachine();
      std::vector<Problem> seeded = vrinsim::Seed(scenario);
      problems.insert(problems.end(), seeded.begin(), seeded.end());
      package_ = PreparePackage(scenario, build_);
    } catch (const ScenarioError& error) {
      problems.insert(problems.end(), error.Problems().begin(), error.Problems().end());
    } catch (const std::exception& error) {
      // The simulated machine refused what the scenario puts on it.
      problems.push_back(Problem{scenario.file, 0, std::string("the machine: ") + error.what(), false});
    }
    ThrowErrors(problems);
  }

  StepResult PlayStep(const Scenario& scenario, size_t index, std::vector<Problem>& warnings) override {
    const Step& step = scenario.steps.at(index);
    std::map<std::string, int> startsBefore;
    for (const ServiceScript& script : step.services) {
      startsBefore[script.service] = host::Services().StartRequests(script.service);
    }
    StepResult result = vrinsim::PlayStep(step, package_, *output_);
    if (!result.failed) AddStepWarnings(scenario, step, startsBefore, warnings);
    return result;
  }

  MachineState ReadMachine() override { return CaptureMachine(); }

 private:
  BuildFolder build_;
  std::optional<CaptureStdout> output_;
  vrinroad::PackageOptions package_;
};

}  // namespace

std::unique_ptr<Engine> SimulatedEngine() { return std::make_unique<SimulatedInstaller>(); }

PlayResult Play(Engine& engine, const Scenario& scenario, size_t steps, const StepObserver& observer) {
  PlayResult result;
  result.engine = engine.Name();
  const Clock::time_point start = Clock::now();
  engine.Seed(scenario);
  if (observer && !observer(0, nullptr)) steps = 0;
  MachineState before;
  if (steps > 0 && !scenario.steps.empty()) before = engine.ReadMachine();
  for (size_t i = 0; i < scenario.steps.size() && i < steps; ++i) {
    const Step& step = scenario.steps[i];
    const Clock::time_point stepStart = Clock::now();
    StepResult played;
    try {
      played = engine.PlayStep(scenario, i, result.warnings);
    } catch (const ScenarioError&) {
      throw;
    } catch (const std::exception& error) {
      // The engine refused the package or the step's setup.
      throw StepError(scenario.file, step.line, "step \"" + step.title + "\": " + error.what());
    }
    played.wallMilliseconds = MillisecondsSince(stepStart);
    MachineState after = engine.ReadMachine();
    played.machineChanges = ChangesBetween(before, after);
    played.changes = DescribeChanges(played.machineChanges);
    before = std::move(after);
    result.steps.push_back(std::move(played));
    const bool goOn = !observer || observer(i + 1, &result.steps.back());
    if (result.steps.back().failed) {
      result.failed = true;
      break;
    }
    if (!goOn) break;
  }
  result.wallMilliseconds = MillisecondsSince(start);
  return result;
}

PlayResult Play(const Scenario& scenario, size_t steps, const StepObserver& observer) {
  std::unique_ptr<Engine> engine = SimulatedEngine();
  return Play(*engine, scenario, steps, observer);
}

}  // namespace vrinsim
