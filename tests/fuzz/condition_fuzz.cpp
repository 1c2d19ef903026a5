// Conditions with arbitrary text, without a session and over one with
// properties, features and components to compare against.
#include <cstdint>
#include <memory>
#include <string>

#include "host/condition.h"
#include "host/machine.h"
#include "host/package.h"
#include "host/session.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/package_sql.h"

namespace {
std::shared_ptr<host::Session> g_session;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)");
  sql.push_back("INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('NTServer', 1, 0)");
  g_session = host::Session::Open(host::Package::FromSql(sql));
  g_session->SetProperty("VersionNT", "501");
  g_session->SetProperty("PRODUCTS", "1");
  g_session->SetProperty("Text", "Velmora");
  g_session->SetEnvironment("PATH", "C:\\WINDOWS");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string condition(reinterpret_cast<const char*>(data), size);
  MSICONDITION alone = host::EvaluateCondition(condition, nullptr);
  MSICONDITION withSession = host::EvaluateCondition(condition, g_session.get());
  if (alone < MSICONDITION_FALSE || alone > MSICONDITION_ERROR) __builtin_trap();
  if (withSession < MSICONDITION_FALSE || withSession > MSICONDITION_ERROR) __builtin_trap();
  return 0;
}
