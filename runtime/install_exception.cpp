#include "runtime/install_exception.h"

#include <cstring>
#include <new>

#include "runtime/install_log.h"
#include "runtime/string_helpers.h"

static const char kErrorTemplate[] = "Error [1]: [2]{, [3]}{, [4]}{, [5]}";

// Fills the description with the system's text for the error; a text longer
// than the buffer is cut rather than dropped.
static void DescribeSystemError(char* szDescription, DWORD dwError) {
  const DWORD dwFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (FormatMessageA(dwFlags, nullptr, dwError, 0, szDescription, kInstallDescriptionSize, nullptr) != 0) {
    return;
  }
  szDescription[0] = '\0';
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return;
  }
  char* szLong = nullptr;
  if (FormatMessageA(dwFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, dwError, 0, reinterpret_cast<LPSTR>(&szLong), 0,
                     nullptr) != 0 &&
      szLong != nullptr) {
    InstallCopyTruncated(szDescription, kInstallDescriptionSize, szLong);
  }
  if (szLong != nullptr) {
    LocalFree(szLong);
  }
}

CInstallException::CInstallException(const char* szContext, DWORD dwError)
    : m_szContext(szContext), m_dwError(dwError), m_szDescription(new (std::nothrow) char[kInstallDescriptionSize]) {
  if (m_szDescription == nullptr) {
    return;
  }
  m_szDescription[0] = '\0';
  if (m_dwError != 0) {
    DescribeSystemError(m_szDescription, m_dwError);
  }
}

CInstallException::~CInstallException() { delete[] m_szDescription; }

void CInstallException::Report(MSIHANDLE hInstall, const char* szName) {
  if (m_szDescription != nullptr && m_szDescription[0] != '\0') {
    InstallLog(hInstall, kLogRowFailure, "%s : %d\r\n\r\nCONTEXT = %s\r\nDESCRIPTION = %s", szName,
               static_cast<int>(m_dwError), m_szContext, m_szDescription);
  } else {
    InstallLog(hInstall, kLogRowFailure, "%s : %d\r\n\r\nCONTEXT = %s", szName, static_cast<int>(m_dwError),
               m_szContext);
  }
}

// Takes ownership of the record: it is closed once its text is in the
// description.
CInstallMsiException::CInstallMsiException(const char* szContext, MSIHANDLE hRecord) : CInstallException(szContext, 0) {
  if (hRecord == 0) {
    return;
  }
  if (m_szDescription != nullptr) {
    if (MsiRecordIsNull(hRecord, 0)) {
      MsiRecordSetString(hRecord, 0, kErrorTemplate);
    }
    DWORD cch = kInstallDescriptionSize;
    UINT uResult = MsiFormatRecord(0, hRecord, m_szDescription, &cch);
    if (uResult == ERROR_MORE_DATA) {
      // Too long for the buffer: format in full, then keep what fits.
      DWORD cchFull = cch + 1;
      char* szFull = new (std::nothrow) char[cchFull];
      m_szDescription[0] = '\0';
      if (szFull != nullptr && MsiFormatRecord(0, hRecord, szFull, &cchFull) == ERROR_SUCCESS) {
        InstallCopyTruncated(m_szDescription, kInstallDescriptionSize, szFull);
      }
      delete[] szFull;
    } else if (uResult != ERROR_SUCCESS) {
      m_szDescription[0] = '\0';
    }
  }
  MsiCloseHandle(hRecord);
}

CInstallMsiException::~CInstallMsiException() {}

void InstallRaise(const char* szContext, DWORD dwError) {
  throw new (std::nothrow) CInstallException(szContext, dwError);
}

void InstallRaiseMsi(const char* szContext) {
  MSIHANDLE hRecord = MsiGetLastErrorRecord();
  CInstallException* pException = new (std::nothrow) CInstallMsiException(szContext, hRecord);
  if (pException == nullptr && hRecord != 0) {
    MsiCloseHandle(hRecord);
  }
  throw pException;
}

void InstallReportFailure(MSIHANDLE hInstall, const char* szName, const char* szContext, DWORD dwError) {
  CInstallException failure(szContext, dwError);
  failure.Report(hInstall, szName);
}

void InstallEndFailure(MSIHANDLE hInstall, const char* szName, CInstallException* pException, bool bReport) {
  if (pException == nullptr) {
    // The exception object itself could not be allocated.
    if (bReport) {
      InstallLog(hInstall, kLogRowFailure, "%s : %d\r\n\r\nCONTEXT = %s", szName, static_cast<int>(ERROR_OUTOFMEMORY),
                 "CInstallException");
    }
    return;
  }
  if (bReport) {
    pException->Report(hInstall, szName);
  }
  delete pException;
}
