// Test sessions over packages built from SQL, with stdout captured and the
// installer reset between tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/package.h"
#include "host/session.h"
#include "runtime/install_exception.h"
#include "tools/road/package_sql.h"

namespace vrintest {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens a session on a package built from the statements; the default is a
  // package whose Error table has no rows the trace uses.
  MSIHANDLE OpenSession(const std::vector<std::string>& statements = {});
  host::Session& Session() { return *session_; }

  // Standard output written since SetUp (or the last call), split at "\r\n".
  std::vector<std::string> TakeStdoutLines();
  std::string TakeStdout();
  // The installation log's INFO texts.
  std::vector<std::string> LogLines() const { return session_->InfoLines(); }

  // Runs f, which must raise a CInstallException: its context and number. The
  // object is destroyed; its description stays readable in RaisedDescription().
  template <typename F>
  std::pair<std::string, DWORD> Raised(F f) {
    try {
      f();
    } catch (CInstallException* e) {
      std::unique_ptr<CInstallException> owned(e);
      raisedDescription_ = e->m_szDescription != nullptr ? e->m_szDescription : "";
      return {e->m_szContext, e->m_dwError};
    }
    ADD_FAILURE() << "nothing raised";
    return {"", 0};
  }
  const std::string& RaisedDescription() const { return raisedDescription_; }

  // Database, view and record handles still open.
  int OpenHandles() const { return host::HandleTable::Instance().OpenNonSessionCount(); }

 private:
  std::shared_ptr<host::Package> package_;
  std::shared_ptr<host::Session> session_;
  bool capturing_ = false;
  std::string everything_;
  std::string raisedDescription_;  // all captured output, shown when a test fails
};

}  // namespace vrintest
