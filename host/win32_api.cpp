// Win32 basics of the simulated machine: last error, message formatting,
// local memory and the ANSI code page.
#include "host/win32_api.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/local_memory.h"
#include "host/message_format.h"
#include "host/message_table.h"
#include "host/system_messages.h"

namespace {

thread_local DWORD t_lastError = 0;

constexpr DWORD kErrorNoWorkDone = 235;

// The text FormatMessage formats, in the ANSI code page: the given string, a
// module's message (looked up in the system's table too when both sources
// are named and the module lacks it) or a system message.
DWORD FindMessage(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, std::string* message) {
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
    if (lpSource == nullptr) return ERROR_INVALID_PARAMETER;
    *message = static_cast<const char*>(lpSource);
    return ERROR_SUCCESS;
  }
  DWORD error = ERROR_INVALID_PARAMETER;
  if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
    std::u16string text;
    HMODULE module = static_cast<HMODULE>(const_cast<void*>(lpSource));
    error = host::FindModuleMessage(module, dwMessageId, dwLanguageId, &text);
    if (error == ERROR_SUCCESS) {
      // Characters the code page lacks become '?', as in every A function.
      *message = host::Utf16ToAnsi(text);
      return ERROR_SUCCESS;
    }
  }
  if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
    std::optional<std::string> text = host::SystemMessageText(dwMessageId);
    if (!text) return ERROR_MR_MID_NOT_FOUND;
    *message = *text;
    return ERROR_SUCCESS;
  }
  return error;
}

}  // namespace

extern "C" {

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  // Windows nulls the caller's pointer first, so a failed call leaves nothing to free.
  if (allocate && lpBuffer != nullptr) *reinterpret_cast<char**>(lpBuffer) = nullptr;
  // Fault rules may name the language, to fail only the attempt in that language.
  const std::string language = std::to_string(dwLanguageId);
  if (auto error = host::Faults::Instance().Check("FormatMessage", language.c_str())) {
    SetLastError(*error);
    return 0;
  }
  std::string message;
  DWORD error = FindMessage(dwFlags, lpSource, dwMessageId, dwLanguageId, &message);
  std::string text;
  if (error == ERROR_SUCCESS) error = host::FormatMessageText(message, dwFlags, Arguments, &text);
  if (error == ERROR_SUCCESS) {
    const bool system = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;
    text = host::Faults::Instance().Text("FormatMessage",
                                         (system ? "system " : "module ") + std::to_string(dwMessageId), text);
  }
  if (error == ERROR_SUCCESS && text.empty()) error = kErrorNoWorkDone;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return 0;
  }
  if (allocate) {
    // nSize is the least the buffer holds; the caller may use all of it.
    const size_t size = std::max<size_t>(text.size() + 1, nSize);
    char* allocated = lpBuffer != nullptr ? static_cast<char*>(host::LocalAllocate(size)) : nullptr;
    if (allocated == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(allocated, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = allocated;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

// Memory that did not come from the local heap is released with free, as
// this function always did, so host code that allocates with malloc keeps working.
HLOCAL LocalFree(HLOCAL hMem) {
  if (hMem != nullptr && !host::LocalRelease(hMem)) std::free(hMem);
  return nullptr;
}

size_t LocalSize(HLOCAL hMem) { return host::LocalAllocationSize(hMem); }

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
