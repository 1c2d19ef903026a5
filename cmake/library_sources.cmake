# The library's sources, the same for the native and both Windows builds.
set(VRINCA_LIBRARY_SOURCES
  runtime/action_frame.cpp
  runtime/install_exception.cpp
  runtime/install_log.cpp
  runtime/module.cpp
  runtime/registry_helpers.cpp
  runtime/session_access.cpp
  runtime/string_helpers.cpp
  setup/readme.cpp
)
list(TRANSFORM VRINCA_LIBRARY_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")
