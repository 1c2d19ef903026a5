// vrinsim: plays installation roads of the library on the simulated machine
// and prints the installation log, the machine's changes and a summary.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/filesystem.h"
#include "tools/vrinsim/action_table.h"
#include "tools/vrinsim/compare.h"
#include "tools/vrinsim/engine.h"
#include "tools/vrinsim/explore.h"
#include "tools/vrinsim/machine_state.h"
#include "tools/vrinsim/player.h"
#include "tools/vrinsim/report.h"
#include "tools/vrinsim/report_json.h"
#include "tools/vrinsim/scenario.h"

namespace {

namespace fs = std::filesystem;

const char kVersion[] = "vrinsim 1.1";

const char kUsage[] = R"(usage: vrinsim run SCENARIO [--engine simulated|wine] [--arch win32|win64] [--log FILE]
                    [--changes-only] [--color=auto|always|never] [--no-wall-time] [--json FILE] [--scenarios DIR]
       vrinsim compare SCENARIO [--arch win32|win64] [--no-wall-time] [--json FILE] [--scenarios DIR]
       vrinsim machine SCENARIO [--step N] [--drives DIR] [--scenarios DIR]
       vrinsim explore [--walks N] [--steps N] [--seed N] [--findings DIR] [--json FILE]
       vrinsim list [--scenarios DIR]
       vrinsim actions
       vrinsim --help | --version

run      plays SCENARIO (a bundled scenario's name or a scenario folder) and
         prints per step its installation log, the changes to the machine, a
         summary and a verdict. --log also writes the installation logs to
         FILE (CRLF line ends, a line naming each step); --changes-only
         leaves out the logs and summaries; --color colours the report
         (auto: on a terminal). Exits 0 when every road succeeds, 1 when a
         road fails (an action returned 1603), 2 on a bad scenario or
         command line: every mistake of the scenario is listed, with its file
         and line, and nothing is played. Warnings (a service script or a
         message-box answer nothing used) follow the report on standard error.
         --engine simulated (the default) plays on the simulated Windows
         Installer, in milliseconds; --engine wine plays with the shipped DLL
         (dist/<arch>/vrinca.dll, `make dist`) under Wine's own msiexec, in a
         fresh Wine prefix, in seconds per road; the report is the same, and
         says where Wine could not do what the scenario asks. --arch picks the
         build (default win32; a machine that cannot run 32-bit programs
         needs --arch win64).
compare  plays SCENARIO on the simulated engine and on Wine's msiexec with the
         shipped DLL (--arch win32, the default, or win64) and prints, step
         by step, the differences: the library's log lines, actions and
         results, properties left set and the machine's changes. A known
         difference between the engines is named and explained; any other
         is unexplained. Exits 0 when every difference is known, 1 when one
         is unexplained, 2 on a bad scenario or command line, or when the
         Wine engine cannot run on this machine (it says why).
--json   (run, compare, explore) also writes the report as JSON to FILE:
         schema "vrinsim-report/1", described in the README.
machine  prints the machine before step N (default: after the last step) as
         a .reg file, with the scenario.txt lines for its files, running
         services and shares as comments: a new scenario can start from it.
         --drives writes the machine's drives to DIR (a new or empty folder),
         one folder per drive letter, for "drives = DIR".
explore  plays random walks through a machine's life: --walks walks (default
         200) of up to --steps steps (default 8) from --seed (printed; default:
         a new one), each from a start machine (clean, the previous generation,
         product 3's 9.x server, product 1's 8.1 server) with installations of
         products 1 to 4 (server and console, server only, console only; with
         or without user interface; startup mode Manual or not), repairs,
         removals, restarts, the server stopped by hand and the driver file
         held open. Every step is a step of a scenario played as run plays it,
         and the invariants below are checked after it. A walk that breaks one
         is shrunk to the shortest walk that still does and written as a
         scenario folder under --findings (default ./explore-findings) that
         run replays. Exits 0 when every invariant held, 1 when one broke, 2 on
         a bad command line or a walk the simulated installer refused. A
         progress line goes to standard error on a terminal.
list     lists the bundled scenarios.
actions  lists the action names that "road = actions" and "package-action" take.
)";

const char kMoreHelp[] = R"(
The bundled scenarios are in )" VRINSIM_SCENARIOS_DIR R"(; a folder of
the same name in the current folder is played instead, and vrinsim says so.

Other tools of the build (not built by `make run`):
  cmake --build build/native --target vrinsim_benchmark vrinsweep
  build/native/tools/vrinsim/vrinsim_benchmark   the first-installation road, timed
  build/native/tools/vrinsweep [--sample N] [ROAD...]
                                                 the fault sweep over every bundled road
)";

