// The failure objects: descriptions from the system and from installer
// error records, and the short and long report forms.
#include <gtest/gtest.h>

#include <memory>

#include "runtime/install_exception.h"
#include "tests/support/session_fixture.h"

namespace {

class ExceptionTest : public vrintest::SessionTest {};

TEST_F(ExceptionTest, SystemTextFillsTheDescriptionAndTheLongReport) {
  MSIHANDLE hInstall = OpenSession();
  CInstallException e("InstallReadFile : CreateFile", ERROR_ACCESS_DENIED);
  EXPECT_STREQ(e.m_szDescription, "Access is denied.\r\n");
  e.Report(hInstall, "VrinNameLicense");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinNameLicense : 5\r\n\r\nCONTEXT = InstallReadFile : "
                                                  "CreateFile\r\nDESCRIPTION = Access is denied.\r\n"}));
}

TEST_F(ExceptionTest, ErrorZeroGivesTheShortReport) {
  MSIHANDLE hInstall = OpenSession();
  CInstallException e("VrinTest : Something", 0);
  EXPECT_STREQ(e.m_szDescription, "");
  e.Report(hInstall, "VrinTest");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinTest : 0\r\n\r\nCONTEXT = VrinTest : Something"}));
}

TEST_F(ExceptionTest, NumberTheSystemDoesNotKnowGivesTheShortReport) {
  CInstallException e("VrinTest : Something", 0x7FFF1234);
  EXPECT_STREQ(e.m_szDescription, "");
}

TEST_F(ExceptionTest, MsiExceptionWithoutRecordReportsZeroAndContextOnly) {
  MSIHANDLE hInstall = OpenSession();
  CInstallMsiException e("VrinNameLicense : MsiGetActiveDatabase", 0);
  e.Report(hInstall, "VrinNameLicense");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNameLicense : 0\r\n\r\nCONTEXT = VrinNameLicense : MsiGetActiveDatabase"}));
}

TEST_F(ExceptionTest, RecordWithoutTemplateGetsTheErrorTemplateAndIsClosed) {
  MSIHANDLE hRecord = MsiCreateRecord(4);
  MsiRecordSetInteger(hRecord, 1, 2251);
  MsiRecordSetString(hRecord, 2, "");
  MsiRecordSetString(hRecord, 3, "SELECT x");
  CInstallMsiException e("VrinTest : MsiDatabaseOpenView", hRecord);
  EXPECT_EQ(e.m_dwError, 0u);
  // An empty field 2 is still printed; empty fields 4 and 5 drop their groups.
  EXPECT_STREQ(e.m_szDescription, "Error 2251: , SELECT x");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(ExceptionTest, RecordWithItsOwnTemplateKeepsIt) {
  MSIHANDLE hRecord = MsiCreateRecord(2);
  MsiRecordSetString(hRecord, 0, "Table [2] is missing ([1])");
  MsiRecordSetInteger(hRecord, 1, 2228);
  MsiRecordSetString(hRecord, 2, "Control");
  CInstallMsiException e("VrinTest : MsiDatabaseOpenView", hRecord);
  EXPECT_STREQ(e.m_szDescription, "Table Control is missing (2228)");
}

TEST_F(ExceptionTest, DescriptionLongerThanItsBufferIsCut) {
  MSIHANDLE hRecord = MsiCreateRecord(2);
  MsiRecordSetInteger(hRecord, 1, 2251);
  MsiRecordSetString(hRecord, 2, std::string(5000, 'q').c_str());
  CInstallMsiException e("VrinTest : MsiDatabaseOpenView", hRecord);
  EXPECT_EQ(strlen(e.m_szDescription), kInstallDescriptionSize - 1);
  EXPECT_EQ(std::string(e.m_szDescription).substr(0, 12), "Error 2251: ");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(ExceptionTest, RaiseMsiTakesTheLastErrorRecord) {
  MSIHANDLE hInstall = OpenSession();
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  MSIHANDLE hView = 0;
  ASSERT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT * FROM `NoSuchTable`", &hView),
            static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  MsiCloseHandle(hDatabase);
  try {
    InstallRaiseMsi("VrinTest : MsiDatabaseOpenView");
  } catch (CInstallException* e) {
    std::unique_ptr<CInstallException> owned(e);
    EXPECT_NE(dynamic_cast<CInstallMsiException*>(e), nullptr);
    EXPECT_STREQ(e->m_szDescription, "Error 2251: , SELECT * FROM `NoSuchTable`");
  }
  EXPECT_EQ(MsiGetLastErrorRecord(), 0u) << "the record is taken once";
  EXPECT_EQ(OpenHandles(), 0);
}

}  // namespace
