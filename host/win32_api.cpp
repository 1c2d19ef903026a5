// Win32 basics of the simulated machine: last error, system messages, local
// memory and the ANSI code page.
#include "host/win32_api.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/system_messages.h"

namespace {
thread_local DWORD t_lastError = 0;
}  // namespace

extern "C" {

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  (void)lpSource;
  (void)dwLanguageId;
  (void)Arguments;
  if (auto error = host::Faults::Instance().Check("FormatMessage")) {
    SetLastError(*error);
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::optional<std::string> text = host::SystemMessageText(dwMessageId);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t size = std::max<size_t>(text->size() + 1, nSize);
    char* allocated = static_cast<char*>(std::malloc(size));
    if (allocated == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(allocated, text->c_str(), text->size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = allocated;
    return static_cast<DWORD>(text->size());
  }
  if (text->size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text->c_str(), text->size() + 1);
  return static_cast<DWORD>(text->size());
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  (void)dwFlags;
  if (auto error = host::Faults::Instance().Check("MultiByteToWideChar")) {
    SetLastError(*error);
    return 0;
  }
  if (CodePage != CP_ACP || lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  std::u16string wide;
  if (!host::AnsiToUtf16(std::string(lpMultiByteStr, length), &wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}

LPSTR CharNextA(LPCSTR lpsz) { return const_cast<LPSTR>(lpsz + host::CharLength(lpsz)); }

BOOL IsDBCSLeadByte(BYTE TestChar) { return host::IsLeadByte(TestChar) ? TRUE : FALSE; }
}
