// The products bitmask: one bit of the product key's Products value for each
// product (PRODUCTS 1 to 32) that has the server component installed.
#pragma once

#include "host/platform.h"

extern "C" {
// Set the calling product's bit.
UINT __stdcall VrinNTSetProducts(MSIHANDLE hInstall);
// Clear it.
UINT __stdcall VrinNTUnSetProducts(MSIHANDLE hInstall);
// Set SKIPUNINSTALL to "1" when a product other than product 1 still has its
// bit set, so that the package keeps the component.
UINT __stdcall VrinNTLastAgentUninstall(MSIHANDLE hInstall);
}
