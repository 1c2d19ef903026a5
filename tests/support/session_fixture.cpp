#include "tests/support/session_fixture.h"

#include <iostream>

#include "host/faults.h"
#include "host/machine.h"

namespace vrintest {

void SessionTest::SetUp() {
  host::ResetMachine();
  ::testing::internal::CaptureStdout();
  capturing_ = true;
}

void SessionTest::TearDown() {
  if (capturing_) everything_ += ::testing::internal::GetCapturedStdout();
  capturing_ = false;
  // GoogleTest writes its failure messages to standard output too: show them.
  if (HasFailure()) std::cerr << everything_;
  if (session_) session_->Close();
  host::ResetMachine();
}

MSIHANDLE SessionTest::OpenSession(const std::vector<std::string>& statements) {
  std::vector<std::string> sql = statements;
  if (sql.empty()) sql = ErrorTableSql({});
  package_ = host::Package::FromSql(sql);
  session_ = host::Session::Open(package_);
  return session_->Handle();
}

std::string SessionTest::TakeStdout() {
  std::string text = capturing_ ? ::testing::internal::GetCapturedStdout() : std::string();
  everything_ += text;
  ::testing::internal::CaptureStdout();
  capturing_ = true;
  return text;
}

std::vector<std::string> SessionTest::TakeStdoutLines() {
  std::string text = TakeStdout();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace vrintest
