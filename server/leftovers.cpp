#include "server/leftovers.h"

#include <cstddef>
#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/file_helpers.h"
#include "runtime/path_checks.h"
#include "runtime/profile_file.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
static const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6B2D3F01-8E4C-4A32-8D66-2F3B4C5D6E72}";
static const char kInstallDirProperty[] = "NTSERVERINSTALLDIR";
static const char kDriverFile[] = "system32\\drivers\\skdnt.sys";

// Values of the previous generation that the current one no longer reads.
static const char* const kUnusedOldValues[] = {"DriverPath", "InstallTime", "Organization", "User"};
// Files of older releases in the earlier server's folder.
static const char* const kUpgradeFiles[] = {"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli"};
static const char* const kServiceFiles[] = {"skdnt.cfg", "skdnt.cli", "skdnt.dat", "skdnt.exe"};
static const char* const kBackupFiles[] = {"backup.cfg", "backup.cli"};

static const ActionInfo kDeleteUpgradeLeftOvers = {"VrinNTDeleteUpgradeLeftOvers", ERROR_BAD_ARGUMENTS,
                                                   "VrinNTDeleteUpgradeLeftOvers : hInstall", ERROR_SUCCESS,
                                                   kTraceAction};
static const ActionInfo kDeleteLeftOvers = {"VrinNTDeleteLeftOvers", 0, nullptr, ERROR_SUCCESS, kTraceAction};

struct LeftOverLocals {
  char* szInstallDir;
};

static void ReleaseLeftOverLocals(LeftOverLocals& locals) { InstallFreeString(locals.szInstallDir); }

template <size_t N>
static void DeleteFilesIn(MSIHANDLE hInstall, const char* szFolder, const char* const (&aszNames)[N]) {
  for (const char* szName : aszNames) {
    char szPath[MAX_PATH] = {};
    InstallMakePath(szPath, sizeof(szPath), szFolder, szName);
    InstallDeleteFile(hInstall, szPath);
  }
}

static void DeleteUpgradeLeftOvers(MSIHANDLE hInstall, LeftOverLocals& locals) {
  for (const char* szValue : kUnusedOldValues) {
    InstallDelRegValue(hInstall, kOldKey, szValue);
  }
  locals.szInstallDir = InstallGetProperty(hInstall, kInstallDirProperty);
  if (locals.szInstallDir[0] == '\0') {
    return;
  }
  DeleteFilesIn(hInstall, locals.szInstallDir, kUpgradeFiles);
}

// The service's log folder: LogfileDirectory in [General] of skdnt.cfg, else
// the install folder's "Logs". The profile is looked up after its deletion, so
// the configured folder is found only when that deletion was put off until
// the restart. A configured folder is deleted with all in it only when it
// lies below the install folder: one elsewhere may be shared with other
// programs. False, with a warning, when the folder is left.
static bool FindLogFolder(MSIHANDLE hInstall, const char* szInstallDir, char* szLogFolder, size_t cbLogFolder) {
  char szProfile[MAX_PATH] = {};
  InstallMakePath(szProfile, sizeof(szProfile), szInstallDir, "skdnt.cfg");
  char szDefault[MAX_PATH] = {};
  InstallMakePath(szDefault, sizeof(szDefault), szInstallDir, "Logs");
  DWORD cchFolder = InstallGetPrivateProfileString(hInstall, "General", "LogfileDirectory", szDefault, szLogFolder,
                                                   static_cast<DWORD>(cbLogFolder), szProfile);
  if (szLogFolder[0] == '\0') {
    // An empty value gives no folder: the default stands.
    InstallCopyTruncated(szLogFolder, cbLogFolder, szDefault);
    return true;
  }
  // A count of the buffer size less one means the value may have been cut,
  // and a cut path names some other folder.
  bool bCut = cchFolder + 1 >= cbLogFolder;
  if (!bCut && (strcmp(szLogFolder, szDefault) == 0 || InstallIsFolderStrictlyBelow(szLogFolder, szInstallDir))) {
    return true;
  }
  InstallLog(hInstall, kLogRowWarning, "Not deleting log folder %s", szLogFolder);
  return false;
}

static void DeleteLeftOvers(MSIHANDLE hInstall, LeftOverLocals& locals) {
  locals.szInstallDir = InstallGetProperty(hInstall, kInstallDirProperty);
  if (locals.szInstallDir[0] == '\0') {
    return;
  }
  DeleteFilesIn(hInstall, locals.szInstallDir, kServiceFiles);

  char szWindows[MAX_PATH] = {};
  UINT cchWindows = GetWindowsDirectory(szWindows, sizeof(szWindows));
  if (cchWindows == 0) {
    InstallRaise("VrinNTDeleteLeftOvers : GetWindowsDirectory", GetLastError());
  }
  if (cchWindows >= sizeof(szWindows)) {
    InstallRaise("VrinNTDeleteLeftOvers : GetWindowsDirectory", ERROR_INSUFFICIENT_BUFFER);
  }
  char szDriver[MAX_PATH] = {};
  InstallMakePath(szDriver, sizeof(szDriver), szWindows, kDriverFile);
  InstallDeleteFile(hInstall, szDriver);

  // Keeps the standalone product out of the list of installed programs.
  InstallSetRegValue(hInstall, kUninstallKey, "SystemComponent", 1);

  DeleteFilesIn(hInstall, locals.szInstallDir, kBackupFiles);
  char szLogFolder[MAX_PATH] = {};
  if (FindLogFolder(hInstall, locals.szInstallDir, szLogFolder, sizeof(szLogFolder))) {
    InstallDeleteEntireDirectory(hInstall, szLogFolder);
  }
}

extern "C" UINT __stdcall VrinNTDeleteUpgradeLeftOvers(MSIHANDLE hInstall) {
  LeftOverLocals locals = {};
  return InstallRunAction(hInstall, kDeleteUpgradeLeftOvers, locals, DeleteUpgradeLeftOvers, ReleaseLeftOverLocals);
}

extern "C" UINT __stdcall VrinNTDeleteLeftOvers(MSIHANDLE hInstall) {
  LeftOverLocals locals = {};
  return InstallRunAction(hInstall, kDeleteLeftOvers, locals, DeleteLeftOvers, ReleaseLeftOverLocals);
}
