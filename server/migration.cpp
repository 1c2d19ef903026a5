#include "server/migration.h"

#include <cstdint>
#include <new>

#include "runtime/action_frame.h"
#include "runtime/registry_helpers.h"
#include "runtime/text_compare.h"

static const char kSourceKey[] = "Software\\Tarrow ATG\\Skelda\\CurrentVersion";
static const char kVendorKey[] = "Software\\Tarrow ATG";
static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";

// Settings of the oldest generation that describe that installation only.
static const char* const kNotMigrated[] = {"DriverPath", "InstallTime", "Organization", "User"};

static const ActionInfo kMigrateTarrowRegistry = {"VrinNTMigrateTarrowRegistry", ERROR_BAD_ARGUMENTS,
                                                  "VrinNTMigrateTarrowRegistry : hInstall", ERROR_SUCCESS,
                                                  kTraceAction};

static bool IsNotMigrated(const char* szName) {
  for (const char* szSkipped : kNotMigrated) {
    if (InstallCompareTextNoCase(szName, szSkipped) == 0) {
      return true;
    }
  }
  return false;
}

static bool IsStringType(DWORD dwType) { return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ; }

// Enumerates the source key's values into one buffer (the name, then the data
// and one spare byte) and sets each one to be migrated in the product key.
// Returns the status that ended the copy: ERROR_NO_MORE_ITEMS when every value
// was seen.
static LONG CopyValues(MSIHANDLE hInstall, HKEY hOldKey, HKEY hNewKey, DWORD cchMaxName, DWORD cbMaxData) {
  DWORD cchName = cchMaxName + 1;
  InstallLog(hInstall, kLogRowTrace, "Allocing buffer for max name %d, max data %d ", static_cast<int>(cchName),
             static_cast<int>(cbMaxData));
  // Windows' RegSetValueEx of a string whose last byte is not NUL reads the
  // byte after the data it is given (and appends a NUL when that byte is 0),
  // so the data part gets one byte more than the longest data.
  BYTE* pbBuffer = nullptr;
  if (cchName != 0 && static_cast<uint64_t>(cchName) + cbMaxData + 1 <= SIZE_MAX) {
    pbBuffer = new (std::nothrow) BYTE[static_cast<size_t>(cchName) + cbMaxData + 1];
  }
  if (pbBuffer == nullptr) {
    InstallLog(hInstall, kLogRowFailure, "alloc(valuebuffer)");
    return ERROR_OUTOFMEMORY;
  }
  char* szName = reinterpret_cast<char*>(pbBuffer);
  BYTE* pbData = pbBuffer + cchName;
  LONG lStatus = ERROR_SUCCESS;
  for (DWORD dwIndex = 0;; ++dwIndex) {
    // Both lengths are in/out: each call starts again from the full buffer.
    DWORD cchNameUsed = cchName;
    DWORD cbDataUsed = cbMaxData;
    DWORD dwType = REG_NONE;
    lStatus = RegEnumValue(hOldKey, dwIndex, szName, &cchNameUsed, nullptr, &dwType, pbData, &cbDataUsed);
    if (lStatus == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (lStatus != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowFailure, "RegEnumValue(oldkey)");
      break;
    }
    if (IsNotMigrated(szName)) {
      InstallLog(hInstall, kLogRowTrace, "Skipping '%s'", szName);
      continue;
    }
    InstallLog(hInstall, kLogRowTrace, "Migrating value '%s'", szName);
    // A string stored without its NUL is copied without one: the byte after
    // it, which the enumeration may have set to 0, must not read as its NUL.
    if (IsStringType(dwType) && cbDataUsed > 0 && cbDataUsed <= cbMaxData && pbData[cbDataUsed - 1] != 0) {
      pbData[cbDataUsed] = 0xFF;
    }
    lStatus = RegSetValueEx(hNewKey, szName, 0, dwType, pbData, cbDataUsed);
    if (lStatus != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowFailure, "RegSetValueEx(newkey)");
      break;
    }
  }
  delete[] pbBuffer;
  return lStatus;
}

// Opens the product key and copies into it; the status that ended the copy.
static LONG MigrateIntoProductKey(MSIHANDLE hInstall, HKEY hOldKey) {
  HKEY hNewKey = nullptr;
  LONG lStatus = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &hNewKey, nullptr);
  if (lStatus != ERROR_SUCCESS) {
    InstallLog(hInstall, kLogRowFailure, "RegOpenKeyEx(NewVersion)");
    return lStatus;
  }
  InstallLog(hInstall, kLogRowTrace, "Created new key for migration");
  DWORD cchMaxName = 0;
  DWORD cbMaxData = 0;
  lStatus = RegQueryInfoKey(hOldKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cchMaxName,
                            &cbMaxData, nullptr, nullptr);
  if (lStatus != ERROR_SUCCESS) {
    InstallLog(hInstall, kLogRowFailure, "RegQueryInfoKey(oldkey)");
  } else {
    lStatus = CopyValues(hInstall, hOldKey, hNewKey, cchMaxName, cbMaxData);
  }
  RegCloseKey(hNewKey);
  return lStatus;
}

void MigrateRegistryValues(MSIHANDLE hInstall) {
  HKEY hOldKey = nullptr;
  LONG lStatus = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_ALL_ACCESS, &hOldKey);
  if (lStatus == ERROR_SUCCESS) {
    InstallLog(hInstall, kLogRowTrace, "Detected old key - migrating registry data to new key");
    lStatus = MigrateIntoProductKey(hInstall, hOldKey);
    RegCloseKey(hOldKey);
    // Only a complete copy removes the source; after a partial one the next
    // run copies again.
    if (lStatus == ERROR_NO_MORE_ITEMS) {
      InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, kVendorKey);
      InstallLog(hInstall, kLogRowTrace, "Deleting old tree");
    }
  }
  InstallLog(hInstall, kLogRowFailure, "RegOpenKeyEx(OldVersion) returned %d - should no longer exist!",
             static_cast<int>(lStatus));
}

static void MigrateTarrowRegistry(MSIHANDLE hInstall) { MigrateRegistryValues(hInstall); }

extern "C" UINT __stdcall VrinNTMigrateTarrowRegistry(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kMigrateTarrowRegistry, MigrateTarrowRegistry);
}
