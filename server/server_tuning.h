// The file server's IRPstackSize parameter, raised by one when the first
// product installs the server component and lowered by one when the last one
// removes it.
#pragma once

#include "host/platform.h"

// Raises (bRaise) or lowers IRPstackSize by one within the bounds of the
// running Windows build. Never traces, never raises: a missing key changes
// nothing.
void AdjustIRPStackSize(bool bRaise);

extern "C" {
UINT __stdcall VrinNTSetIRPStackSize(MSIHANDLE hInstall);
UINT __stdcall VrinNTUnSetIRPStackSize(MSIHANDLE hInstall);
}
