// The action frame: refusals, caught and uncaught failures, trace styles,
// release of what the body owns, and failures to allocate the failure.
#include <gtest/gtest.h>

#include <stdexcept>

#include "host/faults.h"
#include "runtime/action_frame.h"
#include "runtime/session_access.h"
#include "setup/readme.h"
#include "tests/support/session_fixture.h"

namespace {

using vrintest::SessionTest;

class ActionFrameTest : public SessionTest {};

const ActionInfo kFailing = {"VrinTestFailing", ERROR_BAD_ARGUMENTS, "VrinTestFailing : hInstall",
                             ERROR_INSTALL_FAILURE, kTraceAction};
const ActionInfo kOrchestrator = {"VrinTestMergePost", 0, nullptr, ERROR_INSTALL_FAILURE, kTraceOrchestratorLongArrow};

void RaiseFileNotFound(MSIHANDLE) { InstallRaise("VrinTestFailing : CreateFile", ERROR_FILE_NOT_FOUND); }
void DoNothing(MSIHANDLE) {}
void ThrowOther(MSIHANDLE) { throw std::runtime_error("not ours"); }

struct OwningLocals {
  char* szValue;
  MSIHANDLE hRecord;
};

void OwnThenRaise(MSIHANDLE hInstall, OwningLocals& locals) {
  locals.szValue = InstallGetProperty(hInstall, "SOMETHING");
  locals.hRecord = MsiCreateRecord(2);
  InstallRaise("VrinTestFailing : MsiViewExecute", ERROR_FUNCTION_FAILED);
}

int g_releases = 0;
void ReleaseOwning(OwningLocals& locals) {
  ++g_releases;
  InstallFreeString(locals.szValue);
  InstallCloseHandle(locals.hRecord);
}

TEST_F(ActionFrameTest, NullSessionRefusedWith160EndsInCatchWithTableResult) {
  EXPECT_EQ(VrinSetARPReadMe(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinSetARPReadMe ->\r\n"
            "OV VRIN : VrinSetARPReadMe : 160\r\n\r\nCONTEXT = VrinSetARPReadMe : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinSetARPReadMe <- [0]\r\n");
}

TEST_F(ActionFrameTest, NullSessionRefusedWith6ForTheActionsThatUseIt) {
  EXPECT_EQ(VrinNameReadMe(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinNameReadMe ->\r\n"
            "OV VRIN : VrinNameReadMe : 6\r\n\r\nCONTEXT = VrinNameReadMe : hInstall\r\n"
            "DESCRIPTION = The handle is invalid.\r\n\r\n"
            "OV VRIN : VrinNameReadMe <- [0]\r\n");
}

TEST_F(ActionFrameTest, NullSessionOfAFailingActionGives1603NotTheRefusalCode) {
  EXPECT_EQ(InstallRunAction(0, kFailing, DoNothing), 1603u);
  EXPECT_NE(TakeStdout().find("OV VRIN : VrinTestFailing : 160\r\n"), std::string::npos);
}

TEST_F(ActionFrameTest, CaughtFailureIsReportedUnderTheActionNameAndGivesTheTableResult) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_EQ(InstallRunAction(hInstall, kFailing, RaiseFileNotFound), 1603u);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinTestFailing ->",
                            "OV VRIN : VrinTestFailing : 2\r\n\r\nCONTEXT = VrinTestFailing : CreateFile\r\n"
                            "DESCRIPTION = The system cannot find the file specified.\r\n",
                            "OV VRIN : VrinTestFailing <- [1603]",
                        }));
}

TEST_F(ActionFrameTest, OrchestratorStyleTracesLongArrowAndPlainResult) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_EQ(InstallRunAction(hInstall, kOrchestrator, DoNothing), 0u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"OV VRIN : VrinTestMergePost -->", "OV VRIN : VrinTestMergePost <- 0"}));
}

TEST_F(ActionFrameTest, ForeignExceptionPassesOutWithoutExitTrace) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_THROW(InstallRunAction(hInstall, kFailing, ThrowOther), std::runtime_error);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinTestFailing ->"}));
}

TEST_F(ActionFrameTest, WhatTheBodyOwnsIsReleasedOnceOnTheFailurePath) {
  MSIHANDLE hInstall = OpenSession();
  g_releases = 0;
  OwningLocals locals{};
  EXPECT_EQ(InstallRunAction(hInstall, kFailing, locals, OwnThenRaise, ReleaseOwning), 1603u);
  EXPECT_EQ(g_releases, 1);
  EXPECT_EQ(locals.szValue, nullptr);
  EXPECT_EQ(locals.hRecord, 0u);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(ActionFrameTest, ExceptionObjectThatCannotBeAllocatedStillEndsInTheHandler) {
  MSIHANDLE hInstall = OpenSession();
  auto raiseWithoutMemory = [](MSIHANDLE) {
    host::Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 0);
    InstallRaise("VrinTestFailing : CreateFile", ERROR_FILE_NOT_FOUND);
  };
  UINT result = InstallRunAction(hInstall, kFailing, +raiseWithoutMemory);
  host::Faults::Instance().Clear();
  EXPECT_EQ(result, 1603u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "OV VRIN : VrinTestFailing : 14\r\n\r\nCONTEXT = CInstallException");
}

TEST_F(ActionFrameTest, DescriptionThatCannotBeAllocatedGivesTheShortReport) {
  MSIHANDLE hInstall = OpenSession();
  auto raiseWithoutDescription = [](MSIHANDLE) {
    // The object is the first allocation of the raise, its description the second.
    host::Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 2);
    InstallRaise("VrinTestFailing : CreateFile", ERROR_FILE_NOT_FOUND);
  };
  EXPECT_EQ(InstallRunAction(hInstall, kFailing, +raiseWithoutDescription), 1603u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "OV VRIN : VrinTestFailing : 2\r\n\r\nCONTEXT = VrinTestFailing : CreateFile");
}

TEST_F(ActionFrameTest, ActionLeavesNoHandleOpen) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  EXPECT_EQ(InstallRunAction(hInstall, kFailing, RaiseFileNotFound), 1603u);
  EXPECT_EQ(OpenHandles(), 0);
}

}  // namespace
