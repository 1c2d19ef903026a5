// A package from a folder of text archive (.idt) tables, as Orca and
// MsiDatabaseExport write them.
#pragma once

#include <string>
#include <vector>

namespace vrinsim {

// The SQL that creates the folder's tables and rows; a malformed table is a
// ScenarioError naming its file and line.
std::vector<std::string> IdtTablesSql(const std::string& folder);

}  // namespace vrinsim