int Usage(const std::string& message) {
  std::cerr << "vrinsim: " << message << "\n" << kUsage;
  return 2;
}

// The folder SCENARIO names: a folder, or else a bundled scenario's name.
std::optional<fs::path> ScenarioFolder(const std::string& scenarios, const std::string& which) {
  const bool plainName = which.find('/') == std::string::npos && which != "." && which != "..";
  const fs::path bundled = fs::path(scenarios) / which;
  if (fs::is_directory(which)) {
    if (plainName && fs::exists(bundled / "scenario.txt") && fs::exists(fs::path(which) / "scenario.txt")) {
      std::cerr << "vrinsim: playing the folder ./" << which << ", not the bundled scenario of that name ("
                << bundled.string() << ")\n";
    }
    return fs::path(which);
  }
  if (plainName && fs::is_directory(bundled)) return bundled;
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(scenarios, error)) names.push_back(entry.path().filename().string());
  std::string nearest = vrinsim::NearestWord(which, names);
  std::cerr << "vrinsim: no scenario \"" << which << "\": neither a folder nor a bundled scenario's name"
            << (nearest.empty() ? "" : "; did you mean " + nearest + "?") << " (vrinsim list shows them)\n";
  return std::nullopt;
}

// The scenario SCENARIO names, or nothing after saying why not.
std::optional<vrinsim::Scenario> FindScenario(const std::string& scenarios, const std::string& which) {
  std::optional<fs::path> folder = ScenarioFolder(scenarios, which);
  if (!folder) return std::nullopt;
  try {
    return vrinsim::LoadScenario(folder->string());
  } catch (const vrinsim::ScenarioError& error) {
    std::cerr << error.what() << "\n";
    return std::nullopt;
  }
}

// Plays the scenario on the engine; prints its mistakes (status 2) or, after
// the play, its warnings when asked to.
std::optional<vrinsim::PlayResult> PlayAndTell(vrinsim::Engine& engine, const vrinsim::Scenario& scenario, size_t steps,
                                               bool warn = true) {
  try {
    vrinsim::PlayResult result = vrinsim::Play(engine, scenario, steps);
    if (warn) {
      for (const vrinsim::Problem& warning : result.warnings) std::cerr << warning.Text() << "\n";
    }
    return result;
  } catch (const vrinsim::StepError& error) {
    std::cerr << error.what() << "\nvrinsim: the play stopped there, so nothing is reported\n";
    return std::nullopt;
  } catch (const vrinsim::ScenarioError& error) {
    for (const vrinsim::Problem& problem : error.Problems()) std::cerr << problem.Text() << "\n";
    std::cerr << "vrinsim: " << vrinsim::Count(error.Problems().size(), "mistake")
              << " in the scenario: nothing was played\n";
    return std::nullopt;
  } catch (const std::exception& error) {
    // An engine that could not be set up on this machine.
    std::cerr << "vrinsim: the " << engine.Name() << " engine cannot play here: " << error.what() << "\n";
    return std::nullopt;
  }
}

// A file a report goes to, opened before anything plays: one that cannot be
// written stops the command first.
bool OpenOutput(const std::optional<std::string>& file, const char* what, std::ofstream& stream) {
  if (!file) return true;
  stream.open(*file, std::ios::binary | std::ios::trunc);
  if (!stream) {
    std::cerr << "vrinsim: cannot write the " << what << " " << *file << ": " << std::strerror(errno) << "\n";
    return false;
  }
  return true;
}

// Writes the text into an opened output and closes it; true when written.
bool WriteOutput(const std::optional<std::string>& file, const char* what, std::ofstream& stream,
                 const std::string& text) {
  if (!stream.is_open()) return true;
  stream << text;
  stream.close();
  if (!stream) {
    std::cerr << "vrinsim: cannot write the " << what << " " << *file << "\n";
    return false;
  }
  return true;
}

std::string TitleOf(const fs::path& folder) {
  try {
    vrinsim::Scenario scenario = vrinsim::LoadScenario(folder.string());
    return scenario.title +
           (scenario.problems.empty() ? "" : " (" + vrinsim::Count(scenario.problems.size(), "mistake") + ")");
  } catch (const std::exception& error) {
    return std::string("(unreadable: ") + error.what() + ")";
  }
}

