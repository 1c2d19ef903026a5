// The library's one failure type: created with new, raised as a pointer,
// caught, reported and destroyed by the handler that ends the failure.
#pragma once

#include "host/platform.h"

class CInstallException {
 public:
  CInstallException(const char* szContext, DWORD dwError);
  CInstallException(const CInstallException&) = delete;
  CInstallException& operator=(const CInstallException&) = delete;
  virtual ~CInstallException();

  // Writes the failure report into the installation log (row 1).
  virtual void Report(MSIHANDLE hInstall, const char* szName);

  const char* m_szContext;  // the raiser's string literal, never owned
  DWORD m_dwError;
  char* m_szDescription;  // 1024 bytes owned by the object, or null when it could not be allocated
};

// An installer failure that left an error record; the number is always 0 and
// the formatted record is the description.
class CInstallMsiException : public CInstallException {
 public:
  CInstallMsiException(const char* szContext, MSIHANDLE hRecord);
  ~CInstallMsiException() override;
};

const DWORD kInstallDescriptionSize = 1024;

// Raise a CInstallException. When the object itself cannot be allocated a null
// pointer of the same type is raised, so the failure still ends in the
// action's handler, which reports it as an allocation failure.
[[noreturn]] void InstallRaise(const char* szContext, DWORD dwError);

// Raise a CInstallMsiException with the installer's last error record.
[[noreturn]] void InstallRaiseMsi(const char* szContext);

// Reports a failure that the caller tolerates exactly as a raised one would be
// reported, under szName, and lets the caller go on.
void InstallReportFailure(MSIHANDLE hInstall, const char* szName, const char* szContext, DWORD dwError);

// Ends a caught failure: reports it under szName (unless bReport is false)
// and destroys the object. Accepts the null object InstallRaise may raise.
void InstallEndFailure(MSIHANDLE hInstall, const char* szName, CInstallException* pException, bool bReport);
