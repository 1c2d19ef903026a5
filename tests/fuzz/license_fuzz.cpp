// The licence dialog's Rich Text built from arbitrary licence file bytes.
#include <cstdint>
#include <memory>
#include <string>

#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/package.h"
#include "host/session.h"
#include "setup/license.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/package_sql.h"

namespace {

std::shared_ptr<host::Package> g_package;

std::vector<std::string> PackageSql() {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
      "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, "
      "`Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(255) LOCALIZABLE "
      "PRIMARY KEY `Dialog_`, `Control`)");
  sql.push_back(
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('LicenseAgreement', 'Accept', 'RadioButtonGroup', 1, 2, 3, 4, 3, 'Accept')");
  return sql;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrinfuzz::PrepareSessions();
  g_package = host::Package::FromSql(PackageSql());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::ResetMachine();
  host::Files().AddFile("C:\\Setup\\1033\\license.txt", std::string(reinterpret_cast<const char*>(data), size));
  std::shared_ptr<host::Session> session = host::Session::Open(g_package);
  session->SetSourcePath("UnCompressedFolder", "C:\\Setup\\");
  session->SetProperty("LICENSE", ".\\1033\\license.txt");
  size_t blocks = host::LibraryAllocationCount();
  UINT result = VrinNameLicense(session->Handle());
  if (result != ERROR_SUCCESS && result != ERROR_INSTALL_FAILURE) __builtin_trap();
  session->Close();
  vrinfuzz::CheckReleased(blocks);
  return 0;
}
