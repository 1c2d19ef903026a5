# Generates the rows the simulated roads take from the integration kit
# (packaging/): where each merge module's orchestrators sit (BaseAction and
# After of ModuleInstallExecuteSequence), their numbers in a consuming
# product's InstallExecuteSequence, and the Error rows both modules bring.
# Called with KIT (the packaging folder) and OUTPUT.
cmake_policy(SET CMP0007 NEW)
function(kit_rows table module out_var)
  file(STRINGS "${KIT}/${module}/${table}.idt" _lines)
  list(LENGTH _lines _count)
  set(_rows "")
  if(_count GREATER 3)
    list(SUBLIST _lines 3 -1 _rows)
  endif()
  set(${out_var} "${_rows}" PARENT_SCOPE)
endfunction()

# The fields of one row; empty fields are kept.
function(kit_fields line out_var)
  string(REPLACE ";" "\\;" _line "${line}")
  string(REPLACE "\t" ";" _fields "${_line}")
  set(${out_var} "${_fields}" PARENT_SCOPE)
endfunction()

function(c_string text out_var)
  string(REPLACE "\\" "\\\\" _text "${text}")
  string(REPLACE "\"" "\\\"" _text "${_text}")
  set(${out_var} "\"${_text}\"" PARENT_SCOPE)
endfunction()

set(_orchestrators "")
foreach(_module server console)
  kit_rows(InstallExecuteSequence ${_module} _numbers)
  kit_rows(ModuleInstallExecuteSequence ${_module} _places)
  foreach(_place IN LISTS _places)
    kit_fields("${_place}" _fields)
    list(GET _fields 0 _action)
    list(GET _fields 2 _base)
    list(GET _fields 3 _after)
    set(_sequence "")
    foreach(_number IN LISTS _numbers)
      kit_fields("${_number}" _nfields)
      list(GET _nfields 0 _naction)
      if(_naction STREQUAL _action)
        list(GET _nfields 2 _sequence)
      endif()
    endforeach()
    if(_sequence STREQUAL "")
      message(FATAL_ERROR "${KIT}/${_module}/InstallExecuteSequence.idt has no row for ${_action}")
    endif()
    if(_module STREQUAL "console")
      set(_console true)
    else()
      set(_console false)
    endif()
    string(APPEND _orchestrators "    {\"${_action}\", ${_console}, \"${_base}\", ${_after}, ${_sequence}},\n")
  endforeach()
endforeach()

set(_errors "")
kit_rows(Error common _error_rows)
foreach(_row IN LISTS _error_rows)
  kit_fields("${_row}" _fields)
  list(GET _fields 0 _number)
  list(GET _fields 1 _message)
  c_string("${_message}" _message)
  string(APPEND _errors "    {${_number}, ${_message}},\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Generated from packaging/ by tools/road/kit_rows.cmake.
#include \"tools/road/kit_rows.h\"

namespace vrinkit {

const std::vector<ModuleRow>& ModuleRows() {
  static const std::vector<ModuleRow> rows = {
${_orchestrators}  };
  return rows;
}

const std::vector<ErrorRow>& ErrorRows() {
  static const std::vector<ErrorRow> rows = {
${_errors}  };
  return rows;
}

}  // namespace vrinkit
")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
