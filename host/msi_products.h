// Windows Installer's product queries on the simulated machine.
#pragma once

#include "host/win32_types.h"

#define ERROR_UNKNOWN_PRODUCT 1605L
#define ERROR_UNKNOWN_PROPERTY 1608L

extern "C" {

UINT MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf, LPDWORD pcchValueBuf);
}

#define MsiGetProductInfo MsiGetProductInfoA
