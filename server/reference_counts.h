// Shared-file reference counts (the SharedDlls values) of the server and of
// the console. The console's actions live here beside the server's: both read
// and lower the same kind of count in the same way.
#pragma once

#include "host/platform.h"

// The server's count: the SharedDlls count of the service image named by
// ServicePath (product key, else the previous generation's key); 0 when none
// is recorded or the stored count cannot be read as a number.
DWORD NTReadRefCounter(MSIHANDLE hInstall);

// The console's count: that of GuiPath + "skdwin.exe", looked up the same way.
DWORD GUIReadRefCounter(MSIHANDLE hInstall);

extern "C" {
// Publish the count as NTSERVERREFCOUNTER / GUIREFCOUNTER, or remove the
// property when there is none.
UINT __stdcall VrinNTReadRefCounter(MSIHANDLE hInstall);
UINT __stdcall VrinGUIReadRefCounter(MSIHANDLE hInstall);

// Lower the counts of the component's files by one, never below 0; a missing
// count is never created and no count value is deleted.
UINT __stdcall VrinNTDecrementRefCounter(MSIHANDLE hInstall);
UINT __stdcall VrinGUIDecrementRefCounter(MSIHANDLE hInstall);
}
