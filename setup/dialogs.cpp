#include "setup/dialogs.h"

#include <cstdio>
#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/database_helpers.h"
#include "runtime/number_scan.h"
#include "runtime/session_access.h"
#include "runtime/text_compare.h"

static const ActionInfo kDisableChangeFolder = {"VrinDisableChangeFolder", ERROR_BAD_ARGUMENTS,
                                                "VrinDisableChangeFolder : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kNothingToInstall = {"VrinNothingToInstall", ERROR_BAD_ARGUMENTS,
                                             "VrinNothingToInstall : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kWarning = {"VrinWarning", ERROR_BAD_ARGUMENTS, "VrinWarning : hInstall", ERROR_SUCCESS,
                                    kTraceAction};
static const ActionInfo kMessageInstall = {"VrinMessageInstall", ERROR_BAD_ARGUMENTS, "VrinMessageInstall : hInstall",
                                           ERROR_SUCCESS, kTraceAction};
static const ActionInfo kTerminateSetup = {"VrinTerminateSetup", 0, nullptr, ERROR_SUCCESS, kTraceAction};

static const int kFolderInUseRow = 25001;
static const int kNothingToInstallRow = 25002;
static const int kFeatureFolderFixedRow = 25004;

// Message types of the two boxes: an error or a warning, each with the
// warning icon and one OK button.
static const UINT kAbortBox = INSTALLMESSAGE_ERROR | MB_ICONWARNING | MB_OK;
static const UINT kWarningBox = INSTALLMESSAGE_WARNING | MB_ICONWARNING | MB_OK;

// Asks the program that started the installation to close down.
static const UINT kCloseDownMessage = WM_USER + 100;

static const size_t kQuerySize = 256;

static void CloseView(MSIHANDLE& hView) {
  if (hView != 0) {
    MsiViewClose(hView);
    InstallCloseHandle(hView);
  }
}

static bool IsEmpty(const char* szText) { return szText == nullptr || szText[0] == '\0'; }

// ---------------------------------------------------------------------------
// VrinDisableChangeFolder

struct DisableChangeFolderLocals {
  char* szDescription;
  char* szFeature;
  char* szTitle;
  char* szFolder;
  char* szTemplate;
  char* szWarning;
  MSIHANDLE hDatabase;
  MSIHANDLE hView;
  MSIHANDLE hRecord;
};

static void ReleaseDisableChangeFolder(DisableChangeFolderLocals& locals) {
  InstallCloseHandle(locals.hRecord);
  CloseView(locals.hView);
  InstallCloseHandle(locals.hDatabase);
  InstallFreeString(locals.szDescription);
  InstallFreeString(locals.szFeature);
  InstallFreeString(locals.szTitle);
  InstallFreeString(locals.szFolder);
  InstallFreeString(locals.szTemplate);
  InstallFreeString(locals.szWarning);
}

// The feature key and title of the Feature row with the description.
static void LookUpFeature(MSIHANDLE hInstall, DisableChangeFolderLocals& locals) {
  locals.hDatabase = MsiGetActiveDatabase(hInstall);
  if (locals.hDatabase == 0) {
    InstallRaiseMsi("VrinDisableChangeFolder : MsiGetActiveDatabase");
  }
  // The description is pasted into the query between apostrophes: one of its
  // own would end the literal early and let the rest be read as SQL, and a
  // description too long for the buffer would be cut into another query.
  if (strchr(locals.szDescription, '\'') != nullptr) {
    InstallRaise("VrinDisableChangeFolder : szQuery", ERROR_INVALID_PARAMETER);
  }
  char szQuery[kQuerySize] = {};
  int cch = snprintf(szQuery, sizeof(szQuery), "SELECT `Feature`,`Title` FROM `Feature` WHERE `Description` = '%s'",
                     locals.szDescription);
  if (cch < 0 || static_cast<size_t>(cch) >= sizeof(szQuery)) {
    InstallRaise("VrinDisableChangeFolder : szQuery", ERROR_INSUFFICIENT_BUFFER);
  }
  if (MsiDatabaseOpenView(locals.hDatabase, szQuery, &locals.hView) != ERROR_SUCCESS) {
    locals.hView = 0;
    InstallRaiseMsi("VrinDisableChangeFolder : MsiDatabaseOpenView");
  }
  UINT uResult = MsiViewExecute(locals.hView, 0);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinDisableChangeFolder : MsiViewExecute", uResult);
  }
  uResult = MsiViewFetch(locals.hView, &locals.hRecord);
  if (uResult != ERROR_SUCCESS) {
    locals.hRecord = 0;
    InstallRaise("VrinDisableChangeFolder : MsiViewFetch", uResult);
  }
  locals.szFeature = InstallGetRecordString(hInstall, locals.hRecord, 1);
  locals.szTitle = InstallGetRecordString(hInstall, locals.hRecord, 2);
  InstallCloseHandle(locals.hRecord);
  CloseView(locals.hView);
  InstallCloseHandle(locals.hDatabase);
}

