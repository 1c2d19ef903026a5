#include "tools/vrinsim/scenario.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/code_page.h"
#include "tools/vrinsim/action_table.h"

namespace vrinsim {

std::string Problem::Text() const {
  return file + (line > 0 ? ":" + std::to_string(line) : std::string()) + (warning ? ": warning: " : ": ") + message;
}

namespace {

std::string JoinedTexts(const std::vector<Problem>& problems) {
  std::string text;
  for (const Problem& problem : problems) text += (text.empty() ? "" : "\n") + problem.Text();
  return text;
}

}  // namespace

ScenarioError::ScenarioError(std::vector<Problem> problems)
    : std::runtime_error(JoinedTexts(problems)), problems_(std::move(problems)) {}

ScenarioError::ScenarioError(const std::string& file, int line, const std::string& message)
    : ScenarioError(std::vector<Problem>{Problem{file, line, message, false}}) {}

namespace {

namespace fs = std::filesystem;

struct RoadWord {
  const char* name;
  StepKind kind;
};

const RoadWord kRoadWords[] = {{"install", StepKind::kInstall},
                               {"remove", StepKind::kRemove},
                               {"repair", StepKind::kRepair},
                               {"actions", StepKind::kActions},
                               {"master-setup", StepKind::kMasterSetup},
                               {"restart", StepKind::kRestart},
                               {"event", StepKind::kEvent}};

// The roads a step key is for, one bit per StepKind.
constexpr unsigned Bit(StepKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr unsigned kInstallerRoads = Bit(StepKind::kInstall) | Bit(StepKind::kRemove) | Bit(StepKind::kRepair);
constexpr unsigned kSessionRoads = kInstallerRoads | Bit(StepKind::kActions);

// "a, b or c".
std::string Alternatives(const std::vector<std::string>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  }
  return text;
}

std::string RoadsOf(unsigned roads) {
  std::vector<std::string> names;
  for (const RoadWord& road : kRoadWords) {
    if (roads & Bit(road.kind)) names.push_back(road.name);
  }
  return Alternatives(names);
}

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

// The text of scenario.txt: a UTF-8 byte-order mark dropped, UTF-16 (as
// Notepad saves "Unicode") converted.
std::string DecodeScenarioText(const std::string& raw) {
  if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::u16string wide;
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      wide.push_back(
          static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8)));
    }
    return host::Utf16ToUtf8(wide);
  }
  return raw;
}

// A mistake on the line being read: the reader notes it and goes on with
// the next line.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line of a step, read once the step's road is known.
struct StepLine {
  int line;
  std::string key, argument, value;
};

// Reads one scenario.txt, line by line.
class Parser {
 public:
  explicit Parser(Scenario& scenario) : scenario_(scenario) {}

  void Parse() {
    std::ifstream in(scenario_.file, std::ios::binary);
    if (!in) throw ScenarioError(scenario_.file, 0, "cannot be read");
    std::ostringstream raw;
    raw << in.rdbuf();
    std::istringstream text(DecodeScenarioText(raw.str()));
    for (std::string line; std::getline(text, line);) {
      ++line_;
      try {
        Read(Trim(line));
      } catch (const LineError& error) {
        Error(line_, error.what());
      }
    }
    if (inStep_) FinishStep();
    if (scenario_.title.empty()) Error(0, "no \"title = ...\"");
    if (scenario_.steps.empty()) Error(0, "no \"[step ...]\"");
  }

 private:
  using StepReader = void (Parser::*)(Step&);
  struct StepKey {
    const char* key;
    unsigned roads;  // the roads it is for
    StepReader read;
  };
  using MachineReader = void (Parser::*)();
  struct MachineKey {
    const char* key;
    MachineReader read;
  };
  static const std::vector<StepKey>& StepKeys();
  static const std::vector<MachineKey>& MachineKeys();

