// Session accessors: values and traces, the size-query contract, and the
// context texts of each failure.
#include <gtest/gtest.h>

#include <memory>

#include "host/faults.h"
#include "runtime/install_exception.h"
#include "runtime/session_access.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;

class SessionAccessTest : public vrintest::SessionTest {};

TEST_F(SessionAccessTest, PropertyValueAndTraces) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("PRODUCTS", "3");
  char* szValue = InstallGetProperty(hInstall, "PRODUCTS");
  EXPECT_STREQ(szValue, "3");
  InstallFreeString(szValue);
  EXPECT_EQ(szValue, nullptr);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallGetProperty -> PRODUCTS",
                                                  "OV VRIN : InstallGetProperty <- (3)"}));
}

TEST_F(SessionAccessTest, UnsetPropertyIsAnAllocatedEmptyString) {
  MSIHANDLE hInstall = OpenSession();
  char* szValue = InstallGetProperty(hInstall, "NOTSET");
  ASSERT_NE(szValue, nullptr);
  EXPECT_STREQ(szValue, "");
  InstallFreeString(szValue);
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetProperty <- ()");
}

TEST_F(SessionAccessTest, SourceAndTargetPaths) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetSourcePath("SourceDir", "D:\\Setup\\");
  Session().SetTargetPath("INSTALLDIR", "C:\\Program Files\\Velmora\\");
  char* szSource = InstallGetSourcePath(hInstall, "SourceDir");
  char* szTarget = InstallGetTargetPath(hInstall, "INSTALLDIR");
  EXPECT_STREQ(szSource, "D:\\Setup\\");
  EXPECT_STREQ(szTarget, "C:\\Program Files\\Velmora\\");
  InstallFreeString(szSource);
  InstallFreeString(szTarget);
  EXPECT_EQ(LogLines().at(2), "OV VRIN : InstallGetTargetPath -> INSTALLDIR");
}

TEST_F(SessionAccessTest, UnknownDirectoryRaisesWithTheSourcePathContext) {
  MSIHANDLE hInstall = OpenSession();
  auto raised = Raised([&] { InstallGetTargetPath(hInstall, "NOSUCHDIR"); });
  EXPECT_EQ(raised.first, "MsiGetSourcePath");
  EXPECT_EQ(raised.second, static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallGetTargetPath -> NOSUCHDIR"}));
}

TEST_F(SessionAccessTest, SizeQueryOtherThanMoreDataRaises) {
  MSIHANDLE hInstall = OpenSession();
  Faults::Instance().Fail("MsiGetProperty", ERROR_INVALID_HANDLE, 1, "PRODUCTS");
  auto raised = Raised([&] { InstallGetProperty(hInstall, "PRODUCTS"); });
  EXPECT_EQ(raised, std::make_pair(std::string("MsiGetSourcePath"), static_cast<DWORD>(ERROR_INVALID_HANDLE)));
}

TEST_F(SessionAccessTest, SecondCallFailureRaisesAndFreesTheBuffer) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("PRODUCTS", "3");
  Faults::Instance().Fail("MsiGetProperty", ERROR_FUNCTION_FAILED, 2);
  auto raised = Raised([&] { InstallGetProperty(hInstall, "PRODUCTS"); });
  EXPECT_EQ(raised, std::make_pair(std::string("MsiGetSourcePath"), static_cast<DWORD>(ERROR_FUNCTION_FAILED)));
}

TEST_F(SessionAccessTest, NullSessionFailsTheSizeQuery) {
  auto raised = Raised([&] { InstallGetProperty(0, "PRODUCTS"); });
  EXPECT_EQ(raised, std::make_pair(std::string("MsiGetSourcePath"), static_cast<DWORD>(ERROR_INVALID_HANDLE)));
}

TEST_F(SessionAccessTest, AllocationFailureRaisesRetWith14) {
  MSIHANDLE hInstall = OpenSession();
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  auto raised = Raised([&] { InstallGetProperty(hInstall, "PRODUCTS"); });
  EXPECT_EQ(raised, std::make_pair(std::string("ret"), static_cast<DWORD>(ERROR_OUTOFMEMORY)));
}

TEST_F(SessionAccessTest, RecordStringAndItsThreeFailureContexts) {
  MSIHANDLE hInstall = OpenSession();
  MSIHANDLE hRecord = MsiCreateRecord(2);
  MsiRecordSetString(hRecord, 2, "Memo");
  char* szValue = InstallGetRecordString(hInstall, hRecord, 2);
  EXPECT_STREQ(szValue, "Memo");
  InstallFreeString(szValue);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallGetRecordString -> 2",
                                                  "OV VRIN : InstallGetRecordString <- (Memo)"}));

  Faults::Instance().Fail("MsiRecordGetString", ERROR_INVALID_HANDLE);
  EXPECT_EQ(Raised([&] { InstallGetRecordString(hInstall, hRecord, 2); }).first,
            "InstallGetRecordString : MsiRecordGetString (1)");
  Faults::Instance().Fail("MsiRecordGetString", ERROR_FUNCTION_FAILED, 2);
  EXPECT_EQ(Raised([&] { InstallGetRecordString(hInstall, hRecord, 2); }).first,
            "InstallGetRecordString : MsiRecordGetString (2)");
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(Raised([&] { InstallGetRecordString(hInstall, hRecord, 2); }),
            std::make_pair(std::string("InstallGetRecordString : ret"), static_cast<DWORD>(ERROR_OUTOFMEMORY)));
  MsiCloseHandle(hRecord);
}

TEST_F(SessionAccessTest, SetPropertyWritesTheDecimalText) {
  MSIHANDLE hInstall = OpenSession();
  InstallSetProperty(hInstall, "NTSERVERUPGRADE", -12);
  EXPECT_EQ(Session().GetProperty("NTSERVERUPGRADE"), "-12");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallSetProperty -> NTSERVERUPGRADE = -12",
                                                  "OV VRIN : InstallSetProperty <-"}));
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(
      Raised([&] { InstallSetProperty(hInstall, "X", 1); }),
      std::make_pair(std::string("InstallSetProperty : MsiSetProperty"), static_cast<DWORD>(ERROR_FUNCTION_FAILED)));
}

TEST_F(SessionAccessTest, DeletePropertyRemovesItWithoutExitTrace) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("GUIREFCOUNTER", "1");
  InstallDeleteProperty(hInstall, "GUIREFCOUNTER");
  EXPECT_FALSE(Session().HasProperty("GUIREFCOUNTER"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : Deleting GUIREFCOUNTER"}));
  Faults::Instance().Fail("MsiSetProperty", ERROR_INVALID_HANDLE);
  EXPECT_EQ(Raised([&] { InstallDeleteProperty(hInstall, "ABORTREASON"); }).first,
            "InstallSetProperty : MsiSetProperty");
}

}  // namespace
