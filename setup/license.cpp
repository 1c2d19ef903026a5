#include "setup/license.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "runtime/action_frame.h"
#include "runtime/profile_file.h"
#include "runtime/session_access.h"
#include "runtime/text_compare.h"
#include "setup/setup_files.h"

static const ActionInfo kNameLicense = {"VrinNameLicense", ERROR_INVALID_HANDLE, "VrinNameLicense : hInstall",
                                        ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kReadMeLicenseInstall = {"VrinReadMeLicenseInstall", ERROR_BAD_ARGUMENTS,
                                                 "VrinReadMeLicenseInstall : hInstall", ERROR_SUCCESS, kTraceAction};

static const char kRtfHeader[] =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f1\\froman\\fcharset2 Symbol;}"
    "{\\f2\\froman Times New Roman;}}\n"
    "{\\colortbl\\red0\\green0\\blue0;}\n"
    "\\deflang2057\\pard\\plain\\f0\\fs16 ";
static const char kRtfParagraph[] = "\\par ";
static const char kRtfTrailer[] = "\n\\par }";

struct LicenseLocals {
  MSIHANDLE hDatabase;
  MSIHANDLE hView;
  MSIHANDLE hRow;
  MSIHANDLE hRecord;
  char* szControl;
  char* szLicenseFile;
  char* szText;
  char* szRTF;
};

static void ReleaseLicenseLocals(LicenseLocals& locals) {
  InstallCloseHandle(locals.hRecord);
  InstallCloseHandle(locals.hRow);
  InstallCloseHandle(locals.hView);
  InstallCloseHandle(locals.hDatabase);
  InstallFreeString(locals.szControl);
  InstallFreeString(locals.szLicenseFile);
  InstallFreeString(locals.szText);
  delete[] locals.szRTF;
  locals.szRTF = nullptr;
}

// True when the dialog's rows (package or temporary) already hold "Memo";
// any fetch failure ends the search as the end of the rows does.
static bool FindMemoControl(MSIHANDLE hInstall, LicenseLocals& locals) {
  bool bFound = false;
  while (!bFound && MsiViewFetch(locals.hView, &locals.hRow) == ERROR_SUCCESS) {
    locals.szControl = InstallGetRecordString(hInstall, locals.hRow, 2);
    bFound = InstallCompareText(locals.szControl, "Memo") == 0;
    InstallFreeString(locals.szControl);
    InstallCloseHandle(locals.hRow);
  }
  return bFound;
}

// The licence as Rich Text in a buffer of exactly the size it needs. The file
// is single-byte text that ends at its first NUL byte; "\par " follows each
// line feed, and nothing of the file is escaped.
static void BuildRichText(LicenseLocals& locals) {
  size_t cchText = strlen(locals.szText);
  size_t cLineFeeds = 0;
  for (size_t i = 0; i < cchText; ++i) {
    if (locals.szText[i] == '\n') {
      ++cLineFeeds;
    }
  }
  const size_t cchParagraph = sizeof(kRtfParagraph) - 1;
  const size_t cchFrame = (sizeof(kRtfHeader) - 1) + (sizeof(kRtfTrailer) - 1) + 1;
  // A text of only line feeds grows sixfold; a size that would wrap around
  // is an allocation that cannot succeed.
  if (cchText > (SIZE_MAX - cchFrame) / (cchParagraph + 1)) {
    InstallRaise("VrinNameLicense : szRTF", ERROR_OUTOFMEMORY);
  }
  size_t cbRTF = cchFrame + cchText + cchParagraph * cLineFeeds;
  locals.szRTF = new (std::nothrow) char[cbRTF];
  if (locals.szRTF == nullptr) {
    InstallRaise("VrinNameLicense : szRTF", ERROR_OUTOFMEMORY);
  }
  char* pOut = locals.szRTF;
  memcpy(pOut, kRtfHeader, sizeof(kRtfHeader) - 1);
  pOut += sizeof(kRtfHeader) - 1;
  for (size_t i = 0; i < cchText; ++i) {
    *pOut++ = locals.szText[i];
    if (locals.szText[i] == '\n') {
      memcpy(pOut, kRtfParagraph, cchParagraph);
      pOut += cchParagraph;
    }
  }
  memcpy(pOut, kRtfTrailer, sizeof(kRtfTrailer));
}

