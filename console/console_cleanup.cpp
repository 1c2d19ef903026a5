#include "console/console_cleanup.h"

#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/file_helpers.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
static const char kProgramGroup[] = "Velmora";
static const char kShortcutExtension[] = ".lnk";
static const char kProfile[] = "skdwin.ini";
static const char kServerImage[] = "skdnt.exe";

static const char* const kVersionValues[] = {"MajorVersion", "MinorVersion"};

// What an earlier console generation left in its folder, in the order of
// deletion. The server's files go only when the server is not in the same
// folder.
enum UpgradeEntryKind { kConsoleFile, kConsoleFolder, kServerFile };
struct UpgradeEntry {
  const char* szName;
  UpgradeEntryKind eKind;
};
static const UpgradeEntry kUpgradeEntries[] = {
    {"tslogclt.nlm", kConsoleFile}, {"tslogsrv.nlm", kConsoleFile}, {"skd.3", kConsoleFile},
    {"skd.4", kConsoleFile},        {"skd60.cli", kConsoleFile},    {"skdwin.gid", kConsoleFile},
    {"skd.cfg", kConsoleFile},      {"Engalpha", kConsoleFolder},   {"skdupdat.exe", kConsoleFile},
    {"skdwin.cn_", kConsoleFile},   {"Engi86", kConsoleFolder},     {"skdnt.cfg", kServerFile},
    {"skdnt.cli", kServerFile},     {"skdnt60.cli", kServerFile}};

static const ActionInfo kDeleteLeftOvers = {"VrinGUIDeleteLeftOvers", ERROR_BAD_ARGUMENTS,
                                            "VrinGUIDeleteLeftOvers : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kDeleteUpgradeLeftOvers = {"VrinGUIDeleteUpgradeLeftOvers", 0, nullptr, ERROR_SUCCESS,
                                                   kTraceAction};

// --- Shared steps ---

// Runs one stage of a clean-up: a failure raised in it is reported under
// szName, and the next stage still runs.
static void RunStage(MSIHANDLE hInstall, const char* szName, void (*pfnStage)(MSIHANDLE)) {
  try {
    pfnStage(hInstall);
  } catch (CInstallException* pException) {
    InstallEndFailure(hInstall, szName, pException, true);
  }
}

// A path that names its drive's root ("C:\...") or a network share
// ("\\server\share"): whatever is deleted under it is never taken relative to
// the installer's current folder.
static bool IsFullyQualified(const char* szPath) {
  if (szPath == nullptr) {
    return false;
  }
  BYTE bFirst = static_cast<BYTE>(szPath[0]);
  bool bLetter = (bFirst >= 'A' && bFirst <= 'Z') || (bFirst >= 'a' && bFirst <= 'z');
  if (bLetter && szPath[1] == ':' && (szPath[2] == '\\' || szPath[2] == '/')) {
    return true;
  }
  return (szPath[0] == '\\' || szPath[0] == '/') && (szPath[1] == '\\' || szPath[1] == '/') && szPath[2] != '\0';
}

struct ShellContexts {
  const char* szGetMalloc;
  const char* szLocation;
  const char* szPath;
};

// The shell's allocator and the item list of the common Programs folder,
// both held until ReleaseCommonPrograms.
struct CommonPrograms {
  LPMALLOC pMalloc;
  LPITEMIDLIST pidl;
};

static void ReleaseCommonPrograms(CommonPrograms& folder) {
  if (folder.pMalloc != nullptr) {
    if (folder.pidl != nullptr) {
      folder.pMalloc->Free(folder.pidl);
    }
    folder.pMalloc->Release();
  }
  folder.pidl = nullptr;
  folder.pMalloc = nullptr;
}

static DWORD ShellError(HRESULT hResult) {
  // A call that reports success without its result still failed.
  return static_cast<DWORD>(FAILED(hResult) ? hResult : E_FAIL);
}