// True when the property names a folder: the feature is installed there.
static bool IsInstalledIn(MSIHANDLE hInstall, DisableChangeFolderLocals& locals, const char* szProperty) {
  locals.szFolder = InstallGetProperty(hInstall, szProperty);
  bool bInstalled = !IsEmpty(locals.szFolder);
  InstallFreeString(locals.szFolder);
  return bInstalled;
}

// The Error row that warns about the feature's folder, or 0.
static int ChooseFolderWarning(MSIHANDLE hInstall, DisableChangeFolderLocals& locals) {
  const char* szFeature = locals.szFeature;
  if (InstallCompareTextNoCase(szFeature, "GUI") == 0) {
    return IsInstalledIn(hInstall, locals, "GUIINSTALLDIR") ? kFolderInUseRow : 0;
  }
  if (InstallCompareTextNoCase(szFeature, "NTServer") == 0) {
    return IsInstalledIn(hInstall, locals, "NTSERVERINSTALLDIR") ? kFolderInUseRow : 0;
  }
  if (InstallCompareTextNoCase(szFeature, "NWServer") == 0 ||
      InstallCompareTextNoCase(szFeature, "ReadMeLicense") == 0) {
    return kFeatureFolderFixedRow;
  }
  return 0;
}

static void DisableChangeFolder(MSIHANDLE hInstall, DisableChangeFolderLocals& locals) {
  locals.szDescription = InstallGetProperty(hInstall, "FEATUREDESCRIPTION");
  if (!IsEmpty(locals.szDescription)) {
    LookUpFeature(hInstall, locals);
    int nRow = IsEmpty(locals.szFeature) ? 0 : ChooseFolderWarning(hInstall, locals);
    if (nRow != 0) {
      locals.szTemplate = InstallGetErrorFormat(hInstall, nRow);
      // A record that could not be made fails the formatting, which reports it.
      locals.hRecord = MsiCreateRecord(1);
      MsiRecordSetString(locals.hRecord, 0, locals.szTemplate);
      MsiRecordSetString(locals.hRecord, 1, locals.szTitle);
      locals.szWarning = InstallSetWarning(hInstall, locals.hRecord);
      InstallCloseHandle(locals.hRecord);
      InstallFreeString(locals.szTemplate);
    }
  }
  // No warning removes the property.
  UINT uResult = MsiSetProperty(hInstall, "WARNINGTEXT", locals.szWarning != nullptr ? locals.szWarning : "");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinDisableChangeFolder : MsiSetProperty", uResult);
  }
}

extern "C" UINT __stdcall VrinDisableChangeFolder(MSIHANDLE hInstall) {
  DisableChangeFolderLocals locals = {};
  return InstallRunAction(hInstall, kDisableChangeFolder, locals, DisableChangeFolder, ReleaseDisableChangeFolder);
}

// ---------------------------------------------------------------------------
// VrinNothingToInstall

struct NothingToInstallLocals {
  MSIHANDLE hInstall;
  char* szWarning;
  bool bDone;
};

// On every failure, a selected feature included, the warning goes.
static void ReleaseNothingToInstall(NothingToInstallLocals& locals) {
  InstallFreeString(locals.szWarning);
  if (!locals.bDone) {
    MsiSetProperty(locals.hInstall, "WARNINGTEXT", "");
  }
  locals.bDone = true;
}

