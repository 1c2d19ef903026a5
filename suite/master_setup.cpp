#include "suite/master_setup.h"

#include <cstdio>
#include <cstring>

#include "runtime/file_helpers.h"
#include "runtime/install_exception.h"
#include "runtime/number_scan.h"
#include "runtime/profile_file.h"
#include "runtime/string_helpers.h"
#include "runtime/text_compare.h"
#include "server/server_version.h"

// The exports run without a session; 1 names none, so the helpers' trace
// reaches standard output only.
static const MSIHANDLE kNoSession = 1;

static const char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kPreviousKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
static const char kBackOfficeKey[] = "SOFTWARE\\Microsoft\\BackOffice";
static const char kPreviousProductCode[] = "{4A1C2E90-7D3B-4F21-9C55-1E2A3B4C5D61}";
static const char kFolderSuffix[] = "\\OV\\Lumicor Velmora";
static const char kDefaultFolder[] = "C:\\Program Files\\OV\\Lumicor Velmora";
static const char kProfileSection[] = "VRIN";
static const char kServerComponent[] = "VRINServer";
static const char kConsoleComponent[] = "VRINConsole";
static const char kAnotherVersionMessage[] =
    "Another version of this product is already installed. Installation of this version cannot continue.";
static const char kBetaMessage[] =
    "Setup has detected Velmora Beta version installed on your system. Upgrading to Lumicor Enterprise Backup "
    "Velmora will result in the uninstallation of the installed product.";

// What CheckInstallInfo has found so far.
struct CheckState {
  ComponentInstallInfo* pInfo;
  char* szMessage;
  const char* szProfilePath;
  int nResult;
  int nCount;
  int nMajor;
  int nBuild;
  char szCandidate[MAX_PATH];
};

// Copies a message for the user; a null buffer is left alone.
static void WriteMessage(char* szMessage, const char* szText) {
  if (szMessage != nullptr) {
    memcpy(szMessage, szText, strlen(szText) + 1);
  }
}

// A string value into a MAX_PATH buffer, empty when it is missing or not a
// string. FALSE, with the buffer empty, when the value does not fit: a path
// cut short would name another folder.
static BOOL ReadRegText(HKEY hKey, const char* szName, char* szOut) {
  szOut[0] = '\0';
  char szValue[MAX_PATH + 1];
  DWORD dwType = REG_NONE;
  DWORD cbValue = MAX_PATH;
  LONG lResult = RegQueryValueEx(hKey, szName, nullptr, &dwType, reinterpret_cast<LPBYTE>(szValue), &cbValue);
  if (lResult == ERROR_MORE_DATA) {
    return FALSE;
  }
  if (lResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) {
    return TRUE;
  }
  // Registry strings need not carry their NUL.
  szValue[cbValue <= MAX_PATH ? cbValue : MAX_PATH] = '\0';
  size_t cch = strlen(szValue);
  if (cch >= MAX_PATH) {
    return FALSE;
  }
  memcpy(szOut, szValue, cch + 1);
  return TRUE;
}

// A REG_DWORD value; false when it is missing or of another shape.
static bool ReadRegDword(HKEY hKey, const char* szName, DWORD* pdwValue) {
  DWORD dwType = REG_NONE;
  DWORD dwValue = 0;
  DWORD cbValue = sizeof(dwValue);
  if (RegQueryValueEx(hKey, szName, nullptr, &dwType, reinterpret_cast<LPBYTE>(&dwValue), &cbValue) != ERROR_SUCCESS ||
      dwType != REG_DWORD || cbValue != sizeof(dwValue)) {
    return false;
  }
  *pdwValue = dwValue;
  return true;
}

// The leading decimal number of a string value ("%d"); 0 without one.
static int ReadRegNumber(HKEY hKey, const char* szName) {
  char szText[MAX_PATH];
  int nValue = 0;
  ReadRegText(hKey, szName, szText);
  InstallScanInt(szText, &nValue);
  return nValue;
}

// ProgramFilesDir and the product's folder below it, read under hRoot.
// False when the Windows key does not open; a composition that would not fit
// the field gives the default folder.
static bool ComposeFolder(HKEY hRoot, char* szOut) {
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(hRoot, kWindowsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
    return false;
  }
  char szBase[MAX_PATH];
  BOOL bFits = ReadRegText(hKey, "ProgramFilesDir", szBase);
  RegCloseKey(hKey);
  int cch = bFits ? snprintf(szOut, MAX_PATH, "%s%s", szBase, kFolderSuffix) : -1;
  if (cch < 0 || cch >= MAX_PATH) {
    memcpy(szOut, kDefaultFolder, sizeof(kDefaultFolder));
  }
  return true;
}

