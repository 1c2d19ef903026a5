#include "setup/readme.h"

#include "runtime/action_frame.h"
#include "runtime/file_helpers.h"
#include "runtime/session_access.h"

static const ActionInfo kNameReadMe = {"VrinNameReadMe", ERROR_INVALID_HANDLE, "VrinNameReadMe : hInstall",
                                       ERROR_SUCCESS, kTraceAction};
static const ActionInfo kSetARPReadMe = {"VrinSetARPReadMe", ERROR_BAD_ARGUMENTS, "VrinSetARPReadMe : hInstall",
                                         ERROR_SUCCESS, kTraceAction};
static const ActionInfo kLaunchReadMe = {"VrinLaunchReadMe", ERROR_BAD_ARGUMENTS, "VrinLaunchReadMe : hInstall",
                                         ERROR_SUCCESS, kTraceAction};

// No readme is offered: an empty READMEFILE removes the property.
static void NameReadMe(MSIHANDLE hInstall) {
  InstallLog(hInstall, kLogRowTrace, "Set READMEFILE = %s", "");
  UINT uResult = MsiSetProperty(hInstall, "READMEFILE", "");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNameReadMe : MsiSetProperty", uResult);
  }
}

// No readme link in Add or Remove Programs.
static void SetARPReadMe(MSIHANDLE hInstall) {
  InstallLog(hInstall, kLogRowTrace, "Setting ARPREADME=%s", "");
  UINT uResult = MsiSetProperty(hInstall, "ARPREADME", "");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinSetARPReadMe : MsiSetProperty", uResult);
  }
}

struct LaunchLocals {
  char* szReadMe;
};

static void ReleaseLaunchLocals(LaunchLocals& locals) { InstallFreeString(locals.szReadMe); }

// A readme the shell cannot open is reported; the installation goes on.
static void LaunchReadMe(MSIHANDLE hInstall, LaunchLocals& locals) {
  locals.szReadMe = InstallGetProperty(hInstall, "READMEFILE");
  InstallLaunch(hInstall, locals.szReadMe);
}

extern "C" UINT __stdcall VrinNameReadMe(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kNameReadMe, NameReadMe);
}

extern "C" UINT __stdcall VrinSetARPReadMe(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kSetARPReadMe, SetARPReadMe);
}

extern "C" UINT __stdcall VrinLaunchReadMe(MSIHANDLE hInstall) {
  LaunchLocals locals = {};
  return InstallRunAction(hInstall, kLaunchReadMe, locals, LaunchReadMe, ReleaseLaunchLocals);
}
