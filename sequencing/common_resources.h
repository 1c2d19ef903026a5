// What the server and the console share: the product's registry data, deleted
// once neither component is counted any more, and the installation folders
// and keys, deleted after the last removal of either.
#pragma once

#include "host/platform.h"

extern "C" {
// Deletes ProdSubType and the product keys (current and previous generation,
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER) when neither reference count
// remains.
UINT __stdcall VrinDeleteCommonResources(MSIHANDLE hInstall);

// Decides from both features' states and counts which installation folders
// go (each removed when empty, else at the restart, with its empty parents),
// and deletes the product keys when both components had their last user.
UINT __stdcall VrinDeleteLeftOvers(MSIHANDLE hInstall);
}
