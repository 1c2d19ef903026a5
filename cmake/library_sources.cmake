# The library's sources, the same for the native and both Windows builds.
set(VRINCA_LIBRARY_SOURCES
  console/console_cleanup.cpp
  console/console_version.cpp
  runtime/action_frame.cpp
  runtime/database_helpers.cpp
  runtime/file_helpers.cpp
  runtime/install_exception.cpp
  runtime/install_log.cpp
  runtime/module.cpp
  runtime/number_scan.cpp
  runtime/path_checks.cpp
  runtime/profile_file.cpp
  runtime/registry_helpers.cpp
  runtime/resource_string.cpp
  runtime/session_access.cpp
  runtime/string_helpers.cpp
  runtime/text_compare.cpp
  sequencing/common_resources.cpp
  sequencing/console_orchestrators.cpp
  sequencing/orchestrator.cpp
  sequencing/server_orchestrators.cpp
  sequencing/product_subtype.cpp
  server/hidden_share.cpp
  server/leftovers.cpp
  server/migration.cpp
  server/products.cpp
  server/reference_counts.cpp
  server/server_tuning.cpp
  server/server_version.cpp
  server/service_control.cpp
  setup/license.cpp
  setup/dialogs.cpp
  setup/probes.cpp
  setup/readme.cpp
  suite/master_setup.cpp
  setup/setup_files.cpp
)
list(TRANSFORM VRINCA_LIBRARY_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/")

# No text from outside may ever be a format: every format of the library is a
# literal the compiler checks.
set_source_files_properties(${VRINCA_LIBRARY_SOURCES} PROPERTIES COMPILE_OPTIONS -Wformat=2)
