// The trace routine with arbitrary texts as arguments (never as the format),
// with and without a session, on a package whose Error table shapes the lines.
#include <cstdint>
#include <memory>

#include "host/machine.h"
#include "host/package.h"
#include "host/session.h"
#include "runtime/install_log.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/package_sql.h"

namespace {
std::shared_ptr<host::Package> g_package;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrinfuzz::PrepareSessions();
  g_package = host::Package::FromSql(vrintest::TraceRowsSql());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> texts = vrinfuzz::Split(data, size, 3);
  host::ResetMachine();
  std::shared_ptr<host::Session> session = host::Session::Open(g_package);
  MSIHANDLE hInstall = session->Handle();
  InstallLog(hInstall, kLogRowTrace, "%s", texts[0].c_str());
  InstallLog(hInstall, kLogRowFailure, "%s : %s -> %d", texts[1].c_str(), texts[2].c_str(), static_cast<int>(size));
  InstallLog(hInstall, kLogRowWarning, "Null? %s", InstallTraceText(size % 2 != 0 ? nullptr : texts[0].c_str()));
  InstallLog(0, kLogRowTrace, "%s%s", texts[0].c_str(), texts[1].c_str());
  session->Close();
  return 0;
}