int List(const std::string& scenarios) {
  std::vector<fs::path> folders;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(scenarios, error)) {
    if (fs::exists(entry.path() / "scenario.txt")) folders.push_back(entry.path());
  }
  if (error) {
    std::cerr << "vrinsim: " << scenarios << ": " << error.message() << "\n";
    return 2;
  }
  std::sort(folders.begin(), folders.end());
  for (const fs::path& folder : folders) {
    std::printf("%-28s %s\n", folder.filename().string().c_str(), TitleOf(folder).c_str());
  }
  return 0;
}

struct Options {
  std::string scenarios = VRINSIM_SCENARIOS_DIR;
  std::optional<std::string> logFile;
  std::optional<std::string> jsonFile;
  std::optional<std::string> arch;
  std::string colour = "auto";
  vrinsim::ReportOptions report;
  std::optional<size_t> step;
  std::optional<std::string> drives;
  std::optional<size_t> walks, steps;
  std::optional<uint64_t> seed;
  std::optional<std::string> findings;
  std::optional<std::string> engine;
  std::vector<std::string> words;
};

// The engine --engine and --arch ask for; null after saying why this machine
// cannot run it.
std::unique_ptr<vrinsim::Engine> ChosenEngine(const Options& options) {
  if (options.engine.value_or("simulated") == "simulated") return vrinsim::SimulatedEngine();
  const std::string arch = options.arch.value_or("win32");
  const std::string reason = vrinsim::WineCannotRun(arch);
  if (!reason.empty()) {
    std::cerr << "vrinsim: *** --engine wine --arch " << arch << " cannot play here: " << reason << " ***\n";
    return nullptr;
  }
  try {
    return vrinsim::WineEngine(arch);
  } catch (const std::exception& error) {
    std::cerr << "vrinsim: the Wine engine: " << error.what() << "\n";
    return nullptr;
  }
}

bool ColourWanted(const std::string& when) {
  if (when != "auto") return when == "always";
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr &&
         (term == nullptr || std::string(term) != "dumb");
}

int Run(const Options& options, const std::string& which) {
  std::optional<vrinsim::Scenario> scenario = FindScenario(options.scenarios, which);
  if (!scenario) return 2;
  std::ofstream log, json;
  if (!OpenOutput(options.logFile, "log file", log) || !OpenOutput(options.jsonFile, "JSON report", json)) return 2;
  std::unique_ptr<vrinsim::Engine> engine = ChosenEngine(options);
  if (!engine) return 2;
  std::optional<vrinsim::PlayResult> result = PlayAndTell(*engine, *scenario, vrinsim::kAllSteps);
  if (!result) return 2;
  vrinsim::ReportOptions report = options.report;
  report.colour = ColourWanted(options.colour);
  std::cout << vrinsim::Report(*scenario, *result, report) << std::flush;
  if (!WriteOutput(options.logFile, "log file", log, vrinsim::LogText(*result)) ||
      !WriteOutput(options.jsonFile, "JSON report", json, vrinsim::PlayJson(*scenario, *result))) {
    return 2;
  }
  if (result->failed) {
    std::cerr << "vrinsim: the road failed: " << result->steps.back().failure << "\n";
    return 1;
  }
  return 0;
}

int Machine(const Options& options, const std::string& which) {
  std::optional<vrinsim::Scenario> found = FindScenario(options.scenarios, which);
  if (!found) return 2;
  const vrinsim::Scenario& scenario = *found;
  if (options.drives && fs::exists(*options.drives) &&
      (!fs::is_directory(*options.drives) || !fs::is_empty(*options.drives))) {
    std::cerr << "vrinsim: " << *options.drives << " is not an empty folder: --drives writes into a new one\n";
    return 2;
  }
  const size_t count = scenario.steps.size();
  if (options.step && (*options.step < 1 || *options.step > count)) {
    std::cerr << "vrinsim: --step " << *options.step << ": the scenario has " << vrinsim::Count(count, "step") << "\n";
    return 2;
  }
  const size_t played = options.step ? *options.step - 1 : count;
  std::unique_ptr<vrinsim::Engine> engine = vrinsim::SimulatedEngine();
  std::optional<vrinsim::PlayResult> result = PlayAndTell(*engine, scenario, played);
  if (!result) return 2;
  std::string description = "The machine of scenario " + scenario.name + " ";
  if (result->failed) {
    description += "after step " + std::to_string(result->steps.size()) + ", which failed";
  } else if (played == 0) {
    description += "before its first step";
  } else if (played < count) {
    description += "before step " + std::to_string(played + 1) + " (" + scenario.steps[played].title + ")";
  } else {
    description += "after its last step";
  }
  std::cout << vrinsim::MachineText(description) << std::flush;
  if (options.drives) {
    try {
      host::Files().WriteDrives(*options.drives);
    } catch (const std::exception& error) {
      std::cerr << "vrinsim: cannot write the drives to " << *options.drives << ": " << error.what() << "\n";
      return 2;
    }
  }
  if (result->failed) {
    std::cerr << "vrinsim: step " << result->steps.size() << " failed: " << result->steps.back().failure << "\n";
    return 1;
  }
  return 0;
}

