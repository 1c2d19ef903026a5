#include "console/console_version.h"

#include "runtime/action_frame.h"
#include "runtime/file_helpers.h"
#include "runtime/profile_file.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"
#include "runtime/text_compare.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
// Named without a folder, so it is looked up in the Windows folder.
static const char kProfile[] = "skdwin.ini";
static const char kConsoleImage[] = "skdwin.exe";
static const char kGuiCode[] = "NTGUI";
// Consoles below this major version are replaced by an upgrade.
static const DWORD kFirstCurrentMajor = 9;

static const ActionInfo kPreviousVersionInstalled = {"VrinGUIPreviousVersionInstalled", ERROR_BAD_ARGUMENTS,
                                                     "VrinGUIPreviousVersionInstalled : hInstall", ERROR_SUCCESS,
                                                     kTraceAction};
static const ActionInfo kWriteGuiCode = {"VrinGUIWriteGuiCode", 0, nullptr, ERROR_SUCCESS, kTraceAction};

// --- VrinGUIPreviousVersionInstalled ---

struct PreviousVersionLocals {
  char* szGuiPath;
  VS_FIXEDFILEINFO* pVersion;
};

static void ReleasePreviousVersion(PreviousVersionLocals& locals) {
  InstallFreeString(locals.szGuiPath);
  delete locals.pVersion;
  locals.pVersion = nullptr;
}

static bool HasText(const char* szText) { return szText != nullptr && szText[0] != '\0'; }

static void PreviousVersionBody(MSIHANDLE hInstall, PreviousVersionLocals& locals) {
  char szProfileDir[MAX_PATH] = {};
  InstallGetPrivateProfileString(hInstall, "SKDInformation", "Dir", "", szProfileDir, sizeof(szProfileDir), kProfile);
  const char* szDirectory = szProfileDir;
  if (szProfileDir[0] == '\0') {
    locals.szGuiPath = InstallGetRegString(hInstall, kProductKey, "GuiPath");
    if (!HasText(locals.szGuiPath)) {
      InstallFreeString(locals.szGuiPath);
      locals.szGuiPath = InstallGetRegString(hInstall, kOldKey, "GuiPath");
      if (!HasText(locals.szGuiPath)) {
        // No earlier console: reported, and no property is set.
        InstallRaise("VrinGUIPreviousVersionInstalled : InstallGetPrivateProfileString", ERROR_FILE_NOT_FOUND);
      }
    }
    szDirectory = locals.szGuiPath;
  }

  // A directory that leaves no room for the file name in MAX_PATH is refused
  // here (206) rather than cut; a profile value cut to its buffer is always
  // that long, so no cut directory is ever taken.
  char szImage[MAX_PATH] = {};
  InstallMakePath(szImage, sizeof(szImage), szDirectory, kConsoleImage);
  locals.pVersion = InstallGetFileVersion(hInstall, szImage);

  InstallLog(hInstall, kLogRowTrace, "Set GUIINSTALLDIR = %s", szDirectory);
  UINT uResult = MsiSetProperty(hInstall, "GUIINSTALLDIR", szDirectory);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinGUIPreviousVersionInstalled : MsiSetProperty(1)", uResult);
  }

  const DWORD dwMajor = locals.pVersion->dwFileVersionMS >> 16;
  InstallLog(hInstall, kLogRowTrace, "PPVersion = %d", static_cast<int>(dwMajor));
  if (dwMajor < kFirstCurrentMajor) {
    InstallLog(hInstall, kLogRowTrace, "Set GUIUPGRADE");
    uResult = MsiSetProperty(hInstall, "GUIUPGRADE", "1");
    if (uResult != ERROR_SUCCESS) {
      InstallRaise("VrinGUIPreviousVersionInstalled : MsiSetProperty(2)", uResult);
    }
  }
}

extern "C" UINT __stdcall VrinGUIPreviousVersionInstalled(MSIHANDLE hInstall) {
  PreviousVersionLocals locals = {};
  return InstallRunAction(hInstall, kPreviousVersionInstalled, locals, PreviousVersionBody, ReleasePreviousVersion);
}

// --- VrinGUIWriteGuiCode ---

extern "C" UINT __stdcall VrinGUIWriteGuiCode(MSIHANDLE hInstall) {
  // Its entry line has no blank before the arrow, unlike the frame's.
  InstallLog(hInstall, kLogRowTrace, "%s->", kWriteGuiCode.szName);
  char* szFlags = nullptr;
  try {
    szFlags = InstallGetProperty(hInstall, "ISReleaseFlags");
    if (InstallFindText(szFlags, kGuiCode) != nullptr) {
      // A mark that could not be written is reported, not passed over.
      LONG lResult = InstallSetRegString(hInstall, kProductKey, kGuiCode, kGuiCode);
      if (lResult != ERROR_SUCCESS) {
        InstallRaise("VrinGUIWriteGuiCode : InstallSetRegString", static_cast<DWORD>(lResult));
      }
    }
  } catch (CInstallException* pException) {
    InstallFreeString(szFlags);
    InstallEndFailure(hInstall, kWriteGuiCode.szName, pException, true);
  }
  InstallFreeString(szFlags);
  InstallTraceActionExit(hInstall, kWriteGuiCode, ERROR_SUCCESS);
  return ERROR_SUCCESS;
}
