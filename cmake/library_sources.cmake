# The library's sources, the same for the native and both Windows builds.
set(VRINCA_LIBRARY_SOURCES
  runtime/action_frame.cpp
  runtime/database_helpers.cpp
  runtime/file_helpers.cpp
  runtime/install_exception.cpp
  runtime/install_log.cpp
  runtime/module.cpp
  runtime/profile_file.cpp
  runtime/registry_helpers.cpp
  runtime/resource_string.cpp
  runtime/session_access.cpp
  runtime/string_helpers.cpp
  sequencing/orchestrator.cpp
  setup/readme.cpp
)
list(TRANSFORM VRINCA_LIBRARY_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")
