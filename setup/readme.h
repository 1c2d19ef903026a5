// Readme properties of the standalone setup package.
#pragma once

#include "host/platform.h"

extern "C" {
UINT __stdcall VrinNameReadMe(MSIHANDLE hInstall);
UINT __stdcall VrinSetARPReadMe(MSIHANDLE hInstall);
UINT __stdcall VrinLaunchReadMe(MSIHANDLE hInstall);
}
