// Lookups in the package's tables: first rows, no rows, malformed keys,
// deferred execution, and no handle left behind after a failure.
#include <gtest/gtest.h>

#include <memory>

#include "host/faults.h"
#include "runtime/database_helpers.h"
#include "runtime/install_exception.h"
#include "runtime/session_access.h"
#include "tests/support/session_fixture.h"

namespace {

const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";

std::vector<std::string> PackageSql() {
  std::vector<std::string> sql = vrintest::ErrorTableSql({{1, "Failure [1]"}, {25001, "Folder [1] is in use"}});
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Server', '") +
                kServerComponent + "')");
  sql.push_back("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Alpha', 'Shared')");
  sql.push_back("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Beta', 'Shared')");
  sql.push_back(
      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
      "NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
      "SHORT NOT NULL PRIMARY KEY `File`)");
  sql.push_back(
      "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, `Sequence`) VALUES "
      "('skdnt.exe', 'Server', 'SKDNT.EXE|skdnt.exe', 1000, '7.1.2141.0', 1)");
  return sql;
}

class DatabaseHelpersTest : public vrintest::SessionTest {};

TEST_F(DatabaseHelpersTest, ComponentFeatureWithTraces) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  char* szFeature = InstallComponentGetFeature(hInstall, kServerComponent);
  EXPECT_STREQ(szFeature, "Server");
  InstallFreeString(szFeature);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.front(), std::string("OV VRIN : InstallComponentGetFeature -> ") + kServerComponent);
  EXPECT_EQ(lines.at(1), std::string("OV VRIN : InstallGetARecord -> SELECT `Feature_` FROM `FeatureComponents` "
                                     "WHERE `Component_` = '") +
                             kServerComponent + "'");
  EXPECT_EQ(lines.at(2), "OV VRIN : InstallGetARecord <-");
  EXPECT_EQ(lines.back(), "OV VRIN : InstallComponentGetFeature <- Server");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, ComponentUnderTwoFeaturesGivesTheFirstRowOfTheView) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  MSIHANDLE hView = 0;
  ASSERT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT `Feature_` FROM `FeatureComponents` WHERE `Component_` = 'Shared'",
                                &hView),
            0u);
  MsiViewExecute(hView, 0);
  MSIHANDLE hRow = 0;
  ASSERT_EQ(MsiViewFetch(hView, &hRow), 0u);
  char first[40];
  DWORD cch = sizeof(first);
  MsiRecordGetString(hRow, 1, first, &cch);
  for (MSIHANDLE h : {hRow, hView, hDatabase}) MsiCloseHandle(h);

  char* szFeature = InstallComponentGetFeature(hInstall, "Shared");
  EXPECT_STREQ(szFeature, first);
  InstallFreeString(szFeature);
}

TEST_F(DatabaseHelpersTest, ComponentInNoFeatureRaisesTheFetchFailure) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  auto raised = Raised([&] { InstallComponentGetFeature(hInstall, "Missing.Component"); });
  EXPECT_EQ(raised,
            std::make_pair(std::string("InstallGetARecord : MsiViewFetch"), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)));
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, KeyWithAQuoteFailsToOpenWithTheInstallersRecord) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  auto raised = Raised([&] { InstallComponentGetFeature(hInstall, "it's"); });
  EXPECT_EQ(raised, std::make_pair(std::string("InstallGetARecord : MsiDatabaseOpenView"), static_cast<DWORD>(0)));
  EXPECT_NE(RaisedDescription().find("SELECT `Feature_` FROM `FeatureComponents` WHERE `Component_` = 'it's'"),
            std::string::npos);
  EXPECT_EQ(OpenHandles(), 0);
}

// Queries of 255, 256, 257 and 10,000 characters into the 256-byte query:
// the one that fits is run whole; longer keys are refused, never cut.
class QueryLengthTest : public DatabaseHelpersTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(QueryLengthTest, RunWholeOrRefused) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  const std::string head = "SELECT `Feature_` FROM `FeatureComponents` WHERE `Component_` = '";
  const std::string key(GetParam() - head.size() - 1, 'k');
  auto raised = Raised([&] { InstallComponentGetFeature(hInstall, key.c_str()); });
  if (GetParam() <= 255) {
    EXPECT_EQ(raised,
              std::make_pair(std::string("InstallGetARecord : MsiViewFetch"), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)));
    EXPECT_EQ(LogLines().at(1), "OV VRIN : InstallGetARecord -> " + head + key + "'");
  } else {
    EXPECT_EQ(raised, std::make_pair(std::string("InstallComponentGetFeature : szQuery"),
                                     static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)));
  }
  EXPECT_EQ(OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(AroundTheQuery, QueryLengthTest, ::testing::Values(255, 256, 257, 10000));

TEST_F(DatabaseHelpersTest, DeferredExecutionHasNoDatabaseToAsk) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  Session().SetDeferred(true);
  EXPECT_EQ(Raised([&] { InstallComponentGetFeature(hInstall, kServerComponent); }).first,
            "InstallComponentGetFeature : MsiGetActiveDatabase");
  EXPECT_EQ(Raised([&] { InstallGetErrorFormat(hInstall, 25001); }).first,
            "InstallGetErrorFormat : MsiGetActiveDatabase");
}