  void Error(int line, const std::string& message) {
    scenario_.problems.push_back(Problem{scenario_.file, line, message, false});
  }
  [[noreturn]] void Fail(const std::string& message) const { throw LineError(message); }

  void Read(const std::string& text) {
    if (text.empty() || text[0] == '#') return;
    if (text[0] == '[') {
      StartStep(text);
      return;
    }
    size_t equals = text.find('=');
    if (equals == std::string::npos) Fail("expected \"key = value\", \"[step Title]\" or a comment");
    std::string left = Trim(text.substr(0, equals));
    size_t blank = left.find_first_of(" \t");
    key_ = left.substr(0, blank);
    argument_ = blank == std::string::npos ? "" : Trim(left.substr(blank));
    value_ = Trim(text.substr(equals + 1));
    if (inStep_) {
      stepLines_.push_back(StepLine{line_, key_, argument_, value_});
      return;
    }
    for (const MachineKey& entry : MachineKeys()) {
      if (key_ == entry.key) return (this->*entry.read)();
    }
    bool stepKey =
        std::any_of(StepKeys().begin(), StepKeys().end(), [&](const StepKey& entry) { return key_ == entry.key; });
    if (stepKey) Fail("\"" + key_ + "\" belongs in a step: start one with \"[step Title]\" first");
    std::vector<std::string> keys;
    for (const MachineKey& entry : MachineKeys()) keys.push_back(entry.key);
    Fail("unknown key \"" + key_ + "\" before the first step" + Suggestion(key_, keys));
  }

  static std::string Suggestion(const std::string& word, const std::vector<std::string>& candidates) {
    std::string nearest = NearestWord(word, candidates);
    return nearest.empty() ? "" : ": did you mean " + nearest + "?";
  }

  // The line's value (or the given part of it) is not one of the words it may be.
  [[noreturn]] void BadChoice(const std::vector<std::string>& words, const std::string& what) const {
    BadChoice(value_, words, what);
  }
  [[noreturn]] void BadChoice(const std::string& given, const std::vector<std::string>& words,
                              const std::string& what) const {
    std::string nearest = NearestWord(given, words);
    std::string choices = what + " is " + Alternatives(words);
    Fail("\"" + Quoted() + "\": " + (nearest.empty() ? choices : "did you mean " + nearest + "? (" + choices + ")"));
  }

