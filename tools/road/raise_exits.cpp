#include "tools/road/raise_exits.h"

#include <cxxabi.h>
#include <elf.h>
#include <link.h>
#include <unwind.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <utility>

namespace vrinroad {

namespace {

struct Symbol {
  uintptr_t start;
  uintptr_t end;
  std::string name;
};

// The routine a symbol names: "InstallDeleteFile(unsigned long, char const*)
// [clone .cold]" and "VrinNTStartVrin.cold" give "InstallDeleteFile" and
// "VrinNTStartVrin".
std::string RoutineName(const std::string& symbol) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : symbol;
  std::free(demangled);
  const std::string anonymous = "(anonymous namespace)::";
  for (size_t at; (at = name.find(anonymous)) != std::string::npos;) name.erase(at, anonymous.size());
  name = name.substr(0, name.find_first_of(status == 0 ? "(" : "."));
  const size_t scope = name.rfind("::");
  return scope != std::string::npos ? name.substr(scope + 2) : name;
}

int FirstObject(dl_phdr_info* info, size_t, void* bias) {
  *static_cast<uintptr_t*>(bias) = info->dlpi_addr;
  return 1;  // the program itself comes first
}

// The functions of the program's symbol table, by address.
class Symbols {
 public:
  static Symbols& Instance() {
    static Symbols symbols;
    return symbols;
  }

  const std::string* Find(uintptr_t address) const {
    auto it = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                               [](uintptr_t value, const Symbol& symbol) { return value < symbol.start; });
    if (it == symbols_.begin()) return nullptr;
    --it;
    return address < it->end ? &it->name : nullptr;
  }

 private:
  Symbols() {
    uintptr_t bias = 0;
    dl_iterate_phdr(FirstObject, &bias);
    std::ifstream file("/proc/self/exe", std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (image.size() < sizeof(Elf64_Ehdr) || image.compare(0, SELFMAG, ELFMAG) != 0) return;
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    if (header->e_shoff + static_cast<size_t>(header->e_shnum) * sizeof(Elf64_Shdr) > image.size()) return;
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    const Elf64_Shdr* table = nullptr;
    for (int i = 0; i < header->e_shnum; ++i) {
      if (sections[i].sh_type == SHT_SYMTAB || (table == nullptr && sections[i].sh_type == SHT_DYNSYM)) {
        table = &sections[i];
      }
    }
    if (table == nullptr || table->sh_link >= header->e_shnum) return;
    const Elf64_Shdr& strings = sections[table->sh_link];
    if (table->sh_offset + table->sh_size > image.size() || strings.sh_offset + strings.sh_size > image.size()) return;
    const auto* entries = reinterpret_cast<const Elf64_Sym*>(image.data() + table->sh_offset);
    for (size_t i = 0; i < table->sh_size / sizeof(Elf64_Sym); ++i) {
      const Elf64_Sym& entry = entries[i];
      if (ELF64_ST_TYPE(entry.st_info) != STT_FUNC || entry.st_value == 0 || entry.st_size == 0 ||
          entry.st_name >= strings.sh_size) {
        continue;
      }
      const char* name = image.data() + strings.sh_offset + entry.st_name;
      symbols_.push_back(Symbol{bias + entry.st_value, bias + entry.st_value + entry.st_size,
                                std::string(name, strnlen(name, strings.sh_size - entry.st_name))});
    }
    std::sort(symbols_.begin(), symbols_.end(), [](const Symbol& a, const Symbol& b) { return a.start < b.start; });
  }

  std::vector<Symbol> symbols_;
};

// The routine of a frame, or empty; its name is made once per symbol.
std::string RoutineAt(uintptr_t ip) {
  static std::map<const std::string*, std::string> names;
  // A return address may lie just past the call's routine.
  const std::string* symbol = Symbols::Instance().Find(ip - 1);
  if (symbol == nullptr) return "";
  auto it = names.find(symbol);
  if (it == names.end()) it = names.emplace(symbol, RoutineName(*symbol)).first;
  return it->second;
}

_Unwind_Reason_Code AddFrame(_Unwind_Context* context, void* frames) {
  static_cast<std::vector<StackFrame>*>(frames)->push_back(
      StackFrame{static_cast<uintptr_t>(_Unwind_GetIP(context)), static_cast<uintptr_t>(_Unwind_GetCFA(context))});
  return _URC_NO_REASON;
}

}  // namespace

std::vector<StackFrame> CurrentStack() {
  std::vector<StackFrame> frames;
  _Unwind_Backtrace(AddFrame, &frames);
  return frames;
}

std::vector<std::string> Routines(const std::vector<StackFrame>& frames) {
  std::vector<std::string> routines;
  for (const StackFrame& frame : frames) {
    std::string routine = RoutineAt(frame.ip);
    if (!routine.empty()) routines.push_back(std::move(routine));
  }
  return routines;
}

std::vector<std::string> RoutinesLeft(const std::vector<StackFrame>& thrown, const std::vector<StackFrame>& caught) {
  // A frame lives on where the handler runs when a frame at the same place
  // belongs to the same routine: the handler's own frame, and its callers.
  std::multimap<uintptr_t, std::string> alive;
  for (const StackFrame& frame : caught) alive.emplace(frame.cfa, RoutineAt(frame.ip));
  std::vector<std::string> left;
  for (const StackFrame& frame : thrown) {
    const std::string routine = RoutineAt(frame.ip);
    auto [first, last] = alive.equal_range(frame.cfa);
    bool lives = false;
    for (auto it = first; it != last && !lives; ++it) lives = it->second == routine;
    if (!lives && !routine.empty()) left.push_back(routine);
  }
  return left;
}

void LoadRoutineNames() { Symbols::Instance(); }

}  // namespace vrinroad
