// Warnings for the WarningDialog and the installer's message boxes of the
// standalone setup.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/user_interface.h"
#include "setup/dialogs.h"
#include "tests/support/session_fixture.h"

namespace {

using host::UserInterface;
using host::Windows;

const char kFolderInUse[] = "[1] is installed already: its folder stays.";
const char kNothingToInstall[] = "Select a feature to install.";
const char kFolderFixed[] = "[1] keeps its folder.";

std::vector<std::string> PackageSql() {
  std::vector<std::string> sql = vrintest::RowMarkersSql({{25001, kFolderInUse},
                                                          {25002, kNothingToInstall},
                                                          {25004, kFolderFixed},
                                                          {25100, "Velmora needs a newer system."},
                                                          {25101, "Close the console first."}});
  const std::vector<std::string> tables = {
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)",
      "INSERT INTO `Feature` (`Feature`, `Title`, `Description`, `Level`, `Attributes`) VALUES ('gui', 'Console', "
      "'The management console', 1, 0)",
      "INSERT INTO `Feature` (`Feature`, `Title`, `Description`, `Level`, `Attributes`) VALUES ('NTServer', "
      "'Server', 'The backup agent', 1, 0)",
      "INSERT INTO `Feature` (`Feature`, `Title`, `Description`, `Level`, `Attributes`) VALUES ('NWServer', "
      "'NetWare agent', 'The NetWare agent', 1, 0)",
      "INSERT INTO `Feature` (`Feature`, `Title`, `Description`, `Level`, `Attributes`) VALUES ('Docs', "
      "'Documents', 'Manuals', 1, 0)",
      "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
      "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, "
      "`Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(255) LOCALIZABLE "
      "PRIMARY KEY `Dialog_`, `Control`)",
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('WarningDialog', 'OK', 'PushButton', 9, 10, 11, 12, 3, 'OK')",
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
      "VALUES ('OtherDialog', 'WarningText', 'Text', 1, 1, 1, 1, 3, 'other')",
  };
  sql.insert(sql.end(), tables.begin(), tables.end());
  return sql;
}

class SetupDialogsTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open() { return hInstall_ = OpenSession(PackageSql()); }

  // The lines of the log that start with the text.
  std::vector<std::string> LinesStarting(const std::string& start) const {
    std::vector<std::string> found;
    for (const auto& line : LogLines()) {
      if (line.rfind(start, 0) == 0) found.push_back(line);
    }
    return found;
  }
  bool Logged(const std::string& line) const {
    auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  // The rows of WarningDialog's controls as "Control|Type|X|Y|W|H|Attr|Property|Text|Next|Help".
  std::vector<std::string> WarningDialogControls() {
    MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall_);
    MSIHANDLE hView = 0;
    EXPECT_EQ(MsiDatabaseOpenView(hDatabase, "SELECT * FROM `Control` WHERE `Dialog_` = 'WarningDialog'", &hView), 0u);
    EXPECT_EQ(MsiViewExecute(hView, 0), 0u);
    std::vector<std::string> rows;
    MSIHANDLE hRecord = 0;
    while (MsiViewFetch(hView, &hRecord) == ERROR_SUCCESS) {
      std::string row;
      for (UINT field = 2; field <= 12; ++field) {
        char buffer[256] = {};
        DWORD cch = sizeof(buffer);
        MsiRecordGetString(hRecord, field, buffer, &cch);
        row += (field > 2 ? "|" : "") + std::string(MsiRecordIsNull(hRecord, field) ? "<null>" : buffer);
      }
      rows.push_back(row);
      MsiCloseHandle(hRecord);
    }
    MsiViewClose(hView);
    MsiCloseHandle(hView);
    MsiCloseHandle(hDatabase);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  MSIHANDLE hInstall_ = 0;
};

// ---- VrinDisableChangeFolder

