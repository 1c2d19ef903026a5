#include "tools/vrinsim/report.h"

#include <cstdio>
#include <optional>
#include <sstream>

namespace vrinsim {

namespace {

const char kBold[] = "\x1b[1m";
const char kRed[] = "\x1b[31m";
const char kGreen[] = "\x1b[32m";
const char kYellow[] = "\x1b[33m";
const char kPlain[] = "\x1b[0m";

std::string Seconds(uint64_t milliseconds) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f s", static_cast<double>(milliseconds) / 1000.0);
  return text;
}

// The lines of a text that may end its lines in "\r\n", "\n" or "\r".
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

// Writes lines, each under its colour when colours are on.
class Writer {
 public:
  explicit Writer(bool colour) : colour_(colour) {}

  // One line of text; "\r\n" or "\n" inside it starts further lines with
  // the same indentation.
  void Line(const std::string& text, const char* colour = nullptr, const std::string& indent = "") {
    for (const std::string& line : Lines(text)) {
      out_ << indent;
      if (colour_ && colour != nullptr && !line.empty()) {
        out_ << colour << line << kPlain;
      } else {
        out_ << line;
      }
      out_ << "\n";
    }
  }
  std::string Text() const { return out_.str(); }

 private:
  bool colour_;
  std::ostringstream out_;
};

// The colour of a log line: failure reports red, warnings yellow.
const char* LogColour(const std::string& line) {
  if (line.rfind("ERR: ", 0) == 0) return kRed;
  if (line.rfind("WARN: ", 0) == 0) return kYellow;
  return nullptr;
}

void StepSections(Writer& out, const StepResult& step, const ReportOptions& options) {
  if (!options.changesOnly) {
    if (!step.log.empty()) {
      out.Line(step.kind == StepKind::kMasterSetup ? "Trace (standard output, no session):" : "Installation log:");
      for (const std::string& line : step.log) out.Line(line, LogColour(line), "  ");
    }
    for (const std::string& line : step.outcome) out.Line(line);
    if (!step.engineNotes.empty()) {
      out.Line("What the engine could not do:");
      for (const std::string& note : step.engineNotes) out.Line(note, kYellow, "  ");
    }
    if (!step.messageBoxes.empty()) {
      out.Line("Message boxes shown:");
      for (const std::string& text : step.messageBoxes) out.Line("\"" + text + "\"", nullptr, "  ");
    }
  }
  out.Line("Changes to the machine:");
  if (step.changes.empty()) out.Line("(none)", nullptr, "  ");
  for (const std::string& line : step.changes) out.Line(line, nullptr, "  ");
  if (!step.propertiesLeftSet.empty()) {
    out.Line("Properties the actions left set:");
    for (const auto& [name, value] : step.propertiesLeftSet) out.Line(name + " = " + value, nullptr, "  ");
  }
  if (!step.featureRequests.empty()) {
    out.Line("Feature requests the actions changed:");
    for (const std::string& line : step.featureRequests) out.Line(line, nullptr, "  ");
  }
  if (!options.changesOnly) {
    out.Line("Summary:");
    if (!step.calls.empty()) {
      std::string calls = "actions called (result):";
      for (const vrinroad::ActionCall& call : step.calls)
        calls += " " + call.name + " " + std::to_string(call.result) + ";";
      out.Line(calls, nullptr, "  ");
    }
    out.Line(
        Count(step.traceLines, "trace line") + " in the log" +
            (step.errorTableQueries ? "; " + Count(*step.errorTableQueries, "Error-table query", "Error-table queries")
                                    : std::string()),
        nullptr, "  ");
    if (step.blockedMilliseconds) {
      out.Line("blocked in service waits and pauses: " + Seconds(*step.blockedMilliseconds) + " (virtual clock)",
               nullptr, "  ");
    }
    if (options.wallTime) out.Line("wall time: " + MillisecondsText(step.wallMilliseconds), nullptr, "  ");
  }
  out.Line("Verdict: " + Verdict(step), step.failed ? kRed : kGreen);
}

}  // namespace

std::string MillisecondsText(double milliseconds) {
  char text[32];
  snprintf(text, sizeof(text), "%.2f ms", milliseconds);
  return text;
}

std::string Count(size_t count, const std::string& singular, const std::string& plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural.empty() ? singular + "s" : plural);
}

std::string Verdict(const StepResult& step) {
  if (step.failed) {
    if (step.kind == StepKind::kMasterSetup) return "failed: " + step.failure;
    return "failed: " + step.failure.substr(0, step.failure.find('\n')) + ", which ends the installation" +
           (step.failure.find('\n') == std::string::npos ? "" : step.failure.substr(step.failure.find('\n')));
  }
  if (step.kind == StepKind::kRestart) return "done: the machine restarted";
  if (step.kind == StepKind::kEvent) return "done: it happened to the machine";
  if (step.kind == StepKind::kMasterSetup) return "succeeded";
  if (step.failureReports == 0 && step.warnings == 0) return "succeeded, with no failure reports or warnings";
  return "succeeded, with " + Count(step.failureReports, "failure report") + " and " + Count(step.warnings, "warning") +
         " that the actions tolerate: they reported them and went on";
}

std::string Report(const Scenario& scenario, const PlayResult& result, const ReportOptions& options) {
  Writer out(options.colour);
  out.Line("=== " + scenario.name + ": " + scenario.title + " ===", kBold);
  size_t number = 0;
  size_t calls = 0, traceLines = 0;
  std::optional<size_t> queries;
  std::optional<uint64_t> blocked;
  for (const StepResult& step : result.steps) {
    out.Line("");
    out.Line("--- step " + std::to_string(++number) + ": " + step.title + " (" + RoadName(step.kind) + ") ---", kBold);
    StepSections(out, step, options);
    calls += step.calls.size();
    traceLines += static_cast<size_t>(step.traceLines);
    if (step.errorTableQueries) queries = queries.value_or(0) + static_cast<size_t>(*step.errorTableQueries);
    if (step.blockedMilliseconds) blocked = blocked.value_or(0) + *step.blockedMilliseconds;
  }
  out.Line("");
  std::string summary = "=== " + std::string(result.failed ? "FAILED" : "completed") + ": " +
                        std::to_string(result.steps.size()) + " of " + Count(scenario.steps.size(), "step") + ", " +
                        Count(calls, "action") + " called, " + Count(traceLines, "trace line");
  if (queries) summary += ", " + Count(*queries, "Error-table query", "Error-table queries");
  if (blocked) summary += ", " + Seconds(*blocked) + " blocked (virtual)";
  if (options.wallTime) summary += ", " + MillisecondsText(result.wallMilliseconds) + " wall time";
  if (!result.engine.empty() && result.engine != "simulated") summary += " on " + result.engine;
  out.Line(summary + " ===", result.failed ? kRed : kGreen);
  return out.Text();
}

std::string LogText(const PlayResult& result) {
  std::string text;
  size_t number = 0;
  for (const StepResult& step : result.steps) {
    text +=
        "=== vrinsim step " + std::to_string(++number) + ": " + step.title + " (" + RoadName(step.kind) + ") ===\r\n";
    for (const std::string& entry : step.log) {
      for (const std::string& line : Lines(entry)) text += line + "\r\n";
    }
  }
  return text;
}

}  // namespace vrinsim
