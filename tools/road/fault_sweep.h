// The fault sweep: a scenario's roads are played once without a fault, then
// once for every simulated platform call the library made, with that call
// failing. After each replay the sweep checks what must hold whatever
// fails: no crash, no exception escapes an export, every action returns what its table
// allows, every raised failure is reported exactly once, nothing is left
// open or allocated, and no data the road would have kept is lost.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/road/road.h"

namespace vrinroad {

// One road of a scenario as it ran.
struct RoadRecord {
  UINT result = 0;
  std::vector<ActionCall> calls;
  std::vector<std::string> log;
};

// Drives a scenario's roads one after another and keeps what they did.
class RoadRunner {
 public:
  UINT Drive(const PackageOptions& package, const RoadOptions& options,
             std::function<void(host::Session&)> onExecute = {});
  const std::vector<RoadRecord>& Roads() const { return roads_; }

 private:
  std::vector<RoadRecord> roads_;
};

// A machine and the roads swept on it. prepare seeds the machine (over the
// one PrepareMachine gives every road) and runs any earlier roads; only the
// calls of the roads that run drives are failed.
struct SweepScenario {
  std::string name;
  std::function<void()> prepare;
  std::function<void(RoadRunner&)> run;
  // 0: every call fails in turn; n: each function's first and last call and
  // every nth one between.
  int sampleEvery = 0;
};

// The call a replay fails: the nth call of function (about key), with error.
struct FailedCall {
  std::string function;
  int nth = 0;
  std::string key;
  uint32_t error = 0;
};

struct SweepViolation {
  std::string scenario;
  FailedCall call;  // function empty: the road without a fault
  std::string invariant;
  std::string detail;
};

struct SweepReport {
  int roads = 0;
  long callsCounted = 0;  // calls of the roads without a fault
  long callsFailed = 0;   // replays, one failed call each
  long invariantsChecked = 0;
  long invariantsHeld = 0;
  std::vector<SweepViolation> violations;

  std::string Text() const;
};

// The error a failing call of function gives: what the platform plausibly
// reports for it (access denied for the registry, a sharing violation for
// files, ERROR_FUNCTION_FAILED for the installer, ...).
uint32_t PlausibleError(const std::string& function);

// Puts the simulated machines' file systems into memory (/dev/shm, when
// there is one and no TMPDIR says otherwise): thousands of replays create
// and remove them.
void KeepMachinesInMemory();

// The invariants the sweep checks after each replay.
inline constexpr const char kNoCrash[] = "no crash";
inline constexpr const char kNoEscape[] = "no exception escapes an export";
inline constexpr const char kResults[] = "action results as the table allows";
inline constexpr const char kReportedOnce[] = "every raised failure reported exactly once";
inline constexpr const char kNothingHeld[] = "no handle or memory left behind";
inline constexpr const char kNothingLost[] = "no data lost";

// One sweep at a time: it observes every throw, log line and deletion of the
// process while it lives.
class FaultSweep {
 public:
  FaultSweep();
  ~FaultSweep();
  FaultSweep(const FaultSweep&) = delete;
  FaultSweep& operator=(const FaultSweep&) = delete;

  // Optional: told the name of each scenario as its sweep starts.
  void OnScenario(std::function<void(const std::string&)> progress) { progress_ = std::move(progress); }

  void Sweep(const SweepScenario& scenario);
  // One replay, for a closer look: the log lines of its roads.
  std::vector<std::string> ReplayLog(const SweepScenario& scenario, const FailedCall& call);
  const SweepReport& Report() const { return report_; }

 private:
  struct Outcome;
  // What broke, by invariant.
  using Broken = std::map<std::string, std::vector<std::string>>;

  void SweepQuietly(const SweepScenario& scenario);
  Outcome Play(const SweepScenario& scenario, const FailedCall* fault);
  Broken PlayApart(const SweepScenario& scenario, const FailedCall& fault, const std::set<std::string>& baselineEnd);
  static Broken Check(const FailedCall* fault, const Outcome& outcome, const std::set<std::string>& baselineEnd);
  void Record(const SweepScenario& scenario, const FailedCall* fault, const Broken& broken);

  SweepReport report_;
  std::function<void(const std::string&)> progress_;
};

}  // namespace vrinroad
