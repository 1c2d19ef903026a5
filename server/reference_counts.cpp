#include "server/reference_counts.h"

#include <cstdio>

#include "runtime/action_frame.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

static const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";

// The largest count that decimal text stored by another installer is read as.
static const DWORD kMaxTextCount = 0x7FFFFFFF;

static const char* const kConsoleFiles[] = {"skdwin.exe", "skdwin.dll", "skdwin.hlp", "skdnt.dll", "skdnw.dll"};

// How a count is stored, and so how a lowered count is written back: the type
// of another installer's value is kept.
enum CountForm { kCountDword, kCountText };

struct SharedCount {
  DWORD dwCount;  // 0 when absent, empty or unreadable
  CountForm eForm;
};

// Context texts of one routine; the exception keeps the pointers.
struct CountContexts {
  const char* szName;           // the routine or action that reports
  const char* szGetRegString;   // "<name> : InstallGetRegString"
  const char* szGetRegValue;    // "<name> : InstallGetRegValue"
  const char* szSetRegValue;    // "<name> : InstallSetRegValue"
  const char* szSetRegString;   // "<name> : InstallSetRegString"
  const char* szWindowsFolder;  // "<name> : GetWindowsDirectory", or null
};

static const CountContexts kNTRead = {"NTReadRefCounter",
                                      "NTReadRefCounter : InstallGetRegString",
                                      "NTReadRefCounter : InstallGetRegValue",
                                      nullptr,
                                      nullptr,
                                      nullptr};
static const CountContexts kGUIRead = {"GUIReadRefCounter",
                                       "GUIReadRefCounter : InstallGetRegString",
                                       "GUIReadRefCounter : InstallGetRegValue",
                                       nullptr,
                                       nullptr,
                                       nullptr};
static const CountContexts kNTDecrement = {"VrinNTDecrementRefCounter",
                                           "VrinNTDecrementRefCounter : InstallGetRegString",
                                           "VrinNTDecrementRefCounter : InstallGetRegValue",
                                           "VrinNTDecrementRefCounter : InstallSetRegValue",
                                           "VrinNTDecrementRefCounter : InstallSetRegString",
                                           "VrinNTDecrementRefCounter : GetWindowsDirectory"};
static const CountContexts kGUIDecrement = {"VrinGUIDecrementRefCounter",
                                            "VrinGUIDecrementRefCounter : InstallGetRegString",
                                            "VrinGUIDecrementRefCounter : InstallGetRegValue",
                                            "VrinGUIDecrementRefCounter : InstallSetRegValue",
                                            "VrinGUIDecrementRefCounter : InstallSetRegString",
                                            nullptr};

static const ActionInfo kNTReadAction = {"VrinNTReadRefCounter", 0, nullptr, ERROR_SUCCESS, kTraceAction};
static const ActionInfo kGUIReadAction = {"VrinGUIReadRefCounter", 0, nullptr, ERROR_SUCCESS, kTraceAction};
static const ActionInfo kNTDecrementAction = {"VrinNTDecrementRefCounter", 0, nullptr, ERROR_SUCCESS, kTraceAction};
static const ActionInfo kGUIDecrementAction = {"VrinGUIDecrementRefCounter", 0, nullptr, ERROR_SUCCESS, kTraceAction};

static bool IsEmpty(const char* szText) { return szText == nullptr || szText[0] == '\0'; }

// The stored type and size of a value, without trace: ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND for a missing key or value, or the error that refused
// the read.
static LONG QueryStoredValue(const char* szSubKey, const char* szValueName, DWORD* pdwType, DWORD* pcbData) {
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyEx(HKEY_LOCAL_MACHINE, szSubKey, 0, KEY_READ, &hKey);
  if (lResult != ERROR_SUCCESS) {
    return lResult;
  }
  lResult = RegQueryValueEx(hKey, szValueName, nullptr, pdwType, nullptr, pcbData);
  RegCloseKey(hKey);
  return lResult;
}

static bool IsRefused(LONG lResult) { return lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND; }