static void RecordComponent(CheckState& state, int nIndex, const char* szName) {
  if (nIndex >= 0 && nIndex < 2) {
    memcpy(state.pInfo->szComponents[nIndex], szName, strlen(szName) + 1);
  }
}

// The file version of the folder's skdwin.exe; false when it cannot be read,
// also when the path does not fit. Nothing may leave the export, and a
// console without a readable version is simply not found: the failure is
// dropped.
static bool ReadConsoleVersion(const char* szFolder, DWORD* pdwMS, DWORD* pdwLS) {
  char szPath[MAX_PATH];
  if (!InstallTryMakePath(szPath, sizeof(szPath), szFolder, "skdwin.exe")) {
    return false;
  }
  try {
    VS_FIXEDFILEINFO* pVersion = InstallGetFileVersion(kNoSession, szPath);
    *pdwMS = pVersion->dwFileVersionMS;
    *pdwLS = pVersion->dwFileVersionLS;
    delete pVersion;
    return true;
  } catch (CInstallException* pException) {
    InstallEndFailure(kNoSession, "CheckInstallInfo", pException, false);
    return false;
  }
}

// Version 10 is the current generation: an upgrade up to build 2140.
static void RateCurrentGeneration(CheckState& state) {
  if (state.nMajor == 10) {
    state.nResult = state.nBuild <= 2140 ? kCheckUpgrade : kCheckCurrent;
  }
}

// A machine of the network other than this one: its product key alone says
// Velmora is there, and its folder stays.
static void CheckRemoteMachine(CheckState& state, const char* szMachine) {
  HKEY hRemote = nullptr;
  if (RegConnectRegistry(szMachine, HKEY_LOCAL_MACHINE, &hRemote) != ERROR_SUCCESS) {
    return;
  }
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(hRemote, kProductKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
    if (state.szCandidate[0] == '\0') {
      ReadRegText(hKey, "ConfigurationPath", state.szCandidate);
    }
    state.pInfo->bInstallDirFixed = 1;
    RegCloseKey(hKey);
    state.nResult = kCheckCurrent;
  }
  RegCloseKey(hRemote);
}

// An installation of the current generation, from its open product key.
static void CheckCurrentGeneration(CheckState& state, HKEY hKey) {
  if (state.szCandidate[0] != '\0') {
    return;
  }
  state.nMajor = ReadRegNumber(hKey, "Version");
  char szGuiPath[MAX_PATH];
  DWORD dwBuild = 0;
  if (ReadRegDword(hKey, "BuildNumber", &dwBuild)) {
    state.nBuild = static_cast<int>(dwBuild);
  } else {
    ReadRegText(hKey, "GuiPath", szGuiPath);
    DWORD dwMS = 0;
    DWORD dwLS = 0;
    if (szGuiPath[0] != '\0' && ReadConsoleVersion(szGuiPath, &dwMS, &dwLS)) {
      state.nMajor = static_cast<int>((dwMS >> 16));
      state.nBuild = static_cast<int>((dwLS & 0xFFFF));
    }
  }

  ReadRegText(hKey, "ServicePath", state.szCandidate);
  if (state.szCandidate[0] != '\0') {
    // The folder keeps its trailing backslash.
    char* pImage = const_cast<char*>(InstallFindText(state.szCandidate, "skdnt.exe"));
    if (pImage != nullptr) {
      *pImage = '\0';
    }
    RecordComponent(state, 0, kServerComponent);
    state.nCount = 1;
    RateCurrentGeneration(state);
  }

  ReadRegText(hKey, "GuiPath", szGuiPath);
  if (szGuiPath[0] != '\0') {
    if (state.szCandidate[0] == '\0') {
      memcpy(state.szCandidate, szGuiPath, sizeof(szGuiPath));
    }
    RecordComponent(state, state.nCount, kConsoleComponent);
    ++state.nCount;
    RateCurrentGeneration(state);
  }

  if (state.nCount == 1 && state.nResult == kCheckCurrent) {
    state.pInfo->bInstallDirFixed = 1;
  }
  if ((state.nResult & 8) != 0 && state.nBuild > 2092 && state.nBuild < 2142) {
    WriteMessage(state.szMessage, kBetaMessage);
  }
}

