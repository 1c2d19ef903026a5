// The console's detection of an earlier console, and the registry mark of a
// build whose release flags name the console.
#pragma once

#include "host/platform.h"

extern "C" {
// Exported: finds an earlier console and sets GUIINSTALLDIR, and GUIUPGRADE
// below major version 9. Always 0.
UINT __stdcall VrinGUIPreviousVersionInstalled(MSIHANDLE hInstall);

// Not exported; called by the console orchestrator on a first installation:
// writes the product key's "NTGUI" value when ISReleaseFlags names it.
// Always 0.
UINT __stdcall VrinGUIWriteGuiCode(MSIHANDLE hInstall);
}
