// Comparison and search over ANSI text, character by character as the C
// runtime's multibyte functions go: a double-byte character is one character,
// and neither of its bytes matches anything on its own. A null text counts as
// empty.
#pragma once

#include "host/platform.h"

// Exact comparison: <0, 0 or >0, ordered by character codes.
int InstallCompareText(const char* szLeft, const char* szRight);

// The same, with the letters A-Z of single-byte characters equal to a-z.
int InstallCompareTextNoCase(const char* szLeft, const char* szRight);

// The first occurrence of szPart (exact) that starts on a character boundary
// of szText, or null. An empty szPart is found at the start.
const char* InstallFindText(const char* szText, const char* szPart);

// The last single-byte character ch of szText (never a trail byte), or null.
char* InstallFindLastChar(char* szText, char ch);
