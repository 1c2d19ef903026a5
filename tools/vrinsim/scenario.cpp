#include "tools/vrinsim/scenario.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tools/vrinsim/action_table.h"

namespace vrinsim {

namespace {

namespace fs = std::filesystem;

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// Reads one scenario.txt, line by line.
class Parser {
 public:
  Parser(const std::string& folder, Scenario& scenario)
      : folder_(folder), file_((fs::path(folder) / "scenario.txt").string()), scenario_(scenario) {}

  void Parse() {
    std::ifstream in(file_);
    if (!in) throw ScenarioError(file_, 0, "cannot be read");
    std::string raw;
    while (std::getline(in, raw)) {
      ++line_;
      std::string text = Trim(raw);
      if (text.empty() || text[0] == '#') continue;
      if (text[0] == '[') {
        StartStep(text);
        continue;
      }
      size_t equals = text.find('=');
      if (equals == std::string::npos) Fail("expected \"key = value\", \"[step Title]\" or a comment");
      std::string left = Trim(text.substr(0, equals));
      value_ = Trim(text.substr(equals + 1));
      size_t blank = left.find_first_of(" \t");
      key_ = left.substr(0, blank);
      argument_ = blank == std::string::npos ? "" : Trim(left.substr(blank));
      if (inStep_) {
        StepKey(scenario_.steps.back());
      } else {
        MachineKey();
      }
    }
    if (scenario_.title.empty()) Fail("no \"title = ...\"", 0);
    if (scenario_.steps.empty()) Fail("no \"[step ...]\"", 0);
  }

 private:
  [[noreturn]] void Fail(const std::string& message, int line = -1) const {
    throw ScenarioError(file_, line < 0 ? line_ : line, message);
  }

  void NoArgument() const {
    if (!argument_.empty()) Fail("\"" + key_ + "\" takes no name before \"=\"");
  }
  void NeedArgument(const char* what) const {
    if (argument_.empty()) Fail("\"" + key_ + "\" needs " + what + " before \"=\"");
  }
  void NeedValue() const {
    if (value_.empty()) Fail("\"" + key_ + "\" needs a value");
  }

  // A file of the scenario's folder that must exist.
  std::string ExistingFile(const std::string& relative) const {
    if (relative.empty()) Fail("\"" + key_ + "\" needs a file name");
    fs::path path = fs::path(folder_) / relative;
    if (!fs::exists(path)) Fail("\"" + relative + "\" does not exist in " + folder_);
    return path.string();
  }

  bool YesNo() const {
    if (value_ == "yes") return true;
    if (value_ == "no") return false;
    Fail("\"" + key_ + "\" is \"yes\" or \"no\", not \"" + value_ + "\"");
  }

  unsigned long Number(const std::string& text, unsigned long max = 0xFFFFFFFFul) const {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) Fail("\"" + text + "\" is not a number");
    size_t used = 0;
    unsigned long value = 0;
    try {
      value = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
      Fail("\"" + text + "\" is not a number");
    }
    if (used != text.size() || value > max) Fail("\"" + text + "\" is not a number up to " + std::to_string(max));
    return value;
  }