TEST_F(SetupDialogsTest, InstalledConsoleKeepsItsFolderWhateverTheKeyCase) {
  Open();
  Session().SetProperty("FEATUREDESCRIPTION", "The management console");
  Session().SetProperty("GUIINSTALLDIR", "C:\\Velmora\\Console\\");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "Console is installed already: its folder stays.");
  EXPECT_TRUE(LinesStarting("ERR: ").empty());
  EXPECT_EQ(LogLines().front(), "OV VRIN : VrinDisableChangeFolder ->");
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinDisableChangeFolder <- [0]");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(SetupDialogsTest, ServerWithoutAnInstalledFolderRemovesTheWarning) {
  Open();
  Session().SetProperty("FEATUREDESCRIPTION", "The backup agent");
  Session().SetProperty("GUIINSTALLDIR", "C:\\Velmora\\Console\\");  // the console's folder is no matter here
  Session().SetProperty("WARNINGTEXT", "stale");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT"));

  Session().SetProperty("NTSERVERINSTALLDIR", "C:\\Velmora\\");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "Server is installed already: its folder stays.");
}

TEST_F(SetupDialogsTest, FixedFolderFeaturesAlwaysWarnAndOthersNever) {
  Open();
  Session().SetProperty("FEATUREDESCRIPTION", "The NetWare agent");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "NetWare agent keeps its folder.");

  Session().SetProperty("FEATUREDESCRIPTION", "Manuals");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT"));

  Session().SetProperty("WARNINGTEXT", "kept?");
  Session().SetProperty("FEATUREDESCRIPTION", "");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT")) << "no description: no warning";
}

TEST_F(SetupDialogsTest, UnknownDescriptionIsReportedAndTheWarningStays) {
  Open();
  Session().SetProperty("FEATUREDESCRIPTION", "Nothing like it");
  Session().SetProperty("WARNINGTEXT", "earlier");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "earlier");
  EXPECT_TRUE(
      Logged("ERR: OV VRIN : VrinDisableChangeFolder : 259\r\n\r\nCONTEXT = VrinDisableChangeFolder : "
             "MsiViewFetch\r\nDESCRIPTION = No more data is available.\r\n"))
      << ::testing::PrintToString(LogLines());
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(SetupDialogsTest, DescriptionsThatCannotBeQuotedOrDoNotFitAreRefused) {
  Open();
  Session().SetProperty("WARNINGTEXT", "earlier");
  Session().SetProperty("FEATUREDESCRIPTION", "x' OR `Feature` = 'NWServer");
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "earlier") << "the apostrophe must not select another row";
  EXPECT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("CONTEXT = VrinDisableChangeFolder : szQuery"), std::string::npos);

  Session().SetProperty("FEATUREDESCRIPTION", std::string(200, 'd'));
  EXPECT_EQ(VrinDisableChangeFolder(hInstall_), 0u);
  ASSERT_EQ(LinesStarting("ERR: ").size(), 2u);
  EXPECT_NE(LinesStarting("ERR: ")[1].find("OV VRIN : VrinDisableChangeFolder : 122\r\n"), std::string::npos);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), "earlier");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(SetupDialogsTest, DisableChangeFolderRefusesANullSession) {
  Open();
  EXPECT_EQ(VrinDisableChangeFolder(0), 0u);
  std::string out = TakeStdout();
  EXPECT_NE(out.find("CONTEXT = VrinDisableChangeFolder : hInstall"), std::string::npos) << out;
}

// ---- VrinNothingToInstall

