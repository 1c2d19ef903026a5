// The library's installer actions by their exported names.
#pragma once

#include <string>
#include <vector>

#include "host/platform.h"

namespace vrinsim {

using ActionFunction = UINT(__stdcall*)(MSIHANDLE);

// Null for a name the library does not export as an action.
ActionFunction FindAction(const std::string& name);

// Every action's name, in the order of the module-definition file.
std::vector<std::string> ActionNames();

}  // namespace vrinsim
