#include "runtime/registry_helpers.h"

#include <cstring>
#include <new>

#include "runtime/install_log.h"

static const DWORD kEnumBufferSize = MAX_PATH;

char* InstallGetRegString(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetRegString -> %s\\%s", InstallTraceText(szSubKey),
             InstallTraceText(szValueName));
  char* szData = nullptr;
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
    DWORD cbData = 0;
    if (RegQueryValueEx(hKey, szValueName, nullptr, nullptr, nullptr, &cbData) == ERROR_SUCCESS && cbData > 0) {
      // One byte more than stored, zeroed: data stored without its NUL still
      // comes back terminated.
      szData = new (std::nothrow) char[cbData + 1];
      if (szData != nullptr) {
        memset(szData, 0, cbData + 1);
        RegQueryValueEx(hKey, szValueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(szData), &cbData);
      }
    }
    RegCloseKey(hKey);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallGetRegString <- %s", InstallTraceText(szData));
  return szData;
}

DWORD InstallGetRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, DWORD dwDefault) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetRegValue -> %s\\%s [%d]", InstallTraceText(szSubKey),
             InstallTraceText(szValueName), static_cast<int>(dwDefault));
  DWORD dwResult = dwDefault;
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
    // Only a value of exactly 4 bytes replaces the default; a shorter one
    // would leave a mix of its bytes and the default's.
    DWORD dwValue = 0;
    DWORD cbValue = sizeof(dwValue);
    if (RegQueryValueEx(hKey, szValueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(&dwValue), &cbValue) ==
            ERROR_SUCCESS &&
        cbValue == sizeof(dwValue)) {
      dwResult = dwValue;
    }
    RegCloseKey(hKey);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallGetRegValue <- %d", static_cast<int>(dwResult));
  return dwResult;
}

// Creates or opens the key and sets one value: the common part of both setters.
static LONG SetRegData(const char* szSubKey, const char* szValueName, DWORD dwType, const BYTE* pbData, DWORD cbData) {
  HKEY hKey = nullptr;
  LONG lResult = RegCreateKeyEx(HKEY_LOCAL_MACHINE, szSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                &hKey, nullptr);
  if (lResult != ERROR_SUCCESS) {
    return lResult;
  }
  lResult = RegSetValueEx(hKey, szValueName, 0, dwType, pbData, cbData);
  RegCloseKey(hKey);
  return lResult;
}

LONG InstallSetRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, DWORD dwValue) {
  InstallLog(hInstall, kLogRowTrace, "InstallSetRegValue -> %s\\%s = %d", InstallTraceText(szSubKey),
             InstallTraceText(szValueName), static_cast<int>(dwValue));
  LONG lResult = SetRegData(szSubKey, szValueName, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
  InstallLog(hInstall, kLogRowTrace, "InstallSetRegValue <- %d", static_cast<int>(lResult));
  return lResult;
}

LONG InstallSetRegString(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, const char* szValue) {
  InstallLog(hInstall, kLogRowTrace, "InstallSetRegString -> %s\\%s = %s", InstallTraceText(szSubKey),
             InstallTraceText(szValueName), InstallTraceText(szValue));
  const char* szText = szValue != nullptr ? szValue : "";
  LONG lResult = SetRegData(szSubKey, szValueName, REG_SZ, reinterpret_cast<const BYTE*>(szText),
                            static_cast<DWORD>(strlen(szText) + 1));
  InstallLog(hInstall, kLogRowTrace, "InstallSetRegString <- %d", static_cast<int>(lResult));
  return lResult;
}

LONG InstallDelRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName) {
  InstallLog(hInstall, kLogRowTrace, "InstallDelRegValue -> %s\\%s", InstallTraceText(szSubKey),
             InstallTraceText(szValueName));
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyEx(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_WRITE, &hKey);
  if (lResult == ERROR_SUCCESS) {
    lResult = RegDeleteValue(hKey, szValueName);
    RegCloseKey(hKey);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallDelRegValue <- %d", static_cast<int>(lResult));
  return lResult;
}

// Deletes every subkey of an open key, depth first. The index is always 0:
// each deletion moves the next subkey to the front. A subkey name longer than
// the buffer ends the walk as an enumeration failure; nothing is cut.
static BOOL DeleteSubtree(MSIHANDLE hInstall, HKEY hKey) {
  InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree ->");
  for (;;) {
    char szName[kEnumBufferSize] = {};
    char szClass[kEnumBufferSize] = {};
    DWORD cchName = sizeof(szName);
    DWORD cchClass = sizeof(szClass);
    LONG lResult = RegEnumKeyEx(hKey, 0, szName, &cchName, nullptr, szClass, &cchClass, nullptr);
    if (lResult == ERROR_NO_MORE_ITEMS) {
      InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree <- %s", "deleted");
      return TRUE;
    }
    if (lResult != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowFailure, "Failed to enumerate %s %d", szName, static_cast<int>(lResult));
      InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree <- %s", "not deleted");
      return FALSE;
    }
    HKEY hSubKey = nullptr;
    lResult = RegOpenKeyEx(hKey, szName, 0, KEY_ALL_ACCESS, &hSubKey);
    if (lResult != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowFailure, "Failed to open %s %d", szName, static_cast<int>(lResult));
      InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree <- %s", "not deleted");
      return FALSE;
    }
    BOOL bEmptied = DeleteSubtree(hInstall, hSubKey);
    RegCloseKey(hSubKey);
    if (!bEmptied || RegDeleteKey(hKey, szName) != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree <- %s", "not deleted");
      return FALSE;
    }
  }
}

BOOL InstallDelRegTree(MSIHANDLE hInstall, HKEY hRoot, const char* szSubKey) {
  InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree -> %s", InstallTraceText(szSubKey));
  BOOL bDeleted = FALSE;
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(hRoot, szSubKey, 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
    BOOL bEmptied = DeleteSubtree(hInstall, hKey);
    RegCloseKey(hKey);
    bDeleted = bEmptied && RegDeleteKey(hRoot, szSubKey) == ERROR_SUCCESS;
  }
  InstallLog(hInstall, kLogRowTrace, "InstallDelRegTree <- %s", bDeleted ? "deleted" : "not deleted");
  return bDeleted;
}
