// kernel32's file and folder calls, and the C runtime's _rmdir, over the
// simulated file system. Each call checks host::Faults first, keyed by the
// path it was given.
#include <cerrno>
#include <cstring>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/win32_api.h"
#include "host/win32_files.h"

namespace {

using host::FileSystem;

// Fails a call with error as its last error; false when error is 0.
bool Failed(uint32_t error) {
  if (error == ERROR_SUCCESS) return false;
  SetLastError(error);
  return true;
}

std::optional<uint32_t> Injected(const char* function, const char* key) {
  return host::Faults::Instance().Check(function, key);
}

void CopyFindData(const host::FindEntryData& entry, LPWIN32_FIND_DATAA data) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = entry.attributes;
  data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
  // Component names are at most 255 bytes, so they always fit.
  std::strncpy(data->cFileName, entry.name.c_str(), sizeof(data->cFileName) - 1);
}

// Windows' contract for the directory calls: the length without the NUL when
// it fits, else the size needed with the NUL and the buffer untouched.
UINT CopyDirectory(const char* function, const char* directory, LPSTR lpBuffer, UINT uSize) {
  if (auto error = Injected(function, nullptr)) {
    SetLastError(*error);
    return 0;
  }
  const UINT length = static_cast<UINT>(std::strlen(directory));
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  std::memcpy(lpBuffer, directory, length + 1);
  return length;
}

// The C runtime's errno for a Win32 error, as its error table maps them
// (ERROR_DIRECTORY is not in it: EINVAL).
int CrtErrno(uint32_t error) {
  switch (error) {
    case ERROR_DIR_NOT_EMPTY:
      return host::kCrtENOTEMPTY;
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
      return host::kCrtEACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return host::kCrtENOENT;
    default:
      return host::kCrtEINVAL;
  }
}

}  // namespace

extern "C" {

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (auto error = Injected("GetFileAttributes", lpFileName)) {
    SetLastError(*error);
    return INVALID_FILE_ATTRIBUTES;
  }
  uint32_t attributes = 0;
  if (Failed(FileSystem::Instance().QueryAttributes(lpFileName, &attributes))) return INVALID_FILE_ATTRIBUTES;
  return attributes;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  if (auto error = Injected("SetFileAttributes", lpFileName)) {
    SetLastError(*error);
    return FALSE;
  }
  return Failed(FileSystem::Instance().ChangeAttributes(lpFileName, dwFileAttributes)) ? FALSE : TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (auto error = Injected("DeleteFile", lpFileName)) {
    SetLastError(*error);
    return FALSE;
  }
  return Failed(FileSystem::Instance().Unlink(lpFileName)) ? FALSE : TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (auto error = Injected("MoveFileEx", lpExistingFileName)) {
    SetLastError(*error);
    return FALSE;
  }
  const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
  FileSystem& fileSystem = FileSystem::Instance();
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    return Failed(fileSystem.ScheduleAtRestart(lpExistingFileName, lpNewFileName, replace)) ? FALSE : TRUE;
  }
  // Without a new name the file is deleted now.
  if (lpNewFileName == nullptr) return Failed(fileSystem.Unlink(lpExistingFileName)) ? FALSE : TRUE;
  return Failed(fileSystem.Rename(lpExistingFileName, lpNewFileName, replace)) ? FALSE : TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  if (auto error = Injected("CreateDirectory", lpPathName)) {
    SetLastError(*error);
    return FALSE;
  }
  return Failed(FileSystem::Instance().MakeDirectory(lpPathName)) ? FALSE : TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  if (auto error = Injected("RemoveDirectory", lpPathName)) {
    SetLastError(*error);
    return FALSE;
  }
  return Failed(FileSystem::Instance().RemoveEmptyDirectory(lpPathName)) ? FALSE : TRUE;
}

int _rmdir(const char* dirname) {
  if (auto error = Injected("_rmdir", dirname)) {
    errno = CrtErrno(*error);
    return -1;
  }
  uint32_t error = FileSystem::Instance().RemoveEmptyDirectory(dirname);
  if (error == ERROR_SUCCESS) return 0;
  // The documentation gives ENOTEMPTY for a drive's root.
  host::FileLocation location;
  const bool root = FileSystem::Instance().Locate(dirname, &location) == ERROR_SUCCESS && location.IsRoot();
  errno = root ? host::kCrtENOTEMPTY : CrtErrno(error);
  return -1;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (auto error = Injected("FindFirstFile", lpFileName)) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t handle = 0;
  host::FindEntryData first;
  if (Failed(FileSystem::Instance().FindStart(lpFileName, &handle, &first))) return INVALID_HANDLE_VALUE;
  CopyFindData(first, lpFindFileData);
  return reinterpret_cast<HANDLE>(handle);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  if (auto error = Injected("FindNextFile", nullptr)) {
    SetLastError(*error);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  host::FindEntryData next;
  if (Failed(FileSystem::Instance().FindNext(reinterpret_cast<uintptr_t>(hFindFile), &next))) return FALSE;
  CopyFindData(next, lpFindFileData);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  return Failed(FileSystem::Instance().FindEnd(reinterpret_cast<uintptr_t>(hFindFile))) ? FALSE : TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  if (auto error = Injected("CreateFile", lpFileName)) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t handle = 0;
  bool existed = false;
  if (Failed(FileSystem::Instance().Open(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                         dwFlagsAndAttributes, &handle, &existed))) {
    return INVALID_HANDLE_VALUE;
  }
  // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened.
  const bool always = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
  SetLastError(always && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(handle);
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  if (auto error = Injected("GetFileSize", FileSystem::Instance().HandleKey(reinterpret_cast<uintptr_t>(hFile)))) {
    SetLastError(*error);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = 0;
  if (Failed(FileSystem::Instance().Size(reinterpret_cast<uintptr_t>(hFile), &size))) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  // A size whose low part looks like the failure value is told apart by the
  // last error.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPVOID lpOverlapped) {
  (void)lpOverlapped;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  if (auto error = Injected("ReadFile", FileSystem::Instance().HandleKey(reinterpret_cast<uintptr_t>(hFile)))) {
    SetLastError(*error);
    return FALSE;
  }
  uint32_t read = 0;
  if (Failed(FileSystem::Instance().Read(reinterpret_cast<uintptr_t>(hFile), lpBuffer, nNumberOfBytesToRead, &read))) {
    return FALSE;
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = read;
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPVOID lpOverlapped) {
  (void)lpOverlapped;
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  if (auto error = Injected("WriteFile", FileSystem::Instance().HandleKey(reinterpret_cast<uintptr_t>(hFile)))) {
    SetLastError(*error);
    return FALSE;
  }
  uint32_t written = 0;
  if (Failed(FileSystem::Instance().Write(reinterpret_cast<uintptr_t>(hFile), lpBuffer, nNumberOfBytesToWrite,
                                          &written))) {
    return FALSE;
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = written;
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  return Failed(FileSystem::Instance().Close(reinterpret_cast<uintptr_t>(hObject))) ? FALSE : TRUE;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyDirectory("GetWindowsDirectory", host::kWindowsDirectory, lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyDirectory("GetSystemDirectory", host::kSystemDirectory, lpBuffer, uSize);
}
}