static void InsertMemoControl(LicenseLocals& locals) {
  // A record that could not be made fails the insert, which reports it.
  locals.hRecord = MsiCreateRecord(12);
  MsiRecordSetString(locals.hRecord, 1, "LicenseAgreement");
  MsiRecordSetString(locals.hRecord, 2, "Memo");
  MsiRecordSetString(locals.hRecord, 3, "ScrollableText");
  MsiRecordSetInteger(locals.hRecord, 4, 8);
  MsiRecordSetInteger(locals.hRecord, 5, 55);
  MsiRecordSetInteger(locals.hRecord, 6, 358);
  MsiRecordSetInteger(locals.hRecord, 7, 130);
  MsiRecordSetInteger(locals.hRecord, 8, 7);  // visible, enabled, sunken
  MsiRecordSetString(locals.hRecord, 10, locals.szRTF);
  // Temporary: the row lives in this session only, never in the package.
  UINT uResult = MsiViewModify(locals.hView, MSIMODIFY_INSERT_TEMPORARY, locals.hRecord);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNameLicense : MsiViewModify", uResult);
  }
}

static void NameLicense(MSIHANDLE hInstall, LicenseLocals& locals) {
  ResolveFileName(hInstall, "LICENSE", "LICENSEFILE");
  locals.hDatabase = MsiGetActiveDatabase(hInstall);
  if (locals.hDatabase == 0) {
    InstallRaiseMsi("VrinNameLicense : MsiGetActiveDatabase");
  }
  if (MsiDatabaseOpenView(locals.hDatabase, "SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'",
                          &locals.hView) != ERROR_SUCCESS) {
    InstallRaiseMsi("VrinNameLicense : MsiDatabaseOpenView");
  }
  UINT uResult = MsiViewExecute(locals.hView, 0);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNameLicense : MsiViewExecute", uResult);
  }
  // A control that exists already is kept as it is, so a second run in the
  // session inserts nothing and does not read the file again.
  if (FindMemoControl(hInstall, locals)) {
    return;
  }
  locals.szLicenseFile = InstallGetProperty(hInstall, "LICENSEFILE");
  locals.szText = InstallReadFile(hInstall, locals.szLicenseFile);
  BuildRichText(locals);
  InsertMemoControl(locals);
}

struct LicenseFolderLocals {
  char* szGuiFolder;
};

static void ReleaseLicenseFolderLocals(LicenseFolderLocals& locals) { InstallFreeString(locals.szGuiFolder); }

// The readme and licence files go with the console.
static void ReadMeLicenseInstall(MSIHANDLE hInstall, LicenseFolderLocals& locals) {
  locals.szGuiFolder = InstallGetTargetPath(hInstall, "GUIFOLDER");
  InstallLog(hInstall, kLogRowTrace, "Set <LICENSEFOLDER> = %s", locals.szGuiFolder);
  UINT uResult = MsiSetTargetPath(hInstall, "LICENSEFOLDER", locals.szGuiFolder);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinReadMeLicenseInstall : MsiSetTargetPath", uResult);
  }
}

extern "C" UINT __stdcall VrinNameLicense(MSIHANDLE hInstall) {
  LicenseLocals locals = {};
  return InstallRunAction(hInstall, kNameLicense, locals, NameLicense, ReleaseLicenseLocals);
}

extern "C" UINT __stdcall VrinReadMeLicenseInstall(MSIHANDLE hInstall) {
  LicenseFolderLocals locals = {};
  return InstallRunAction(hInstall, kReadMeLicenseInstall, locals, ReadMeLicenseInstall, ReleaseLicenseFolderLocals);
}
