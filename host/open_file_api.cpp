// kernel32's OpenFile over the simulated file system, for the OF_EXIST test
// the library makes; as Windows and Wine's conformance tests show it:
// - the full path must fit OFSTRUCT's 128 characters, else HFILE_ERROR with
//   ERROR_INVALID_DATA (ERROR_FILENAME_EXCED_RANGE beyond MAX_PATH);
// - the file is searched first, so a missing file or folder is
//   ERROR_FILE_NOT_FOUND; a relative name is taken from the current folder
//   (no search path is simulated);
// - the file is then opened and closed again, so a folder of that name is
//   ERROR_ACCESS_DENIED and a file another process holds without sharing is
//   ERROR_SHARING_VIOLATION;
// - success returns 1 and fills the record (size, fixed disk, no error, the
//   full path); failure sets only nErrCode and the last error.
// Styles other than OF_EXIST (with its access and sharing bits) are not
// simulated: they fail with ERROR_INVALID_PARAMETER.
#include <cstring>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/win32_api.h"
#include "host/win32_shell.h"

namespace {

constexpr UINT kAccessBits = 0x0003;
constexpr UINT kShareBits = 0x0070;

HFILE Fail(LPOFSTRUCT record, uint32_t error) {
  record->nErrCode = static_cast<WORD>(error);
  SetLastError(error);
  return HFILE_ERROR;
}

uint32_t Access(UINT style) {
  switch (style & kAccessBits) {
    case OF_WRITE:
      return GENERIC_WRITE;
    case OF_READWRITE:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

// The compatibility mode shares as "deny none" does.
uint32_t Sharing(UINT style) {
  switch (style & kShareBits) {
    case OF_SHARE_EXCLUSIVE:
      return 0;
    case OF_SHARE_DENY_WRITE:
      return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ:
      return FILE_SHARE_WRITE;
    default:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
}

}  // namespace

extern "C" {

HFILE OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle) {
  if (lpReOpenBuff == nullptr) return HFILE_ERROR;
  if (auto error = host::Faults::Instance().Check("OpenFile", lpFileName)) return Fail(lpReOpenBuff, *error);
  if (lpFileName == nullptr || (uStyle & ~(kAccessBits | kShareBits | OF_EXIST)) != 0 || (uStyle & OF_EXIST) == 0) {
    return Fail(lpReOpenBuff, ERROR_INVALID_PARAMETER);
  }
  host::FileSystem& files = host::FileSystem::Instance();
  host::FileLocation location;
  uint32_t error = files.Locate(lpFileName, &location);
  if (error == ERROR_PATH_NOT_FOUND) return Fail(lpReOpenBuff, ERROR_FILE_NOT_FOUND);
  if (error != ERROR_SUCCESS) return Fail(lpReOpenBuff, error);
  const std::string fullPath = location.WindowsPath();
  if (fullPath.size() >= OFS_MAXPATHNAME) return Fail(lpReOpenBuff, ERROR_INVALID_DATA);
  if (!location.exists) return Fail(lpReOpenBuff, ERROR_FILE_NOT_FOUND);
  if (location.directory || location.IsRoot()) return Fail(lpReOpenBuff, ERROR_ACCESS_DENIED);
  uintptr_t handle = 0;
  bool existed = false;
  error =
      files.Open(lpFileName, Access(uStyle), Sharing(uStyle), OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, &handle, &existed);
  if (error != ERROR_SUCCESS) return Fail(lpReOpenBuff, error);
  files.Close(handle);
  lpReOpenBuff->cBytes = static_cast<BYTE>(sizeof(OFSTRUCT));
  lpReOpenBuff->fFixedDisk = 1;
  lpReOpenBuff->nErrCode = 0;
  std::memcpy(lpReOpenBuff->szPathName, fullPath.c_str(), fullPath.size() + 1);
  return 1;
}
}
