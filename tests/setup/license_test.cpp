// The licence-agreement control: the Rich Text built from the licence file,
// inserted once as a temporary Control row; and the licence folder and
// readme launch beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/shell.h"
#include "setup/license.h"
#include "setup/readme.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::Files;
using Lines = std::vector<std::string>;

const char kLicenseFile[] = "C:\\Setup\\1033\\license.txt";
const std::string kHeader =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f1\\froman\\fcharset2 Symbol;}"
    "{\\f2\\froman Times New Roman;}}\n{\\colortbl\\red0\\green0\\blue0;}\n\\deflang2057\\pard\\plain\\f0\\fs16 ";
const std::string kTrailer = "\n\\par }";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context;
}

struct ControlRow {
  std::string control, type, text;
  std::vector<int> geometry;  // X, Y, Width, Height, Attributes
  bool propertyNull = false;
};

std::vector<std::string> PackageSql(const char* szExistingControl) {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
      "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, "
      "`Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(255) LOCALIZABLE "
      "PRIMARY KEY `Dialog_`, `Control`)");
  sql.push_back(
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('LicenseAgreement', 'Accept', 'RadioButtonGroup', 1, 2, 3, 4, 3, 'Accept')");
  // A Memo of another dialog does not count for the licence dialog.
  sql.push_back(
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('ReadmeDialog', 'Memo', 'ScrollableText', 1, 2, 3, 4, 3, 'readme')");
  if (szExistingControl != nullptr) {
    sql.push_back(
        std::string("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, "
                    "`Text`) VALUES ('LicenseAgreement', '") +
        szExistingControl + "', 'ScrollableText', 1, 2, 3, 4, 3, 'package text')");
  }
  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('GUIFOLDER', "
      "'TARGETDIR', 'Console')");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('LICENSEFOLDER', "
      "'TARGETDIR', 'Licence')");
  return sql;
}

class LicenseTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open(const char* szExistingControl = nullptr) {
    hInstall_ = OpenSession(PackageSql(szExistingControl));
    Session().SetSourcePath("UnCompressedFolder", "C:\\Setup\\");
    Session().SetProperty("LICENSE", ".\\1033\\license.txt");
    libraryBlocks_ = host::LibraryAllocationCount();
    return hInstall_;
  }

  void TearDown() override {
    EXPECT_EQ(OpenHandles(), 0);
    EXPECT_EQ(Files().OpenFileHandles(), 0);
    EXPECT_EQ(host::LibraryAllocationCount(), libraryBlocks_) << "a string or buffer was not freed";
    SessionTest::TearDown();
  }

  // The licence dialog's rows as the session sees them, temporary ones too.
  std::vector<ControlRow> LicenseRows() {
    std::vector<ControlRow> rows;
    MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall_);
    MSIHANDLE hView = 0;
    EXPECT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'", &hView),
              0u);
    EXPECT_EQ(MsiViewExecute(hView, 0), 0u);
    MSIHANDLE hRow = 0;
    while (MsiViewFetch(hView, &hRow) == ERROR_SUCCESS) {
      ControlRow row;
      row.control = Field(hRow, 2);
      row.type = Field(hRow, 3);
      row.text = Field(hRow, 10);
      for (unsigned int field = 4; field <= 8; ++field) row.geometry.push_back(MsiRecordGetInteger(hRow, field));
      row.propertyNull = MsiRecordIsNull(hRow, 9) && MsiRecordIsNull(hRow, 11) && MsiRecordIsNull(hRow, 12);
      rows.push_back(row);
      MsiCloseHandle(hRow);
    }
    MsiCloseHandle(hView);
    MsiCloseHandle(hDatabase);
    return rows;
  }

  // The text of the inserted Memo control; empty with a failure if there is
  // not exactly one.
  std::string MemoText() {
    std::string text;
    int found = 0;
    for (const ControlRow& row : LicenseRows()) {
      if (row.control == "Memo") {
        ++found;
        text = row.text;
      }
    }
    EXPECT_EQ(found, 1);
    return text;
  }

  Lines Errors() const {
    Lines found;
    for (const std::string& line : LogLines()) {
      if (line.rfind("ERR: ", 0) == 0) found.push_back(line);
    }
    return found;
  }

  static std::string Field(MSIHANDLE hRow, unsigned int field) {
    DWORD cch = 0;
    char empty[1] = {};
    MsiRecordGetString(hRow, field, empty, &cch);
    std::string value(cch + 1, '\0');
    ++cch;
    MsiRecordGetString(hRow, field, &value[0], &cch);
    value.resize(cch);
    return value;
  }

  MSIHANDLE hInstall_ = 0;
  size_t libraryBlocks_ = 0;
};

// --- VrinNameLicense: the Rich Text ---

