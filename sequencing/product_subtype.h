// The product sub-type: filled in from the product key when the package
// leaves it open, and recorded there by the first installation that has one.
#pragma once

#include "host/platform.h"

extern "C" {
// PRODUCTSUBTYPE "-1": PRODUCTSUBTYPE and PRODSUBTYPE become the stored
// sub-type (still -1 when none is stored); any other value is kept.
UINT __stdcall VrinSetProductSubType(MSIHANDLE hInstall);

// Product 1 always records its sub-type; any other product only when none is
// stored. A sub-type that is not a positive number is never recorded.
UINT __stdcall VrinWriteProductSubType(MSIHANDLE hInstall);
}