// InstallGetRegString, except that a stored value it did not copy raises
// instead of passing for a missing one: a count or a folder that silently
// went missing would mean "no other user" to the callers. A read the
// registry refuses raises its error, a value that could not be copied for
// lack of memory raises ERROR_OUTOFMEMORY, and stored text that came back
// empty raises ERROR_INVALID_DATA.
static char* ReadRegText(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, const char* szContext) {
  char* szText = InstallGetRegString(hInstall, szSubKey, szValueName);
  if (!IsEmpty(szText)) {
    return szText;
  }
  DWORD dwType = REG_NONE;
  DWORD cbData = 0;
  LONG lResult = QueryStoredValue(szSubKey, szValueName, &dwType, &cbData);
  DWORD dwError = ERROR_SUCCESS;
  if (IsRefused(lResult)) {
    dwError = static_cast<DWORD>(lResult);
  } else if (lResult == ERROR_SUCCESS && szText == nullptr && cbData > 0) {
    dwError = ERROR_OUTOFMEMORY;
  } else if (lResult == ERROR_SUCCESS && (dwType == REG_SZ || dwType == REG_EXPAND_SZ) && cbData > 1) {
    // More than a terminating NUL is stored: the copy was not filled.
    dwError = ERROR_INVALID_DATA;
  }
  if (dwError != ERROR_SUCCESS) {
    InstallFreeString(szText);
    InstallRaise(szContext, dwError);
  }
  return szText;
}

// The stored count as a plain read gives it, without trace: what a count of
// 0 is checked against.
static LONG ReadStoredCount(const char* szFile, DWORD* pdwCount) {
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_READ, &hKey);
  if (lResult != ERROR_SUCCESS) {
    return lResult;
  }
  DWORD cbCount = sizeof(*pdwCount);
  lResult = RegQueryValueEx(hKey, szFile, nullptr, nullptr, reinterpret_cast<LPBYTE>(pdwCount), &cbCount);
  RegCloseKey(hKey);
  return lResult;
}

// Decimal digits only ("01" is 1, "" is 0), at most kMaxTextCount.
static bool ParseCountText(const char* szText, DWORD* pdwCount) {
  DWORD dwCount = 0;
  for (const char* pch = szText; *pch != '\0'; ++pch) {
    if (*pch < '0' || *pch > '9') {
      return false;
    }
    DWORD dwDigit = static_cast<DWORD>(*pch - '0');
    if (dwCount > (kMaxTextCount - dwDigit) / 10) {
      return false;
    }
    dwCount = dwCount * 10 + dwDigit;
  }
  *pdwCount = dwCount;
  return true;
}

// The SharedDlls count of one file. Any value of four bytes is a count, as
// the registry reader gives it whatever the stored type (REG_DWORD,
// REG_BINARY). Some installers store counts as decimal text, which is read as
// the same number. Anything else is damaged: it counts as 0, and so is never
// lowered either.
static SharedCount ReadSharedCount(MSIHANDLE hInstall, const char* szFile, const CountContexts& contexts) {
  SharedCount count = {0, kCountDword};
  DWORD dwType = REG_NONE;
  DWORD cbData = 0;
  LONG lStored = QueryStoredValue(kSharedDllsKey, szFile, &dwType, &cbData);
  if (IsRefused(lStored)) {
    // A count that cannot be read is no missing count.
    InstallRaise(contexts.szGetRegValue, static_cast<DWORD>(lStored));
  }
  bool bStored = lStored == ERROR_SUCCESS;
  if (!bStored || (dwType != REG_SZ && cbData == sizeof(DWORD))) {
    count.dwCount = InstallGetRegValue(hInstall, kSharedDllsKey, szFile, 0);
    if (bStored && count.dwCount == 0) {
      // 0 is also what a refused read gives: the stored count must agree.
      DWORD dwStored = 0;
      LONG lResult = ReadStoredCount(szFile, &dwStored);
      if (lResult != ERROR_SUCCESS || dwStored != 0) {
        InstallRaise(contexts.szGetRegValue,
                     lResult != ERROR_SUCCESS ? static_cast<DWORD>(lResult) : ERROR_INVALID_DATA);
      }
    }
    return count;
  }
  if (dwType == REG_SZ) {
    count.eForm = kCountText;
    char* szText = ReadRegText(hInstall, kSharedDllsKey, szFile, contexts.szGetRegString);
    bool bRead = szText == nullptr || ParseCountText(szText, &count.dwCount);
    InstallFreeString(szText);
    if (bRead) {
      return count;
    }
  }
  count.dwCount = 0;
  InstallLog(hInstall, kLogRowWarning, "Unreadable count of %s taken as 0", szFile);
  return count;
}

