// Probes of the machine and the session that steer the standalone setup: the
// NetWare client, per-machine or per-user installation, and the reboot flag of
// the suite's backup products.
#pragma once

#include "host/platform.h"

// TRUE when a NetWare network client is installed. Silent: no trace.
BOOL IsNovellClientInstalled();

extern "C" {
UINT __stdcall VrinNovellClientInstalled(MSIHANDLE hInstall);
UINT __stdcall VrinInitUsers(MSIHANDLE hInstall);
UINT __stdcall VrinScheduleReboot(MSIHANDLE hInstall);
}