// The path of the common Programs folder into szPath (MAX_PATH bytes). What it
// got is left in folder, also when it raises.
static void GetCommonPrograms(CommonPrograms& folder, char* szPath, const ShellContexts& contexts) {
  HRESULT hResult = SHGetMalloc(&folder.pMalloc);
  if (FAILED(hResult) || folder.pMalloc == nullptr) {
    // Without the allocator the item list could not be freed: not asked for.
    folder.pMalloc = nullptr;
    InstallRaise(contexts.szGetMalloc, ShellError(hResult));
  }
  hResult = SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &folder.pidl);
  if (FAILED(hResult) || folder.pidl == nullptr) {
    InstallRaise(contexts.szLocation, ShellError(hResult));
  }
  if (!SHGetPathFromIDList(folder.pidl, szPath)) {
    InstallRaise(contexts.szPath, GetLastError());
  }
  // Everything below it is deleted: never relative to the current folder.
  if (!IsFullyQualified(szPath)) {
    InstallRaise(contexts.szPath, ERROR_PATH_NOT_FOUND);
  }
}

// Deletes skdwin.ini in the Windows folder.
static void DeleteProfile(MSIHANDLE hInstall, const char* szContext) {
  char szWindows[MAX_PATH] = {};
  UINT cchWindows = GetWindowsDirectory(szWindows, sizeof(szWindows));
  if (cchWindows == 0) {
    InstallRaise(szContext, GetLastError());
  }
  if (cchWindows >= sizeof(szWindows)) {
    InstallRaise(szContext, ERROR_INSUFFICIENT_BUFFER);
  }
  char szProfile[MAX_PATH] = {};
  InstallMakePath(szProfile, sizeof(szProfile), szWindows, kProfile);
  InstallDeleteFile(hInstall, szProfile);
}

// --- VrinGUIDeleteLeftOvers ---

static const ShellContexts kLeftOversShell = {"VrinGUIDeleteLeftOvers : SHGetMalloc",
                                              "VrinGUIDeleteLeftOvers : SHGetSpecialFolderLocation",
                                              "VrinGUIDeleteLeftOvers : SHGetPathFromIDList"};

static void RemoveProgramGroup(MSIHANDLE hInstall) {
  InstallLog(hInstall, kLogRowTrace, "VRIN program group = %s", kProgramGroup);
  CommonPrograms folder = {};
  try {
    char szPrograms[MAX_PATH] = {};
    GetCommonPrograms(folder, szPrograms, kLeftOversShell);
    char szGroup[MAX_PATH] = {};
    InstallMakePath(szGroup, sizeof(szGroup), szPrograms, kProgramGroup);
    InstallDeleteEntireDirectory(hInstall, szGroup);
  } catch (CInstallException* pException) {
    ReleaseCommonPrograms(folder);
    throw pException;
  }
  ReleaseCommonPrograms(folder);
}

// A value that is not there is no failure; any other refusal is, once all
// four were tried.
static void DeleteVersionValues(MSIHANDLE hInstall) {
  static const char* const kKeys[] = {kProductKey, kOldKey};
  LONG lFirstFailure = ERROR_SUCCESS;
  for (const char* szKey : kKeys) {
    for (const char* szValue : kVersionValues) {
      LONG lResult = InstallDelRegValue(hInstall, szKey, szValue);
      if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND && lFirstFailure == ERROR_SUCCESS) {
        lFirstFailure = lResult;
      }
    }
  }
  if (lFirstFailure != ERROR_SUCCESS) {
    InstallRaise("VrinGUIDeleteLeftOvers : InstallDelRegValue", static_cast<DWORD>(lFirstFailure));
  }
}

static void DeleteLeftOversProfile(MSIHANDLE hInstall) {
  DeleteProfile(hInstall, "VrinGUIDeleteLeftOvers : GetWindowsDirectory");
}