// The server of an earlier installation, found through its service. Only an
// image of a version other than 9 counts; its folder becomes the candidate.
static void CheckInstalledService(CheckState& state) {
  char szImage[MAX_PATH];
  if (!GetServiceImagePath(szImage, sizeof(szImage))) {
    return;
  }
  VS_FIXEDFILEINFO* pVersion = QueryFileVersion(kNoSession, szImage);
  if (pVersion != nullptr && (pVersion->dwFileVersionMS >> 16) != 9) {
    memcpy(state.szCandidate, szImage, sizeof(szImage));
    RecordComponent(state, 0, kServerComponent);
    state.nCount = 1;
    char* pLast = InstallFindLastChar(state.szCandidate, '\\');
    if (pLast != nullptr) {
      *pLast = '\0';
    }
  }
  delete pVersion;
}

// The previous generation: false when installation cannot continue.
static bool CheckPreviousGeneration(CheckState& state, bool* pbConsoleFound) {
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPreviousKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
    return true;
  }
  DWORD dwProducts = 0;
  bool bProducts = ReadRegDword(hKey, "Products", &dwProducts) && dwProducts == 1;
  char szPackageCode[100];
  DWORD cchPackageCode = sizeof(szPackageCode);
  bool bInstalled =
      MsiGetProductInfo(kPreviousProductCode, "PackageCode", szPackageCode, &cchPackageCode) == ERROR_SUCCESS;
  if (ReadRegNumber(hKey, "Version") == 9) {
    WriteMessage(state.szMessage, kAnotherVersionMessage);
    RegCloseKey(hKey);
    return false;
  }
  if (bProducts || bInstalled) {
    if (state.nCount != 0) {
      state.nResult = kCheckUpgrade;
    }
    char szGuiPath[MAX_PATH];
    ReadRegText(hKey, "GuiPath", szGuiPath);
    if (szGuiPath[0] != '\0') {
      RecordComponent(state, state.nCount, kConsoleComponent);
      ++state.nCount;
      state.nResult |= kCheckUpgrade;
      *pbConsoleFound = true;
      if (state.szProfilePath == nullptr ||
          !WritePrivateProfileString(kProfileSection, "UPGRADE", "1", state.szProfilePath)) {
        RegCloseKey(hKey);
        return false;
      }
    }
  }
  RegCloseKey(hKey);
  return true;
}

// A console of the oldest kind, known only from skdwin.ini.
static void CheckIniConsole(CheckState& state) {
  char szFolder[MAX_PATH + 1];
  DWORD cch =
      InstallGetPrivateProfileString(kNoSession, "SKDInformation", "Dir", "", szFolder, sizeof(szFolder), "skdwin.ini");
  DWORD dwMS = 0;
  DWORD dwLS = 0;
  if (cch == 0 || cch >= MAX_PATH || !ReadConsoleVersion(szFolder, &dwMS, &dwLS)) {
    return;
  }
  if ((dwMS >> 16) != 9) {
    RecordComponent(state, state.nCount, kConsoleComponent);
    state.nResult |= kCheckUpgrade;
  }
}

// This machine: false when installation cannot continue.
static bool CheckLocalMachine(CheckState& state) {
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
    CheckCurrentGeneration(state, hKey);
    RegCloseKey(hKey);
    return true;
  }
  CheckInstalledService(state);
  bool bConsoleFound = false;
  if (!CheckPreviousGeneration(state, &bConsoleFound)) {
    return false;
  }
  // A console already found must not be recorded a second time.
  if (state.nCount < 2 && !bConsoleFound) {
    CheckIniConsole(state);
  }
  return true;
}

// The folder the profile names, or empty; a value too long for the field is
// refused rather than cut.
static void ReadProfileFolder(const char* szProfilePath, char* szOut) {
  szOut[0] = '\0';
  if (szProfilePath == nullptr) {
    return;
  }
  char szValue[MAX_PATH + 1];
  DWORD cch = InstallGetPrivateProfileString(kNoSession, kProfileSection, "INSTALLDIR", "", szValue, sizeof(szValue),
                                             szProfilePath);
  if (cch < MAX_PATH) {
    memcpy(szOut, szValue, cch + 1);
  }
}