// Lowers one file's count by one. A count of 0, missing or unreadable stays
// as it is; a count of 1 becomes a stored 0. A refused write is reported and
// the caller goes on with its next file.
static void LowerSharedCount(MSIHANDLE hInstall, const char* szFile, const CountContexts& contexts) {
  SharedCount count = {0, kCountDword};
  try {
    count = ReadSharedCount(hInstall, szFile, contexts);
  } catch (CInstallException* pException) {
    // A count that cannot be read is not lowered; the next file is tried.
    InstallEndFailure(hInstall, contexts.szName, pException, true);
    return;
  }
  if (count.dwCount == 0) {
    return;
  }
  DWORD dwLowered = count.dwCount - 1;
  LONG lResult = ERROR_SUCCESS;
  const char* szContext = nullptr;
  if (count.eForm == kCountText) {
    char szLowered[16] = {};
    snprintf(szLowered, sizeof(szLowered), "%lu", static_cast<unsigned long>(dwLowered));
    lResult = InstallSetRegString(hInstall, kSharedDllsKey, szFile, szLowered);
    szContext = contexts.szSetRegString;
  } else {
    lResult = InstallSetRegValue(hInstall, kSharedDllsKey, szFile, dwLowered);
    szContext = contexts.szSetRegValue;
  }
  if (lResult != ERROR_SUCCESS) {
    InstallReportFailure(hInstall, contexts.szName, szContext, static_cast<DWORD>(lResult));
  }
}

// The common part of NTReadRefCounter and GUIReadRefCounter: the folder or
// file in szValueName of the product key, else of the old key, joined with
// szFileName unless that is null, and the count of the file so named.
static DWORD ReadComponentCount(MSIHANDLE hInstall, const char* szValueName, const char* szFileName,
                                const CountContexts& contexts) {
  InstallLog(hInstall, kLogRowTrace, "%s ->", contexts.szName);
  char* szPath = nullptr;
  DWORD dwCount = 0;
  try {
    szPath = ReadRegText(hInstall, kProductKey, szValueName, contexts.szGetRegString);
    if (IsEmpty(szPath)) {
      InstallFreeString(szPath);
      szPath = ReadRegText(hInstall, kOldKey, szValueName, contexts.szGetRegString);
    }
    if (!IsEmpty(szPath)) {
      if (szFileName == nullptr) {
        dwCount = ReadSharedCount(hInstall, szPath, contexts).dwCount;
      } else {
        char szFile[MAX_PATH] = {};
        InstallMakePath(szFile, sizeof(szFile), szPath, szFileName);
        dwCount = ReadSharedCount(hInstall, szFile, contexts).dwCount;
      }
    }
  } catch (CInstallException*) {
    InstallFreeString(szPath);
    throw;
  }
  InstallFreeString(szPath);
  InstallLog(hInstall, kLogRowTrace, "%s <- %d", contexts.szName, static_cast<int>(dwCount));
  return dwCount;
}

DWORD NTReadRefCounter(MSIHANDLE hInstall) { return ReadComponentCount(hInstall, "ServicePath", nullptr, kNTRead); }

DWORD GUIReadRefCounter(MSIHANDLE hInstall) { return ReadComponentCount(hInstall, "GuiPath", "skdwin.exe", kGUIRead); }