  vrintest::FileVersion Version(const std::string& text) const {
    unsigned long parts[4] = {0, 0, 0, 0};
    std::istringstream stream(text);
    std::string part;
    int count = 0;
    while (std::getline(stream, part, '.')) {
      if (count == 4) Fail("\"" + text + "\" is not a version a.b.c.d");
      parts[count++] = Number(part, 0xFFFF);
    }
    if (count != 4) Fail("\"" + text + "\" is not a version a.b.c.d");
    return {static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]), static_cast<uint16_t>(parts[2]),
            static_cast<uint16_t>(parts[3])};
  }

  void StartStep(const std::string& text) {
    if (text.back() != ']' || text.rfind("[step", 0) != 0) Fail("a section is \"[step Title]\"");
    Step step;
    step.title = Trim(text.substr(5, text.size() - 6));
    if (step.title.empty()) Fail("a step needs a title: \"[step Title]\"");
    step.line = line_;
    scenario_.steps.push_back(step);
    inStep_ = true;
  }

  void MachineKey() {
    Scenario& s = scenario_;
    if (key_ == "title") {
      NoArgument();
      NeedValue();
      s.title = value_;
    } else if (key_ == "machine") {
      NoArgument();
      s.machineRegFiles.push_back(ExistingFile(value_));
    } else if (key_ == "remote-machine") {
      NeedArgument("the machine's name");
      s.remoteMachines[argument_] = ExistingFile(value_);
    } else if (key_ == "computer-name") {
      NoArgument();
      NeedValue();
      s.computerName = value_;
    } else if (key_ == "drives") {
      NoArgument();
      s.drivesFolder = ExistingFile(value_);
      if (!fs::is_directory(s.drivesFolder)) Fail("\"" + value_ + "\" is not a folder");
    } else if (key_ == "file") {
      NeedArgument("the file's Windows path");
      s.files.push_back(File());
    } else if (key_ == "running-service") {
      NoArgument();
      NeedValue();
      s.runningServices.push_back(value_);
    } else if (key_ == "share") {
      NeedArgument("the share's name");
      NeedValue();
      s.shares.emplace_back(argument_, value_);
    } else if (key_ == "installed-product") {
      NeedArgument("the product code");
      NeedValue();
      s.installedProducts.emplace_back(argument_, value_);
    } else if (key_ == "standard-machine") {
      NoArgument();
      s.standardMachine = YesNo();
    } else if (key_ == "package") {
      NoArgument();
      if (value_ != "built-in") {
        s.packageFile = ExistingFile(value_);
        std::string extension = fs::path(value_).extension().string();
        bool tables = fs::is_directory(s.packageFile);
        if (!tables && extension != ".wxs" && extension != ".msi") {
          Fail("a package is \"built-in\", a .wxs or .msi file, or a folder of .idt tables");
        }
      }
    } else if (key_ == "products") {
      NoArgument();
      NeedValue();
      s.package.products = value_;
    } else if (key_ == "console") {
      NoArgument();
      s.package.withConsole = YesNo();
    } else if (key_ == "server-version") {
      NoArgument();
      s.package.serverVersion = Version(value_);
    } else if (key_ == "console-version") {
      NoArgument();
      s.package.consoleVersion = Version(value_);
    } else if (key_ == "install-dir") {
      NoArgument();
      s.package.installDir = value_;
    } else if (key_ == "subtype") {
      NoArgument();
      s.package.productSubType = value_;
    } else if (key_ == "release-flags") {
      NoArgument();
      s.package.releaseFlags = value_;
    } else if (key_ == "package-action") {
      NeedArgument(
          "the point (after-launch-conditions, after-install-initialize, before-install-execute, "
          "before-install-finalize or after-install-finalize)");
      if (!FindAction(value_)) Fail("unknown action \"" + value_ + "\"");
      s.packageActions.emplace_back(PointOf(argument_), value_);
    } else {
      Fail("unknown key \"" + key_ + "\" before the first step");
    }
  }

  vrinroad::Point PointOf(const std::string& text) const {
    static const std::pair<const char*, vrinroad::Point> kPoints[] = {
        {"after-launch-conditions", vrinroad::Point::kAfterLaunchConditions},
        {"after-install-initialize", vrinroad::Point::kAfterInstallInitialize},
        {"before-install-execute", vrinroad::Point::kBeforeInstallExecute},
        {"before-install-finalize", vrinroad::Point::kBeforeInstallFinalize},
        {"after-install-finalize", vrinroad::Point::kAfterInstallFinalize}};
    for (const auto& [name, point] : kPoints) {
      if (text == name) return point;
    }
    Fail("unknown point \"" + text + "\"");
  }

  MachineFile File() const {
    MachineFile file;
    file.path = argument_;
    file.line = line_;
    size_t blank = value_.find(' ');
    std::string kind = value_.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : Trim(value_.substr(blank));
    if (kind == "version") {
      file.kind = MachineFile::Kind::kVersioned;
      file.version = Version(rest);
    } else if (kind == "unversioned" && rest.empty()) {
      file.kind = MachineFile::Kind::kUnversioned;
    } else if (kind == "text") {
      file.kind = MachineFile::Kind::kText;
      file.content = rest;
    } else if (kind == "copy") {
      file.kind = MachineFile::Kind::kCopy;
      file.content = ExistingFile(rest);
    } else {
      Fail("a file is \"version a.b.c.d\", \"unversioned\", \"text ...\" or \"copy FILE\"");
    }
    return file;
  }

  vrinroad::FeatureRequest Request() const {
    if (value_ == "install") return vrinroad::FeatureRequest::kInstall;
    if (value_ == "remove") return vrinroad::FeatureRequest::kRemove;
    if (value_ == "leave") return vrinroad::FeatureRequest::kLeave;
    Fail("\"" + key_ + "\" is \"install\", \"remove\" or \"leave\"");
  }

  INSTALLSTATE State(const std::string& text) const {
    if (text == "absent") return INSTALLSTATE_ABSENT;
    if (text == "local") return INSTALLSTATE_LOCAL;
    if (text == "source") return INSTALLSTATE_SOURCE;
    if (text == "unknown") return INSTALLSTATE_UNKNOWN;
    Fail("a feature state is \"absent\", \"local\", \"source\" or \"unknown\", not \"" + text + "\"");
  }

  host::StartScript Script() const {
    std::vector<std::string> words = Words(value_);
    auto arguments = [&](size_t count) {
      if (words.size() != count + 1) Fail("\"" + words[0] + "\" takes " + std::to_string(count) + " numbers");
    };
    if (words.empty()) NeedValue();
    const std::string& what = words[0];
    if (what == "immediate") {
      arguments(0);
      return host::StartScript::Immediate();
    }
    if (what == "running-after") {
      arguments(2);
      return host::StartScript::RunningAfter(static_cast<int>(Number(words[1], 1000)), Number(words[2]));
    }
    if (what == "stalled") {
      arguments(2);
      return host::StartScript::Stalled(Number(words[1]), Number(words[2]));
    }
    if (what == "progressing") {
      arguments(1);
      return host::StartScript::Progressing(Number(words[1]));
    }
    if (what == "refused") {
      arguments(1);
      return host::StartScript::Refused(Number(words[1]));
    }
    if (what == "stopped-after") {
      arguments(3);
      return host::StartScript::StoppedAfter(static_cast<int>(Number(words[1], 1000)), Number(words[2]),
                                             Number(words[3]));
    }
    Fail(
        "a service script is immediate, running-after N HINT, stalled CHECKPOINT HINT, progressing HINT, "
        "refused ERROR or stopped-after N EXITCODE HINT");
  }

  void StepKey(Step& step) {
    if (key_ == "road") {
      NoArgument();
      static const std::pair<const char*, StepKind> kKinds[] = {{"install", StepKind::kInstall},
                                                                {"remove", StepKind::kRemove},
                                                                {"repair", StepKind::kRepair},
                                                                {"actions", StepKind::kActions},
                                                                {"master-setup", StepKind::kMasterSetup},
                                                                {"restart", StepKind::kRestart}};
      bool known = false;
      for (const auto& [name, kind] : kKinds) {
        if (value_ == name) {
          step.kind = kind;
          known = true;
        }
      }
      if (!known) Fail("a road is install, remove, repair, actions, master-setup or restart");
      bool userInterface = step.road.userInterface;
      if (step.kind == StepKind::kRemove) step.road = vrinroad::RoadOptions::Removal();
      if (step.kind == StepKind::kRepair) step.road = vrinroad::RoadOptions::Repair();
      step.road.userInterface = userInterface;
    } else if (key_ == "products") {
      NoArgument();
      NeedValue();
      step.products = value_;
    } else if (key_ == "ui") {
      NoArgument();
      if (value_ != "full" && value_ != "basic") Fail("\"ui\" is \"full\" (UILevel 5) or \"basic\" (UILevel 2)");
      step.road.userInterface = value_ == "full";
    } else if (key_ == "language") {
      NoArgument();
      Number(value_, 0xFFFF);
      step.road.productLanguage = value_;
    } else if (key_ == "startup-mode") {
      NoArgument();
      step.road.startupMode = value_;
    } else if (key_ == "server") {
      NoArgument();
      step.road.server = Request();
    } else if (key_ == "console") {
      NoArgument();
      step.road.console = Request();
    } else if (key_ == "installed") {
      NoArgument();
      step.road.installed = YesNo();
    } else if (key_ == "property") {
      NeedArgument("the property's name");
      step.road.properties[argument_] = value_;
    } else if (key_ == "feature") {
      NeedArgument("the feature's name");
      std::vector<std::string> words = Words(value_);
      if (words.size() != 2) Fail("a feature is \"feature NAME = INSTALLED REQUESTED\", e.g. \"absent local\"");
      step.features[argument_] = {State(words[0]), State(words[1])};
    } else if (key_ == "actions") {
      NoArgument();
      std::istringstream stream(value_);
      for (std::string name; std::getline(stream, name, ',');) {
        name = Trim(name);
        if (!FindAction(name)) Fail("unknown action \"" + name + "\"");
        step.actions.push_back(name);
      }
      if (step.actions.empty()) NeedValue();
    } else if (key_ == "message-box") {
      NoArgument();
      step.messageBoxAnswers.push_back(static_cast<int>(Number(value_, 7)));
    } else if (key_ == "service") {
      NeedArgument("the service's name");
      step.services.push_back({argument_, Script()});
    } else if (key_ == "machine") {
      NoArgument();
      step.machine = value_;
    } else if (key_ == "profile") {
      NoArgument();
      NeedValue();
      step.profile = value_;
    } else if (key_ == "full-check") {
      NoArgument();
      step.fullCheck = YesNo();
    } else {
      Fail("unknown key \"" + key_ + "\" in a step");
    }
  }

  std::string folder_;
  std::string file_;
  Scenario& scenario_;
  bool inStep_ = false;
  int line_ = 0;
  std::string key_, argument_, value_;
};

}  // namespace

