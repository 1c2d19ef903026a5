#include "runtime/text_compare.h"

#include <cstring>

// The byte length of the character at pch: 2 for a lead byte followed by its
// trail byte, else 1 (a lead byte cut off by the NUL stands alone).
static size_t InstallCharLength(const char* pch) {
  return IsDBCSLeadByte(static_cast<BYTE>(*pch)) && pch[1] != '\0' ? 2 : 1;
}

static unsigned char InstallFoldLetter(unsigned char ch) {
  return ch >= 'A' && ch <= 'Z' ? static_cast<unsigned char>(ch - 'A' + 'a') : ch;
}

static int InstallCompare(const char* szLeft, const char* szRight, bool bFold) {
  const unsigned char* pLeft = reinterpret_cast<const unsigned char*>(szLeft != nullptr ? szLeft : "");
  const unsigned char* pRight = reinterpret_cast<const unsigned char*>(szRight != nullptr ? szRight : "");
  for (;;) {
    size_t cchLeft = *pLeft != '\0' ? InstallCharLength(reinterpret_cast<const char*>(pLeft)) : 0;
    size_t cchRight = *pRight != '\0' ? InstallCharLength(reinterpret_cast<const char*>(pRight)) : 0;
    unsigned int uLeft = cchLeft == 2 ? (pLeft[0] << 8) | pLeft[1] : *pLeft;
    unsigned int uRight = cchRight == 2 ? (pRight[0] << 8) | pRight[1] : *pRight;
    if (bFold && cchLeft == 1) uLeft = InstallFoldLetter(static_cast<unsigned char>(uLeft));
    if (bFold && cchRight == 1) uRight = InstallFoldLetter(static_cast<unsigned char>(uRight));
    if (uLeft != uRight) return uLeft < uRight ? -1 : 1;
    if (uLeft == 0) return 0;
    pLeft += cchLeft;
    pRight += cchRight;
  }
}

int InstallCompareText(const char* szLeft, const char* szRight) { return InstallCompare(szLeft, szRight, false); }

int InstallCompareTextNoCase(const char* szLeft, const char* szRight) { return InstallCompare(szLeft, szRight, true); }

const char* InstallFindText(const char* szText, const char* szPart) {
  if (szText == nullptr) return nullptr;
  if (szPart == nullptr) return szText;
  size_t cbPart = strlen(szPart);
  for (const char* pch = szText;; pch += InstallCharLength(pch)) {
    // Whole characters only: a match must not end inside a double-byte character.
    if (strncmp(pch, szPart, cbPart) == 0) {
      const char* pEnd = pch;
      while (static_cast<size_t>(pEnd - pch) < cbPart) pEnd += InstallCharLength(pEnd);
      if (static_cast<size_t>(pEnd - pch) == cbPart) return pch;
    }
    if (*pch == '\0') return nullptr;
  }
}

char* InstallFindLastChar(char* szText, char ch) {
  char* pLast = nullptr;
  if (szText == nullptr) return nullptr;
  for (char* pch = szText; *pch != '\0'; pch += InstallCharLength(pch)) {
    if (*pch == ch && InstallCharLength(pch) == 1) pLast = pch;
  }
  return pLast;
}
