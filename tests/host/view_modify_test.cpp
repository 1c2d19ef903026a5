// MsiViewModify with MSIMODIFY_INSERT_TEMPORARY and MSIMODIFY_DELETE on the
// session's read-only database: temporary rows live in the session's
// connection only, deletions go by primary key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/platform.h"
#include "host/session.h"
#include "tests/support/session_fixture.h"

namespace {

std::vector<std::string> ControlTableSql() {
  return {
      "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
      "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, "
      "`Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(255) LOCALIZABLE "
      "PRIMARY KEY `Dialog_`, `Control`)",
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('WarningDialog', 'Title', 'Text', 1, 2, 3, 4, 3, 'Warning')",
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('WarningDialog', 'WarningText', 'Text', 5, 6, 7, 8, 3, 'old')",
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('WarningDialog', 'OK', 'PushButton', 9, 10, 11, 12, 3, 'OK')",
      "CREATE TABLE `Dialog` (`Dialog` CHAR(72) NOT NULL, `Title` CHAR(128) PRIMARY KEY `Dialog`)",
      "INSERT INTO `Dialog` (`Dialog`, `Title`) VALUES ('WarningDialog', 'Warning')",
  };
}

class ViewModifyTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE OpenView(const char* sql) {
    if (hDatabase_ == 0) hDatabase_ = MsiGetActiveDatabase(hInstall_);
    MSIHANDLE hView = 0;
    EXPECT_EQ(MsiDatabaseOpenView(hDatabase_, sql, &hView), 0u) << sql;
    return hView;
  }
  // Field 2 of every row of the query, in order.
  std::vector<std::string> Column2(const char* sql) {
    MSIHANDLE hView = OpenView(sql);
    EXPECT_EQ(MsiViewExecute(hView, 0), 0u);
    std::vector<std::string> values;
    MSIHANDLE hRow = 0;
    while (MsiViewFetch(hView, &hRow) == ERROR_SUCCESS) {
      char buffer[256];
      DWORD cch = sizeof(buffer);
      MsiRecordGetString(hRow, 2, buffer, &cch);
      values.push_back(buffer);
      MsiCloseHandle(hRow);
    }
    MsiViewClose(hView);
    MsiCloseHandle(hView);
    return values;
  }
  MSIHANDLE ControlRecord(const char* control, const char* text) {
    MSIHANDLE hRecord = MsiCreateRecord(12);
    MsiRecordSetString(hRecord, 1, "WarningDialog");
    MsiRecordSetString(hRecord, 2, control);
    MsiRecordSetString(hRecord, 3, "Text");
    for (unsigned int field = 4; field <= 8; ++field) MsiRecordSetInteger(hRecord, field, static_cast<int>(field));
    MsiRecordSetString(hRecord, 10, text);
    return hRecord;
  }
  void TearDown() override {
    MsiCloseHandle(hDatabase_);
    SessionTest::TearDown();
  }
  MSIHANDLE hInstall_ = 0;
  MSIHANDLE hDatabase_ = 0;
};

TEST_F(ViewModifyTest, InsertTemporaryAddsARowTheSessionSees) {
  hInstall_ = OpenSession(ControlTableSql());
  MSIHANDLE hView = OpenView("SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'");
  // Text with quotes and braces, as the licence's Rich Text has.
  MSIHANDLE hRecord = ControlRecord("Memo", "{\\rtf1 it's \"quoted\"}");
  MsiRecordSetString(hRecord, 1, "LicenseAgreement");
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, hRecord), 0u) << "also before the view is executed";
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, hRecord), static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "the key exists now";
  MsiCloseHandle(hRecord);
  MsiCloseHandle(hView);
  EXPECT_EQ(Column2("SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'"),
            (std::vector<std::string>{"Memo"}));
  MSIHANDLE hRead = OpenView("SELECT `Text`, `Dialog_`, `Width`, `Property` FROM `Control` WHERE `Control` = 'Memo'");
  ASSERT_EQ(MsiViewExecute(hRead, 0), 0u);
  MSIHANDLE hRow = 0;
  ASSERT_EQ(MsiViewFetch(hRead, &hRow), 0u);
  char buffer[64];
  DWORD cch = sizeof(buffer);
  MsiRecordGetString(hRow, 1, buffer, &cch);
  EXPECT_STREQ(buffer, "{\\rtf1 it's \"quoted\"}");
  EXPECT_EQ(MsiRecordGetInteger(hRow, 3), 6);
  EXPECT_TRUE(MsiRecordIsNull(hRow, 4));
  MsiCloseHandle(hRow);
  MsiCloseHandle(hRead);
  EXPECT_EQ(OpenHandles(), 1) << "only the database handle";
}

