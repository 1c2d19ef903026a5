// Checks on paths that come from properties, profiles or the registry before
// anything is deleted under them.
#pragma once

#include <cstddef>

#include "host/platform.h"

// True when szPath names a folder below a drive's root ("D:\Logs",
// "D:\Velmora\"): a relative path would be taken from the installer's current
// folder, and a root, a network path or a path with "." or ".." parts is no
// folder of ours. *pcchFolder, when given, receives the folder's length
// without its final separator.
bool InstallIsFolderBelowDriveRoot(const char* szPath, size_t* pcchFolder);

// True when szPath names a folder strictly below the folder szFolder names
// ("D:\Velmora\Logs" below "D:\Velmora\"), not that folder itself: both are
// folders below a drive's root, and szPath is szFolder (letter case aside)
// followed by at least one more named component.
bool InstallIsFolderStrictlyBelow(const char* szPath, const char* szFolder);
