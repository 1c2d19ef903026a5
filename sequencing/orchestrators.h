// The eight orchestrators of the two merge modules, each scheduled next to
// the standard action its name gives.
#pragma once

#include "host/platform.h"

extern "C" {
// Server module.
UINT __stdcall VrinNTMergePostLaunchConditions(MSIHANDLE hInstall);
UINT __stdcall VrinNTMergePostInstallInitialize(MSIHANDLE hInstall);
UINT __stdcall VrinNTMergePreInstallExecute(MSIHANDLE hInstall);
UINT __stdcall VrinNTMergePreInstallFinalize(MSIHANDLE hInstall);
UINT __stdcall VrinNTMergePostInstallFinalize(MSIHANDLE hInstall);
// Console module.
UINT __stdcall VrinGUIMergePostInstallInitialize(MSIHANDLE hInstall);
UINT __stdcall VrinGUIMergePreInstallFinalize(MSIHANDLE hInstall);
UINT __stdcall VrinGUIMergePostInstallFinalize(MSIHANDLE hInstall);
}

// The components whose features the orchestrators' conditions test.
extern const char kServerComponent[];
extern const char kConsoleComponent[];