TEST_F(LicenseTest, CrLfLinesGetAParagraphMarkAfterEachLineFeed) {
  Open();
  Files().AddFile(kLicenseFile, "First line\r\nSecond {\\b line}");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), kHeader + "First line\r\n\\par Second {\\b line}" + kTrailer);
  EXPECT_EQ(Session().GetProperty("LICENSEFILE"), "C:\\Setup\\.\\1033\\license.txt");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(LogLines().back(), Trace("VrinNameLicense <- [0]"));
}

TEST_F(LicenseTest, LfOnlyLinesAreMarkedTheSameWay) {
  Open();
  Files().AddFile(kLicenseFile, "a\nb\n\nc\n");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), kHeader + "a\n\\par b\n\\par \n\\par c\n\\par " + kTrailer);
}

TEST_F(LicenseTest, EmptyFileGivesHeaderAndTrailer) {
  Open();
  Files().AddFile(kLicenseFile, "");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), kHeader + kTrailer);
}

TEST_F(LicenseTest, NulByteEndsTheText) {
  Open();
  Files().AddFile(kLicenseFile, std::string("kept\r\nalso\0dropped\n\n\n", 20));
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), kHeader + "kept\r\n\\par also" + kTrailer);
}

TEST_F(LicenseTest, HighBytesAreCopiedUnchanged) {
  Open();
  Files().AddFile(kLicenseFile, "Gr\xfc\xdf\x65 \x93quoted\x94");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), kHeader + "Gr\xfc\xdf\x65 \x93quoted\x94" + kTrailer);
}

TEST_F(LicenseTest, TheRowHasTheDialogsGeometry) {
  Open();
  Files().AddFile(kLicenseFile, "x");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  std::vector<ControlRow> rows = LicenseRows();
  ASSERT_EQ(rows.size(), 2u);
  const ControlRow& memo = rows[0].control == "Memo" ? rows[0] : rows[1];
  EXPECT_EQ(memo.control, "Memo");
  EXPECT_EQ(memo.type, "ScrollableText");
  EXPECT_EQ(memo.geometry, (std::vector<int>{8, 55, 358, 130, 7}));
  EXPECT_TRUE(memo.propertyNull);
}

// --- VrinNameLicense: once per session ---

TEST_F(LicenseTest, RunningTwiceInsertsOnceAndReadsTheFileOnce) {
  Open();
  Files().AddFile(kLicenseFile, "text");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  Files().Unlink(kLicenseFile);
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u) << "the second run must not read the file";
  EXPECT_EQ(MemoText(), kHeader + "text" + kTrailer);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(LicenseTest, MemoOfThePackageIsKeptAndTheFileNotRead) {
  Open("Memo");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(MemoText(), "package text");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(LicenseTest, AControlNamedInOtherLetterCaseDoesNotCount) {
  Open("memo");
  Files().AddFile(kLicenseFile, "text");
  EXPECT_EQ(VrinNameLicense(hInstall_), 0u);
  EXPECT_EQ(LicenseRows().size(), 3u);
  EXPECT_EQ(MemoText(), kHeader + "text" + kTrailer);
}

// --- VrinNameLicense: failures ---

TEST_F(LicenseTest, NullSessionIsRefusedWith6AndFails) {
  EXPECT_EQ(VrinNameLicense(0), 1603u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinNameLicense ->\r\n"
            "OV VRIN : VrinNameLicense : 6\r\n\r\nCONTEXT = VrinNameLicense : hInstall\r\n"
            "DESCRIPTION = The handle is invalid.\r\n\r\n"
            "OV VRIN : VrinNameLicense <- [1603]\r\n");
}

TEST_F(LicenseTest, MissingLicenceFileFailsWithNothingInserted) {
  Open();
  EXPECT_EQ(VrinNameLicense(hInstall_), 1603u);
  EXPECT_EQ(LicenseRows().size(), 1u);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind(Report("VrinNameLicense", 3, "InstallReadFile : CreateFile"), 0), 0u) << Errors()[0];
}

TEST_F(LicenseTest, LicencePathTooLongForTheSourceFolderFails) {
  Open();
  Session().SetProperty("LICENSE", std::string(300, 'x'));
  EXPECT_EQ(VrinNameLicense(hInstall_), 1603u);
  EXPECT_FALSE(Session().HasProperty("LICENSEFILE"));
  EXPECT_EQ(Errors().at(0).rfind(Report("VrinNameLicense", 206, "InstallMakePath"), 0), 0u);
}

TEST_F(LicenseTest, RefusedInsertFailsAndReleasesEverything) {
  Open();
  Files().AddFile(kLicenseFile, "text");
  Faults::Instance().Fail("MsiViewModify", ERROR_FUNCTION_FAILED, 1);
  EXPECT_EQ(VrinNameLicense(hInstall_), 1603u);
  EXPECT_EQ(LicenseRows().size(), 1u);
  EXPECT_EQ(Errors().at(0).rfind(Report("VrinNameLicense", 1627, "VrinNameLicense : MsiViewModify"), 0), 0u);
}

