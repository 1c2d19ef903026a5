// The shell of the simulated machine: file associations a test sets up, and
// the documents ShellExecute opened, recorded instead of started.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct LaunchedDocument {
  std::string file;  // the Windows path that was opened
  std::string verb;  // as passed; "" for the default verb
  std::string parameters;
  std::string directory;  // the working directory as passed
  std::string program;    // what opened it
  int show = 0;
};

struct Association {
  std::string program;
  std::vector<std::string> verbs;  // the first is the default
};

class Shell {
 public:
  static Shell& Instance();
  // No associations, nothing launched.
  void Reset();

  // Files ending in extension (".txt") open with program; it offers verbs.
  void Associate(const std::string& extension, const std::string& program, std::vector<std::string> verbs = {"open"});
  std::optional<Association> Find(const std::string& extension) const;

  void Record(LaunchedDocument document) { launched_.push_back(std::move(document)); }
  const std::vector<LaunchedDocument>& Launched() const { return launched_; }

 private:
  std::map<std::string, Association> associations_;  // by case-folded extension
  std::vector<LaunchedDocument> launched_;
};

}  // namespace host
