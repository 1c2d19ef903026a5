// The console's clean-up: what its last removal leaves, what an earlier
// console generation leaves after an upgrade, and the Start-menu entries of
// console version 6.61. Each reports its own failures and lets the
// installation go on.
#pragma once

#include "host/platform.h"

extern "C" {
// Exported: the program group, the version values and skdwin.ini, in stages
// that fail separately. Always 0.
UINT __stdcall VrinGUIDeleteLeftOvers(MSIHANDLE hInstall);

// Exported: the earlier generation's files in GUIINSTALLDIR and the previous
// generation's key. Always 0.
UINT __stdcall VrinGUIDeleteUpgradeLeftOvers(MSIHANDLE hInstall);

// Not exported; called by the console orchestrator on an upgrade. It has no
// result of its own: a failure is reported in the log and never reaches the
// caller. It returns 0 only so that it has the shape of every other action;
// callers do not read it.
UINT __stdcall VRINDeleteOldShortCut(MSIHANDLE hInstall);
}