static void NothingToInstall(MSIHANDLE hInstall, NothingToInstallLocals& locals) {
  locals.hInstall = hInstall;
  INSTALLSTATE iInstalled = INSTALLSTATE_ABSENT;
  INSTALLSTATE iAction = INSTALLSTATE_ABSENT;
  if (MsiGetFeatureState(hInstall, "NTServer", &iInstalled, &iAction) != ERROR_SUCCESS) {
    InstallLog(hInstall, kLogRowWarning, "Failed trying to retrieve the State of NTServer");
  }
  if (iAction > INSTALLSTATE_ABSENT) {
    InstallRaise("VrinNothingToInstall : NTServer to be installed", 0);
  }
  UINT uResult = MsiGetFeatureState(hInstall, "GUI", &iInstalled, &iAction);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNothingToInstall : MsiGetFeatureState", uResult);
  }
  if (iAction > INSTALLSTATE_ABSENT) {
    InstallRaise("VrinNothingToInstall : Gui to be installed", 0);
  }
  locals.szWarning = InstallGetErrorFormat(hInstall, kNothingToInstallRow);
  uResult = MsiSetProperty(hInstall, "WARNINGTEXT", locals.szWarning);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNothingToInstall : MsiSetProperty", uResult);
  }
  locals.bDone = true;
}

extern "C" UINT __stdcall VrinNothingToInstall(MSIHANDLE hInstall) {
  // A refused null session never reaches the body: nothing to remove then.
  NothingToInstallLocals locals = {hInstall, nullptr, hInstall == 0};
  return InstallRunAction(hInstall, kNothingToInstall, locals, NothingToInstall, ReleaseNothingToInstall);
}

// ---------------------------------------------------------------------------
// VrinWarning

struct WarningLocals {
  char* szWarning;
  char* szControl;
  MSIHANDLE hDatabase;
  MSIHANDLE hView;
  MSIHANDLE hRecord;
};

static void ReleaseWarning(WarningLocals& locals) {
  InstallCloseHandle(locals.hRecord);
  CloseView(locals.hView);
  InstallCloseHandle(locals.hDatabase);
  InstallFreeString(locals.szWarning);
  InstallFreeString(locals.szControl);
}

// Deletes the dialog's earlier "WarningText" control, if there is one.
static void DeleteWarningControl(MSIHANDLE hInstall, WarningLocals& locals) {
  while (MsiViewFetch(locals.hView, &locals.hRecord) == ERROR_SUCCESS) {
    locals.szControl = InstallGetRecordString(hInstall, locals.hRecord, 2);
    bool bFound = InstallCompareText(locals.szControl, "WarningText") == 0;
    InstallFreeString(locals.szControl);
    if (bFound) {
      UINT uResult = MsiViewModify(locals.hView, MSIMODIFY_DELETE, locals.hRecord);
      if (uResult != ERROR_SUCCESS) {
        InstallRaise("VrinWarning : MsiViewModify", uResult);
      }
      InstallCloseHandle(locals.hRecord);
      return;
    }
    InstallCloseHandle(locals.hRecord);
  }
  locals.hRecord = 0;
}

static void Warning(MSIHANDLE hInstall, WarningLocals& locals) {
  locals.szWarning = InstallGetProperty(hInstall, "WARNINGTEXT");
  if (IsEmpty(locals.szWarning)) {
    InstallRaise("VrinWarning : szWarning", ERROR_BAD_ARGUMENTS);
  }
  locals.hDatabase = MsiGetActiveDatabase(hInstall);
  if (locals.hDatabase == 0) {
    InstallRaiseMsi("VrinWarning : MsiGetActiveDatabase");
  }
  if (MsiDatabaseOpenView(locals.hDatabase, "SELECT * FROM `Control` WHERE `Dialog_` = 'WarningDialog'",
                          &locals.hView) != ERROR_SUCCESS) {
    locals.hView = 0;
    InstallRaiseMsi("VrinWarning : MsiDatabaseOpenView");
  }
  UINT uResult = MsiViewExecute(locals.hView, 0);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinWarning : MsiViewExecute", uResult);
  }
  DeleteWarningControl(hInstall, locals);

  // A record that could not be made fails the insert, which reports it.
  locals.hRecord = MsiCreateRecord(12);
  MsiRecordSetString(locals.hRecord, 1, "WarningDialog");
  MsiRecordSetString(locals.hRecord, 2, "WarningText");
  MsiRecordSetString(locals.hRecord, 3, "Text");
  MsiRecordSetInteger(locals.hRecord, 4, 40);
  MsiRecordSetInteger(locals.hRecord, 5, 10);
  MsiRecordSetInteger(locals.hRecord, 6, 200);
  MsiRecordSetInteger(locals.hRecord, 7, 50);
  MsiRecordSetInteger(locals.hRecord, 8, 3);  // visible and enabled
  MsiRecordSetString(locals.hRecord, 10, locals.szWarning);
  uResult = MsiViewModify(locals.hView, MSIMODIFY_INSERT_TEMPORARY, locals.hRecord);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinWarning : MsiViewModify", uResult);
  }
}