// The property's decimal text is that of an int, as for every property the
// library sets: a damaged count of 2^31 or more shows as a negative number,
// which is neither "0" nor "1" either.
static void PublishCount(MSIHANDLE hInstall, const char* szProperty, DWORD dwCount) {
  if (dwCount != 0) {
    InstallSetProperty(hInstall, szProperty, static_cast<int>(dwCount));
  } else {
    InstallDeleteProperty(hInstall, szProperty);
  }
}

static void NTReadRefCounterBody(MSIHANDLE hInstall) {
  PublishCount(hInstall, "NTSERVERREFCOUNTER", NTReadRefCounter(hInstall));
}

static void GUIReadRefCounterBody(MSIHANDLE hInstall) {
  PublishCount(hInstall, "GUIREFCOUNTER", GUIReadRefCounter(hInstall));
}

struct DecrementLocals {
  char* szFolder;
};

static void ReleaseDecrement(DecrementLocals& locals) { InstallFreeString(locals.szFolder); }

static void NTDecrementRefCounterBody(MSIHANDLE hInstall, DecrementLocals& locals) {
  // The old key's folder is not lowered: its counts belong to the earlier
  // generation's own removal.
  locals.szFolder = ReadRegText(hInstall, kProductKey, "ConfigurationPath", kNTDecrement.szGetRegString);
  if (IsEmpty(locals.szFolder)) {
    return;
  }
  char szFile[MAX_PATH] = {};
  InstallMakePath(szFile, sizeof(szFile), locals.szFolder, "skdnt.exe");
  LowerSharedCount(hInstall, szFile, kNTDecrement);

  char szWindows[MAX_PATH] = {};
  UINT cchWindows = GetWindowsDirectory(szWindows, MAX_PATH);
  if (cchWindows == 0) {
    InstallRaise(kNTDecrement.szWindowsFolder, GetLastError());
  }
  if (cchWindows >= MAX_PATH) {
    // The returned number is the size the folder would need: nothing usable
    // is in the buffer.
    InstallRaise(kNTDecrement.szWindowsFolder, ERROR_INSUFFICIENT_BUFFER);
  }
  InstallMakePath(szFile, sizeof(szFile), szWindows, "system32\\drivers\\skdnt.sys");
  LowerSharedCount(hInstall, szFile, kNTDecrement);
}

static void GUIDecrementRefCounterBody(MSIHANDLE hInstall, DecrementLocals& locals) {
  locals.szFolder = ReadRegText(hInstall, kProductKey, "GuiPath", kGUIDecrement.szGetRegString);
  if (IsEmpty(locals.szFolder)) {
    return;
  }
  // Each file on its own: a name too long for the folder is reported, and
  // the others are still lowered.
  for (const char* szName : kConsoleFiles) {
    char szFile[MAX_PATH] = {};
    if (InstallTryMakePath(szFile, sizeof(szFile), locals.szFolder, szName)) {
      LowerSharedCount(hInstall, szFile, kGUIDecrement);
    } else {
      InstallReportFailure(hInstall, kGUIDecrement.szName, "InstallMakePath", ERROR_FILENAME_EXCED_RANGE);
    }
  }
}

extern "C" UINT __stdcall VrinNTReadRefCounter(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kNTReadAction, NTReadRefCounterBody);
}

extern "C" UINT __stdcall VrinGUIReadRefCounter(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kGUIReadAction, GUIReadRefCounterBody);
}

extern "C" UINT __stdcall VrinNTDecrementRefCounter(MSIHANDLE hInstall) {
  DecrementLocals locals = {};
  return InstallRunAction(hInstall, kNTDecrementAction, locals, NTDecrementRefCounterBody, ReleaseDecrement);
}

extern "C" UINT __stdcall VrinGUIDecrementRefCounter(MSIHANDLE hInstall) {
  DecrementLocals locals = {};
  return InstallRunAction(hInstall, kGUIDecrementAction, locals, GUIDecrementRefCounterBody, ReleaseDecrement);
}