TEST_F(SetupDialogsTest, NoFeatureSelectedPutsTheWarningUnformatted) {
  Open();
  Session().SetFeatureState("NTServer", INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT);
  Session().SetFeatureState("GUI", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(VrinNothingToInstall(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("WARNINGTEXT"), kNothingToInstall);
  EXPECT_TRUE(LinesStarting("ERR: ").empty());
  EXPECT_TRUE(LinesStarting("WARN: ").empty());
}

TEST_F(SetupDialogsTest, ServerToBeInstalledRemovesTheWarningWithAnErrorLine) {
  Open();
  Session().SetProperty("WARNINGTEXT", "earlier");
  Session().SetFeatureState("NTServer", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  EXPECT_EQ(VrinNothingToInstall(hInstall_), 0u);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT"));
  EXPECT_EQ(LinesStarting("ERR: "),
            std::vector<std::string>{"ERR: OV VRIN : VrinNothingToInstall : 0\r\n\r\nCONTEXT = VrinNothingToInstall : "
                                     "NTServer to be installed"});
}

TEST_F(SetupDialogsTest, MissingServerFeatureIsAWarningThenTheConsoleDecides) {
  Open();
  Session().SetProperty("WARNINGTEXT", "earlier");
  Session().SetFeatureState("GUI", INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE);
  host::Faults::Instance().Fail("MsiGetFeatureState", ERROR_UNKNOWN_FEATURE, 1, "NTServer");
  EXPECT_EQ(VrinNothingToInstall(hInstall_), 0u);
  EXPECT_EQ(LinesStarting("WARN: "),
            std::vector<std::string>{"WARN: OV VRIN : Failed trying to retrieve the State of NTServer"});
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("CONTEXT = VrinNothingToInstall : Gui to be installed"), std::string::npos);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT"));
}

TEST_F(SetupDialogsTest, MissingConsoleFeatureIsReported) {
  Open();
  Session().SetProperty("WARNINGTEXT", "earlier");
  Session().SetFeatureState("NTServer", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
  EXPECT_EQ(VrinNothingToInstall(hInstall_), 0u);
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("VrinNothingToInstall : 1606\r\n\r\nCONTEXT = VrinNothingToInstall : "
                                           "MsiGetFeatureState"),
            std::string::npos);
  EXPECT_FALSE(Session().HasProperty("WARNINGTEXT"));
}

// ---- VrinWarning

TEST_F(SetupDialogsTest, WarningControlIsInsertedAndReplaced) {
  Open();
  Session().SetProperty("WARNINGTEXT", "first");
  EXPECT_EQ(VrinWarning(hInstall_), 0u);
  Session().SetProperty("WARNINGTEXT", "second");
  EXPECT_EQ(VrinWarning(hInstall_), 0u);
  EXPECT_EQ(WarningDialogControls(),
            (std::vector<std::string>{"OK|PushButton|9|10|11|12|3|<null>|OK|<null>|<null>",
                                      "WarningText|Text|40|10|200|50|3|<null>|second|<null>|<null>"}));
  EXPECT_TRUE(LinesStarting("ERR: ").empty());
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(SetupDialogsTest, EmptyWarningChangesNothing) {
  Open();
  EXPECT_EQ(VrinWarning(hInstall_), 0u);
  EXPECT_EQ(WarningDialogControls(), (std::vector<std::string>{"OK|PushButton|9|10|11|12|3|<null>|OK|<null>|<null>"}));
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("VrinWarning : 160\r\n\r\nCONTEXT = VrinWarning : szWarning"),
            std::string::npos);
}

TEST_F(SetupDialogsTest, RefusedInsertIsReported) {
  Open();
  Session().SetProperty("WARNINGTEXT", "text");
  host::Faults::Instance().Fail("MsiViewModify", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(VrinWarning(hInstall_), 0u);
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("CONTEXT = VrinWarning : MsiViewModify"), std::string::npos);
  EXPECT_EQ(OpenHandles(), 0);
}

// ---- VrinMessageInstall and VrinTerminateSetup

TEST_F(SetupDialogsTest, AbortIsShownOnceFailsAndClosesTheSetupProgram) {
  Open();
  Windows::Instance().Create(0x2A04);
  Session().SetProperty("WNDHD", "10756");
  Session().SetProperty("ABORTREASON", "25100");
  Session().SetProperty("WARNINGREASON", "25101");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 1603u);
  ASSERT_EQ(UserInterface::Instance().Boxes().size(), 1u);
  EXPECT_EQ(UserInterface::Instance().Boxes()[0].type, 0x01000030u);
  EXPECT_EQ(UserInterface::Instance().Boxes()[0].text, "Velmora needs a newer system.");
  ASSERT_EQ(Windows::Instance().Posted().size(), 1u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Windows::Instance().Posted()[0].window), 0x2A04u);
  EXPECT_EQ(Windows::Instance().Posted()[0].message, 0x464u);
  EXPECT_EQ(Windows::Instance().Posted()[0].wParam, 0u);
  EXPECT_EQ(Windows::Instance().Posted()[0].lParam, 0);
  EXPECT_FALSE(Session().HasProperty("ABORTREASON"));
  EXPECT_FALSE(Session().HasProperty("WARNINGREASON"));
  EXPECT_TRUE(Logged("OV VRIN : Message = 25100"));
  EXPECT_TRUE(Logged("OV VRIN : Instructing the setup program to close down"));
  EXPECT_TRUE(Logged("OV VRIN : VrinTerminateSetup <- [0]"));
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinMessageInstall <- [1603]");

  // Shown once: the reasons are gone.
  EXPECT_EQ(VrinMessageInstall(hInstall_), 0u);
  EXPECT_EQ(UserInterface::Instance().Boxes().size(), 1u);
  EXPECT_EQ(Windows::Instance().Posted().size(), 1u);
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(SetupDialogsTest, WarningIsShownWithoutEndingTheSetup) {
  Open();
  Windows::Instance().Create(77);
  Session().SetProperty("WNDHD", "77");
  Session().SetProperty("WARNINGREASON", "25101");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 0u);
  ASSERT_EQ(UserInterface::Instance().Boxes().size(), 1u);
  EXPECT_EQ(UserInterface::Instance().Boxes()[0].type, 0x02000030u);
  EXPECT_EQ(UserInterface::Instance().Boxes()[0].text, "Close the console first.");
  EXPECT_TRUE(Windows::Instance().Posted().empty());
  EXPECT_FALSE(Session().HasProperty("WARNINGREASON"));
  auto lines = LogLines();
  auto first = std::find(lines.begin(), lines.end(), "OV VRIN : Deleting WARNINGREASON");
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(*(first + 1), "OV VRIN : Deleting ABORTREASON");
}

