// vrinsim explore: random walks through a machine's life (installations,
// upgrades, repairs, removals, restarts and what happens in between), each
// played as a scenario on the same road driver as `vrinsim run`, with named
// invariants checked after every step. A walk that breaks one is shrunk to
// the shortest walk that still breaks it and written as a scenario folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vrinsim {

// What must hold on the machine, named as the report prints it.
struct Invariant {
  const char* name;
  const char* sentence;  // what a release engineer would agree with
};
const std::vector<Invariant>& Invariants();

// Behaviour that breaks an invariant's plain reading on purpose: each is
// named, said why, and counted where a walk relies on it.
struct DesignException {
  const char* name;
  const char* invariant;
  const char* why;
  const char* scenario;  // the bundled scenario that shows it
};
const std::vector<DesignException>& DesignExceptions();

struct ExploreOptions {
  uint64_t seed = 1;
  size_t walks = 200;
  size_t steps = 8;            // operations per walk at most
  std::string findingsFolder;  // where the shrunk scenarios go (made when one is written)
  // Called after each walk with the walks done so far.
  std::function<void(size_t done)> progress;
};

// One broken invariant: the first walk that broke it, shrunk.
struct Finding {
  std::string invariant;
  std::string what;  // what was seen, at the shrunk walk's last step
  size_t walk = 0;   // the walk's number, from 1
  size_t walkSteps = 0;
  size_t shrunkSteps = 0;
  size_t walksBreakingIt = 0;
  std::string scenarioFolder;
};

// What a run found, as plain data (a report or a JSON writer reads it).
struct ExploreReport {
  uint64_t seed = 0;
  size_t walks = 0;
  size_t steps = 0;  // steps played, the shrinking's replays left out
  size_t roads = 0;  // of them, installer roads (install, remove, repair)
  double wallSeconds = 0;
  std::map<std::string, size_t> checks;            // invariant -> times checked
  std::map<std::string, size_t> exceptionsRelied;  // design exception -> walk steps that relied on it
  std::vector<Finding> findings;
  size_t TotalChecks() const;
};

// Plays the walks; a walk that cannot be played at all (the simulated
// installer refuses a step) is a std::runtime_error naming its scenario.
ExploreReport Explore(const ExploreOptions& options);

// The report for people: figures, invariants, exceptions relied on, and per
// broken invariant its shrunk scenario. Lines end in "\n".
std::string ExploreText(const ExploreReport& report);

// `vrinsim --help`'s text on explore: the invariants and exceptions.
std::string ExploreHelp();

}  // namespace vrinsim
