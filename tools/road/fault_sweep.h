// The fault sweep: a scenario's roads are played once without a fault, then
// once for every simulated platform call the library made, with that call
// failing, and once for every text the library read from outside
// (properties, paths, registry strings, profile values, the package's
// texts, service images), with that text over-long: at the boundary
// lengths of the library's fixed buffers. After each replay the sweep checks
// what must hold whatever fails: no crash, no exception escapes an export or
// a routine specified never to raise, every action returns what its table
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
  // The master setup's three calls, outside any session, on the machine
  // named (empty: this one) with the profile: the name, the profile's path
  // and the folder in the record the master setup hands over are outside
  // texts as well. CheckInstallInfo's result.
  int MasterSetup(const std::string& machine, const std::string& profile);
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
  // 0: every text at every boundary length; n: every nth of those replays,
  // the first of each text included.
  int textSampleEvery = 0;
};

// The fault of a replay: the nth call of function (about key) fails with
// error; or, with a length, every text function hands the library about key
// is that long.
struct FailedCall {
  std::string function;
  int nth = 0;
  std::string key;
  uint32_t error = 0;
  size_t length = 0;
};

// The lengths an outside text is replayed at: for each fixed buffer a text
// ends up in (the ten-character REBOOT, 256-byte queries, 260-byte paths and
// master-setup fields, 1,024-byte descriptions) its size less one, its size
// and one more, and 10,000 characters.
const std::vector<size_t>& BoundaryLengths();

struct SweepViolation {
  std::string scenario;
  FailedCall call;  // function empty: the road without a fault
  std::string invariant;
  std::string detail;
};

struct SweepReport {
  int roads = 0;
  long callsCounted = 0;     // calls of the roads without a fault
  long callsFailed = 0;      // replays, one failed call each
  long textsCounted = 0;     // outside texts those roads read
  long textsLengthened = 0;  // replays, one over-long text each
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
inline constexpr const char kNeverRaises[] = "no raise leaves a routine specified never to raise";
inline constexpr const char kExportLeft[] = "no export is left by an exception";
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
  // Which kinds of fault the replays make; both by default.
  void Kinds(bool failCalls, bool lengthenTexts) {
    failCalls_ = failCalls;
    lengthenTexts_ = lengthenTexts;
  }

  // Routines whose exits by exception the sweep watches besides the
  // library's exports and the routines it specifies never to raise (a
  // test's own, say).
  static void WatchExport(const std::string& routine);
  static void WatchNeverRaising(const std::string& routine);

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
  Broken PlayApart(const SweepScenario& scenario, const FailedCall& fault, const std::set<std::string>& baselineEnd,
                   std::set<std::string>* endItems = nullptr);
  static Broken Check(const FailedCall* fault, const Outcome& outcome, const std::set<std::string>& baselineEnd);
  void Record(const SweepScenario& scenario, const FailedCall* fault, const Broken& broken);

  SweepReport report_;
  std::function<void(const std::string&)> progress_;
  bool failCalls_ = true;
  bool lengthenTexts_ = true;
};

}  // namespace vrinroad
