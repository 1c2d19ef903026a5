// Warnings in the setup package's WarningDialog and the installer's message
// boxes for an abort or warning reason left by earlier actions.
#pragma once

#include "host/platform.h"

extern "C" {
UINT __stdcall VrinDisableChangeFolder(MSIHANDLE hInstall);
UINT __stdcall VrinNothingToInstall(MSIHANDLE hInstall);
UINT __stdcall VrinWarning(MSIHANDLE hInstall);
UINT __stdcall VrinMessageInstall(MSIHANDLE hInstall);
UINT __stdcall VrinTerminateSetup(MSIHANDLE hInstall);
}
