// The differences between the simulated Windows Installer and Wine's msiexec
// that are known and explained, in one list: `vrinsim compare` names each
// one it meets, and the Wine tier's tests read Wine's logs through the same
// normalisations. A difference no entry recognises is unexplained.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/vrinsim/machine_state.h"
#include "tools/vrinsim/player.h"

namespace vrinsim {

// One difference between the two engines' plays of a step.
struct Difference {
  size_t step = 0;        // from 1
  std::string area;       // "step", "outcome", "action", "log", "property", "registry", "service", "file", "share"
  std::string subject;    // the action, property, registry key and value, service, file or share; empty for the log
  std::string simulated;  // what the simulated engine shows, as the report writes it; empty: nothing
  std::string wine;       // what Wine shows; empty: nothing
  std::optional<MachineChange> simulatedChange, wineChange;  // a machine change's data
  std::string known;                                         // the known difference's name; empty when unexplained
};

struct KnownDifference {
  const char* name;
  const char* explanation;
  // Whether the difference is this one, given both engines' records of the
  // step (null for a step one engine did not play).
  bool (*recognises)(const Difference& difference, const StepResult* simulated, const StepResult* wine);
};

const std::vector<KnownDifference>& KnownDifferences();

// The known difference of that name; null for none.
const KnownDifference* FindKnownDifference(const std::string& name);

// The first known difference that recognises the difference; null for none.
const KnownDifference* Recognise(const Difference& difference, const StepResult* simulated, const StepResult* wine);

// Names "follows-earlier-difference" the differences of a step (numbered,
// the others already recognised) that follow from a difference, of an
// earlier step or this one, that left the machines apart in a way the
// library branches on; `earlier` holds the earlier steps' differences.
// Returns why, for the step's report; empty when none follow.
std::string NameFollowingDifferences(std::vector<Difference>& step, const std::vector<Difference>& earlier,
                                     const StepResult* simulated, const StepResult* wine);

// ASCII letters in lower case: registry keys, value names and paths
// compared as Windows compares them.
std::string Lower(std::string text);

// The lines of log entries (a failure report is one entry of several lines),
// their line ends removed.
std::vector<std::string> LogLines(const std::vector<std::string>& log);

// The library's text of a log line: from "OV VRIN : " on, without line ends,
// so without the "ERR: " / "WARN: " markers a package's Error table adds (or
// anything else an engine writes before it); empty for any other line.
std::string LibraryText(const std::string& line);

// A text as Wine's installer logs it after formatting an INFO message once
// more: every "[n]" (a record field, empty there) is gone, so that
// "X <- [0]" reads "X <- ".
std::string FormattedOnceMore(const std::string& text);

// An "Action start hh:mm:ss: Name." or "Action ended hh:mm:ss: Name. Return
// value n." line without its time ("Action ended: Name. Return value n.");
// empty for any other line.
std::string ActionLine(const std::string& line);

// The name of the action an ActionLine is about.
std::string ActionOf(const std::string& actionLine);

}  // namespace vrinsim
