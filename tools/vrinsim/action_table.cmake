# Generates the table of installer actions from the module-definition file,
# so that every export taking a session is callable by name. The master
# setup's three exports take no session and are left out.
file(STRINGS "${DEF_FILE}" _lines)
set(_declarations "")
set(_entries "")
foreach(_line IN LISTS _lines)
  string(STRIP "${_line}" _name)
  if(_name STREQUAL "" OR _name MATCHES "^(LIBRARY|EXPORTS)" OR _name MATCHES "^(CheckInstallInfo|CreateConfigProfile|GetPostConfigInfo)$")
    continue()
  endif()
  string(APPEND _declarations "UINT __stdcall ${_name}(MSIHANDLE);\n")
  string(APPEND _entries "    {\"${_name}\", ${_name}},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from resources/vrinca.def by tools/vrinsim/action_table.cmake.
#include <cstring>

#include \"tools/vrinsim/action_table.h\"

extern \"C\" {
${_declarations}}

namespace vrinsim {

namespace {

struct Entry {
  const char* name;
  ActionFunction action;
};

const Entry kActions[] = {
${_entries}};

}  // namespace

ActionFunction FindAction(const std::string& name) {
  for (const Entry& entry : kActions) {
    if (name == entry.name) return entry.action;
  }
  return nullptr;
}

std::vector<std::string> ActionNames() {
  std::vector<std::string> names;
  for (const Entry& entry : kActions) names.push_back(entry.name);
  return names;
}

}  // namespace vrinsim
")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