static bool IsRemoteMachine(const char* szMachine) {
  if (szMachine == nullptr) {
    return false;
  }
  char szLocal[MAX_PATH];
  DWORD cchLocal = sizeof(szLocal);
  if (!GetComputerName(szLocal, &cchLocal)) {
    return false;
  }
  return InstallCompareTextNoCase(szMachine, szLocal) != 0;
}

// Small Business Server 2000, always asked of this machine.
static bool IsSmallBusinessServer2000() {
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kBackOfficeKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) {
    return false;
  }
  char szSuite[MAX_PATH];
  char szVersion[MAX_PATH];
  ReadRegText(hKey, "SuiteName", szSuite);
  ReadRegText(hKey, "Version", szVersion);
  RegCloseKey(hKey);
  return InstallCompareTextNoCase(szSuite, "SBS") == 0 && InstallCompareTextNoCase(szVersion, "2000") == 0;
}

static int CheckMachine(const char* szMachine, char* szMessage, ComponentInstallInfo* pInfo, const char* szProfilePath,
                        int nFullCheck) {
  CheckState state = {pInfo, szMessage, szProfilePath, kCheckNothingFound, 0, 0, 0, ""};
  if (nFullCheck == 0) {
    if (!ComposeFolder(HKEY_LOCAL_MACHINE, state.szCandidate)) {
      memcpy(state.szCandidate, kDefaultFolder, sizeof(kDefaultFolder));
    }
    if (pInfo != nullptr) {
      memcpy(pInfo->szInstallDir, state.szCandidate, sizeof(state.szCandidate));
    }
    return kCheckNothingFound;
  }

  bool bRemote = IsRemoteMachine(szMachine);
  if (pInfo != nullptr) {
    ReadProfileFolder(szProfilePath, state.szCandidate);
    if (bRemote) {
      CheckRemoteMachine(state, szMachine);
    } else if (!CheckLocalMachine(state)) {
      return kCheckCannotContinue;
    }

    if (state.szCandidate[0] == '\0') {
      HKEY hRemote = nullptr;
      if (!bRemote) {
        ComposeFolder(HKEY_LOCAL_MACHINE, state.szCandidate);
      } else if (RegConnectRegistry(szMachine, HKEY_LOCAL_MACHINE, &hRemote) == ERROR_SUCCESS) {
        ComposeFolder(hRemote, state.szCandidate);
        RegCloseKey(hRemote);
      }
    }
    if (state.szCandidate[0] == '\0') {
      memcpy(state.szCandidate, kDefaultFolder, sizeof(kDefaultFolder));
    }
    memcpy(pInfo->szInstallDir, state.szCandidate, sizeof(state.szCandidate));
  }

  if (IsSmallBusinessServer2000()) {
    state.nResult |= kCheckSmallBusinessServer;
  }
  return state.nResult;
}

// The exports have no action frame and write no trace lines of their own;
// the helpers they call trace to standard output.
extern "C" int __cdecl CheckInstallInfo(const char* machineName, ULONG_PTR, ULONG_PTR, char* message, ULONG_PTR,
                                        ComponentInstallInfo* info, const char* profilePath, ULONG_PTR, int fullCheck) {
  return CheckMachine(machineName, message, info, profilePath, fullCheck);
}

// The folder of a record that has one: a field without its NUL is refused.
static bool HasTerminatedFolder(const ComponentInstallInfo* pInfo) {
  return memchr(pInfo->szInstallDir, '\0', sizeof(pInfo->szInstallDir)) != nullptr;
}

static int WriteConfigProfile(const ComponentInstallInfo* pInfo, const char* szProfilePath) {
  // Without a path WritePrivateProfileString would write into win.ini.
  if (szProfilePath == nullptr) {
    return 0;
  }
  if (pInfo != nullptr && pInfo->bWriteInstallDir != 0 && pInfo->bInstallDirFixed == 0) {
    if (!HasTerminatedFolder(pInfo) ||
        !WritePrivateProfileString(kProfileSection, "INSTALLDIR", pInfo->szInstallDir, szProfilePath)) {
      return 0;
    }
  }
  return WritePrivateProfileString(kProfileSection, "MASTERSETUP", "1", szProfilePath) ? 1 : 0;
}

extern "C" int __cdecl CreateConfigProfile(const char*, ULONG_PTR, ULONG_PTR, char*, ULONG_PTR,
                                           ComponentInstallInfo* info, const char* profilePath, ULONG_PTR, int) {
  return WriteConfigProfile(info, profilePath);
}

extern "C" int __cdecl GetPostConfigInfo() { return 1; }
