#include "setup/setup_files.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "runtime/action_frame.h"
#include "runtime/database_helpers.h"
#include "runtime/profile_file.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"
#include "runtime/text_compare.h"

static const char kSourceFolder[] = "UnCompressedFolder";
static const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";
static const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";

// The standalone package's own features, set local with either component.
static const char* const kCommonFeatures[] = {"Common",    "CommonUSA", "CommonCHT", "CommonSPA",
                                              "CommonCHS", "CommonITA", "CommonJPN", "CommonFRN",
                                              "CommonGRM", "DS.x86",    "DS.IA64"};

static const DWORD kValueSize = 260;

static const ActionInfo kReadInfFile = {"VrinReadInfFile", ERROR_BAD_ARGUMENTS, "VrinReadInfFile : hInstall",
                                        ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kReadIcfFile = {"VrinReadIcfFile", ERROR_BAD_ARGUMENTS, "VrinReadIcfFile : hInstall",
                                        ERROR_SUCCESS, kTraceAction};
static const ActionInfo kSetSelectedComponents = {"VrinSetSelectedComponents", ERROR_BAD_ARGUMENTS,
                                                  "VrinSetSelectedComponents : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kSetSelectedFeatureState = {"VRINSetSelectedFeatureState", 0, nullptr, ERROR_SUCCESS,
                                                    kTraceAction};

struct InfLocals {
  char* szSource;
  char* szInfName;
  char* szInfFull;
  char* szLangId;
};

static void ReleaseInfLocals(InfLocals& locals) {
  InstallFreeString(locals.szSource);
  InstallFreeString(locals.szInfName);
  InstallFreeString(locals.szInfFull);
  InstallFreeString(locals.szLangId);
}

static void ReadInfFile(MSIHANDLE hInstall, InfLocals& locals) {
  locals.szSource = InstallGetSourcePath(hInstall, kSourceFolder);
  locals.szInfName = InstallGetProperty(hInstall, "INFFILE");
  // Sized for the joint path, so no source folder is too long for it.
  size_t cbInfFull = strlen(locals.szSource) + 1 + strlen(locals.szInfName) + 1;
  locals.szInfFull = new (std::nothrow) char[cbInfFull];
  if (locals.szInfFull == nullptr) {
    InstallRaise("VrinReadInfFile : szInfFull", ERROR_OUTOFMEMORY);
  }
  InstallMakePath(locals.szInfFull, cbInfFull, locals.szSource, locals.szInfName);
  InstallLog(hInstall, kLogRowTrace, "Query inf file : %s", locals.szInfFull);

  char szLicenseFile[kValueSize] = {};
  if (InstallGetPrivateProfileString(hInstall, "Setup", "LicenseTextFile", "", szLicenseFile, sizeof(szLicenseFile),
                                     locals.szInfFull) == 0) {
    InstallRaise("VrinReadInfFile : InstallGetPrivateProfileString(1)", ERROR_FILE_NOT_FOUND);
  }

  // A language folder and file name that do not fit together are refused:
  // a cut path would name some other file.
  locals.szLangId = InstallGetProperty(hInstall, "VRINLANGID");
  char szLicense[kValueSize] = {};
  int cchLicense = snprintf(szLicense, sizeof(szLicense), ".\\%s\\%s", locals.szLangId, szLicenseFile);
  if (cchLicense < 0 || static_cast<size_t>(cchLicense) >= sizeof(szLicense)) {
    InstallRaise("VrinReadInfFile : szLicense", ERROR_FILENAME_EXCED_RANGE);
  }
  InstallLog(hInstall, kLogRowTrace, "Setting LICENSE=%s", szLicense);
  UINT uResult = MsiSetProperty(hInstall, "LICENSE", szLicense);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinReadInfFile : MsiSetProperty(1)", uResult);
  }

  int nSubType = static_cast<int>(InstallGetPrivateProfileInt(hInstall, "Setup", "ProdSubType", 0, locals.szInfFull));
  if (nSubType == 0) {
    InstallLog(hInstall, kLogRowWarning, "ProdSubType not present in %s", locals.szInfFull);
    return;
  }
  InstallSetProperty(hInstall, "PRODUCTSUBTYPE", nSubType);
  InstallSetProperty(hInstall, "PRODSUBTYPE", nSubType);
}

struct IcfLocals {
  char* szIcfPath;
  char* szIcfFull;
  char* szVrinPath;
};