TEST_F(LicenseTest, ARecordThatCannotBeMadeFailsTheInsert) {
  Open();
  Files().AddFile(kLicenseFile, "text");
  Faults::Instance().Fail("MsiCreateRecord", 0, 1, "12");
  EXPECT_EQ(VrinNameLicense(hInstall_), 1603u);
  EXPECT_EQ(LicenseRows().size(), 1u);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind(Report("VrinNameLicense", 6, "VrinNameLicense : MsiViewModify"), 0), 0u) << Errors()[0];
}

TEST_F(LicenseTest, EveryFailedAllocationFailsCleanlyOneOfThemTheRichText) {
  bool bSawRichText = false;
  for (int nth = 1; nth < 60; ++nth) {
    Open();
    Files().AddFile(kLicenseFile, "text\n");
    Faults::Instance().Clear();
    Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, nth);
    UINT uResult = VrinNameLicense(hInstall_);
    Faults::Instance().Clear();
    EXPECT_EQ(host::LibraryAllocationCount(), libraryBlocks_) << "allocation " << nth;
    if (uResult == ERROR_SUCCESS) {
      ASSERT_GT(nth, 5) << "the action makes more allocations than that";
      break;
    }
    EXPECT_EQ(uResult, 1603u);
    EXPECT_EQ(LicenseRows().size(), 1u);
    if (Errors().at(0).rfind(Report("VrinNameLicense", 14, "VrinNameLicense : szRTF"), 0) == 0) bSawRichText = true;
  }
  EXPECT_TRUE(bSawRichText);
}

TEST_F(LicenseTest, QueryFailureIsReportedWithTheInstallersRecord) {
  Open();
  Faults::Instance().Fail("MsiDatabaseOpenView", ERROR_BAD_QUERY_SYNTAX, 1,
                          "SELECT * FROM `Control` WHERE `Dialog_` = 'LicenseAgreement'");
  EXPECT_EQ(VrinNameLicense(hInstall_), 1603u);
  EXPECT_EQ(Errors().at(0).rfind("ERR: OV VRIN : VrinNameLicense : 0\r\n\r\nCONTEXT = VrinNameLicense : "
                                 "MsiDatabaseOpenView",
                                 0),
            0u)
      << Errors().at(0);
}

// --- VrinReadMeLicenseInstall ---

TEST_F(LicenseTest, LicenceFolderFollowsTheConsole) {
  Open();
  Session().SetTargetPath("GUIFOLDER", "D:\\Velmora\\Console\\");
  EXPECT_EQ(VrinReadMeLicenseInstall(hInstall_), 0u);
  EXPECT_EQ(Session().TargetPath("LICENSEFOLDER"), "D:\\Velmora\\Console\\");
  EXPECT_EQ(LogLines().at(3), Trace("Set <LICENSEFOLDER> = D:\\Velmora\\Console\\"));
}

TEST_F(LicenseTest, RefusedLicenceFolderIsReportedAndGoesOn) {
  Open();
  Faults::Instance().Fail("MsiSetTargetPath", ERROR_DIRECTORY, 1, "LICENSEFOLDER");
  EXPECT_EQ(VrinReadMeLicenseInstall(hInstall_), 0u);
  EXPECT_EQ(Session().TargetPath("LICENSEFOLDER"), "C:\\Licence\\");
  EXPECT_EQ(
      Errors().at(0).rfind(Report("VrinReadMeLicenseInstall", 267, "VrinReadMeLicenseInstall : MsiSetTargetPath"), 0),
      0u);
  EXPECT_EQ(VrinReadMeLicenseInstall(0), 0u);
}

// --- VrinLaunchReadMe ---

TEST_F(LicenseTest, ReadmeIsOpenedFromTheSourceFolder) {
  Open();
  Files().AddFile("C:\\Setup\\readme.txt", "read me");
  host::Shell::Instance().Associate(".txt", "C:\\WINDOWS\\notepad.exe");
  Session().SetProperty("READMEFILE", "readme.txt");
  EXPECT_EQ(VrinLaunchReadMe(hInstall_), 0u);
  ASSERT_EQ(host::Shell::Instance().Launched().size(), 1u);
  EXPECT_EQ(host::Shell::Instance().Launched()[0].directory, "C:\\Setup");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(LicenseTest, ReadmeTheShellCannotOpenIsReportedAndGoesOn) {
  Open();
  EXPECT_EQ(VrinLaunchReadMe(hInstall_), 0u);
  EXPECT_TRUE(host::Shell::Instance().Launched().empty());
  EXPECT_EQ(Errors().at(0).rfind(Report("VrinLaunchReadMe", 2, "InstallLaunch : ShellExecute"), 0), 0u)
      << Errors().at(0);
  EXPECT_EQ(VrinLaunchReadMe(0), 0u);
}

}  // namespace
