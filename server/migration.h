// Migration of the oldest generation's settings, kept under the predecessor
// vendor's key, into the product key.
#pragma once

#include "host/platform.h"

// Copies every value of "Software\Tarrow ATG\Skelda\CurrentVersion" except
// DriverPath, InstallTime, Organization and User into the product key, and
// deletes "Software\Tarrow ATG" once all of them are copied. Never raises:
// failures are written as failure lines and end the copy where they happen.
void MigrateRegistryValues(MSIHANDLE hInstall);

extern "C" {
UINT __stdcall VrinNTMigrateTarrowRegistry(MSIHANDLE hInstall);
}
