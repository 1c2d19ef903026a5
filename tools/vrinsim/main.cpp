// vrinsim: plays installation roads of the library on the simulated machine
// and prints the installation log, the machine's changes and a summary.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace {

namespace fs = std::filesystem;

const char kUsage[] = R"(usage: vrinsim run SCENARIO [--log FILE] [--no-wall-time] [--scenarios DIR]
       vrinsim list [--scenarios DIR]
       vrinsim --help

run     plays SCENARIO (a bundled scenario's name or a scenario folder) and
        prints its installation log, the changes to the machine and a
        summary; --log also writes the installation log to FILE. Exits 1
        when a road fails (an action returned 1603), 2 on a bad scenario.
list    lists the bundled scenarios.
)";

std::string TitleOf(const fs::path& folder) {
  try {
    return vrinsim::LoadScenario(folder.string()).title;
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

int Run(const std::string& scenarios, const std::string& which, const std::string& logFile, bool wallTime) {
  fs::path folder = which;
  if (!fs::is_directory(folder) && which.find('/') == std::string::npos) folder = fs::path(scenarios) / which;
  try {
    vrinsim::Scenario scenario = vrinsim::LoadScenario(folder.string());
    vrinsim::PlayResult result = vrinsim::Play(scenario);
    std::cout << vrinsim::Report(scenario, result, wallTime) << std::flush;
    if (!logFile.empty()) {
      std::ofstream log(logFile, std::ios::binary);
      log << vrinsim::LogText(result);
      if (!log) {
        std::cerr << "vrinsim: cannot write " << logFile << "\n";
        return 2;
      }
    }
    if (result.failed) {
      std::cerr << "vrinsim: the road failed: " << result.steps.back().failure << "\n";
      return 1;
    }
    return 0;
  } catch (const vrinsim::ScenarioError& error) {
    std::cerr << "vrinsim: " << error.what() << "\n";
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string scenarios = VRINSIM_SCENARIOS_DIR;
  std::string logFile;
  bool wallTime = true;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::cout << kUsage << "\n" << vrinsim::ScenarioFormatHelp();
      return 0;
    }
    if ((args[i] == "--log" || args[i] == "--scenarios") && i + 1 < args.size()) {
      (args[i] == "--log" ? logFile : scenarios) = args[i + 1];
      ++i;
    } else if (args[i] == "--no-wall-time") {
      wallTime = false;
    } else if (args[i].rfind("--", 0) == 0) {
      std::cerr << "vrinsim: unknown option " << args[i] << "\n" << kUsage;
      return 2;
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.size() == 1 && words[0] == "list") return List(scenarios);
  if (words.size() == 2 && words[0] == "run") return Run(scenarios, words[1], logFile, wallTime);
  std::cerr << kUsage;
  return 2;
}
