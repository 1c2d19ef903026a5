// Removal of what earlier servers left behind: the previous generation's
// unused values and old files after an upgrade, and the service's files, the
// driver file and the log folder when the last user removes the server.
#pragma once

#include "host/platform.h"

extern "C" {
UINT __stdcall VrinNTDeleteUpgradeLeftOvers(MSIHANDLE hInstall);
UINT __stdcall VrinNTDeleteLeftOvers(MSIHANDLE hInstall);
}
