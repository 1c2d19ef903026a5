#include "tools/vrinsim/report_json.h"

#include <map>
#include <optional>

#include "tools/vrinsim/json.h"
#include "tools/vrinsim/report.h"

namespace vrinsim {

namespace {

void Start(JsonWriter& json, const char* command) {
  json.BeginObject();
  json.Field("schema", kReportSchema);
  json.Field("command", command);
}

void ScenarioOf(JsonWriter& json, const Scenario& scenario) {
  json.Key("scenario");
  json.BeginObject();
  json.Field("name", scenario.name);
  json.Field("title", scenario.title);
  json.Field("folder", scenario.folder);
  json.Field("steps", scenario.steps.size());
  json.EndObject();
}

void Change(JsonWriter& json, const MachineChange& change) {
  json.BeginObject();
  json.Field("area", change.area);
  json.Field("what", change.what);
  json.Field("key", change.key);
  if (change.area == "registry") json.Field("name", ValueName(change.name));
  json.Field("before", change.before);
  json.Field("after", change.after);
  json.Field("text", ChangeLine(change));
  json.EndObject();
}

// A figure only some engines measure: null where this one does not.
template <typename Number>
void Measured(JsonWriter& json, const std::string& name, const std::optional<Number>& figure) {
  json.Key(name);
  if (figure) {
    json.Unsigned(static_cast<uint64_t>(*figure));
  } else {
    json.Null();
  }
}

void Step(JsonWriter& json, size_t number, const StepResult& step) {
  json.BeginObject();
  json.Field("number", number);
  json.Field("title", step.title);
  json.Field("road", RoadName(step.kind));
  json.Field("failed", step.failed);
  json.Field("failure", step.failure);
  json.Field("verdict", Verdict(step));
  json.Strings("log", LogLines(step.log));
  json.Key("actions");
  json.BeginArray();
  for (const vrinroad::ActionCall& call : step.calls) {
    json.BeginObject();
    json.Field("name", call.name);
    json.Field("result", static_cast<uint64_t>(call.result));
    json.EndObject();
  }
  json.EndArray();
  json.Strings("outcome", step.outcome);
  json.Strings("messageBoxes", step.messageBoxes);
  json.Key("changes");
  json.BeginArray();
  for (const MachineChange& change : step.machineChanges) Change(json, change);
  json.EndArray();
  json.Key("properties");
  json.BeginObject();
  for (const auto& [name, value] : step.propertiesLeftSet) json.Field(name, value);
  json.EndObject();
  json.Strings("featureRequests", step.featureRequests);
  json.Strings("engineNotes", step.engineNotes);
  json.Key("figures");
  json.BeginObject();
  json.Field("traceLines", step.traceLines);
  json.Field("failureReports", step.failureReports);
  json.Field("warnings", step.warnings);
  Measured(json, "errorTableQueries", step.errorTableQueries);
  Measured(json, "blockedMilliseconds", step.blockedMilliseconds);
  json.Field("wallMilliseconds", step.wallMilliseconds);
  json.EndObject();
  json.EndObject();
}

void Play(JsonWriter& json, const PlayResult& result) {
  json.BeginObject();
  json.Field("engine", result.engine);
  json.Key("steps");
  json.BeginArray();
  size_t number = 0;
  for (const StepResult& step : result.steps) Step(json, ++number, step);
  json.EndArray();
  std::vector<std::string> warnings;
  for (const Problem& warning : result.warnings) warnings.push_back(warning.Text());
  json.Strings("warnings", warnings);
  size_t actions = 0;
  int64_t traceLines = 0;
  std::optional<uint64_t> queries, blocked;
  for (const StepResult& step : result.steps) {
    actions += step.calls.size();
    traceLines += step.traceLines;
    if (step.errorTableQueries) queries = queries.value_or(0) + static_cast<uint64_t>(*step.errorTableQueries);
    if (step.blockedMilliseconds) blocked = blocked.value_or(0) + *step.blockedMilliseconds;
  }
  json.Key("summary");
  json.BeginObject();
  json.Field("failed", result.failed);
  json.Field("stepsPlayed", result.steps.size());
  json.Field("actions", actions);
  json.Field("traceLines", traceLines);
  Measured(json, "errorTableQueries", queries);
  Measured(json, "blockedMilliseconds", blocked);
  json.Field("wallMilliseconds", result.wallMilliseconds);
  json.EndObject();
  json.EndObject();
}

}  // namespace

std::string PlayJson(const Scenario& scenario, const PlayResult& result) {
  JsonWriter json;
  Start(json, "run");
  ScenarioOf(json, scenario);
  json.Key("play");
  Play(json, result);
  json.EndObject();
  return json.Text();
}

std::string CompareJson(const Scenario& scenario, const Comparison& comparison, const PlayResult& simulated,
                        const PlayResult& wine) {
  JsonWriter json;
  Start(json, "compare");
  ScenarioOf(json, scenario);
  json.Key("plays");
  json.BeginArray();
  Play(json, simulated);
  Play(json, wine);
  json.EndArray();
  std::map<std::string, size_t> met;
  json.Key("differences");
  json.BeginArray();
  for (const Difference& difference : comparison.differences) {
    json.BeginObject();
    json.Field("step", difference.step);
    json.Field("area", difference.area);
    json.Field("subject", difference.subject);
    json.Field("simulated", difference.simulated);
    json.Field("wine", difference.wine);
    for (const auto& [name, change] : {std::make_pair("simulatedChange", &difference.simulatedChange),
                                       std::make_pair("wineChange", &difference.wineChange)}) {
      json.Key(name);
      if (*change) {
        Change(json, **change);
      } else {
        json.Null();
      }
    }
    json.Key("known");
    if (difference.known.empty()) {
      json.Null();
    } else {
      json.String(difference.known);
      ++met[difference.known];
    }
    json.EndObject();
  }
  json.EndArray();
  json.Key("knownDifferences");
  json.BeginArray();
  for (const KnownDifference& known : KnownDifferences()) {
    if (!met.count(known.name)) continue;
    json.BeginObject();
    json.Field("name", known.name);
    json.Field("explanation", known.explanation);
    json.Field("count", met.at(known.name));
    json.EndObject();
  }
  json.EndArray();
  json.Key("summary");
  json.BeginObject();
  json.Field("steps", comparison.steps);
  json.Field("differences", comparison.differences.size());
  json.Field("unexplained", comparison.Unexplained());
  json.EndObject();
  json.EndObject();
  return json.Text();
}

std::string ExploreJson(const ExploreReport& report) {
  JsonWriter json;
  Start(json, "explore");
  json.Field("seed", report.seed);
  json.Field("walks", report.walks);
  json.Field("steps", report.steps);
  json.Field("roads", report.roads);
  json.Field("wallSeconds", report.wallSeconds);
  json.Key("checks");
  json.BeginObject();
  for (const auto& [invariant, count] : report.checks) json.Field(invariant, count);
  json.EndObject();
  json.Key("exceptionsRelied");
  json.BeginObject();
  for (const auto& [exception, count] : report.exceptionsRelied) json.Field(exception, count);
  json.EndObject();
  json.Key("findings");
  json.BeginArray();
  for (const Finding& finding : report.findings) {
    json.BeginObject();
    json.Field("invariant", finding.invariant);
    json.Field("what", finding.what);
    json.Field("walk", finding.walk);
    json.Field("walkSteps", finding.walkSteps);
    json.Field("shrunkSteps", finding.shrunkSteps);
    json.Field("walksBreakingIt", finding.walksBreakingIt);
    json.Field("scenarioFolder", finding.scenarioFolder);
    json.EndObject();
  }
  json.EndArray();
  json.Key("summary");
  json.BeginObject();
  json.Field("checks", report.TotalChecks());
  json.Field("broken", report.findings.size());
  json.EndObject();
  json.EndObject();
  return json.Text();
}

}  // namespace vrinsim
