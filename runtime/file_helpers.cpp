#include "runtime/file_helpers.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "runtime/install_exception.h"
#include "runtime/install_log.h"
#include "runtime/session_access.h"

static const char kDeleted[] = "deleted";
static const char kNotDeleted[] = "not deleted";
static const char kSearchAll[] = "*";

// The last backslash that is a character of its own, not the trail byte of a
// double-byte character; null when there is none.
static char* InstallFindLastBackslash(char* szPath) {
  char* pLast = nullptr;
  for (char* pch = szPath; *pch != '\0';) {
    if (*pch == '\\') {
      pLast = pch;
    }
    pch += IsDBCSLeadByte(static_cast<BYTE>(*pch)) && pch[1] != '\0' ? 2 : 1;
  }
  return pLast;
}

// szDirectory, a backslash unless it ends in one, and szName into a MAX_PATH
// buffer; false, with the buffer empty, when that would not fit.
static bool InstallJoinPath(char* szOut, size_t cbOut, const char* szDirectory, const char* szName) {
  size_t cchDirectory = strlen(szDirectory);
  bool bSeparator = cchDirectory == 0 || szDirectory[cchDirectory - 1] != '\\';
  size_t cchName = strlen(szName);
  szOut[0] = '\0';
  if (cchDirectory + (bSeparator ? 1 : 0) + cchName + 1 > cbOut) {
    return false;
  }
  memcpy(szOut, szDirectory, cchDirectory);
  size_t cch = cchDirectory;
  if (bSeparator) {
    szOut[cch++] = '\\';
  }
  memcpy(szOut + cch, szName, cchName + 1);
  return true;
}

VS_FIXEDFILEINFO* InstallGetFileVersion(MSIHANDLE hInstall, const char* szPath) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetFileVersion -> %s", InstallTraceText(szPath));
  DWORD dwHandle = 0;
  DWORD cbVersion = GetFileVersionInfoSize(szPath, &dwHandle);
  if (cbVersion == 0) {
    InstallRaise("InstallGetFileVersion : GetFileVersionInfoSize", GetLastError());
  }
  BYTE* pVerData = new (std::nothrow) BYTE[cbVersion];
  if (pVerData == nullptr) {
    InstallRaise("InstallGetFileVersion : pVerData", ERROR_OUTOFMEMORY);
  }
  if (!GetFileVersionInfo(szPath, dwHandle, cbVersion, pVerData)) {
    DWORD dwError = GetLastError();
    delete[] pVerData;
    InstallRaise("InstallGetFileVersion : GetFileVersionInfo", dwError);
  }
  LPVOID pValue = nullptr;
  UINT cbValue = 0;
  if (!VerQueryValue(pVerData, "\\", &pValue, &cbValue)) {
    DWORD dwError = GetLastError();
    delete[] pVerData;
    InstallRaise("InstallGetFileVersion : VerQueryValue", dwError);
  }
  // A root block shorter than the fixed block would be read past its end.
  if (pValue == nullptr || cbValue < sizeof(VS_FIXEDFILEINFO)) {
    delete[] pVerData;
    InstallRaise("InstallGetFileVersion : VerQueryValue", ERROR_INVALID_DATA);
  }
  VS_FIXEDFILEINFO* pFixed = new (std::nothrow) VS_FIXEDFILEINFO;
  if (pFixed == nullptr) {
    delete[] pVerData;
    InstallRaise("InstallGetFileVersion : ret", ERROR_OUTOFMEMORY);
  }
  memcpy(pFixed, pValue, sizeof(VS_FIXEDFILEINFO));
  delete[] pVerData;
  InstallLog(
      hInstall, kLogRowTrace, "InstallGetFileVersion <- %d,%d,%d,%d",
      static_cast<int>((pFixed->dwFileVersionMS >> 16) & 0xFFFF), static_cast<int>(pFixed->dwFileVersionMS & 0xFFFF),
      static_cast<int>((pFixed->dwFileVersionLS >> 16) & 0xFFFF), static_cast<int>(pFixed->dwFileVersionLS & 0xFFFF));
  return pFixed;
}

