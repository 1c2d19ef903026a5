#include "runtime/number_scan.h"

#include <climits>

bool InstallScanInt(const char* szText, int* pnValue, const char** ppchEnd, bool* pbClamped) {
  *pnValue = 0;
  if (pbClamped != nullptr) {
    *pbClamped = false;
  }
  const char* pch = szText != nullptr ? szText : "";
  while (*pch == ' ' || *pch == '\t' || *pch == '\n' || *pch == '\v' || *pch == '\f' || *pch == '\r') {
    ++pch;
  }
  bool bNegative = *pch == '-';
  if (*pch == '+' || *pch == '-') {
    ++pch;
  }
  if (*pch < '0' || *pch > '9') {
    return false;
  }
  // Digits past the range of int are read but no longer accumulated.
  long long llValue = 0;
  bool bClamped = false;
  for (; *pch >= '0' && *pch <= '9'; ++pch) {
    if (llValue <= static_cast<long long>(INT_MAX) + 1) {
      llValue = llValue * 10 + (*pch - '0');
    }
  }
  if (bNegative) {
    llValue = -llValue;
  }
  if (llValue > INT_MAX) {
    llValue = INT_MAX;
    bClamped = true;
  } else if (llValue < INT_MIN) {
    llValue = INT_MIN;
    bClamped = true;
  }
  *pnValue = static_cast<int>(llValue);
  if (ppchEnd != nullptr) {
    *ppchEnd = pch;
  }
  if (pbClamped != nullptr) {
    *pbClamped = bClamped;
  }
  return true;
}
