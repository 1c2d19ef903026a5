#include "runtime/string_helpers.h"

#include <cstring>
#include <new>

#include "runtime/install_exception.h"

void InstallAddBackslash(char* szPath, size_t cbPath) {
  if (szPath == nullptr || szPath[0] == '\0') {
    return;
  }
  size_t cch = strlen(szPath);
  if (szPath[cch - 1] == '\\') {
    return;
  }
  if (cch + 2 > cbPath) {
    InstallRaise("InstallAddBackslash", ERROR_FILENAME_EXCED_RANGE);
  }
  szPath[cch] = '\\';
  szPath[cch + 1] = '\0';
}

bool InstallTryMakePath(char* szOut, size_t cbOut, const char* szDirectory, const char* szName) {
  size_t cchDirectory = szDirectory != nullptr ? strlen(szDirectory) : 0;
  bool bSeparator = cchDirectory > 0 && szDirectory[cchDirectory - 1] != '\\';
  size_t cchName = szName != nullptr ? strlen(szName) : 0;
  size_t cchTotal = cchDirectory + (bSeparator ? 1 : 0) + cchName;
  if (cbOut == 0) {
    return false;
  }
  szOut[0] = '\0';
  if (cchTotal + 1 > cbOut) {
    return false;
  }
  memcpy(szOut, szDirectory != nullptr ? szDirectory : "", cchDirectory);
  size_t cch = cchDirectory;
  if (bSeparator) {
    szOut[cch++] = '\\';
  }
  memcpy(szOut + cch, szName != nullptr ? szName : "", cchName);
  szOut[cch + cchName] = '\0';
  return true;
}

void InstallMakePath(char* szOut, size_t cbOut, const char* szDirectory, const char* szName) {
  if (!InstallTryMakePath(szOut, cbOut, szDirectory, szName)) {
    InstallRaise("InstallMakePath", ERROR_FILENAME_EXCED_RANGE);
  }
}

WCHAR* InstallAnsiToWide(const char* szText) {
  if (szText == nullptr) {
    return nullptr;
  }
  int cbText = static_cast<int>(strlen(szText)) + 1;
  WCHAR* wszText = new (std::nothrow) WCHAR[cbText];
  if (wszText == nullptr) {
    return nullptr;
  }
  if (MultiByteToWideChar(CP_ACP, 0, szText, cbText, wszText, cbText) == 0) {
    delete[] wszText;
    return nullptr;
  }
  return wszText;
}

void InstallCopyTruncated(char* szDest, size_t cbDest, const char* szSource) {
  if (cbDest == 0) {
    return;
  }
  size_t cch = 0;
  const char* pch = szSource;
  while (*pch != '\0') {
    size_t cchChar = IsDBCSLeadByte(static_cast<BYTE>(*pch)) ? 2 : 1;
    if (cchChar == 2 && pch[1] == '\0') {
      break;  // a lead byte whose trail byte was already cut off
    }
    if (cch + cchChar + 1 > cbDest) {
      break;
    }
    cch += cchChar;
    pch += cchChar;
  }
  memmove(szDest, szSource, cch);
  szDest[cch] = '\0';
}
