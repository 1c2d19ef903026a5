// license_probe.dll: a custom action that reads back, after the library's
// licence actions, what they left in the session: the properties they set
// and the LicenseAgreement dialog's rows of the Control table, temporary
// ones included. It writes them to the file named by PROBEFILE and ends the
// installation with 1602, as a user's cancel does.
//
// The file: "NAME=value" lines for the properties, "Rows=n" and
// "MemoRows=n" for the dialog, then the Memo row's columns one a line and
// "Text=" followed by its text unchanged up to the end of the file.
//
// The same source is built into the Windows DLL and into the native tests,
// which call it on the simulated session.
#include <cstdio>
#include <string>

#include "tests/wine/license_probe.h"

namespace {

const UINT kUserExit = 1602;  // ERROR_INSTALL_USEREXIT

using probe::Field;
using probe::Property;

}  // namespace

extern "C" PROBE_EXPORT UINT __stdcall ProbeLicense(MSIHANDLE hInstall) {
  std::string out;
  for (const char* name : {"LICENSE", "LICENSEFILE", "PRODUCTSUBTYPE", "PRODSUBTYPE"}) {
    out += std::string(name) + "=" + Property(hInstall, name) + "\n";
  }
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  MSIHANDLE hView = 0;
  int rows = 0;
  int memoRows = 0;
  std::string memo;
  if (MsiDatabaseOpenView(hDatabase, "SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'", &hView) ==
          ERROR_SUCCESS &&
      MsiViewExecute(hView, 0) == ERROR_SUCCESS) {
    MSIHANDLE hRow = 0;
    while (MsiViewFetch(hView, &hRow) == ERROR_SUCCESS) {
      ++rows;
      if (Field(hRow, 2) == "Memo") {
        ++memoRows;
        memo = "Type=" + Field(hRow, 3) + "\n";
        for (UINT field = 4; field <= 8; ++field) memo += std::to_string(MsiRecordGetInteger(hRow, field)) + "\n";
        const bool nulls = MsiRecordIsNull(hRow, 9) && MsiRecordIsNull(hRow, 11) && MsiRecordIsNull(hRow, 12);
        memo += std::string("PropertyNull=") + (nulls ? "1" : "0") + "\n";
        memo += "Text=" + Field(hRow, 10);
      }
      MsiCloseHandle(hRow);
    }
  }
  MsiCloseHandle(hView);
  MsiCloseHandle(hDatabase);
  out += "Rows=" + std::to_string(rows) + "\nMemoRows=" + std::to_string(memoRows) + "\n" + memo;

  FILE* file = std::fopen(Property(hInstall, "PROBEFILE").c_str(), "wb");
  if (file == nullptr) return ERROR_INSTALL_FAILURE;
  const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && written ? kUserExit : ERROR_INSTALL_FAILURE;
}