  // The line as written: "key argument = value".
  std::string Quoted() const { return key_ + (argument_.empty() ? "" : " " + argument_) + " = " + value_; }

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
    fs::path path = fs::path(scenario_.folder) / relative;
    if (!fs::exists(path)) Fail("\"" + relative + "\" does not exist in " + scenario_.folder);
    return path.string();
  }

  bool YesNo() const {
    if (value_ == "yes") return true;
    if (value_ == "no") return false;
    BadChoice({"yes", "no"}, key_);
  }

  unsigned long Number(const std::string& text, unsigned long min = 0, unsigned long max = 0xFFFFFFFFul) const {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) Fail("\"" + text + "\" is not a number");
    size_t used = 0;
    unsigned long value = 0;
    try {
      value = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
      Fail("\"" + text + "\" is not a number up to " + std::to_string(max));
    }
    if (used != text.size()) Fail("\"" + text + "\" is not a number");
    if (value < min || value > max) {
      Fail("\"" + text + "\" is not a number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return value;
  }

  vrintest::FileVersion Version(const std::string& text) const {
    unsigned long parts[4] = {0, 0, 0, 0};
    std::istringstream stream(text);
    std::string part;
    int count = 0;
    while (std::getline(stream, part, '.')) {
      if (count == 4) Fail("\"" + text + "\" is not a version a.b.c.d");
      parts[count++] = Number(part, 0, 0xFFFF);
    }
    if (count != 4) Fail("\"" + text + "\" is not a version a.b.c.d");
    return {static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]), static_cast<uint16_t>(parts[2]),
            static_cast<uint16_t>(parts[3])};
  }

  // PRODUCTS as the products mask knows it: other texts go through "property".
  std::string ProductNumber() const {
    if (value_.empty() || value_.find_first_not_of("0123456789") != std::string::npos || value_.size() > 2 ||
        std::stoi(value_) < 1 || std::stoi(value_) > 32) {
      Fail("\"" + Quoted() + "\": a product number is 1 to 32 (any other text: \"property PRODUCTS = ...\")");
    }
    return value_;
  }

  std::string Action(const std::string& name) const {
    if (FindAction(name)) return name;
    Fail("unknown action \"" + name + "\"" + Suggestion(name, ActionNames()) + " (vrinsim actions lists them)");
  }

  // A mistaken header still starts a step, so that the lines under it are
  // read as a step's.
  void StartStep(const std::string& text) {
    if (inStep_) FinishStep();
    bool header = text.size() > 6 && text.back() == ']' && text.compare(0, 5, "[step") == 0 &&
                  (text[5] == ' ' || text[5] == '\t');
    Step step;
    step.title = header ? Trim(text.substr(5, text.size() - 6)) : text;
    step.line = line_;
    scenario_.steps.push_back(step);
    inStep_ = true;
    if (text == "[step]" || (header && step.title.empty())) Fail("a step needs a title: \"[step Title]\"");
    if (!header) Fail("\"" + text + "\" is not a step header: write \"[step Title]\"");
  }

  // The step's road first, then its other keys, each checked against the road.
  void FinishStep() {
    const int current = line_;
    inStep_ = false;
    Step& step = scenario_.steps.back();
    const StepLine* road = nullptr;
    for (const StepLine& line : stepLines_) {
      if (line.key != "road") continue;
      if (road != nullptr) {
        Error(line.line, "a second \"road =\" line in step \"" + step.title + "\" (the first is line " +
                             std::to_string(road->line) + ")");
      } else {
        road = &line;
      }
    }
    bool known = false;
    if (road == nullptr) {
      Error(step.line, "step \"" + step.title + "\" has no \"road = ...\" line");
    } else {
      known = Apply(*road, step);
    }
    for (const StepLine& line : stepLines_) {
      if (&line != road && line.key != "road") Apply(line, step, known);
    }
    stepLines_.clear();
    line_ = current;
    if (!known) return;
    if (step.kind == StepKind::kActions && step.actions.empty()) {
      Error(road->line, "road = actions needs \"actions = A, B, ...\": the actions it calls in one session");
    }
    if (step.kind == StepKind::kEvent && step.events.empty()) {
      Error(road->line,
            "road = event needs \"stop-service = NAME\" or \"hold-file = PATH\": what happens to the machine");
    }
    if (step.kind == StepKind::kMasterSetup && !step.machine.empty() && !scenario_.remoteMachines.count(step.machine)) {
      std::vector<std::string> names;
      for (const auto& entry : scenario_.remoteMachines) names.push_back(entry.first);
      Error(machineLine_, "\"machine = " + step.machine + "\": no \"remote-machine " + step.machine +
                              " = FILE.reg\" is declared" + Suggestion(step.machine, names));
    }
  }

  // Reads one line of a step; false when it is a mistake.
  bool Apply(const StepLine& line, Step& step, bool roadKnown = true) {
    line_ = line.line;
    key_ = line.key;
    argument_ = line.argument;
    value_ = line.value;
    try {
      for (const StepKey& entry : StepKeys()) {
        if (key_ != entry.key) continue;
        (this->*entry.read)(step);
        if (roadKnown && !(entry.roads & Bit(step.kind))) {
          Fail("\"" + key_ + " =\" is for road = " + RoadsOf(entry.roads) + ", not road = " + RoadName(step.kind));
        }
        return true;
      }
      bool machineKey = std::any_of(MachineKeys().begin(), MachineKeys().end(),
                                    [&](const MachineKey& entry) { return key_ == entry.key; });
      if (machineKey) Fail("\"" + key_ + "\" belongs before the first step");
      std::vector<std::string> keys;
      for (const StepKey& entry : StepKeys()) keys.push_back(entry.key);
      Fail("unknown key \"" + key_ + "\" in a step" + Suggestion(key_, keys));
    } catch (const LineError& error) {
      Error(line_, error.what());
      return false;
    }
  }

  // --- Keys before the first step ---

  void Title() {
    NoArgument();
    NeedValue();
    scenario_.title = value_;
  }
  void MachineReg() {
    NoArgument();
    scenario_.machineRegFiles.push_back(ExistingFile(value_));
  }
  void RemoteMachine() {
    NeedArgument("the machine's name");
    scenario_.remoteMachines[argument_] = ExistingFile(value_);
  }
  void ComputerName() {
    NoArgument();
    NeedValue();
    scenario_.computerName = value_;
  }
  void Drives() {
    NoArgument();
    std::string folder = ExistingFile(value_);
    if (!fs::is_directory(folder)) Fail("\"" + value_ + "\" is not a folder");
    scenario_.drivesFolder = folder;
  }
  void MachineFileKey() {
    NeedArgument("the file's Windows path");
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
      Fail("\"" + Quoted() + "\": a file is \"version A.B.C.D\", \"unversioned\", \"text ...\" or \"copy FILE\"");
    }
    scenario_.files.push_back(file);
  }
  void RunningService() {
    NoArgument();
    NeedValue();
    scenario_.runningServices.emplace_back(value_, line_);
  }
  void Share() {
    NeedArgument("the share's name");
    NeedValue();
    scenario_.shares.emplace_back(argument_, value_);
  }
  void InstalledProduct() {
    NeedArgument("the product code");
    NeedValue();
    scenario_.installedProducts.emplace_back(argument_, value_);
  }
  void StandardMachine() {
    NoArgument();
    scenario_.standardMachine = YesNo();
  }
  void Package() {
    NoArgument();
    if (value_ == "built-in") return;
    std::string extension = fs::path(value_).extension().string();
    if (extension != ".wxs" && extension != ".msi" && !fs::is_directory(fs::path(scenario_.folder) / value_)) {
      std::string nearest = NearestWord(value_, {"built-in"});
      if (!nearest.empty()) Fail("\"" + Quoted() + "\": did you mean built-in?");
      ExistingFile(value_);
      Fail("\"" + Quoted() + "\": a package is built-in, a .wxs or .msi file, or a folder of .idt tables");
    }
    scenario_.packageFile = ExistingFile(value_);
  }
  void Products() {
    NoArgument();
    scenario_.package.products = ProductNumber();
  }
  void Console() {
    NoArgument();
    scenario_.package.withConsole = YesNo();
  }
  void ServerVersion() {
    NoArgument();
    scenario_.package.serverVersion = Version(value_);
  }
  void ConsoleVersion() {
    NoArgument();
    scenario_.package.consoleVersion = Version(value_);
  }
  void InstallDir() {
    NoArgument();
    scenario_.package.installDir = value_;
  }
  void SubType() {
    NoArgument();
    scenario_.package.productSubType = value_;
  }
  void ReleaseFlags() {
    NoArgument();
    scenario_.package.releaseFlags = value_;
  }
  void PackageAction() {
    static const std::pair<const char*, vrinroad::Point> kPoints[] = {
        {"after-launch-conditions", vrinroad::Point::kAfterLaunchConditions},
        {"after-install-initialize", vrinroad::Point::kAfterInstallInitialize},
        {"before-install-execute", vrinroad::Point::kBeforeInstallExecute},
        {"before-install-finalize", vrinroad::Point::kBeforeInstallFinalize},
        {"after-install-finalize", vrinroad::Point::kAfterInstallFinalize}};
    NeedArgument("the point");
    std::vector<std::string> names;
    for (const auto& [name, point] : kPoints) {
      if (argument_ == name) {
        // "ACTION if CONDITION": the sequence calls it only when the condition holds.
        const size_t when = value_.find(" if ");
        const std::string condition = when == std::string::npos ? "" : Trim(value_.substr(when + 4));
        if (when != std::string::npos && condition.empty()) Fail("\"" + Quoted() + "\": a condition follows \"if\"");
        scenario_.packageActions.push_back({point, Action(Trim(value_.substr(0, when))), nullptr, condition});
        return;
      }
      names.push_back(name);
    }
    BadChoice(argument_, names, "a point");
  }

  // --- Keys of a step ---

  void Road(Step& step) {
    NoArgument();
    std::vector<std::string> names;
    for (const RoadWord& road : kRoadWords) {
      names.push_back(road.name);
      if (value_ != road.name) continue;
      step.kind = road.kind;
      if (step.kind == StepKind::kRemove) step.road = vrinroad::RoadOptions::Removal();
      if (step.kind == StepKind::kRepair) step.road = vrinroad::RoadOptions::Repair();
      return;
    }
    BadChoice(names, "a road");
  }
  void StepProducts(Step& step) {
    NoArgument();
    step.products = ProductNumber();
  }
  void Ui(Step& step) {
    NoArgument();
    if (value_ != "full" && value_ != "basic") BadChoice({"full", "basic"}, "ui (UILevel 5 or 2)");
    step.road.userInterface = value_ == "full";
  }
  void Language(Step& step) {
    NoArgument();
    Number(value_, 0, 0xFFFF);
    step.road.productLanguage = value_;
  }
  void StartupMode(Step& step) {
    NoArgument();
    NeedValue();
    step.road.startupMode = value_;
  }
  vrinroad::FeatureRequest Request() const {
    if (value_ == "install") return vrinroad::FeatureRequest::kInstall;
    if (value_ == "remove") return vrinroad::FeatureRequest::kRemove;
    if (value_ == "leave") return vrinroad::FeatureRequest::kLeave;
    if (value_ == "absent") return vrinroad::FeatureRequest::kAbsent;
    BadChoice({"install", "remove", "leave", "absent"}, key_);
  }
  void Server(Step& step) {
    NoArgument();
    step.road.server = Request();
  }
  void StepConsole(Step& step) {
    NoArgument();
    step.road.console = Request();
  }
  void Installed(Step& step) {
    NoArgument();
    step.road.installed = YesNo();
  }
  void Property(Step& step) {
    NeedArgument("the property's name");
    step.road.properties[argument_] = value_;
  }
  INSTALLSTATE State(const std::string& text) const {
    static const std::pair<const char*, INSTALLSTATE> kStates[] = {{"absent", INSTALLSTATE_ABSENT},
                                                                   {"local", INSTALLSTATE_LOCAL},
                                                                   {"source", INSTALLSTATE_SOURCE},
                                                                   {"unknown", INSTALLSTATE_UNKNOWN}};
    std::vector<std::string> names;
    for (const auto& [name, state] : kStates) {
      if (text == name) return state;
      names.push_back(name);
    }
    BadChoice(text, names, "a feature state");
  }
  void Feature(Step& step) {
    NeedArgument("the feature's name");
    std::vector<std::string> words = Words(value_);
    if (words.size() != 2) Fail("a feature is \"feature NAME = INSTALLED REQUESTED\", e.g. \"absent local\"");
    step.features[argument_] = {State(words[0]), State(words[1])};
  }
  void Actions(Step& step) {
    NoArgument();
    NeedValue();
    std::istringstream stream(value_);
    for (std::string name; std::getline(stream, name, ',');) step.actions.push_back(Action(Trim(name)));
  }
  void MessageBox(Step& step) {
    NoArgument();
    step.messageBoxAnswers.push_back(MessageBoxAnswer{static_cast<int>(Number(value_, 0, 7)), line_});
  }
  void Service(Step& step) {
    NeedArgument("the service's name");
    step.services.push_back(ServiceScript{argument_, Script(), line_});
  }
  void SetupMachine(Step& step) {
    NoArgument();
    NeedValue();
    step.machine = value_;
    machineLine_ = line_;
  }
  void Profile(Step& step) {
    NoArgument();
    NeedValue();
    step.profile = value_;
  }
  void FullCheck(Step& step) {
    NoArgument();
    step.fullCheck = YesNo();
  }
  void StopService(Step& step) {
    NoArgument();
    NeedValue();
    step.events.push_back(MachineEvent{MachineEvent::Kind::kStopService, value_, line_});
  }
  void HoldFile(Step& step) {
    NoArgument();
    NeedValue();
    if (value_.size() < 3 || value_[1] != ':' || value_[2] != '\\') {
      Fail("\"" + Quoted() + "\": the file is a full Windows path, C:\\...");
    }
    step.events.push_back(MachineEvent{MachineEvent::Kind::kHoldFile, value_, line_});
  }

  // Every script ends: the waiting action moves the virtual clock on by the
  // wait hints it sleeps, and gives up after its time-out or at a checkpoint
  // that does not move. What cannot end, or means nothing, is refused.
  host::StartScript Script() const {
    static const std::pair<const char*, const char*> kScripts[] = {
        {"immediate", ""},        {"running-after", " N HINT"}, {"stalled", " CHECKPOINT HINT"},
        {"progressing", " HINT"}, {"refused", " ERROR"},        {"stopped-after", " N EXITCODE HINT"}};
    std::vector<std::string> words = Words(value_);
    if (words.empty()) NeedValue();
    const std::string& what = words[0];
    std::vector<std::string> names;
    std::string form;
    for (const auto& [name, numbers] : kScripts) {
      names.push_back(name);
      if (what == name) form = name + std::string(numbers);
    }
    if (form.empty()) BadChoice(names, "a service script");
    if (words.size() != Words(form).size()) Fail("\"" + Quoted() + "\": the script is \"" + form + "\"");
    if (what == "immediate") return host::StartScript::Immediate();
    if (what == "running-after") return host::StartScript::RunningAfter(Queries(words[1]), Number(words[2]));
    if (what == "stalled") return host::StartScript::Stalled(Number(words[1]), Number(words[2]));
    if (what == "progressing") {
      if (words[1] == "0") {
        Fail("\"" + Quoted() + "\": a service that keeps starting must ask for a wait of at least 1 ms; with " +
             "none, the virtual clock never reaches the waiting action's time-out");
      }
      return host::StartScript::Progressing(Number(words[1]));
    }
    if (what == "refused") {
      if (words[1] == "0") Fail("\"" + Quoted() + "\": 0 is no error; a start that succeeds is \"immediate\"");
      return host::StartScript::Refused(Number(words[1]));
    }
    return host::StartScript::StoppedAfter(Queries(words[1]), Number(words[2]), Number(words[3]));
  }

  // The N of a script: the status query at which the start ends.
  int Queries(const std::string& text) const {
    try {
      return static_cast<int>(Number(text, 1, 1000));
    } catch (const LineError&) {
      Fail("\"" + Quoted() + "\": N counts status queries, from 1 to 1000");
    }
  }

  Scenario& scenario_;
  bool inStep_ = false;
  int line_ = 0;
  int machineLine_ = 0;
  std::string key_, argument_, value_;
  std::vector<StepLine> stepLines_;
};