int Compare(const Options& options, const std::string& which) {
  std::optional<vrinsim::Scenario> scenario = FindScenario(options.scenarios, which);
  if (!scenario) return 2;
  const std::string arch = options.arch.value_or("win32");
  const std::string cannot = vrinsim::WineCannotRun(arch);
  if (!cannot.empty()) {
    std::cerr << "vrinsim: CANNOT COMPARE: Wine's " << arch << " engine cannot run on this machine: " << cannot << "\n";
    if (arch == "win32") std::cerr << "vrinsim: --arch win64 compares with the 64-bit build under 64-bit Wine\n";
    return 2;
  }
  std::ofstream json;
  if (!OpenOutput(options.jsonFile, "JSON report", json)) return 2;
  std::unique_ptr<vrinsim::Engine> simulatedEngine = vrinsim::SimulatedEngine();
  std::optional<vrinsim::PlayResult> simulated = PlayAndTell(*simulatedEngine, *scenario, vrinsim::kAllSteps);
  if (!simulated) return 2;
  std::unique_ptr<vrinsim::Engine> wineEngine;
  try {
    wineEngine = vrinsim::WineEngine(arch);
  } catch (const std::exception& error) {
    std::cerr << "vrinsim: CANNOT COMPARE: Wine's " << arch << " engine: " << error.what() << "\n";
    return 2;
  }
  // The scenario's warnings were told after the first play.
  std::optional<vrinsim::PlayResult> wine = PlayAndTell(*wineEngine, *scenario, vrinsim::kAllSteps, false);
  if (!wine) return 2;
  const vrinsim::Comparison comparison = vrinsim::Compare(*simulated, *wine);
  std::cout << vrinsim::ComparisonText(*scenario, comparison, *simulated, *wine, options.report.wallTime) << std::flush;
  if (!WriteOutput(options.jsonFile, "JSON report", json,
                   vrinsim::CompareJson(*scenario, comparison, *simulated, *wine))) {
    return 2;
  }
  if (comparison.Unexplained() > 0) {
    std::cerr << "vrinsim: " << vrinsim::Count(comparison.Unexplained(), "unexplained difference")
              << " between the simulated engine and " << wine->engine << "\n";
    return 1;
  }
  return 0;
}

int Explore(const Options& options) {
  vrinsim::ExploreOptions explore;
  explore.seed = options.seed ? *options.seed : std::random_device()();
  explore.walks = options.walks.value_or(explore.walks);
  explore.steps = options.steps.value_or(explore.steps);
  explore.findingsFolder = options.findings.value_or("explore-findings");
  std::cout << "vrinsim explore --seed " << explore.seed << " --walks " << explore.walks << " --steps " << explore.steps
            << std::endl;
  const bool terminal = isatty(STDERR_FILENO);
  if (terminal) {
    explore.progress = [&](size_t done) {
      if (done % 10 == 0 || done == explore.walks)
        std::cerr << "\rwalk " << done << " of " << explore.walks << std::flush;
    };
  }
  std::ofstream json;
  if (!OpenOutput(options.jsonFile, "JSON report", json)) return 2;
  vrinsim::ExploreReport report;
  try {
    report = vrinsim::Explore(explore);
  } catch (const std::exception& error) {
    if (terminal) std::cerr << "\n";
    std::cerr << "vrinsim: a walk could not be played: " << error.what() << "\n";
    return 2;
  }
  if (terminal) std::cerr << "\r\033[K" << std::flush;
  std::cout << vrinsim::ExploreText(report) << std::flush;
  if (!WriteOutput(options.jsonFile, "JSON report", json, vrinsim::ExploreJson(report))) return 2;
  return report.findings.empty() ? 0 : 1;
}

