// Texts of the library's own message table in the installation's language.
#pragma once

#include "host/platform.h"

// Formats message dwMessageId of the library's message table in the language
// that the ProductLanguage property names, with the variable arguments
// (strings) as the inserts %1, %2, ... A language the table lacks falls back
// to US English (1033), as does a property that is empty or not a number.
// Returns the text without the CR LF that ends every text of the table,
// allocated by FormatMessage and released by the caller with LocalFree, or
// null when the first attempt fails for another reason than a missing
// language. Raises when the US English attempt fails, and when reading the
// property does.
char* InstallGetResourceString(MSIHANDLE hInstall, DWORD dwMessageId, ...);
