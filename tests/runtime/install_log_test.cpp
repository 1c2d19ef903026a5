// InstallLog: the line on standard output and in the log, the Error-table
// template, deferred execution, over-long lines and failures of its own calls.
#include <gtest/gtest.h>

#include "host/code_page.h"
#include "host/faults.h"
#include "runtime/install_log.h"
#include "tests/support/session_fixture.h"

namespace {

class InstallLogTest : public vrintest::SessionTest {};

TEST_F(InstallLogTest, WithoutSessionGoesToStandardOutputOnly) {
  InstallLog(0, kLogRowTrace, "Value %s = %d", "X", 5);
  EXPECT_EQ(TakeStdout(), "OV VRIN : Value X = 5\r\n");
  EXPECT_EQ(host::Faults::Instance().CallCounts().count("MsiGetActiveDatabase"), 0u);
}

TEST_F(InstallLogTest, PackageErrorRowBecomesTheTemplate) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  InstallLog(hInstall, kLogRowTrace, "Setting %s", "A");
  InstallLog(hInstall, kLogRowWarning, "Careful");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Info OV VRIN : Setting A. ", "Warning OV VRIN : Careful. "}));
}

TEST_F(InstallLogTest, MissingErrorRowLeavesTheLineUnchanged) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  InstallLog(hInstall, kLogRowFailure, "Failed");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Failed"}));
}

TEST_F(InstallLogTest, PackageWithoutErrorTableLeavesTheLineUnchanged) {
  MSIHANDLE hInstall =
      OpenSession({"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR "
                   "PRIMARY KEY `Property`)"});
  InstallLog(hInstall, kLogRowTrace, "Plain");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Plain"}));
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(InstallLogTest, DeferredExecutionHasNoTemplate) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  Session().SetDeferred(true);
  InstallLog(hInstall, kLogRowTrace, "Deferred");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Deferred"}));
}

TEST_F(InstallLogTest, TemplateReadGoesToStandardOutputOnly) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  InstallLog(hInstall, kLogRowTrace, "Line");
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : Line\r\n"
            "OV VRIN : InstallGetRecordString -> 1\r\n"
            "OV VRIN : InstallGetRecordString <- (Info [1]. )\r\n");
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(InstallLogTest, OneErrorTableQueryPerLineAndNoHandleLeft) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  for (int i = 0; i < 5; ++i) InstallLog(hInstall, kLogRowTrace, "Line %d", i);
  EXPECT_EQ(host::Faults::Instance().CallCounts().at("MsiDatabaseOpenView"), 5);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(InstallLogTest, ArgumentsAreNeverUsedAsAFormat) {
  MSIHANDLE hInstall = OpenSession();
  InstallLog(hInstall, kLogRowTrace, "Path %s", "C:\\100%s%n%d\\x");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Path C:\\100%s%n%d\\x"}));
}

// Lines of 511, 512, 513 and 10,000 characters into the 512-byte line: the
// first 511 characters are kept, in the log and on standard output alike.
class TraceLineLengthTest : public InstallLogTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(TraceLineLengthTest, CutTo511Characters) {
  MSIHANDLE hInstall = OpenSession();
  const std::string line = "OV VRIN : Value " + std::string(GetParam() - 16, 'v');
  InstallLog(hInstall, kLogRowTrace, "Value %s", line.c_str() + 16);
  const std::string expected = line.substr(0, 511);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{expected}));
  EXPECT_EQ(TakeStdout(), expected + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(AroundTheLine, TraceLineLengthTest, ::testing::Values(511, 512, 513, 10000));

TEST_F(InstallLogTest, LongFormatIsNotCutBeforeItsArguments) {
  MSIHANDLE hInstall = OpenSession();
  std::string format(300, 'f');
  format += " %s";
  InstallLog(hInstall, kLogRowTrace, format.c_str(), "end");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : " + std::string(300, 'f') + " end"}));
}

TEST_F(InstallLogTest, CutNeverSplitsADoubleByteCharacter) {
  host::SetAnsiCodePage(932);
  MSIHANDLE hInstall = OpenSession();
  // The 511th byte of the line is the lead byte of a pair whose trail byte
  // (0x5C, a backslash) does not fit: the whole pair goes.
  std::string text(500, 'a');
  text += "\x83\x5c\x83\x5c";
  InstallLog(hInstall, kLogRowTrace, "%s", text.c_str());
  host::SetAnsiCodePage(1252);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : " + std::string(500, 'a')}));
}

TEST_F(InstallLogTest, FailedTemplateReadKeepsThePlainTemplateAndRaisesNothing) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  host::Faults::Instance().Fail("MsiRecordGetString", ERROR_OUTOFMEMORY, 0);
  EXPECT_NO_THROW(InstallLog(hInstall, kLogRowTrace, "Still logged"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Still logged"}));
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(InstallLogTest, RefusedInstallerCallsLoseOnlyTheLogLine) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  host::Faults::Instance().Fail("MsiProcessMessage", ERROR_FUNCTION_FAILED);
  host::Faults::Instance().Fail("MsiViewExecute", ERROR_FUNCTION_FAILED);
  InstallLog(hInstall, kLogRowTrace, "First");
  InstallLog(hInstall, kLogRowTrace, "Second");
  // The first line had no template and was lost from the log; the second is whole.
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Info OV VRIN : Second. "}));
  EXPECT_EQ(TakeStdout().rfind("OV VRIN : First\r\nOV VRIN : Second\r\n", 0), 0u);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(InstallLogTest, NullTextIsTracedAsNull) {
  InstallLog(0, kLogRowTrace, "Name %s", InstallTraceText(nullptr));
  EXPECT_EQ(TakeStdout(), "OV VRIN : Name Null\r\n");
}

}  // namespace