TEST_F(DatabaseHelpersTest, SourceFileVersionMatchesTheStoredFileName) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  char* szVersion = InstallGetSourceFileVersion(hInstall, hDatabase, "SKDNT.EXE|skdnt.exe");
  EXPECT_STREQ(szVersion, "7.1.2141.0");
  InstallFreeString(szVersion);
  EXPECT_EQ(Raised([&] { InstallGetSourceFileVersion(hInstall, hDatabase, "skdnt.exe"); }).second,
            static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  MsiCloseHandle(hDatabase);
  EXPECT_EQ(LogLines().at(0), "OV VRIN : InstallGetSourceFileVersion -> SKDNT.EXE|skdnt.exe");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, GetARecordWithoutRecordPointerStillRunsAndRaises) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  EXPECT_NO_THROW(InstallGetARecord(hInstall, hDatabase, "SELECT `Message` FROM `Error` WHERE `Error` = 1", nullptr));
  EXPECT_EQ(Raised([&] {
              InstallGetARecord(hInstall, hDatabase, "SELECT `Message` FROM `Error` WHERE `Error` = 7", nullptr);
            }).second,
            static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  MsiCloseHandle(hDatabase);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, GetARecordExecuteFailureClosesTheView) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  host::Faults::Instance().Fail("MsiViewExecute", ERROR_FUNCTION_FAILED, 1, "SELECT `Message` FROM `Error`");
  MSIHANDLE hRecord = 99;
  EXPECT_EQ(
      Raised([&] { InstallGetARecord(hInstall, hDatabase, "SELECT `Message` FROM `Error`", &hRecord); }),
      std::make_pair(std::string("InstallGetARecord : MsiViewExecute"), static_cast<DWORD>(ERROR_FUNCTION_FAILED)));
  EXPECT_EQ(hRecord, 0u);
  MsiCloseHandle(hDatabase);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, FieldReadFailureClosesTheFetchedRecord) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  host::Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(Raised([&] { InstallGetErrorFormat(hInstall, 25001); }).first, "InstallGetRecordString : ret");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(DatabaseHelpersTest, ErrorFormatAndMissingRow) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  char* szMessage = InstallGetErrorFormat(hInstall, 25001);
  EXPECT_STREQ(szMessage, "Folder [1] is in use");
  InstallFreeString(szMessage);
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetErrorFormat <- Folder [1] is in use");
  EXPECT_EQ(Raised([&] { InstallGetErrorFormat(hInstall, 25002); }),
            std::make_pair(std::string("InstallGetARecord : MsiViewFetch"), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)));
}

TEST_F(DatabaseHelpersTest, SetWarningPutsInThePropertyValue) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("GUIINSTALLDIR", "C:\\Old Console");
  MSIHANDLE hRecord = MsiCreateRecord(1);
  MsiRecordSetString(hRecord, 0, "[1]");
  MsiRecordSetString(hRecord, 1, "Folder [GUIINSTALLDIR] is in use");
  char* szWarning = InstallSetWarning(hInstall, hRecord);
  EXPECT_STREQ(szWarning, "Folder C:\\Old Console is in use");
  InstallFreeString(szWarning);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallSetWarning ->",
                                                  "OV VRIN : InstallSetWarning <- Folder C:\\Old Console is in use"}));
  host::Faults::Instance().Fail("MsiFormatRecord", ERROR_INVALID_HANDLE);
  EXPECT_EQ(
      Raised([&] { InstallSetWarning(hInstall, hRecord); }),
      std::make_pair(std::string("InstallSetWarning : MsiFormatRecord"), static_cast<DWORD>(ERROR_INVALID_HANDLE)));
  MsiCloseHandle(hRecord);
}

}  // namespace
