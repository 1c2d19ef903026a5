#include "tools/vrinsim/compare.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "tools/vrinsim/action_table.h"
#include "tools/vrinsim/report.h"

namespace vrinsim {

namespace {

// Two sequences lined up by equal keys (a longest common subsequence):
// each entry holds the index on the left, on the right, or both.
struct Aligned {
  std::optional<size_t> left, right;
};

std::vector<Aligned> Align(const std::vector<std::string>& left, const std::vector<std::string>& right) {
  // The common start and end first: plays that mostly agree leave a small
  // middle for the quadratic table.
  size_t head = 0;
  while (head < left.size() && head < right.size() && left[head] == right[head]) ++head;
  size_t tail = 0;
  while (tail < left.size() - head && tail < right.size() - head &&
         left[left.size() - 1 - tail] == right[right.size() - 1 - tail]) {
    ++tail;
  }
  const size_t rows = left.size() - head - tail;
  const size_t columns = right.size() - head - tail;
  std::vector<Aligned> aligned;
  for (size_t k = 0; k < head; ++k) aligned.push_back({k, k});
  // Middles too long for the table (logs of tens of thousands of lines that
  // differ throughout) are lined up position by position instead.
  const size_t kMostCells = size_t{1} << 24;
  if (rows > 0 && columns > kMostCells / rows) {
    for (size_t k = 0; k < std::max(rows, columns); ++k) {
      if (k < rows && k < columns && left[head + k] == right[head + k]) {
        aligned.push_back({head + k, head + k});
        continue;
      }
      if (k < rows) aligned.push_back({head + k, std::nullopt});
      if (k < columns) aligned.push_back({std::nullopt, head + k});
    }
  } else {
    // lengths[i][j]: the common subsequence of the middles from i and j on.
    std::vector<std::vector<uint32_t>> lengths(rows + 1, std::vector<uint32_t>(columns + 1, 0));
    for (size_t i = rows; i-- > 0;) {
      for (size_t j = columns; j-- > 0;) {
        lengths[i][j] = left[head + i] == right[head + j] ? lengths[i + 1][j + 1] + 1
                                                          : std::max(lengths[i + 1][j], lengths[i][j + 1]);
      }
    }
    size_t i = 0, j = 0;
    while (i < rows || j < columns) {
      if (i < rows && j < columns && left[head + i] == right[head + j]) {
        aligned.push_back({head + i++, head + j++});
      } else if (j == columns || (i < rows && lengths[i + 1][j] >= lengths[i][j + 1])) {
        aligned.push_back({head + i++, std::nullopt});
      } else {
        aligned.push_back({std::nullopt, head + j++});
      }
    }
  }
  for (size_t k = 0; k < tail; ++k) aligned.push_back({left.size() - tail + k, right.size() - tail + k});
  return aligned;
}

// What both engines can show of the library in a log: its actions' start
// and end lines, its trace lines, and a failure report's CONTEXT and
// DESCRIPTION with the line that starts it.
struct LogUnit {
  std::string head;  // the trace line, or the action line without its time
  std::string context, description;
  std::string key;  // what lines the unit up with the other engine's: known differences taken out
  std::string Text() const {
    return head + (context.empty() ? "" : " / " + context) + (description.empty() ? "" : " / " + description);
  }
};

std::vector<LogUnit> LogUnits(const StepResult& step, const std::set<std::string>& actions) {
  std::vector<LogUnit> units;
  for (const std::string& line : LogLines(step.log)) {
    const std::string action = ActionLine(line);
    const std::string text = LibraryText(line);
    const bool report = !units.empty() && units.back().description.empty() && !LibraryText(units.back().head).empty();
    if (!action.empty()) {
      if (!actions.count(ActionOf(action))) continue;
      // A failed action's return value is Wine's own: lined up, then named.
      std::string key = action;
      for (const char* failed : {". Return value 0.", ". Return value 3."}) {
        const size_t at = key.rfind(failed);
        if (at != std::string::npos && at + std::string(failed).size() == key.size()) key = key.substr(0, at);
      }
      units.push_back({action, "", "", key});
    } else if (line.rfind("CONTEXT = ", 0) == 0 && report && units.back().context.empty()) {
      units.back().context = line;
      units.back().key += "\n" + line;
    } else if (line.rfind("DESCRIPTION = ", 0) == 0 && report) {
      units.back().description = line;
    } else if (!text.empty()) {
      units.push_back({line, "", "", FormattedOnceMore(text)});
    }
  }
  return units;
}

void CompareLogs(const StepResult& simulated, const StepResult& wine, std::vector<Difference>& out) {
  std::set<std::string> actions;
  for (const std::string& name : ActionNames()) actions.insert(name);
  for (const std::string& entry : simulated.log) {
    if (!ActionLine(entry).empty()) actions.insert(ActionOf(ActionLine(entry)));
  }
  const std::vector<LogUnit> left = LogUnits(simulated, actions);
  const std::vector<LogUnit> right = LogUnits(wine, actions);
  std::vector<std::string> leftKeys, rightKeys;
  for (const LogUnit& unit : left) leftKeys.push_back(unit.key);
  for (const LogUnit& unit : right) rightKeys.push_back(unit.key);
  // A line one engine wrote where the other wrote a line of the same call
  // (the same text up to its last "->" or "<-" or up to a number that ends
  // it, or the same text but for letter
  // case) is one line changed: the two are paired, so that a known
  // difference sees both sides ("AddShare(...)  -> 0" and "...  -> 50").
  auto sameCall = [&](size_t l, size_t r) {
    const std::string a = Lower(left[l].head), b = Lower(right[r].head);
    const std::string arrow = a.find("<-") != std::string::npos ? "<-" : "->";
    const size_t arrowA = a.rfind(arrow), arrowB = b.rfind(arrow);
    const size_t numberA = a.find_last_not_of("0123456789 "), numberB = b.find_last_not_of("0123456789 ");
    return a == b || (arrowA != std::string::npos && arrowA == arrowB && a.compare(0, arrowA, b, 0, arrowB) == 0) ||
           (numberA != std::string::npos && numberA + 1 < a.size() && numberA == numberB &&
            a.compare(0, numberA + 1, b, 0, numberB + 1) == 0);
  };
  std::vector<Aligned> aligned;
  std::vector<size_t> onlyLeft, onlyRight;
  auto flush = [&]() {
    std::vector<bool> used(onlyRight.size(), false);
    size_t nextRight = 0;
    for (size_t l : onlyLeft) {
      size_t match = 0;
      while (match < onlyRight.size() && (used[match] || !sameCall(l, onlyRight[match]))) ++match;
      if (match == onlyRight.size()) {
        aligned.push_back({l, std::nullopt});
        continue;
      }
      // The other engine's lines before the match stay in their place.
      for (; nextRight < match; ++nextRight) {
        if (!used[nextRight]) aligned.push_back({std::nullopt, onlyRight[nextRight]});
        used[nextRight] = true;
      }
      used[match] = true;
      aligned.push_back({l, onlyRight[match]});
    }
    for (size_t r = 0; r < onlyRight.size(); ++r) {
      if (!used[r]) aligned.push_back({std::nullopt, onlyRight[r]});
    }
    onlyLeft.clear();
    onlyRight.clear();
  };
  for (const Aligned& pair : Align(leftKeys, rightKeys)) {
    if (pair.left && pair.right) {
      flush();
      aligned.push_back(pair);
    } else {
      (pair.left ? onlyLeft : onlyRight).push_back(pair.left ? *pair.left : *pair.right);
    }
  }
  flush();
  for (const Aligned& pair : aligned) {
    Difference difference;
    difference.area = "log";
    if (!pair.left || !pair.right) {
      (pair.left ? difference.simulated : difference.wine) =
          pair.left ? left[*pair.left].Text() : right[*pair.right].Text();
      out.push_back(difference);
      continue;
    }
    const LogUnit& a = left[*pair.left];
    const LogUnit& b = right[*pair.right];
    if (a.head != b.head) {
      difference.simulated = a.head;
      difference.wine = b.head;
      out.push_back(difference);
    }
    if (a.description != b.description) {
      difference.simulated = a.description;
      difference.wine = b.description;
      out.push_back(difference);
    }
  }
}

void CompareActions(const StepResult& simulated, const StepResult& wine, std::vector<Difference>& out) {
  std::vector<std::string> left, right;
  for (const vrinroad::ActionCall& call : simulated.calls) left.push_back(call.name);
  for (const vrinroad::ActionCall& call : wine.calls) right.push_back(call.name);
  auto text = [](const vrinroad::ActionCall& call) { return call.name + " returned " + std::to_string(call.result); };
  for (const Aligned& pair : Align(left, right)) {
    Difference difference;
    difference.area = "action";
    difference.subject = pair.left ? left[*pair.left] : right[*pair.right];
    if (pair.left) difference.simulated = text(simulated.calls[*pair.left]);
    if (pair.right) difference.wine = text(wine.calls[*pair.right]);
    if (difference.simulated != difference.wine) out.push_back(difference);
  }
}

void CompareProperties(const StepResult& simulated, const StepResult& wine, std::vector<Difference>& out) {
  std::map<std::string, std::pair<std::string, std::string>> values;  // name -> simulated, wine
  std::set<std::string> onSimulated, onWine;
  for (const auto& [name, value] : simulated.propertiesLeftSet) {
    values[name].first = value;
    onSimulated.insert(name);
  }
  for (const auto& [name, value] : wine.propertiesLeftSet) {
    values[name].second = value;
    onWine.insert(name);
  }
  for (const auto& [name, both] : values) {
    if (onSimulated.count(name) && onWine.count(name) && both.first == both.second) continue;
    Difference difference;
    difference.area = "property";
    difference.subject = name;
    difference.simulated = onSimulated.count(name) ? both.first : "";
    difference.wine = onWine.count(name) ? both.second : "";
    // A property one engine left empty and the other did not set reads the same to a package.
    if (difference.simulated != difference.wine) out.push_back(difference);
  }
}

// What a change is about, so that each engine's change of one thing meets
// the other's: Windows names (keys, values, paths) without letter case.
std::string Identity(const MachineChange& change) {
  std::string kind = change.what;
  if (change.area == "registry" && kind.rfind("value ", 0) == 0) kind = "value";
  if (change.area == "file" && kind != "deleted at restart") kind = "file";
  if (change.area == "share") kind = "share";
  return change.area + "\n" + kind + "\n" + Lower(change.key) + "\n" + Lower(change.name);
}

std::string ChangeText(const MachineChange& change) {
  if (change.area == "registry" && change.what.rfind("value ", 0) == 0) {
    return "[" + change.key + "] " + ChangeLine(change);
  }
  return ChangeLine(change);
}

bool SameChange(const MachineChange& a, const MachineChange& b) {
  return a.what == b.what && a.before == b.before && a.after == b.after;
}

void CompareMachines(const StepResult& simulated, const StepResult& wine, std::vector<Difference>& out) {
  std::vector<std::string> order;
  std::map<std::string, std::pair<std::optional<MachineChange>, std::optional<MachineChange>>> changes;
  for (const MachineChange& change : simulated.machineChanges) {
    const std::string identity = Identity(change);
    if (!changes.count(identity)) order.push_back(identity);
    changes[identity].first = change;
  }
  for (const MachineChange& change : wine.machineChanges) {
    const std::string identity = Identity(change);
    if (!changes.count(identity)) order.push_back(identity);
    changes[identity].second = change;
  }
  for (const std::string& identity : order) {
    const auto& [left, right] = changes.at(identity);
    if (left && right && SameChange(*left, *right)) continue;
    const MachineChange& either = left ? *left : *right;
    Difference difference;
    difference.area = either.area;
    difference.subject = either.key + (either.name.empty() ? "" : " : " + either.name);
    difference.simulatedChange = left;
    difference.wineChange = right;
    if (left) difference.simulated = ChangeText(*left);
    if (right) difference.wine = ChangeText(*right);
    out.push_back(difference);
  }
}

std::string Outcome(const StepResult& step) { return Verdict(step).substr(0, Verdict(step).find('\n')); }

void CompareStep(const StepResult& simulated, const StepResult& wine, std::vector<Difference>& out) {
  if (simulated.failed != wine.failed) {
    Difference difference;
    difference.area = "outcome";
    difference.simulated = Outcome(simulated);
    difference.wine = Outcome(wine);
    out.push_back(difference);
  }
  CompareActions(simulated, wine, out);
  CompareLogs(simulated, wine, out);
  CompareProperties(simulated, wine, out);
  CompareMachines(simulated, wine, out);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string DifferenceText(const Difference& difference, const std::string& wineName) {
  std::string what = difference.area + (difference.subject.empty() ? "" : " " + difference.subject) + ": ";
  if (difference.wine.empty()) return what + "simulated only: " + Quoted(difference.simulated);
  if (difference.simulated.empty()) return what + wineName + " only: " + Quoted(difference.wine);
  return what + "simulated " + Quoted(difference.simulated) + ", " + wineName + " " + Quoted(difference.wine);
}

std::string PlaySummary(const PlayResult& play, bool wallTime) {
  std::string text =
      play.engine + ": " + (play.failed ? "FAILED" : "completed") + " after " + Count(play.steps.size(), "step");
  if (wallTime) text += ", " + MillisecondsText(play.wallMilliseconds) + " wall time";
  return text;
}

}  // namespace

size_t Comparison::Unexplained() const {
  return static_cast<size_t>(std::count_if(differences.begin(), differences.end(),
                                           [](const Difference& difference) { return difference.known.empty(); }));
}

Comparison Compare(const PlayResult& simulated, const PlayResult& wine) {
  Comparison comparison;
  comparison.steps = std::max(simulated.steps.size(), wine.steps.size());
  for (size_t i = 0; i < comparison.steps; ++i) {
    const StepResult* left = i < simulated.steps.size() ? &simulated.steps[i] : nullptr;
    const StepResult* right = i < wine.steps.size() ? &wine.steps[i] : nullptr;
    std::vector<Difference> differences;
    if (left == nullptr || right == nullptr) {
      Difference difference;
      difference.area = "step";
      (left ? difference.simulated : difference.wine) = "played: " + Outcome(left ? *left : *right);
      differences.push_back(difference);
    } else {
      CompareStep(*left, *right, differences);
    }
    for (Difference& difference : differences) {
      difference.step = i + 1;
      if (const KnownDifference* known = Recognise(difference, left, right)) difference.known = known->name;
    }
    const std::string follows = NameFollowingDifferences(differences, comparison.differences, left, right);
    if (!follows.empty()) comparison.follows[i + 1] = follows;
    comparison.differences.insert(comparison.differences.end(), differences.begin(), differences.end());
  }
  return comparison;
}

std::string ComparisonText(const Scenario& scenario, const Comparison& comparison, const PlayResult& simulated,
                           const PlayResult& wine, bool wallTime) {
  const std::string& wineName = wine.engine;
  std::string text = "=== compare " + scenario.name + ": " + scenario.title + " ===\n";
  text += PlaySummary(simulated, wallTime) + "\n";
  text += PlaySummary(wine, wallTime) + "\n";
  std::map<std::string, size_t> knownMet;
  for (size_t step = 1; step <= comparison.steps; ++step) {
    const std::vector<StepResult>& steps = step <= simulated.steps.size() ? simulated.steps : wine.steps;
    const StepResult& played = steps[step - 1];
    text += "\n--- step " + std::to_string(step) + ": " + played.title + " (" + RoadName(played.kind) + ") ---\n";
    // Unexplained differences in full; a known one that comes back (every
    // exit line of a step, say) once, with its count: the JSON report has
    // them all.
    std::vector<std::string> unexplained;
    std::map<std::string, std::pair<const Difference*, size_t>> known;  // name -> first, count
    std::vector<std::string> knownOrder;
    for (const Difference& difference : comparison.differences) {
      if (difference.step != step) continue;
      if (difference.known.empty()) {
        unexplained.push_back("  UNEXPLAINED " + DifferenceText(difference, wineName) + "\n");
        continue;
      }
      ++knownMet[difference.known];
      if (!known.count(difference.known)) knownOrder.push_back(difference.known);
      auto& [first, count] = known[difference.known];
      if (first == nullptr) first = &difference;
      ++count;
    }
    if (step <= wine.steps.size() && !wine.steps[step - 1].machineNotTheScenarios.empty()) {
      text += "  not comparable: " + wine.steps[step - 1].machineNotTheScenarios + "\n";
    }
    if (comparison.follows.count(step))
      text += "  follows from an earlier difference: " + comparison.follows.at(step) + "\n";
    if (unexplained.empty() && known.empty()) text += "  no differences\n";
    for (const std::string& line : unexplained) text += line;
    for (const std::string& name : knownOrder) {
      const auto& [first, count] = known.at(name);
      text += "  known (" + name + ") " + (count == 1 ? "" : std::to_string(count) + " times, the first: ") +
              DifferenceText(*first, wineName) + "\n";
    }
  }
  size_t knownCount = 0;
  if (!knownMet.empty()) text += "\nKnown differences met:\n";
  for (const KnownDifference& known : KnownDifferences()) {
    if (!knownMet.count(known.name)) continue;
    knownCount += knownMet.at(known.name);
    text += "  " + std::string(known.name) + " (" + std::to_string(knownMet.at(known.name)) +
            "): " + known.explanation + "\n";
  }
  text += "\n=== " + Count(comparison.steps, "step") +
          " compared: " + Count(comparison.Unexplained(), "unexplained difference") + ", " +
          Count(knownCount, "known difference") + " ===\n";
  return text;
}

}  // namespace vrinsim