static void DeleteLeftOversBody(MSIHANDLE hInstall) {
  RunStage(hInstall, "VrinGUIDeleteLeftOvers : Remove program group", RemoveProgramGroup);
  RunStage(hInstall, kDeleteLeftOvers.szName, DeleteVersionValues);
  RunStage(hInstall, "VrinGUIDeleteLeftOvers : delete skdwin.ini", DeleteLeftOversProfile);
}

extern "C" UINT __stdcall VrinGUIDeleteLeftOvers(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kDeleteLeftOvers, DeleteLeftOversBody);
}

// --- VrinGUIDeleteUpgradeLeftOvers ---

struct UpgradeLocals {
  char* szInstallDir;
};

static void ReleaseUpgradeLocals(UpgradeLocals& locals) { InstallFreeString(locals.szInstallDir); }

static bool IsNotFound(DWORD dwError) { return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND; }

// Whether the server's image lies in the folder. OpenFile answers only for
// full paths shorter than its record's 128 characters, and reports a file it
// cannot open (held without sharing, a folder of that name) like any other
// failure: only "not found" means absent. Otherwise the attributes decide,
// and what cannot be told counts as present, so that the server keeps its
// files.
static bool ServerImagePresent(MSIHANDLE hInstall, const char* szFolder) {
  char szImage[MAX_PATH] = {};
  InstallMakePath(szImage, sizeof(szImage), szFolder, kServerImage);
  OFSTRUCT record;
  memset(&record, 0, sizeof(record));
  if (OpenFile(szImage, &record, OF_EXIST) != HFILE_ERROR) {
    return true;
  }
  if (IsNotFound(record.nErrCode)) {
    return false;
  }
  if (GetFileAttributes(szImage) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  DWORD dwError = GetLastError();
  if (IsNotFound(dwError)) {
    return false;
  }
  InstallLog(hInstall, kLogRowWarning, "Keeping the server's files: %s cannot be tested (%d)", szImage,
             static_cast<int>(dwError));
  return true;
}

// A folder that cannot be listed (usually: it is not there) is passed over
// without a report.
static void DeleteFolderQuietly(MSIHANDLE hInstall, const char* szFolder) {
  try {
    InstallDeleteEntireDirectory(hInstall, szFolder);
  } catch (CInstallException* pException) {
    InstallEndFailure(hInstall, kDeleteUpgradeLeftOvers.szName, pException, false);
  }
}

static void DeleteEarlierConsoleFiles(MSIHANDLE hInstall, const char* szFolder) {
  bool bServerTested = false;
  bool bServerPresent = false;
  for (const UpgradeEntry& entry : kUpgradeEntries) {
    if (entry.eKind == kServerFile) {
      if (!bServerTested) {
        bServerPresent = ServerImagePresent(hInstall, szFolder);
        bServerTested = true;
      }
      if (bServerPresent) {
        continue;
      }
    }
    char szPath[MAX_PATH] = {};
    InstallMakePath(szPath, sizeof(szPath), szFolder, entry.szName);
    if (entry.eKind == kConsoleFolder) {
      DeleteFolderQuietly(hInstall, szPath);
    } else {
      InstallDeleteFile(hInstall, szPath);
    }
  }
}

// The previous generation's key also registers its server (ServicePath, the
// products that use it). While that server is still the one installed,
// because this installation brought the console alone, the server's own
// upgrade and removal still need the key; the last removal deletes it.
static bool EarlierServerStillRegistered(MSIHANDLE hInstall) {
  char* szOurs = InstallGetRegString(hInstall, kProductKey, "ServicePath");
  char* szEarlier = szOurs == nullptr ? InstallGetRegString(hInstall, kOldKey, "ServicePath") : nullptr;
  const bool bStill = szEarlier != nullptr;
  InstallFreeString(szOurs);
  InstallFreeString(szEarlier);
  return bStill;
}

static void DeleteUpgradeLeftOversBody(MSIHANDLE hInstall, UpgradeLocals& locals) {
  for (const char* szValue : kVersionValues) {
    InstallDelRegValue(hInstall, kOldKey, szValue);
  }
  locals.szInstallDir = InstallGetProperty(hInstall, "GUIINSTALLDIR");
  // The names would otherwise be taken relative to the current folder.
  if (IsFullyQualified(locals.szInstallDir)) {
    DeleteEarlierConsoleFiles(hInstall, locals.szInstallDir);
  } else {
    InstallLog(hInstall, kLogRowWarning, "Not deleting the earlier console's files: GUIINSTALLDIR is '%s'",
               locals.szInstallDir);
  }
  if (EarlierServerStillRegistered(hInstall)) {
    InstallLog(hInstall, kLogRowTrace, "Keeping %s: the earlier server it registers is still installed", kOldKey);
    return;
  }
  InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, kOldKey);
}