static void ReleaseIcfLocals(IcfLocals& locals) {
  InstallFreeString(locals.szIcfPath);
  InstallFreeString(locals.szIcfFull);
  InstallFreeString(locals.szVrinPath);
}

static void ReadIcfFile(MSIHANDLE hInstall, IcfLocals& locals) {
  locals.szIcfPath = InstallGetProperty(hInstall, "ICFPATH");
  size_t cbIcfFull = strlen(locals.szIcfPath) + 1;
  locals.szIcfFull = new (std::nothrow) char[cbIcfFull];
  if (locals.szIcfFull == nullptr) {
    InstallRaise("VrinReadIcfFile : szIcfFull", ERROR_OUTOFMEMORY);
  }
  memcpy(locals.szIcfFull, locals.szIcfPath, cbIcfFull);
  InstallLog(hInstall, kLogRowTrace, "Query Icf file : %s", locals.szIcfFull);

  locals.szVrinPath = InstallGetTargetPath(hInstall, "VRIN");
  char szInstallDir[kValueSize] = {};
  if (InstallGetPrivateProfileString(hInstall, "VRIN", "INSTALLDIR", locals.szVrinPath, szInstallDir,
                                     sizeof(szInstallDir), locals.szIcfFull) == 0) {
    InstallRaise("VrinReadIcfFile : InstallGetPrivateProfileString(1)", ERROR_FILE_NOT_FOUND);
  }
  InstallLog(hInstall, kLogRowTrace, "Setting VRIN=%s", szInstallDir);

  // Only the first character counts; a value too long for the buffer still
  // has it, and an unreadable one reads as no upgrade.
  char szUpgrade[kValueSize] = {};
  DWORD cchUpgrade = sizeof(szUpgrade);
  UINT uUpgrade = MsiGetProperty(hInstall, "ISUPGRADE", szUpgrade, &cchUpgrade);
  if (uUpgrade != ERROR_SUCCESS && uUpgrade != ERROR_MORE_DATA) {
    szUpgrade[0] = '\0';
  }
  if (szUpgrade[0] != '1') {
    UINT uResult = MsiSetTargetPath(hInstall, "VRIN", szInstallDir);
    if (uResult != ERROR_SUCCESS) {
      InstallRaise("VrinReadIcfFile : MsiSetProperty(1)", uResult);
    }
  }

  char szStartupMode[kValueSize] = {};
  InstallGetPrivateProfileString(hInstall, "VRIN", "STARTUPMODE", "", szStartupMode, sizeof(szStartupMode),
                                 locals.szIcfFull);
  if (szStartupMode[0] != '\0') {
    InstallLog(hInstall, kLogRowTrace, "Setting STARTUPMODE=%s", szStartupMode);
    if (MsiSetProperty(hInstall, "STARTUPMODE", szStartupMode) != ERROR_SUCCESS) {
      InstallLog(hInstall, kLogRowFailure, "Failure to set STARTUPMODE");
    }
  }
}

struct SelectionLocals {
  char* szIcfPath;
};

static void ReleaseSelectionLocals(SelectionLocals& locals) { InstallFreeString(locals.szIcfPath); }

static void SetSelectedComponents(MSIHANDLE hInstall, SelectionLocals& locals) {
  locals.szIcfPath = InstallGetProperty(hInstall, "ICFPATH");
  InstallLog(hInstall, kLogRowTrace, "Query Icf file : %s", locals.szIcfPath);
  char szProducts[kValueSize] = {};
  GetPrivateProfileString("INSTALL", "ProductList", nullptr, szProducts, sizeof(szProducts), locals.szIcfPath);

  // Removal only narrows the package's selection; nothing is switched on here.
  if (InstallFindText(szProducts, "VRIN") == nullptr) {
    InstallLog(hInstall, kLogRowTrace, "VrinSetSelectedComponents RESET property VRINNTServer=0 AND VRINGui=0");
    MsiSetProperty(hInstall, "VRINGui", "");
    MsiSetProperty(hInstall, "VRINNTServer", "");
    return;
  }
  if (InstallFindText(szProducts, "VRINConsole") == nullptr) {
    InstallLog(hInstall, kLogRowTrace, "VrinSetSelectedComponents RESET property VRINGui");
    MsiSetProperty(hInstall, "VRINGui", "");
  }
  if (InstallFindText(szProducts, "VRINServer") == nullptr) {
    InstallLog(hInstall, kLogRowTrace, "VrinSetSelectedComponents RESET property VRINNTServer");
    MsiSetProperty(hInstall, "VRINNTServer", "");
  }
}

