// Fault injection: a test makes the n-th call of a named platform function
// fail with a chosen error, optionally only for calls about a given key (a
// property name, a path, a registry key). Every simulated call also counts
// itself, so a sweep can replay a road with each call failing in turn.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {

class Faults {
 public:
  static Faults& Instance();

  // Fail the nth matching call of function (1 = the next one) with error;
  // nth 0 fails every matching call. An empty key matches any call.
  void Fail(const std::string& function, uint32_t error, int nth = 1, const std::string& key = "");
  void Clear();

  // Called by each simulated function on entry; the error to fail with, if any.
  std::optional<uint32_t> Check(const char* function, const char* key = nullptr);

  // Over-long outside text: every text that function hands the library about
  // key (a property, a registry value, a profile entry, a service...) reads
  // as length characters, its own with filler put in before a final
  // backslash or quote, so that a folder stays a folder and a quoted path
  // quoted. A text already that long stays as it is.
  void Lengthen(const std::string& function, const std::string& key, size_t length);

  // Called by each simulated function that hands the library a text from
  // outside: the text as the rules make it. What was read is kept, by
  // function and key, with the longest text seen.
  std::string Text(const char* function, const std::string& key, const std::string& text);
  const std::map<std::pair<std::string, std::string>, std::string>& TextsRead() const { return texts_; }

  // Calls seen since the last Clear, by function name.
  const std::map<std::string, int>& CallCounts() const { return calls_; }
  int TotalCalls() const;
  // Every call seen since the last Clear, in order: function and key.
  const std::vector<std::pair<std::string, std::string>>& CallSequence() const { return sequence_; }

  // While a Pause lives, calls are neither counted nor failed: the work a
  // test driver does on the library's behalf stays out of a sweep.
  class Pause {
   public:
    Pause() { ++Instance().paused_; }
    ~Pause() { --Instance().paused_; }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
  };

 private:
  struct Rule {
    std::string function;
    std::string key;
    uint32_t error;
    int nth;
    int seen;
  };
  struct Lengthening {
    std::string function;
    std::string key;
    size_t length;
  };
  std::vector<Rule> rules_;
  std::vector<Lengthening> lengthenings_;
  std::map<std::pair<std::string, std::string>, std::string> texts_;
  std::map<std::string, int> calls_;
  std::vector<std::pair<std::string, std::string>> sequence_;
  int paused_ = 0;
};

// Name of the allocation path in fault rules: the library's new (std::nothrow).
inline constexpr const char* kAllocationFunction = "operator new";

}  // namespace host
