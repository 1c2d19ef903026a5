// The standalone setup's inf and icf files with arbitrary contents (and
// arbitrary file-name and language properties) read by the setup actions.
#include <cstdint>
#include <memory>
#include <string>

#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/package.h"
#include "host/session.h"
#include "setup/setup_files.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/package_sql.h"

namespace {

std::shared_ptr<host::Package> g_package;
const char kIcf[] = "C:\\Temp\\setup.icf";

std::vector<std::string> PackageSql() {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('VRIN', 'TARGETDIR', "
      "'Velmora')");
  sql.push_back(
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)");
  for (const char* feature : {"NTServer", "GUI", "Common", "DS.x86"}) {
    sql.push_back(std::string("INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('") + feature +
                  "', 1, 0)");
  }
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  sql.push_back(
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('NTServer', "
      "'NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83')");
  sql.push_back(
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('GUI', "
      "'GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094')");
  return sql;
}

void Run(UINT(__stdcall* action)(MSIHANDLE), MSIHANDLE hInstall) {
  UINT result = action(hInstall);
  if (result != ERROR_SUCCESS && result != ERROR_INSTALL_FAILURE) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrinfuzz::PrepareSessions();
  g_package = host::Package::FromSql(PackageSql());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = vrinfuzz::Split(data, size, 5);
  host::ResetMachine();
  host::Files().AddDirectory("C:\\Temp");
  host::Files().AddFile("C:\\Setup\\vrin.inf", parts[3]);
  host::Files().AddFile(kIcf, parts[4]);
  std::shared_ptr<host::Session> session = host::Session::Open(g_package);
  session->SetSourcePath("UnCompressedFolder", "C:\\Setup\\");
  session->SetProperty("INFFILE", parts[0]);
  session->SetProperty("VRINLANGID", parts[1]);
  session->SetProperty("ISUPGRADE", parts[2]);
  session->SetProperty("ICFPATH", kIcf);
  size_t blocks = host::LibraryAllocationCount();
  Run(VrinReadInfFile, session->Handle());
  Run(VrinReadIcfFile, session->Handle());
  Run(VrinSetSelectedComponents, session->Handle());
  Run(VRINSetSelectedFeatureState, session->Handle());
  session->Close();
  vrinfuzz::CheckReleased(blocks);
  return 0;
}