extern "C" UINT __stdcall VrinGUIDeleteUpgradeLeftOvers(MSIHANDLE hInstall) {
  UpgradeLocals locals = {};
  return InstallRunAction(hInstall, kDeleteUpgradeLeftOvers, locals, DeleteUpgradeLeftOversBody, ReleaseUpgradeLocals);
}

// --- VRINDeleteOldShortCut ---

static const ShellContexts kOldShortCutShell = {"VRINDeleteOldShortCut : SHGetMalloc",
                                                "VRINDeleteOldShortCut : SHGetSpecialFolderLocation",
                                                "VRINDeleteOldShortCut : SHGetPathFromIDList"};

// The shortcut "Velmora.lnk" and the program group "Velmora" of version 6.61.
static void RemoveOldShortCut(MSIHANDLE hInstall) {
  CommonPrograms folder = {};
  try {
    char szPrograms[MAX_PATH] = {};
    GetCommonPrograms(folder, szPrograms, kOldShortCutShell);
    char szName[sizeof(kProgramGroup) + sizeof(kShortcutExtension)] = {};
    memcpy(szName, kProgramGroup, sizeof(kProgramGroup) - 1);
    memcpy(szName + sizeof(kProgramGroup) - 1, kShortcutExtension, sizeof(kShortcutExtension));
    char szPath[MAX_PATH] = {};
    InstallMakePath(szPath, sizeof(szPath), szPrograms, szName);
    InstallLog(hInstall, kLogRowTrace, "VRIN Shortcut Location %s", szPath);
    if (!DeleteFile(szPath)) {
      DWORD dwError = GetLastError();
      InstallLog(hInstall, kLogRowTrace, "Failed to delete %s %d", szPath, static_cast<int>(dwError));
      InstallReportFailure(hInstall, "VRINDeleteOldShortCut", "VRINDeleteOldShortCut: DeleteFile", dwError);
    }
    szPath[strlen(szPath) - (sizeof(kShortcutExtension) - 1)] = '\0';
    InstallLog(hInstall, kLogRowTrace, "Delete Program Group %s ver 6.61", szPath);
    InstallDeleteEntireDirectory(hInstall, szPath);
  } catch (CInstallException* pException) {
    ReleaseCommonPrograms(folder);
    throw pException;
  }
  ReleaseCommonPrograms(folder);
}

static void DeleteOldShortCutProfile(MSIHANDLE hInstall) {
  DeleteProfile(hInstall, "VRINDeleteOldShortCut : GetWindowsDirectory");
}

extern "C" UINT __stdcall VRINDeleteOldShortCut(MSIHANDLE hInstall) {
  InstallLog(hInstall, kLogRowTrace, "VRINDeleteOldShortCut ->");
  InstallLog(hInstall, kLogRowTrace, "VRIN program group = %s", kProgramGroup);
  RunStage(hInstall, "VRINDeleteOldShortCut : Remove program group", RemoveOldShortCut);
  RunStage(hInstall, "VRINDeleteOldShortCut : delete skdwin.ini", DeleteOldShortCutProfile);
  InstallLog(hInstall, kLogRowTrace, "VRINDeleteOldShortCut <-");
  return ERROR_SUCCESS;
}