TEST_F(SetupDialogsTest, ReasonWithoutANumberShowsNothing) {
  Open();
  Windows::Instance().Create(77);
  Session().SetProperty("WNDHD", "77");
  Session().SetProperty("ABORTREASON", "abort");
  Session().SetProperty("WARNINGREASON", "25101");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 0u);
  EXPECT_TRUE(UserInterface::Instance().Boxes().empty());
  EXPECT_TRUE(Windows::Instance().Posted().empty());
  EXPECT_FALSE(Session().HasProperty("ABORTREASON"));
  EXPECT_FALSE(Session().HasProperty("WARNINGREASON"));
}

TEST_F(SetupDialogsTest, BoxWithoutUserInterfaceIsAnErrorLineAndTheAbortStands) {
  Open();
  Windows::Instance().Create(77);
  Session().SetProperty("UILevel", "2");
  Session().SetProperty("WNDHD", "77");
  Session().SetProperty("ABORTREASON", "25100");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 1603u);
  EXPECT_TRUE(UserInterface::Instance().Boxes().empty());
  EXPECT_EQ(LinesStarting("ERR: "), std::vector<std::string>{"ERR: OV VRIN : Failed to display message to user 0"});
  EXPECT_EQ(Windows::Instance().Posted().size(), 1u);

  // A box the user interface answers otherwise is logged with its answer.
  Session().SetProperty("UILevel", "5");
  UserInterface::Instance().ScriptAnswer(IDCANCEL);
  Session().SetProperty("WARNINGREASON", "25101");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 0u);
  EXPECT_EQ(LinesStarting("ERR: ").back(), "ERR: OV VRIN : Failed to display message to user 2");
}

TEST_F(SetupDialogsTest, FailureAfterTheAbortKeepsTheFailingResult) {
  Open();
  Session().SetProperty("ABORTREASON", "25100");
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "ABORTREASON");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 1603u);
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("CONTEXT = InstallSetProperty : MsiSetProperty"), std::string::npos);
  EXPECT_FALSE(Session().HasProperty("ABORTREASON")) << "the catch removes it again";
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinMessageInstall <- [1603]");
}

TEST_F(SetupDialogsTest, FailureBeforeAnyBoxKeepsZero) {
  Open();
  Session().SetProperty("WARNINGREASON", "25101");
  host::Faults::Instance().Fail("MsiGetProperty", ERROR_FUNCTION_FAILED, 1, "WARNINGREASON");
  EXPECT_EQ(VrinMessageInstall(hInstall_), 0u);
  EXPECT_TRUE(UserInterface::Instance().Boxes().empty());
  EXPECT_FALSE(Session().HasProperty("WARNINGREASON"));
  ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
  EXPECT_NE(LinesStarting("ERR: ")[0].find("CONTEXT = MsiGetSourcePath"), std::string::npos);
}

