#include "host/faults.h"

#include <strings.h>
#include <new>

#include "host/library_heap.h"

namespace host {

Faults& Faults::Instance() {
  static Faults faults;
  return faults;
}

void Faults::Fail(const std::string& function, uint32_t error, int nth, const std::string& key) {
  rules_.push_back(Rule{function, key, error, nth, 0});
}

void Faults::Clear() {
  rules_.clear();
  lengthenings_.clear();
  texts_.clear();
  calls_.clear();
  sequence_.clear();
}

std::optional<uint32_t> Faults::Check(const char* function, const char* key) {
  if (paused_ > 0) return std::nullopt;
  ++calls_[function];
  sequence_.emplace_back(function, key != nullptr ? key : "");
  for (Rule& rule : rules_) {
    if (rule.function != function) continue;
    if (!rule.key.empty() && (key == nullptr || strcasecmp(rule.key.c_str(), key) != 0)) continue;
    ++rule.seen;
    if (rule.nth == 0 || rule.seen == rule.nth) return rule.error;
  }
  return std::nullopt;
}

void Faults::Lengthen(const std::string& function, const std::string& key, size_t length) {
  lengthenings_.push_back(Lengthening{function, key, length});
}

std::string Faults::Text(const char* function, const std::string& key, const std::string& text) {
  if (paused_ > 0) return text;
  std::string& longest = texts_[{function, key}];
  if (text.size() >= longest.size()) longest = text;
  for (const Lengthening& rule : lengthenings_) {
    if (rule.function != function || (!rule.key.empty() && rule.key != key) || text.size() >= rule.length) continue;
    size_t at = text.size();
    if (at > 0 && (text[at - 1] == '\\' || text[at - 1] == '"')) --at;
    return text.substr(0, at) + std::string(rule.length - text.size(), 'x') + text.substr(at);
  }
  return text;
}

int Faults::TotalCalls() const {
  int total = 0;
  for (const auto& [name, count] : calls_) total += count;
  return total;
}

}  // namespace host

// The library allocates only through the nothrow forms; replacing them lets a
// test make any of its allocations fail. They allocate through the ordinary
// operator new so that the ordinary delete (and the sanitizers) match.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (host::Faults::Instance().Check(host::kAllocationFunction)) return nullptr;
  try {
    void* block = ::operator new(size);
    host::NoteLibraryAllocation(block);
    return block;
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (host::Faults::Instance().Check(host::kAllocationFunction)) return nullptr;
  try {
    void* block = ::operator new[](size);
    host::NoteLibraryAllocation(block);
    return block;
  } catch (...) {
    return nullptr;
  }
}
