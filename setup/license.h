// The licence-agreement text of the standalone setup's dialog and the folder
// of the readme and licence files.
#pragma once

#include "host/platform.h"

extern "C" {
UINT __stdcall VrinNameLicense(MSIHANDLE hInstall);
UINT __stdcall VrinReadMeLicenseInstall(MSIHANDLE hInstall);
}