// A record that cannot be made: the message box is logged as not shown and
// the abort stands; the dialog actions report the failure of the call the
// record was for.
TEST_F(SetupDialogsTest, ARecordThatCannotBeMadeEndsAsTheActionsStepsSay) {
  const struct {
    const char* action;
    UINT(__stdcall* run)(MSIHANDLE);
    const char* property;
    const char* value;
    const char* fields;  // of the record that fails
    int nth;             // of such records: the trace lines' records count
    UINT result;
    std::string error;
  } cases[] = {
      {"VrinMessageInstall", VrinMessageInstall, "ABORTREASON", "25100", "1", 5, 1603,
       "ERR: OV VRIN : Failed to display message to user -1"},
      {"VrinWarning", VrinWarning, "WARNINGTEXT", "Careful", "12", 1, 0,
       "ERR: OV VRIN : VrinWarning : 6\r\n\r\nCONTEXT = VrinWarning : MsiViewModify\r\n"},
      {"VrinDisableChangeFolder", VrinDisableChangeFolder, "FEATUREDESCRIPTION", "The NetWare agent", "1", 14, 0,
       "ERR: OV VRIN : VrinDisableChangeFolder : 6\r\n\r\nCONTEXT = InstallSetWarning : MsiFormatRecord\r\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.action);
    Open();
    Windows::Instance().Create(77);
    Session().SetProperty("WNDHD", "77");
    Session().SetProperty("WARNINGTEXT", "earlier");
    Session().SetProperty(test.property, test.value);
    host::Faults::Instance().Fail("MsiCreateRecord", 0, test.nth, test.fields);

    EXPECT_EQ(test.run(hInstall_), test.result);

    ASSERT_EQ(LinesStarting("ERR: ").size(), 1u);
    EXPECT_EQ(LinesStarting("ERR: ")[0].rfind(test.error, 0), 0u) << LinesStarting("ERR: ")[0];
    EXPECT_TRUE(UserInterface::Instance().Boxes().empty());
    EXPECT_EQ(Windows::Instance().Posted().size(), test.result == 1603 ? 1u : 0u);
    EXPECT_FALSE(Session().HasProperty("ABORTREASON"));
    EXPECT_EQ(Session().GetProperty("WARNINGTEXT"),
              test.property == std::string("WARNINGTEXT") ? "Careful" : "earlier");
    EXPECT_TRUE(WarningDialogControls().size() == 1u) << "no warning control was inserted";
    EXPECT_EQ(OpenHandles(), 0);
    Session().Close();
    host::Faults::Instance().Clear();
    UserInterface::Instance().Reset();
    Windows::Instance().Reset();
  }
}

TEST_F(SetupDialogsTest, TerminateSetupPostsOnlyToAnExistingWindow) {
  Open();
  Session().SetProperty("WNDHD", "4242");
  EXPECT_EQ(VrinTerminateSetup(hInstall_), 0u);
  EXPECT_TRUE(Windows::Instance().Posted().empty());
  EXPECT_FALSE(Logged("OV VRIN : Instructing the setup program to close down"));

  Session().SetProperty("WNDHD", "window");
  Windows::Instance().Create(0);
  EXPECT_EQ(VrinTerminateSetup(hInstall_), 0u);
  EXPECT_TRUE(Windows::Instance().Posted().empty()) << "no number, no window";
  EXPECT_TRUE(LinesStarting("ERR: ").empty());
}

TEST_F(SetupDialogsTest, TerminateSetupDropsFailuresSilently) {
  OpenSession();
  EXPECT_EQ(VrinTerminateSetup(0), 0u);
  std::vector<std::string> out = TakeStdoutLines();
  EXPECT_EQ(out.front(), "OV VRIN : VrinTerminateSetup ->");
  EXPECT_EQ(out.back(), "OV VRIN : VrinTerminateSetup <- [0]");
  for (const auto& line : out) EXPECT_EQ(line.find("CONTEXT"), std::string::npos) << line;
}

}  // namespace