struct FeatureLocals {
  char* szServerFeature;
  char* szConsoleFeature;
  char* szServer;
  char* szGui;
};

static void ReleaseFeatureLocals(FeatureLocals& locals) {
  InstallFreeString(locals.szServerFeature);
  InstallFreeString(locals.szConsoleFeature);
  InstallFreeString(locals.szServer);
  InstallFreeString(locals.szGui);
}

static void SetSelectedFeatureState(MSIHANDLE hInstall, FeatureLocals& locals) {
  // Both lookups come first, so a package without either component keeps
  // every feature state as it was.
  locals.szServerFeature = InstallComponentGetFeature(hInstall, kServerComponent);
  locals.szConsoleFeature = InstallComponentGetFeature(hInstall, kConsoleComponent);

  // The installer's answers are not checked: a feature the package lacks is
  // simply not set.
  locals.szServer = InstallGetProperty(hInstall, "VRINNTServer");
  if (locals.szServer[0] != '\0') {
    InstallLog(hInstall, kLogRowTrace, "VRINSetSelectedFeatureState Query VRINNTServer = %s to INSTALLSTATE_LOCAL",
               locals.szServer);
    MsiSetFeatureState(hInstall, locals.szServerFeature, INSTALLSTATE_LOCAL);
  }
  locals.szGui = InstallGetProperty(hInstall, "VRINGui");
  if (locals.szGui[0] != '\0') {
    InstallLog(hInstall, kLogRowTrace, "VRINSetSelectedFeatureState Query VRINGui = %s to INSTALLSTATE_LOCAL",
               locals.szGui);
    MsiSetFeatureState(hInstall, locals.szConsoleFeature, INSTALLSTATE_LOCAL);
  }
  if (locals.szServer[0] == '\0' && locals.szGui[0] == '\0') {
    return;
  }
  InstallLog(hInstall, kLogRowTrace, "VRINSetSelectedFeatureState Set Install State for Common to INSTALLSTATE_LOCAL");
  for (const char* szFeature : kCommonFeatures) {
    MsiSetFeatureState(hInstall, szFeature, INSTALLSTATE_LOCAL);
  }
}

void ResolveFileName(MSIHANDLE hInstall, const char* szFileProperty, const char* szTargetProperty) {
  InstallLog(hInstall, kLogRowTrace, "ResolveFileName ->");
  char* szSource = nullptr;
  char* szFileName = nullptr;
  try {
    szSource = InstallGetSourcePath(hInstall, kSourceFolder);
    szFileName = InstallGetProperty(hInstall, szFileProperty);
    // InstallMakePath refuses a path the buffer cannot hold.
    char szPath[kValueSize] = {};
    InstallMakePath(szPath, sizeof(szPath), szSource, szFileName);
    InstallLog(hInstall, kLogRowTrace, "Set %s = %s", InstallTraceText(szTargetProperty), szPath);
    UINT uResult = MsiSetProperty(hInstall, szTargetProperty, szPath);
    if (uResult != ERROR_SUCCESS) {
      InstallRaise("ResolveFileName : MsiSetProperty(FileName)", uResult);
    }
  } catch (CInstallException* pException) {
    InstallFreeString(szSource);
    InstallFreeString(szFileName);
    throw pException;
  }
  InstallFreeString(szSource);
  InstallFreeString(szFileName);
  InstallLog(hInstall, kLogRowTrace, "ResolveFileName <-");
}

extern "C" UINT __stdcall VrinReadInfFile(MSIHANDLE hInstall) {
  InfLocals locals = {};
  return InstallRunAction(hInstall, kReadInfFile, locals, ReadInfFile, ReleaseInfLocals);
}

extern "C" UINT __stdcall VrinReadIcfFile(MSIHANDLE hInstall) {
  IcfLocals locals = {};
  return InstallRunAction(hInstall, kReadIcfFile, locals, ReadIcfFile, ReleaseIcfLocals);
}

extern "C" UINT __stdcall VrinSetSelectedComponents(MSIHANDLE hInstall) {
  SelectionLocals locals = {};
  return InstallRunAction(hInstall, kSetSelectedComponents, locals, SetSelectedComponents, ReleaseSelectionLocals);
}

extern "C" UINT __stdcall VRINSetSelectedFeatureState(MSIHANDLE hInstall) {
  FeatureLocals locals = {};
  return InstallRunAction(hInstall, kSetSelectedFeatureState, locals, SetSelectedFeatureState, ReleaseFeatureLocals);
}
