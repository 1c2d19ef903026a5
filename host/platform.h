// The one header the library includes for the platform: the real Windows and
// Windows Installer headers on Windows, the simulated machine's declarations
// of the same names elsewhere.
#pragma once

#ifdef _WIN32
// windows.h first: the installer's headers build on its types.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
// Network share records and codes; the functions are loaded at run time.
#include <lm.h>
// _rmdir
#include <direct.h>
// The shell's special folders and its task allocator.
#include <shlobj.h>
#else
#include "host/msi_api.h"
#include "host/win32_api.h"
#endif
