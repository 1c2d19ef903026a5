// The version of the server: the one the package carries, the one an earlier
// installation left running (found through the service Skelda), and the
// build number recorded after installation.
#pragma once

#include <cstddef>

#include "host/platform.h"

// The image path of the service Skelda, without the quotes it may be
// registered in, into a buffer of cbImagePath bytes (MAX_PATH). FALSE when
// there is no such service, its configuration cannot be read, or the path
// does not fit. Never raises, traces nothing.
BOOL GetServiceImagePath(char* szImagePath, size_t cbImagePath);

// A new copy of the file's fixed version information (delete), or null when
// the file has no readable version resource or memory runs out. Traces the
// request only; never raises.
VS_FIXEDFILEINFO* QueryFileVersion(MSIHANDLE hInstall, const char* szPath);

// Writes BuildNumber (REG_DWORD) into the existing product key: the fourth
// number of the installed service image's file version, or the third when the
// fourth is 0. TRUE only when it was written; never raises.
BOOL WriteBuildNumber(MSIHANDLE hInstall);

extern "C" {
// Traces the major and minor version of the packaged service image. 1603
// after a failure.
UINT __stdcall VrinNTInitialise(MSIHANDLE hInstall);
// Finds an installed server and sets NTSERVERUPGRADE, NTSERVERUPGRADE2 and
// NTSERVERINSTALLDIR from its version and folder. Always 0.
UINT __stdcall VrinNTPreviousVersionInstalled(MSIHANDLE hInstall);
}
