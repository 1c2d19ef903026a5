// The simulated installer's contracts that the library relies on.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "host/faults.h"
#include "host/handles.h"
#include "host/platform.h"
#include "host/session.h"
#include "tests/support/session_fixture.h"

namespace {

class MsiApiTest : public vrintest::SessionTest {};

// libmsi keeps a descriptor of each database file it opened; a sweep or a
// fuzzer opens thousands of packages and sessions in one process.
TEST_F(MsiApiTest, PackagesAndSessionsLeaveNoDescriptorOpen) {
  auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
  };
  OpenSession({});  // the first package sets up what libmsi keeps for good
  const auto before = descriptors();
  for (int i = 0; i < 20; ++i) {
    auto package = host::Package::FromSql(vrintest::ErrorTableSql({}));
    host::Session::Open(package)->Close();
  }
  EXPECT_EQ(descriptors(), before);
}

TEST_F(MsiApiTest, SizeQueryContract) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("NAME", "value");
  char buffer[16] = "xxxxxxxxxxxxxxx";
  DWORD cch = 0;
  EXPECT_EQ(MsiGetProperty(hInstall, "NAME", buffer, &cch), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(cch, 5u);
  EXPECT_EQ(buffer[0], 'x') << "a count of 0 writes nothing";
  cch = 3;
  EXPECT_EQ(MsiGetProperty(hInstall, "NAME", buffer, &cch), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_STREQ(buffer, "va");
  cch = 6;
  EXPECT_EQ(MsiGetProperty(hInstall, "NAME", buffer, &cch), 0u);
  EXPECT_STREQ(buffer, "value");
  EXPECT_EQ(cch, 5u);
  cch = 0;
  EXPECT_EQ(MsiGetProperty(hInstall, "UNSET", buffer, &cch), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(cch, 0u);
}

TEST_F(MsiApiTest, EmptyValueRemovesAProperty) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_EQ(MsiSetProperty(hInstall, "NAME", "v"), 0u);
  EXPECT_TRUE(Session().HasProperty("NAME"));
  EXPECT_EQ(MsiSetProperty(hInstall, "NAME", ""), 0u);
  EXPECT_FALSE(Session().HasProperty("NAME"));
  EXPECT_EQ(MsiSetProperty(0, "NAME", "v"), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(MsiApiTest, QueryRowsAndTheEndOfRows) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  MSIHANDLE hView = 0;
  ASSERT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT `Error`, `Message` FROM `Error` ORDER BY `Error`", &hView), 0u);
  MSIHANDLE hRow = 0;
  EXPECT_EQ(MsiViewFetch(hView, &hRow), static_cast<UINT>(ERROR_FUNCTION_FAILED)) << "fetch before execute";
  ASSERT_EQ(MsiViewExecute(hView, 0), 0u);
  ASSERT_EQ(MsiViewFetch(hView, &hRow), 0u);
  EXPECT_EQ(MsiRecordGetInteger(hRow, 1), 2);
  MsiCloseHandle(hRow);
  ASSERT_EQ(MsiViewFetch(hView, &hRow), 0u);
  MsiCloseHandle(hRow);
  EXPECT_EQ(MsiViewFetch(hView, &hRow), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(MsiViewClose(hView), 0u);
  MsiCloseHandle(hView);
  MsiCloseHandle(hDatabase);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(MsiApiTest, ParameterMarkerWithoutRecordIsRefused) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  MSIHANDLE hView = 0;
  ASSERT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT `Message` FROM `Error` WHERE `Error` = ?", &hView), 0u);
  EXPECT_NE(MsiViewExecute(hView, 0), 0u);
  MSIHANDLE hParameters = MsiCreateRecord(1);
  MsiRecordSetInteger(hParameters, 1, 4);
  ASSERT_EQ(MsiViewExecute(hView, hParameters), 0u);
  MSIHANDLE hRow = 0;
  ASSERT_EQ(MsiViewFetch(hView, &hRow), 0u);
  char buffer[32];
  DWORD cch = sizeof(buffer);
  EXPECT_EQ(MsiRecordGetString(hRow, 1, buffer, &cch), 0u);
  EXPECT_STREQ(buffer, "Info [1]. ");
  for (MSIHANDLE h : {hRow, hParameters, hView, hDatabase}) MsiCloseHandle(h);
}

TEST_F(MsiApiTest, DeferredSessionHasNoActiveDatabase) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetDeferred(true);
  EXPECT_EQ(MsiGetActiveDatabase(hInstall), 0u);
  EXPECT_EQ(MsiGetActiveDatabase(0), 0u);
}

TEST_F(MsiApiTest, HandlesAreCountedAndClosedOnce) {
  MSIHANDLE hRecord = MsiCreateRecord(1);
  EXPECT_EQ(host::HandleTable::Instance().OpenCount(host::HandleKind::kRecord), 1);
  EXPECT_EQ(MsiCloseHandle(hRecord), 0u);
  EXPECT_EQ(MsiCloseHandle(hRecord), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiCloseHandle(0), 0u);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(MsiApiTest, FormatRecordGroupsAndFields) {
  MSIHANDLE hRecord = MsiCreateRecord(3);
  MsiRecordSetString(hRecord, 0, "Error [1]: [2]{, [3]}{, [4]}");
  MsiRecordSetInteger(hRecord, 1, 1603);
  MsiRecordSetString(hRecord, 2, "two");
  char buffer[64];
  DWORD cch = sizeof(buffer);
  EXPECT_EQ(MsiFormatRecord(0, hRecord, buffer, &cch), 0u);
  EXPECT_STREQ(buffer, "Error 1603: two");
  MsiRecordSetString(hRecord, 3, "three");
  cch = sizeof(buffer);
  MsiFormatRecord(0, hRecord, buffer, &cch);
  EXPECT_STREQ(buffer, "Error 1603: two, three");
  MsiRecordSetString(hRecord, 0, nullptr);
  cch = sizeof(buffer);
  MsiFormatRecord(0, hRecord, buffer, &cch);
  EXPECT_STREQ(buffer, "1: 1603 2: two 3: three ");
  MsiCloseHandle(hRecord);
}

TEST_F(MsiApiTest, SystemMessagesKeepTheirLineBreak) {
  char buffer[128];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 160, 0, buffer,
                                sizeof(buffer), nullptr);
  EXPECT_EQ(std::string(buffer, length), "One or more arguments are not correct.\r\n");
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 160, 0, buffer, 10, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x7FFF1234, 0, buffer, sizeof(buffer), nullptr), 0u);
}

TEST_F(MsiApiTest, FaultFailsTheNthCallForAKey) {
  MSIHANDLE hInstall = OpenSession();
  host::Faults::Instance().Fail("MsiSetProperty", 5, 2, "B");
  EXPECT_EQ(MsiSetProperty(hInstall, "A", "1"), 0u);
  EXPECT_EQ(MsiSetProperty(hInstall, "B", "1"), 0u);
  EXPECT_EQ(MsiSetProperty(hInstall, "b", "1"), 5u) << "keys match case-insensitively";
  EXPECT_EQ(MsiSetProperty(hInstall, "B", "1"), 0u);
  EXPECT_EQ(host::Faults::Instance().CallCounts().at("MsiSetProperty"), 4);
}

}  // namespace