BOOL InstallDeleteFile(MSIHANDLE hInstall, const char* szPath) {
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteFile -> %s", InstallTraceText(szPath));
  DWORD dwAttributes = GetFileAttributes(szPath);
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
    InstallReportFailure(hInstall, "InstallDeleteFile", "InstallDeleteFile : GetFileAttributes", GetLastError());
    InstallLog(hInstall, kLogRowTrace, "InstallDeleteFile <- %s", kNotDeleted);
    return FALSE;
  }
  if ((dwAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !SetFileAttributes(szPath, dwAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    InstallReportFailure(hInstall, "InstallDeleteFile", "InstallDeleteFile : SetFileAttributes", GetLastError());
  }
  if (DeleteFile(szPath)) {
    InstallLog(hInstall, kLogRowTrace, "InstallDeleteFile <- %s", kDeleted);
    return TRUE;
  }
  if (MoveFileEx(szPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    InstallLog(hInstall, kLogRowTrace, "InstallDeleteFile <- %s", kNotDeleted);
    return FALSE;
  }
  DWORD dwError = GetLastError();
  InstallLog(hInstall, kLogRowTrace, "Failed to delete %s %d", InstallTraceText(szPath), static_cast<int>(dwError));
  InstallReportFailure(hInstall, "InstallDeleteFile", "InstallDeleteFile : MoveFileEx", dwError);
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteFile <- %s", kNotDeleted);
  return FALSE;
}

void InstallDeleteDirectory(MSIHANDLE hInstall, const char* szPath, BOOL bRecursive) {
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteDirectory -> %s %s", InstallTraceText(szPath),
             bRecursive ? "recursive" : "not recursive");
  // No folder at all can be neither removed nor scheduled: _rmdir's EINVAL.
  const int kErrnoInvalid = 22;
  int nErrno = kErrnoInvalid;
  bool bDone = false;
  if (szPath != nullptr) {
    bDone = _rmdir(szPath) == 0;
    if (!bDone) {
      // Taken at once: the scheduling may change errno on a real system.
      nErrno = errno;
      bDone = MoveFileEx(szPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }
  }
  if (!bDone) {
    InstallLog(hInstall, kLogRowWarning, "Failed (%d) to delete %s", nErrno, InstallTraceText(szPath));
    InstallReportFailure(hInstall, "InstallDeleteDirectory", "MoveFileEx", static_cast<DWORD>(nErrno));
    InstallLog(hInstall, kLogRowTrace, "InstallDeleteDirectory <-");
    return;
  }
  if (bRecursive) {
    char szParent[MAX_PATH] = {};
    if (strlen(szPath) >= sizeof(szParent)) {
      // Never climb from a path cut to the buffer: that would be another folder.
      InstallReportFailure(hInstall, "InstallDeleteDirectory", "InstallDeleteDirectory : szParent",
                           ERROR_FILENAME_EXCED_RANGE);
    } else {
      memcpy(szParent, szPath, strlen(szPath) + 1);
      char* pBackslash = InstallFindLastBackslash(szParent);
      if (pBackslash != nullptr) {
        *pBackslash = '\0';
        DWORD dwAttributes = GetFileAttributes(szParent);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          InstallDeleteDirectory(hInstall, szParent, TRUE);
        } else {
          InstallLog(hInstall, kLogRowWarning, "Not deleting %s", szParent);
        }
      }
    }
  }
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteDirectory <-");
}

// Starts the listing of szPattern; INVALID_HANDLE_VALUE when it cannot.
static HANDLE InstallStartListing(const char* szPattern, WIN32_FIND_DATA* pData) {
  HANDLE hFind = FindFirstFile(szPattern, pData);
  return hFind != nullptr ? hFind : INVALID_HANDLE_VALUE;
}

void InstallDeleteEntireDirectory(MSIHANDLE hInstall, const char* szPath) {
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteEntireDirectory -> %s", InstallTraceText(szPath));
  char szPattern[MAX_PATH] = {};
  if (szPath == nullptr) {
    InstallRaise("InstallDeleteEntireDirectory : FindFirstFile", ERROR_INVALID_PARAMETER);
  }
  // A pattern that does not fit is a folder that cannot be listed.
  if (!InstallJoinPath(szPattern, sizeof(szPattern), szPath, kSearchAll)) {
    InstallRaise("InstallDeleteEntireDirectory : FindFirstFile", ERROR_FILENAME_EXCED_RANGE);
  }
  WIN32_FIND_DATA data;
  memset(&data, 0, sizeof(data));
  HANDLE hFind = InstallStartListing(szPattern, &data);
  if (hFind == INVALID_HANDLE_VALUE) {
    InstallRaise("InstallDeleteEntireDirectory : FindFirstFile", GetLastError());
  }
  char szEntry[MAX_PATH] = {};
  bool bEntry = true;
  // A subfolder that cannot be listed passes its failure on: the listing is
  // closed first.
  try {
    while (bEntry) {
      bool bRestart = false;
      const char* szName = data.cFileName;
      if (strcmp(szName, ".") == 0 || strcmp(szName, "..") == 0) {
        // Nothing to delete.
      } else if (!InstallJoinPath(szEntry, sizeof(szEntry), szPath, szName)) {
        // Its full path does not fit MAX_PATH: left alone rather than cut.
        InstallReportFailure(hInstall, "InstallDeleteEntireDirectory", "InstallDeleteEntireDirectory : szEntry",
                             ERROR_FILENAME_EXCED_RANGE);
      } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        InstallDeleteEntireDirectory(hInstall, szEntry);
        // A subfolder that stays (something in it is only scheduled) is passed
        // over: starting again would walk it again, without end.
        DWORD dwAttributes = GetFileAttributes(szEntry);
        bRestart = dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
      } else {
        bRestart = InstallDeleteFile(hInstall, szEntry) != FALSE;
      }
      if (bRestart) {
        FindClose(hFind);
        hFind = InstallStartListing(szPattern, &data);
        bEntry = hFind != INVALID_HANDLE_VALUE;
      } else {
        bEntry = FindNextFile(hFind, &data) != FALSE;
      }
    }
  } catch (CInstallException* pException) {
    if (hFind != INVALID_HANDLE_VALUE) {
      FindClose(hFind);
    }
    throw pException;
  }
  if (hFind != INVALID_HANDLE_VALUE) {
    FindClose(hFind);
  }
  InstallDeleteDirectory(hInstall, szPath, FALSE);
  InstallLog(hInstall, kLogRowTrace, "InstallDeleteEntireDirectory <-");
}

void InstallLaunch(MSIHANDLE hInstall, const char* szFile) {
  InstallLog(hInstall, kLogRowTrace, "InstallLaunch -> %s", InstallTraceText(szFile));
  char* szFolder = InstallGetSourcePath(hInstall, "UnCompressedFolder");
  try {
    char* pBackslash = InstallFindLastBackslash(szFolder);
    if (pBackslash != nullptr && pBackslash[1] == '\0') {
      *pBackslash = '\0';
    }
    HINSTANCE hResult = ShellExecute(nullptr, nullptr, szFile, nullptr, szFolder, SW_SHOWNORMAL);
    INT_PTR nResult = reinterpret_cast<INT_PTR>(hResult);
    if (nResult <= 32) {
      InstallRaise("InstallLaunch : ShellExecute", static_cast<DWORD>(nResult));
    }
  } catch (CInstallException* pException) {
    InstallFreeString(szFolder);
    throw pException;
  }
  InstallFreeString(szFolder);
  InstallLog(hInstall, kLogRowTrace, "InstallLaunch <-");
}
