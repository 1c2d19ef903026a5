// What a play is told as: the report for people on standard output and the
// installation log for --log. Written from a PlayResult only, so that any
// engine's play reads the same.
#pragma once

#include <string>

#include "tools/vrinsim/player.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

struct ReportOptions {
  bool wallTime = true;      // without it the report is the same on every run
  bool changesOnly = false;  // the machine's changes, properties and verdicts, without logs and summaries
  bool colour = false;       // ANSI colours, for a terminal
};

// Per step its log, the machine's changes, a summary and a verdict, then the
// whole play's summary. Lines end in "\n" alone.
std::string Report(const Scenario& scenario, const PlayResult& result, const ReportOptions& options = {});

// "succeeded, ...", "failed: ...": the step's outcome in a sentence (a
// failure's reports on further lines).
std::string Verdict(const StepResult& step);

// The installation logs of all steps, each after a line naming its step,
// with "\r\n" line ends as installation logs have.
std::string LogText(const PlayResult& result);

// "12.34 ms".
std::string MillisecondsText(double milliseconds);

// "1 action", "2 actions"; plural is the singular with "s" unless given.
std::string Count(size_t count, const std::string& singular, const std::string& plural = "");

}  // namespace vrinsim