extern "C" UINT __stdcall VrinWarning(MSIHANDLE hInstall) {
  WarningLocals locals = {};
  return InstallRunAction(hInstall, kWarning, locals, Warning, ReleaseWarning);
}

// ---------------------------------------------------------------------------
// VrinMessageInstall

// Removes both reasons, so that neither is shown again. On the failure path
// the refusals are ignored.
static void DeleteReasons(MSIHANDLE hInstall, bool bIgnoreFailures) {
  static const char* const kReasons[] = {"WARNINGREASON", "ABORTREASON"};
  for (const char* szReason : kReasons) {
    if (bIgnoreFailures) {
      InstallLog(hInstall, kLogRowTrace, "Deleting %s", szReason);
      MsiSetProperty(hInstall, szReason, "");
    } else {
      InstallDeleteProperty(hInstall, szReason);
    }
  }
}

// Shows the reason's Error row in an installer message box. A box that is not
// shown, also for want of its record, is only logged: the abort stands.
static void ShowReason(MSIHANDLE hInstall, int nReason, bool bAbort) {
  int nAnswer = -1;
  MSIHANDLE hRecord = MsiCreateRecord(1);
  if (hRecord != 0) {
    MsiRecordSetInteger(hRecord, 1, nReason);
    nAnswer = MsiProcessMessage(hInstall, static_cast<INSTALLMESSAGE>(bAbort ? kAbortBox : kWarningBox), hRecord);
    InstallCloseHandle(hRecord);
  }
  if (nAnswer != IDOK) {
    InstallLog(hInstall, kLogRowFailure, "Failed to display message to user %d", nAnswer);
  }
}

// The frame's steps written out: a failure keeps the result as it stood,
// 1603 once an abort reason has been shown.
extern "C" UINT __stdcall VrinMessageInstall(MSIHANDLE hInstall) {
  InstallTraceActionEntry(hInstall, kMessageInstall);
  UINT uResult = ERROR_SUCCESS;
  char* szReason = nullptr;
  try {
    InstallCheckSession(hInstall, kMessageInstall);
    bool bAbort = true;
    szReason = InstallGetProperty(hInstall, "ABORTREASON");
    if (IsEmpty(szReason)) {
      InstallFreeString(szReason);
      bAbort = false;
      szReason = InstallGetProperty(hInstall, "WARNINGREASON");
    }
    if (!IsEmpty(szReason)) {
      InstallLog(hInstall, kLogRowTrace, "Message = %s", szReason);
      int nReason = 0;
      InstallScanInt(szReason, &nReason);
      if (nReason != 0) {
        ShowReason(hInstall, nReason, bAbort);
        if (bAbort) {
          uResult = ERROR_INSTALL_FAILURE;
          VrinTerminateSetup(hInstall);
        }
      }
    }
    DeleteReasons(hInstall, false);
    InstallFreeString(szReason);
  } catch (CInstallException* pException) {
    DeleteReasons(hInstall, true);
    InstallFreeString(szReason);
    InstallEndFailure(hInstall, kMessageInstall.szName, pException, true);
  }
  InstallTraceActionExit(hInstall, kMessageInstall, uResult);
  return uResult;
}

// ---------------------------------------------------------------------------
// VrinTerminateSetup

// Posts the close-down message to the window WNDHD names. Every failure is
// dropped without a report: the setup program may simply not be there.
extern "C" UINT __stdcall VrinTerminateSetup(MSIHANDLE hInstall) {
  InstallTraceActionEntry(hInstall, kTerminateSetup);
  char* szWindow = nullptr;
  try {
    szWindow = InstallGetProperty(hInstall, "WNDHD");
    int nWindow = 0;
    if (!IsEmpty(szWindow) && InstallScanInt(szWindow, &nWindow)) {
      HWND hWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(nWindow));
      if (IsWindow(hWindow)) {
        InstallLog(hInstall, kLogRowTrace, "Instructing the setup program to close down");
        PostMessage(hWindow, kCloseDownMessage, 0, 0);
      }
    }
    InstallFreeString(szWindow);
  } catch (CInstallException* pException) {
    InstallFreeString(szWindow);
    InstallEndFailure(hInstall, kTerminateSetup.szName, pException, false);
  }
  InstallTraceActionExit(hInstall, kTerminateSetup, ERROR_SUCCESS);
  return ERROR_SUCCESS;
}
