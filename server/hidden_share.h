// The hidden network share "VRIN$" of the server's installation folder,
// restricted to the built-in administrative groups. The share functions are
// taken from NETAPI32.DLL at run time; the library does not link to it.
#pragma once

#include "host/platform.h"

// Creates (or replaces) the share of szPath. With bRestrict the share gets a
// descriptor granting GENERIC_ALL to Administrators, Backup Operators and
// Server Operators (those the computer knows) and nobody else; a share that
// cannot be given that descriptor is not created. Returns NetShareAdd's
// result, or ERROR_MOD_NOT_FOUND when the share was not attempted. Never
// raises: failures are traced as failure lines.
DWORD AddShare(MSIHANDLE hInstall, const char* szName, const char* szRemark, const char* szPath, bool bRestrict);

// Deletes the share; 0 also when there was none, ERROR_MOD_NOT_FOUND without
// NETAPI32.DLL, 1 when it has no NetShareDel, else NetShareDel's result.
DWORD DeleteShare(const char* szName);

extern "C" {
UINT __stdcall VrinNTCreateShare(MSIHANDLE hInstall);
UINT __stdcall VrinNTDeleteShare(MSIHANDLE hInstall);
}
