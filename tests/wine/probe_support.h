// What the Wine tier's probe DLLs share: their export macro and the
// installer's texts read into strings.
#pragma once

#include <string>

#include "host/platform.h"

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT
#endif

namespace probe {

// A property's value; "<unreadable>" when the installer refuses it.
inline std::string Property(MSIHANDLE hInstall, const char* name) {
  DWORD size = 0;
  char empty[1] = {};
  MsiGetProperty(hInstall, name, empty, &size);
  std::string value(size + 1, '\0');
  ++size;
  if (MsiGetProperty(hInstall, name, &value[0], &size) != ERROR_SUCCESS) return "<unreadable>";
  value.resize(size);
  return value;
}

// A record field's text; "<unreadable>" when the installer refuses it.
inline std::string Field(MSIHANDLE hRecord, UINT field) {
  DWORD size = 0;
  char empty[1] = {};
  MsiRecordGetString(hRecord, field, empty, &size);
  std::string value(size + 1, '\0');
  ++size;
  if (MsiRecordGetString(hRecord, field, &value[0], &size) != ERROR_SUCCESS) return "<unreadable>";
  value.resize(size);
  return value;
}

}  // namespace probe
