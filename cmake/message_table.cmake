# The library's message table has one source, resources/messages.txt, which
# resources/message_table.py turns into what each build needs: a resource
# script with one RT_MESSAGETABLE per language for the Windows builds, the
# same bytes as C++ arrays for the simulated machine of the native build.
include_guard(GLOBAL)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(VRINCA_MESSAGES_SOURCE "${PROJECT_SOURCE_DIR}/resources/messages.txt")
set(VRINCA_MESSAGES_SCRIPT "${PROJECT_SOURCE_DIR}/resources/message_table.py")

# vrinca_message_table(<rc|cpp> <output>): a rule that writes output.
function(vrinca_message_table format output)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND Python3::Interpreter "${VRINCA_MESSAGES_SCRIPT}" --${format} "${output}" "${VRINCA_MESSAGES_SOURCE}"
    DEPENDS "${VRINCA_MESSAGES_SCRIPT}" "${VRINCA_MESSAGES_SOURCE}"
    COMMENT "Generating the message table (${format})"
    VERBATIM)
endfunction()