const std::vector<Parser::MachineKey>& Parser::MachineKeys() {
  static const std::vector<MachineKey> keys = {
      {"title", &Parser::Title},
      {"machine", &Parser::MachineReg},
      {"remote-machine", &Parser::RemoteMachine},
      {"computer-name", &Parser::ComputerName},
      {"drives", &Parser::Drives},
      {"file", &Parser::MachineFileKey},
      {"running-service", &Parser::RunningService},
      {"share", &Parser::Share},
      {"installed-product", &Parser::InstalledProduct},
      {"standard-machine", &Parser::StandardMachine},
      {"package", &Parser::Package},
      {"products", &Parser::Products},
      {"console", &Parser::Console},
      {"server-version", &Parser::ServerVersion},
      {"console-version", &Parser::ConsoleVersion},
      {"install-dir", &Parser::InstallDir},
      {"subtype", &Parser::SubType},
      {"release-flags", &Parser::ReleaseFlags},
      {"package-action", &Parser::PackageAction},
  };
  return keys;
}

const std::vector<Parser::StepKey>& Parser::StepKeys() {
  static const std::vector<StepKey> keys = {
      {"road", ~0u, &Parser::Road},
      {"products", kSessionRoads, &Parser::StepProducts},
      {"ui", kSessionRoads, &Parser::Ui},
      {"language", kSessionRoads, &Parser::Language},
      {"startup-mode", kSessionRoads, &Parser::StartupMode},
      {"server", kInstallerRoads, &Parser::Server},
      {"console", kInstallerRoads, &Parser::StepConsole},
      {"installed", kSessionRoads, &Parser::Installed},
      {"property", kSessionRoads, &Parser::Property},
      {"feature", Bit(StepKind::kActions), &Parser::Feature},
      {"actions", Bit(StepKind::kActions), &Parser::Actions},
      {"message-box", kSessionRoads, &Parser::MessageBox},
      {"service", kSessionRoads, &Parser::Service},
      {"machine", Bit(StepKind::kMasterSetup), &Parser::SetupMachine},
      {"profile", Bit(StepKind::kMasterSetup), &Parser::Profile},
      {"full-check", Bit(StepKind::kMasterSetup), &Parser::FullCheck},
      {"stop-service", Bit(StepKind::kEvent), &Parser::StopService},
      {"hold-file", Bit(StepKind::kEvent), &Parser::HoldFile},
  };
  return keys;
}