// A whole number of at most digits digits and at least 1, or nothing.
std::optional<uint64_t> WholeNumber(const std::string& text, size_t digits) {
  if (text.empty() || text.size() > digits || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) return args[++i];
      Usage(arg + " needs " + what);
      return std::nullopt;
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << kMoreHelp << "\n" << vrinsim::ExploreHelp() << "\n" << vrinsim::ScenarioFormatHelp();
      return 0;
    }
    if (arg == "--version") {
      std::cout << kVersion << ": the library's actions on the simulated Windows Installer ("
                << vrinsim::ActionNames().size() << " actions)\n";
      return 0;
    }
    if (arg == "--walks" || arg == "--steps" || arg == "--seed") {
      std::optional<std::string> given = value("a number");
      if (!given) return 2;
      std::optional<uint64_t> number = WholeNumber(*given, arg == "--seed" ? 19 : 7);
      if (!number || (arg != "--seed" && *number == 0)) {
        return Usage(arg + " " + *given + ": " +
                     (arg == "--seed" ? std::string("the seed is a whole number")
                                      : "the number of " + arg.substr(2) + " is a whole number from 1"));
      }
      if (arg == "--walks") options.walks = *number;
      if (arg == "--steps") options.steps = *number;
      if (arg == "--seed") options.seed = *number;
    } else if (arg == "--json") {
      std::optional<std::string> given = value("a file name");
      if (!given) return 2;
      options.jsonFile = *given;
    } else if (arg == "--arch") {
      std::optional<std::string> given = value("win32 or win64");
      if (!given) return 2;
      if (*given != "win32" && *given != "win64")
        return Usage("--arch " + *given + ": the architecture is win32 or win64");
      options.arch = *given;
    } else if (arg == "--findings") {
      std::optional<std::string> given = value("a folder");
      if (!given) return 2;
      options.findings = *given;
    } else if (arg == "--log" || arg == "--scenarios" || arg == "--drives" || arg == "--step") {
      std::optional<std::string> given = value(arg == "--step"        ? "a step number"
                                               : arg == "--scenarios" ? "a folder"
                                               : arg == "--drives"    ? "a folder"
                                                                      : "a file name");
      if (!given) return 2;
      if (arg == "--log") options.logFile = *given;
      if (arg == "--scenarios") options.scenarios = *given;
      if (arg == "--drives") options.drives = *given;
      if (arg == "--step") {
        if (given->empty() || given->size() > 6 || given->find_first_not_of("0123456789") != std::string::npos) {
          return Usage("--step " + *given + ": not a step number");
        }
        options.step = std::stoul(*given);
      }
    } else if (arg == "--engine") {
      std::optional<std::string> given = value("simulated or wine");
      if (!given) return 2;
      if (*given != "simulated" && *given != "wine")
        return Usage("--engine " + *given + ": the engine is simulated or wine");
      options.engine = *given;
    } else if (arg == "--no-wall-time") {
      options.report.wallTime = false;
    } else if (arg == "--changes-only") {
      options.report.changesOnly = true;
    } else if (arg.rfind("--color=", 0) == 0 || arg.rfind("--colour=", 0) == 0) {
      options.colour = arg.substr(arg.find('=') + 1);
      if (options.colour != "auto" && options.colour != "always" && options.colour != "never") {
        return Usage(arg + ": the colour is auto, always or never");
      }
    } else if (arg.rfind("-", 0) == 0) {
      return Usage("unknown option " + arg);
    } else {
      options.words.push_back(arg);
    }
  }
  const std::vector<std::string>& words = options.words;
  const std::string command = words.empty() ? "" : words[0];
  const bool forRun = options.logFile || options.report.changesOnly || options.engine;
  const bool forPlays = !options.report.wallTime || options.arch;  // run and compare
  const bool forMachine = options.step || options.drives;
  const bool forExplore = options.walks || options.steps || options.seed || options.findings;
  const bool reports = command == "run" || command == "compare" || command == "explore";  // --json
  if (command == "run" && options.arch && options.engine.value_or("simulated") != "wine") {
    return Usage("--arch " + *options.arch + " is for --engine wine");
  }
  if ((forRun && command != "run") || (forPlays && command != "run" && command != "compare") ||
      (forMachine && command != "machine") || (forExplore && command != "explore") || (options.jsonFile && !reports)) {
    return Usage("an option given to a command that does not take it");
  }
  if (words.size() == 1 && command == "list") return List(options.scenarios);
  if (words.size() == 1 && command == "actions") {
    for (const std::string& name : vrinsim::ActionNames()) std::cout << name << "\n";
    return 0;
  }
  if (words.size() == 1 && command == "explore") return Explore(options);
  if (words.size() == 2 && command == "run") return Run(options, words[1]);
  if (words.size() == 2 && command == "machine") return Machine(options, words[1]);
  if (words.size() == 2 && command == "compare") return Compare(options, words[1]);
  if (command == "run" || command == "machine" || command == "compare") return Usage(command + " takes one SCENARIO");
  return Usage(command.empty() ? "no command" : "unknown command \"" + command + "\"");
}
