#include "sequencing/common_resources.h"

#include <cstdio>
#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/database_helpers.h"
#include "runtime/file_helpers.h"
#include "runtime/path_checks.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/text_compare.h"
#include "server/reference_counts.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kProductParentKey[] = "Software\\Orvannic\\Lumicor Velmora";
static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
static const char kSubTypeValue[] = "ProdSubType";

static const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";
static const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";
// What follows "&<feature>" in the last-user conditions.
static const char kServerLastTail[] = " = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"";
static const char kConsoleLastTail[] = " = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"";

// Fits every template with a feature key of the Feature column's 38 characters.
static const size_t kConditionSize = 256;

static const ActionInfo kDeleteCommonResources = {"VrinDeleteCommonResources", ERROR_BAD_ARGUMENTS,
                                                  "VrinDeleteCommonResources : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kDeleteLeftOvers = {"VrinDeleteLeftOvers", ERROR_BAD_ARGUMENTS,
                                            "VrinDeleteLeftOvers : hInstall", ERROR_SUCCESS, kTraceActionLongArrow};

// Deletes root\subkey with all below it. A key that was never there is what
// the caller wants; one that is still there afterwards is a failure line,
// because InstallDelRegTree alone says nothing when the key itself refuses.
static void DeleteKeyTree(MSIHANDLE hInstall, HKEY hRoot, const char* szRootName, const char* szSubKey) {
  if (InstallDelRegTree(hInstall, hRoot, szSubKey)) {
    return;
  }
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyEx(hRoot, szSubKey, 0, KEY_READ, &hKey);
  if (lResult == ERROR_SUCCESS) {
    RegCloseKey(hKey);
  }
  if (lResult != ERROR_FILE_NOT_FOUND) {
    InstallLog(hInstall, kLogRowFailure, "Failed to delete %s\\%s", szRootName, szSubKey);
  }
}

static void DeleteCommonResources(MSIHANDLE hInstall) {
  DWORD dwServerCount = NTReadRefCounter(hInstall);
  DWORD dwConsoleCount = GUIReadRefCounter(hInstall);
  if (dwServerCount != 0 || dwConsoleCount != 0) {
    return;
  }
  InstallDelRegValue(hInstall, kProductKey, kSubTypeValue);
  InstallDelRegValue(hInstall, kOldKey, kSubTypeValue);
  DeleteKeyTree(hInstall, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kProductKey);
  DeleteKeyTree(hInstall, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kOldKey);
  DeleteKeyTree(hInstall, HKEY_CURRENT_USER, "HKEY_CURRENT_USER", kProductKey);
  DeleteKeyTree(hInstall, HKEY_CURRENT_USER, "HKEY_CURRENT_USER", kOldKey);
}

struct LeftOverLocals {
  char* szNTFeature;
  char* szGuiFeature;
  char* szGuiPath;
  char* szNTPath;
};

static void ReleaseLeftOverLocals(LeftOverLocals& locals) {
  InstallFreeString(locals.szNTFeature);
  InstallFreeString(locals.szGuiFeature);
  InstallFreeString(locals.szGuiPath);
  InstallFreeString(locals.szNTPath);
}

// One guarded stage: a failure is reported under szStage and leaves the
// result absent (null), and the action goes on.
static char* ReadGuarded(MSIHANDLE hInstall, char* (*pfnRead)(MSIHANDLE, const char*), const char* szKey,
                         const char* szStage) {
  try {
    return pfnRead(hInstall, szKey);
  } catch (CInstallException* pException) {
    InstallEndFailure(hInstall, szStage, pException, true);
  }
  return nullptr;
}

static bool IsPresent(const char* szText) { return szText != nullptr && szText[0] != '\0'; }

// Whether the component had its last user: its feature is being removed with
// the count "1" published earlier, or else no count is recorded now. Only a
// condition that holds decides; false, undecided or no feature leaves it to
// the count, which is read only then.
static bool IsLastUser(MSIHANDLE hInstall, const char* szFeature, const char* szTail,
                       DWORD (*pfnReadCount)(MSIHANDLE)) {
  if (IsPresent(szFeature)) {
    char szCondition[kConditionSize] = {};
    int cch = snprintf(szCondition, sizeof(szCondition), "&%s%s", szFeature, szTail);
    if (cch < 0 || static_cast<size_t>(cch) >= sizeof(szCondition)) {
      // A cut condition would test some other feature.
      InstallLog(hInstall, kLogRowWarning, "Feature %s is too long for a condition", szFeature);
    } else {
      MSICONDITION eCondition = MsiEvaluateCondition(hInstall, szCondition);
      if (eCondition == MSICONDITION_TRUE) {
        return true;
      }
      if (eCondition != MSICONDITION_FALSE) {
        InstallLog(hInstall, kLogRowWarning, "Condition %s undecided (%d)", szCondition, static_cast<int>(eCondition));
      }
    }
  }
  return pfnReadCount(hInstall) == 0;
}