size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      bool same =
          std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const char* RoadName(StepKind kind) {
  for (const RoadWord& road : kRoadWords) {
    if (road.kind == kind) return road.name;
  }
  return "";
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
  // A slip is a letter or two: one in three letters at most.
  std::string nearest;
  size_t best = std::max<size_t>(1, word.size() / 3) + 1;
  for (const std::string& candidate : candidates) {
    size_t distance = Distance(word, candidate);
    if (distance < best && candidate != word) {
      best = distance;
      nearest = candidate;
    }
  }
  return nearest;
}

Scenario LoadScenario(const std::string& folder) {
  Scenario scenario;
  if (!fs::is_directory(folder)) throw ScenarioError(folder, 0, "is not a scenario folder");
  scenario.folder = folder;
  scenario.file = (fs::path(folder) / "scenario.txt").string();
  scenario.name = fs::path(folder).filename().string();
  if (scenario.name.empty()) scenario.name = fs::path(folder).parent_path().filename().string();
  Parser(scenario).Parse();
  return scenario;
}

}  // namespace vrinsim

namespace vrinsim {

const char* ScenarioFormatHelp() {
  return R"(A scenario is a folder holding scenario.txt and the files it names.
scenario.txt (UTF-8, a byte-order mark allowed) has "key = value" lines,
"# comments", and "[step Title]" headers; a key may take a name before "="
("property REBOOT = ..."). Every mistake is reported with its line, all of
them in one run, and nothing is played while there is one.

Before the first step: the machine and the package
  title = TEXT                   what the scenario shows (required)
  machine = FILE.reg             registry (and services) in regedit's format (version 5.00
                                 or REGEDIT4; also the expand:"..." and multi:"...", "..."
                                 forms the report prints); repeatable
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
  products = N                   the built-in package's PRODUCTS: a product number, 1 to 32
  console = yes|no               whether the built-in package merges the console module
  server-version, console-version = A.B.C.D
                                 the versions of its Skdnt.exe and Skdwin.exe
  install-dir, subtype, release-flags = TEXT
                                 its INSTALLDIR, PRODUCTSUBTYPE and ISReleaseFlags
  package-action POINT = ACTION [if CONDITION]
                                 a package's own action after the modules' at POINT:
                                 after-launch-conditions, after-install-initialize,
                                 before-install-execute, before-install-finalize,
                                 after-install-finalize; with a condition (Windows
                                 Installer's syntax, REMOVE = "ALL" say) only when it holds

In a step: one road on the same machine ("road =" is required, once)
  road = install|remove|repair   the merge modules' orchestrators at their five points,
                                 with the installer's own file, shared-count, registry
                                 and service work in between. Files follow Windows
                                 Installer's versioning rules under REINSTALLMODE
                                 (default "omus": a file of a higher version, or of
                                 the same one, is kept; "property REINSTALLMODE =
                                 amus" replaces every file, "e" also equal versions,
                                 "d" any other version)
  road = actions                 the actions named by "actions = A, B, C" in one session
                                 (vrinsim actions lists the names)
  road = master-setup            CheckInstallInfo, CreateConfigProfile, GetPostConfigInfo
  road = restart                 the machine restarts (deletions at restart happen)
  road = event                   what happens to the machine between roads, in order:
      stop-service = NAME        someone stops the service by hand (a stopped one stays so)
      hold-file = PATH           another program opens the file and keeps it open, sharing
                                 reading only, until the next restart: it cannot be
                                 deleted or replaced meanwhile
For install, remove, repair and actions:
  products = N                   PRODUCTS for this step, 1 to 32 (any other text:
                                 "property PRODUCTS = ...")
  ui = full|basic                UILevel 5 or 2
  language = LANGID              ProductLanguage (default 1033)
  startup-mode = TEXT            STARTUPMODE. Only "Manual" (in any letter case) changes
                                 an installation road: the server and its driver are
                                 started at its end. After a start that fails, the
                                 library sets "NeedReboot", unless the value is "Reboot"
  installed = yes|no             Installed is set (a maintenance run)
  property NAME = VALUE          any other property
  message-box = N                the answer to the next message box (1 = OK, 2 = Cancel,
                                 3 = Abort, 4 = Retry, 5 = Ignore, 6 = Yes, 7 = No, 0 = no
                                 action taken); with ui = basic no box is shown
  service NAME = SCRIPT          how a service (one of the machine, or Skelda and
                                 SKDDriver, which the roads create) starts on this road:
      immediate                  running as soon as StartService returns
      running-after N HINT       start pending at the first N-1 status queries
                                 (checkpoints 1, 2, ...), running at query N; N 1 to 1000
      stalled CHECKPOINT HINT    start pending for ever with a checkpoint that never
                                 moves: the waiting action gives up at its second query
      progressing HINT           start pending for ever, the checkpoint moving on at
                                 every query: the action waits until its time-out
      refused ERROR              StartService fails at once with Win32 error ERROR (not 0)
      stopped-after N EXITCODE HINT   start pending at the first N-1 queries, stopped
                                 with exit code EXITCODE at query N; N 1 to 1000
                                 HINT is the wait hint in milliseconds (1 or more for
                                 progressing). The library's waits sleep the hint
                                 between queries, on the virtual clock, and give up
                                 after 15000 ms; the summary shows the time they took
For install, remove and repair:
  server, console = install|remove|leave|absent
                                 what the road asks of each module's feature: leave is
                                 installed and left alone, absent not installed and not
                                 asked for (a product that does not carry it)
For actions:
  feature NAME = INSTALLED REQUESTED       absent, local, source or unknown each
For master-setup:
  machine = NAME                 the machine examined: a remote-machine (default: this one)
  profile = PATH                 the configuration profile written
  full-check = yes|no            the full check (default yes)

After the play, vrinsim warns about a service script that nothing used and
a message-box answer that no box asked for.
)";
}

}  // namespace vrinsim
