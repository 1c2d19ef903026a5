// A scenario: a machine, a package and the roads played on it, read from a
// folder holding scenario.txt and the files it names.
//
// scenario.txt is line based: "key = value", "# comment", and "[step Title]"
// headers that start a step. Keys before the first step describe the machine
// and the package; keys inside a step describe that road. The reader goes
// on after a mistake, so that one reading finds them all: each is a Problem
// naming the file and the line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/services.h"
#include "tools/road/pe_builder.h"
#include "tools/road/road.h"

namespace vrinsim {

// A mistake in a scenario (or a warning about one), where it is.
struct Problem {
  std::string file;
  int line = 0;  // 0: the file as a whole
  std::string message;
  bool warning = false;

  // "file:line: message", "file:line: warning: message".
  std::string Text() const;
};

// A scenario that cannot be played: every error found, in file and line order.
class ScenarioError : public std::runtime_error {
 public:
  explicit ScenarioError(std::vector<Problem> problems);
  ScenarioError(const std::string& file, int line, const std::string& message);
  const std::vector<Problem>& Problems() const { return problems_; }

 private:
  std::vector<Problem> problems_;
};

// What the simulated installer refused while a step played (the scenario
// asked for something it cannot do): the play stops there.
class StepError : public ScenarioError {
 public:
  using ScenarioError::ScenarioError;
};

// A file the scenario puts on the machine.
struct MachineFile {
  std::string path;  // Windows path
  int line = 0;      // in scenario.txt
  enum class Kind { kVersioned, kUnversioned, kText, kCopy } kind = Kind::kText;
  vrintest::FileVersion version;
  std::string content;  // kText: the text; kCopy: the host file to copy
};

enum class StepKind {
  kInstall,      // the merge modules' road, features requested as given
  kRemove,       // a maintenance road removing the features
  kRepair,       // a maintenance road leaving the features alone
  kActions,      // named actions called in order in one session
  kMasterSetup,  // the master setup's three calls
  kRestart,      // the machine restarts
  kEvent,        // what happens to the machine between roads: a service stopped by hand, a file in use
};

// "install", "remove", ...: the word of "road = ..." for each kind.
const char* RoadName(StepKind kind);

struct ServiceScript {
  std::string service;
  host::StartScript script;
  int line = 0;
};

// Something that happens to the machine outside any installation.
struct MachineEvent {
  enum class Kind {
    kStopService,  // someone stops a service by hand
    kHoldFile,     // another program opens a file and keeps it open until the next restart
  } kind = Kind::kStopService;
  std::string target;  // the service's name or the file's Windows path
  int line = 0;
};

struct MessageBoxAnswer {
  int answer = 0;
  int line = 0;
};

struct Step {
  std::string title;
  int line = 0;
  StepKind kind = StepKind::kInstall;
  vrinroad::RoadOptions road;
  std::optional<std::string> products;                                    // PRODUCTS of the package for this step
  std::vector<std::string> actions;                                       // kActions
  std::map<std::string, std::pair<INSTALLSTATE, INSTALLSTATE>> features;  // kActions: installed, requested
  std::vector<MessageBoxAnswer> messageBoxAnswers;
  std::vector<ServiceScript> services;
  // kMasterSetup: the machine examined ("" = this one) and the profile written.
  std::string machine;
  std::string profile;
  bool fullCheck = true;
  std::vector<MachineEvent> events;  // kEvent, in order
};

struct Scenario {
  std::string name;    // the folder's name
  std::string folder;  // host path
  std::string file;    // host path of scenario.txt
  std::string title;
  std::vector<std::string> machineRegFiles;           // host paths
  std::map<std::string, std::string> remoteMachines;  // name -> host path of its .reg
  std::string computerName;                           // empty: the host's default
  std::string drivesFolder;                           // host path, empty: none
  std::vector<MachineFile> files;
  std::vector<std::pair<std::string, int>> runningServices;            // name, line
  std::vector<std::pair<std::string, std::string>> shares;             // name, folder
  std::vector<std::pair<std::string, std::string>> installedProducts;  // product code, package code
  bool standardMachine = true;  // the C runtime, drivers and program folders every road needs
  // The package: built in from its options, or a .wxs, .msi or folder of .idt tables.
  std::string packageFile;  // host path; empty: built in
  vrinroad::PackageOptions package;
  std::vector<vrinroad::PackageAction> packageActions;  // resolved by the player
  std::vector<Step> steps;
  // The mistakes reading found; the player adds what only the machine shows
  // and plays nothing while any is an error.
  std::vector<Problem> problems;
};

// Reads folder/scenario.txt and checks that every file it names exists. A
// folder or file that cannot be read is a ScenarioError; mistakes inside the
// file are the scenario's problems.
Scenario LoadScenario(const std::string& folder);

// The word of candidates nearest to word (a typing slip away), or "".
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// The scenario format, as `vrinsim --help` prints it.
const char* ScenarioFormatHelp();

}  // namespace vrinsim