// The folder of a target path, without its final backslash, into a MAX_PATH
// buffer. False, with the buffer empty, unless the path names a folder below
// a drive's root ("D:\Velmora\"): a relative path would be taken from the
// installer's current folder, and a root or a path of dots is no folder of
// ours.
static bool GetDeletableFolder(const char* szPath, char* szFolder, size_t cbFolder) {
  szFolder[0] = '\0';
  size_t cchFolder = 0;
  if (!InstallIsFolderBelowDriveRoot(szPath, &cchFolder) || cchFolder + 1 > cbFolder) {
    return false;
  }
  memcpy(szFolder, szPath, cchFolder);
  szFolder[cchFolder] = '\0';
  return true;
}

// The two target paths name the same folder: compared without regard to
// letter case, and to a final backslash where both are usable folders.
static bool IsSameFolder(const char* szLeft, const char* szRight) {
  char szLeftFolder[MAX_PATH] = {};
  char szRightFolder[MAX_PATH] = {};
  if (GetDeletableFolder(szLeft, szLeftFolder, sizeof(szLeftFolder)) &&
      GetDeletableFolder(szRight, szRightFolder, sizeof(szRightFolder))) {
    return InstallCompareTextNoCase(szLeftFolder, szRightFolder) == 0;
  }
  return InstallCompareTextNoCase(szLeft, szRight) == 0;
}

// Removes the folder when it is empty, else at the restart, and climbs on to
// its parents. A folder given with its final backslash would be its own
// parent in that climb.
static void DeleteFolder(MSIHANDLE hInstall, const char* szTrace, const char* szPath) {
  InstallLog(hInstall, kLogRowTrace, "%s", szTrace);
  char szFolder[MAX_PATH] = {};
  if (!GetDeletableFolder(szPath, szFolder, sizeof(szFolder))) {
    InstallLog(hInstall, kLogRowWarning, "Not deleting %s", szPath);
    return;
  }
  InstallDeleteDirectory(hInstall, szFolder, TRUE);
}

static void DeleteFolders(MSIHANDLE hInstall, const LeftOverLocals& locals, bool bServerLast, bool bConsoleLast) {
  bool bServerPresent = IsPresent(locals.szNTPath);
  bool bConsolePresent = IsPresent(locals.szGuiPath);
  if (!bServerPresent && !bConsolePresent) {
    // Nothing is known to delete; the failed reads were reported already.
    if (bServerLast || bConsoleLast) {
      InstallLog(hInstall, kLogRowWarning, "The directories of both components are unknown -> nothing deleted");
    }
    return;
  }
  if (!bConsolePresent) {
    if (bServerLast) {
      DeleteFolder(hInstall, "The Gui component is not present -> delete the NT directory", locals.szNTPath);
    }
    return;
  }
  if (!bServerPresent) {
    if (bConsoleLast) {
      DeleteFolder(hInstall, "The NT component is not present -> delete the Gui directory", locals.szGuiPath);
    }
    return;
  }
  if (IsSameFolder(locals.szNTPath, locals.szGuiPath)) {
    if (bServerLast && bConsoleLast) {
      DeleteFolder(hInstall,
                   "The components are installed in the same directory but last uninstall -> delete the directory",
                   locals.szNTPath);
    }
    return;
  }
  if (bServerLast) {
    DeleteFolder(hInstall, "The components are installed in a different directory -> delete the NT directory",
                 locals.szNTPath);
  }
  if (bConsoleLast) {
    DeleteFolder(hInstall, "The components are installed in a different directory -> delete the Gui directory",
                 locals.szGuiPath);
  }
}

static void DeleteLeftOvers(MSIHANDLE hInstall, LeftOverLocals& locals) {
  locals.szNTFeature =
      ReadGuarded(hInstall, InstallComponentGetFeature, kServerComponent, "VrinDeleteLeftOvers : NTServer feature");
  locals.szGuiFeature =
      ReadGuarded(hInstall, InstallComponentGetFeature, kConsoleComponent, "VrinDeleteLeftOvers : Gui Feature");

  bool bServerLast = IsLastUser(hInstall, locals.szNTFeature, kServerLastTail, NTReadRefCounter);
  bool bConsoleLast = IsLastUser(hInstall, locals.szGuiFeature, kConsoleLastTail, GUIReadRefCounter);

  locals.szGuiPath = ReadGuarded(hInstall, InstallGetTargetPath, "GUIFOLDER", "VrinDeleteLeftOvers : szGuiPath");
  locals.szNTPath = ReadGuarded(hInstall, InstallGetTargetPath, "NTSERVERFOLDER", "VrinDeleteLeftOvers : szPathNT");
  DeleteFolders(hInstall, locals, bServerLast, bConsoleLast);
  InstallFreeString(locals.szGuiPath);
  InstallFreeString(locals.szNTPath);

  if (bServerLast && bConsoleLast) {
    InstallLog(hInstall, kLogRowTrace, "Old VRIN Key = %s", kOldKey);
    DeleteKeyTree(hInstall, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kOldKey);
    DeleteKeyTree(hInstall, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kProductKey);
    DeleteKeyTree(hInstall, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kProductParentKey);
  }
}

extern "C" UINT __stdcall VrinDeleteCommonResources(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kDeleteCommonResources, DeleteCommonResources);
}

extern "C" UINT __stdcall VrinDeleteLeftOvers(MSIHANDLE hInstall) {
  LeftOverLocals locals = {};
  return InstallRunAction(hInstall, kDeleteLeftOvers, locals, DeleteLeftOvers, ReleaseLeftOverLocals);
}