TEST_F(ViewModifyTest, DeleteRemovesTheFetchedRowAndFetchingGoesOn) {
  hInstall_ = OpenSession(ControlTableSql());
  MSIHANDLE hView = OpenView("SELECT * FROM `Control` WHERE `Dialog_` = 'WarningDialog'");
  ASSERT_EQ(MsiViewExecute(hView, 0), 0u);
  std::vector<std::string> seen;
  MSIHANDLE hRow = 0;
  while (MsiViewFetch(hView, &hRow) == ERROR_SUCCESS) {
    char buffer[64];
    DWORD cch = sizeof(buffer);
    MsiRecordGetString(hRow, 2, buffer, &cch);
    seen.push_back(buffer);
    if (seen.back() != "OK") {
      EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_DELETE, hRow), 0u);
    }
    if (seen.back() == "Title") {
      EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_DELETE, hRow), static_cast<UINT>(ERROR_FUNCTION_FAILED))
          << "the row is gone already";
    }
    MsiCloseHandle(hRow);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Title", "WarningText", "OK"})) << "no row skipped after a deletion";
  // A new row, as VrinWarning inserts it through the same view.
  MSIHANDLE hRecord = ControlRecord("WarningText", "new");
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, hRecord), 0u);
  MsiCloseHandle(hRecord);
  MsiViewClose(hView);
  MsiCloseHandle(hView);
  EXPECT_EQ(Column2("SELECT * FROM `Control` ORDER BY `X`"), (std::vector<std::string>{"WarningText", "OK"}));
}

TEST_F(ViewModifyTest, DeleteNeedsThePrimaryKeyInTheView) {
  hInstall_ = OpenSession(ControlTableSql());
  MSIHANDLE hView = OpenView("SELECT `Control`, `Text` FROM `Control`");
  ASSERT_EQ(MsiViewExecute(hView, 0), 0u);
  MSIHANDLE hRow = 0;
  ASSERT_EQ(MsiViewFetch(hView, &hRow), 0u);
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_DELETE, hRow), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  MsiCloseHandle(hRow);
  MsiCloseHandle(hView);
  EXPECT_EQ(Column2("SELECT * FROM `Control`").size(), 3u);
}

TEST_F(ViewModifyTest, RefusedModesHandlesAndFaults) {
  hInstall_ = OpenSession(ControlTableSql());
  MSIHANDLE hView = OpenView("SELECT * FROM `Control`");
  MSIHANDLE hRecord = ControlRecord("Other", "x");
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_UPDATE, hRecord), static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "only the two modes the library uses";
  EXPECT_EQ(MsiViewModify(0, MSIMODIFY_INSERT_TEMPORARY, hRecord), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
  host::Faults::Instance().Fail("MsiViewModify", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, hRecord), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(Column2("SELECT * FROM `Control`").size(), 3u) << "a failed call inserts nothing";
  MsiRecordSetString(hRecord, 4, "not a number");
  EXPECT_EQ(MsiViewModify(hView, MSIMODIFY_INSERT_TEMPORARY, hRecord), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  MsiCloseHandle(hRecord);
  MsiCloseHandle(hView);
  // A view over two tables has no one table to change.
  MSIHANDLE hJoin = OpenView(
      "SELECT `Control`.`Control`, `Dialog`.`Title` FROM `Control`, `Dialog` WHERE `Control`.`Dialog_` = "
      "`Dialog`.`Dialog`");
  ASSERT_EQ(MsiViewExecute(hJoin, 0), 0u);
  MSIHANDLE hRow = 0;
  ASSERT_EQ(MsiViewFetch(hJoin, &hRow), 0u);
  EXPECT_EQ(MsiViewModify(hJoin, MSIMODIFY_DELETE, hRow), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  MsiCloseHandle(hRow);
  MsiCloseHandle(hJoin);
  EXPECT_EQ(Column2("SELECT * FROM `Control`").size(), 3u);
}

TEST_F(ViewModifyTest, MalformedQueriesStillFailToOpenWithAnErrorRecord) {
  hInstall_ = OpenSession(ControlTableSql());
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall_);
  MSIHANDLE hView = 0;
  EXPECT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT * FROM `Control` WHERE `Control` = 'it's'", &hView),
            static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  MSIHANDLE hError = MsiGetLastErrorRecord();
  EXPECT_NE(hError, 0u);
  MsiCloseHandle(hError);
  MsiCloseHandle(hDatabase);
}

}  // namespace
