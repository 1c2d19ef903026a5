// The integration kit's rows (packaging/), read at build time: where the
// merge modules' orchestrators sit in a consuming product's sequence and
// the Error rows the modules bring. The simulated roads and vrinsim's
// built-in package take them from here, so a change in the kit changes them.
#pragma once

#include <string>
#include <vector>

namespace vrinkit {

// One orchestrator: its ModuleInstallExecuteSequence place (the standard
// action it sits after or before) and its InstallExecuteSequence number in
// a consuming product.
struct ModuleRow {
  const char* action;
  bool console;  // the console module's, else the server module's
  const char* baseAction;
  int after;  // 1 after baseAction, 0 before it
  int sequence;
};

struct ErrorRow {
  int number;
  const char* message;
};

// Server module first, then console, each in its table's order.
const std::vector<ModuleRow>& ModuleRows();
const std::vector<ErrorRow>& ErrorRows();

}  // namespace vrinkit
