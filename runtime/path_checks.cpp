#include "runtime/path_checks.h"

static bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

// A component of nothing but dots and blanks, which Windows reads as "." or
// "..", or an empty one.
static bool IsDotComponent(const char* pchStart, const char* pchEnd) {
  for (const char* pch = pchStart; pch < pchEnd; ++pch) {
    if (*pch != '.' && *pch != ' ') {
      return false;
    }
  }
  return true;
}

bool InstallIsFolderBelowDriveRoot(const char* szPath, size_t* pcchFolder) {
  if (szPath == nullptr) {
    return false;
  }
  BYTE bDrive = static_cast<BYTE>(szPath[0]);
  bool bLetter = (bDrive >= 'A' && bDrive <= 'Z') || (bDrive >= 'a' && bDrive <= 'z');
  if (!bLetter || szPath[1] != ':' || !IsSeparator(szPath[2])) {
    return false;
  }
  const char* pchStart = szPath + 3;
  const char* pchEnd = nullptr;  // just past the last named component
  for (const char* pch = pchStart;; ++pch) {
    if (*pch == '\0' || IsSeparator(*pch)) {
      if (pch > pchStart) {
        if (IsDotComponent(pchStart, pch)) {
          return false;
        }
        pchEnd = pch;
      }
      if (*pch == '\0') {
        break;
      }
      pchStart = pch + 1;
    } else if (IsDBCSLeadByte(static_cast<BYTE>(*pch)) && pch[1] != '\0') {
      ++pch;  // a trail byte may be 0x5C, which is no separator
    }
  }
  if (pchEnd == nullptr) {
    return false;
  }
  if (pcchFolder != nullptr) {
    *pcchFolder = static_cast<size_t>(pchEnd - szPath);
  }
  return true;
}

static unsigned char FoldLetter(unsigned char ch) {
  return ch >= 'A' && ch <= 'Z' ? static_cast<unsigned char>(ch - 'A' + 'a') : ch;
}

bool InstallIsFolderStrictlyBelow(const char* szPath, const char* szFolder) {
  size_t cchPath = 0;
  size_t cchFolder = 0;
  if (!InstallIsFolderBelowDriveRoot(szPath, &cchPath) || !InstallIsFolderBelowDriveRoot(szFolder, &cchFolder) ||
      cchPath <= cchFolder + 1) {
    return false;
  }
  // Character by character: a double-byte character matches only itself.
  size_t i = 0;
  while (i < cchFolder) {
    BYTE bFolder = static_cast<BYTE>(szFolder[i]);
    if (IsDBCSLeadByte(bFolder) && i + 1 < cchFolder) {
      if (szPath[i] != szFolder[i] || szPath[i + 1] != szFolder[i + 1]) {
        return false;
      }
      i += 2;
    } else {
      if (IsDBCSLeadByte(static_cast<BYTE>(szPath[i])) ||
          FoldLetter(static_cast<BYTE>(szPath[i])) != FoldLetter(bFolder)) {
        return false;
      }
      ++i;
    }
  }
  return IsSeparator(szPath[cchFolder]);
}