Scenario LoadScenario(const std::string& folder) {
  Scenario scenario;
  if (!fs::is_directory(folder)) throw ScenarioError(folder, 0, "is not a scenario folder");
  scenario.folder = folder;
  scenario.name = fs::path(folder).filename().string();
  if (scenario.name.empty()) scenario.name = fs::path(folder).parent_path().filename().string();
  Parser(folder, scenario).Parse();
  return scenario;
}

}  // namespace vrinsim

namespace vrinsim {

const char* ScenarioFormatHelp() {
  return R"(A scenario is a folder holding scenario.txt and the files it names.
scenario.txt has "key = value" lines, "# comments", and "[step Title]"
headers; a key may take a name before "=" ("property REBOOT = ...").

Before the first step: the machine and the package
  title = TEXT                   what the scenario shows (required)
  machine = FILE.reg             registry (and services) in regedit's format; repeatable
  remote-machine NAME = FILE.reg another machine's registry, for the master setup
  computer-name = NAME           this machine's name
  drives = FOLDER                a folder per drive letter (C, D, ...) copied onto the machine
  file PATH = version A.B.C.D    a PE file with that version resource
  file PATH = unversioned        a PE file without one
  file PATH = text TEXT          a text file
  file PATH = copy FILE          a copy of a file of the scenario
  running-service = NAME         a service of the machine that is running
  share NAME = FOLDER            a disk share of the machine's server
  installed-product CODE = PACKAGECODE   a product Windows Installer knows
  standard-machine = yes|no      the C runtime, drivers and program folders every
                                 road needs (default yes)
  package = built-in|FILE.wxs|FILE.msi|FOLDER
                                 the consuming package: built in from the keys below,
                                 WiX source built with wixl, a ready package, or a
                                 folder of .idt tables (text archive files); wixl
                                 writes no file versions, so a WiX package's road
                                 stops where the server module reads Skdnt.exe's
                                 version
  products, console = yes|no, server-version, console-version, install-dir,
  subtype, release-flags         the built-in package's PRODUCTS, console module,
                                 file versions, INSTALLDIR, PRODUCTSUBTYPE, ISReleaseFlags
  package-action POINT = ACTION  a package's own action after the modules' at POINT:
                                 after-launch-conditions, after-install-initialize,
                                 before-install-execute, before-install-finalize,
                                 after-install-finalize

In a step: one road on the same machine
  road = install|remove|repair   the merge modules' orchestrators at their five points,
                                 with the installer's own file, shared-count, registry
                                 and service work in between
  road = actions                 the actions named by "actions = A, B, C" in one session
  road = master-setup            CheckInstallInfo, CreateConfigProfile, GetPostConfigInfo
  road = restart                 the machine restarts (deletions at restart happen)
  products = N                   PRODUCTS for this step
  ui = full|basic                UILevel 5 or 2
  language = LANGID              ProductLanguage (default 1033)
  startup-mode = TEXT            STARTUPMODE
  server, console = install|remove|leave   what the road asks of each module's feature
  installed = yes|no             Installed is set (a maintenance run)
  property NAME = VALUE          any other property
  feature NAME = INSTALLED REQUESTED       for "actions": absent, local, source or unknown
  message-box = N                the answer to the next message box (1 = OK, 2 = Cancel, ...)
  service NAME = SCRIPT          how the service starts: immediate, running-after N HINT,
                                 stalled CHECKPOINT HINT, progressing HINT,
                                 refused ERROR, stopped-after N EXITCODE HINT
  machine = NAME                 for "master-setup": the machine examined (default: this one)
  profile = PATH                 for "master-setup": the configuration profile written
  full-check = yes|no            for "master-setup": the full check (default yes)
)";
}

}  // namespace vrinsim
