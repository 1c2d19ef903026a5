// Resources shared by server and console: the product keys, deleted only when
// neither reference count remains, and the installation folders and keys
// after the last removal, decided from both features' conditions and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "sequencing/common_resources.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using Lines = std::vector<std::string>;
using Pending = std::vector<std::pair<std::string, std::string>>;

const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";
const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";

const std::string kProductKey = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kOldKey = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
const std::string kProduct = "HKEY_LOCAL_MACHINE\\" + kProductKey;
const std::string kProductParent = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora";
const std::string kOld = "HKEY_LOCAL_MACHINE\\" + kOldKey;
const std::string kUserProduct = "HKEY_CURRENT_USER\\" + kProductKey;
const std::string kUserOld = "HKEY_CURRENT_USER\\" + kOldKey;
const std::string kShared = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

const std::string kServerDir = "C:\\Velmora\\Server";
const std::string kConsoleDir = "C:\\Velmora\\Console";
const std::string kServiceExe = kServerDir + "\\skdnt.exe";

const std::string kServerLast = "&Server = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"";
const std::string kConsoleLast = "&Console = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }
std::string Failure(const std::string& text) { return "ERR: OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
size_t CountOf(const Lines& lines, const std::string& prefix) {
  return static_cast<size_t>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// The lines from the first one that equals first, count of them.
Lines Slice(const Lines& lines, const std::string& first, size_t count) {
  auto it = std::find(lines.begin(), lines.end(), first);
  if (it == lines.end() || static_cast<size_t>(lines.end() - it) < count) return {"<" + first + " not found>"};
  return Lines(it, it + static_cast<std::ptrdiff_t>(count));
}

// The trace of InstallDelRegTree on a key without subkeys.
Lines TreeDeleted(const std::string& key) {
  return {Trace("InstallDelRegTree -> " + key), Trace("InstallDelRegTree ->"), Trace("InstallDelRegTree <- deleted"),
          Trace("InstallDelRegTree <- deleted")};
}
Lines TreeMissing(const std::string& key) {
  return {Trace("InstallDelRegTree -> " + key), Trace("InstallDelRegTree <- not deleted")};
}

// The trace of a count read that finds no path in either key.
Lines NoCount(const std::string& reader, const std::string& value) {
  return {Trace(reader + " ->"),
          Trace("InstallGetRegString -> " + kProductKey + "\\" + value),
          Trace("InstallGetRegString <- Null"),
          Trace("InstallGetRegString -> " + kOldKey + "\\" + value),
          Trace("InstallGetRegString <- Null"),
          Trace(reader + " <- 0")};
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct PackageShape {
  bool serverComponent = true;
  bool consoleComponent = true;
  bool serverFolder = true;
  bool consoleFolder = true;
  std::string serverFeature = "Server";
};

std::vector<std::string> PackageSql(const PackageShape& shape) {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  if (shape.serverComponent) {
    sql.push_back("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('" + shape.serverFeature +
                  "', '" + kServerComponent + "')");
  }
  if (shape.consoleComponent) {
    sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Console', '") +
                  kConsoleComponent + "')");
  }
  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', 'SourceDir')");
  if (shape.serverFolder) {
    sql.push_back(
        "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('NTSERVERFOLDER', "
        "'TARGETDIR', 'Server')");
  }
  if (shape.consoleFolder) {
    sql.push_back(
        "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('GUIFOLDER', "
        "'TARGETDIR', 'Console')");
  }
  return sql;
}

class SharedResourcesTest : public vrintest::SessionTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a key was left open";
    EXPECT_EQ(OpenHandles(), 0) << "a database, view or record was left open";
    EXPECT_EQ(Files().OpenFindHandles(), 0);
    SessionTest::TearDown();
  }

  MSIHANDLE Open(const PackageShape& shape = PackageShape()) {
    MSIHANDLE hInstall = OpenSession(PackageSql(shape));
    Session().SetProperty("TARGETDIR", "C:\\");
    if (shape.serverFolder) Session().SetTargetPath("NTSERVERFOLDER", kServerDir + "\\");
    if (shape.consoleFolder) Session().SetTargetPath("GUIFOLDER", kConsoleDir + "\\");
    return hInstall;
  }

  // The shared-file counts the reference-count readers find.
  static void ServerCount(uint32_t count) {
    LocalRegistry().SetString(kProduct, "ServicePath", kServiceExe);
    if (count != 0) LocalRegistry().SetDword(kShared, kServiceExe, count);
  }
  static void ConsoleCount(uint32_t count) {
    LocalRegistry().SetString(kProduct, "GuiPath", kConsoleDir + "\\");
    if (count != 0) LocalRegistry().SetDword(kShared, kConsoleDir + "\\skdwin.exe", count);
  }

  static void SeedKeys() {
    LocalRegistry().SetDword(kProduct, "ProdSubType", 2);
    LocalRegistry().SetDword(kOld, "ProdSubType", 1);
    LocalRegistry().SetString(kUserProduct, "Window", "0,0,640,480");
    LocalRegistry().SetString(kUserOld, "Window", "0,0,640,480");
  }

  // The feature's removal with the count "1" published: its last-user
  // condition holds.
  void Removing(const std::string& feature, const std::string& property) {
    Session().SetFeatureState(feature, INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
    Session().SetProperty(property, "1");
  }
  // The feature stays: the condition is false.
  void Staying(const std::string& feature, const std::string& property) {
    Session().SetFeatureState(feature, INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN);
    Session().SetProperty(property, "1");
  }
};

// --- VrinDeleteCommonResources ---

TEST_F(SharedResourcesTest, NoCountLeftDeletesTheSubTypesAndAllFourKeysInOrder) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  LocalRegistry().SetString(kProduct + "\\Settings", "Mode", "x");
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);

  EXPECT_FALSE(LocalRegistry().Find(kProduct));
  EXPECT_FALSE(LocalRegistry().Find(kOld));
  EXPECT_FALSE(LocalRegistry().Find(kUserProduct));
  EXPECT_FALSE(LocalRegistry().Find(kUserOld));
  // The parents are left: they are the left-over action's.
  EXPECT_TRUE(LocalRegistry().Find(kProductParent));
  EXPECT_TRUE(LocalRegistry().Find("HKEY_CURRENT_USER\\Software\\Orvannic\\OV VRIN"));

  EXPECT_EQ(LogLines(),
            Join({{Trace("VrinDeleteCommonResources ->")},
                  NoCount("NTReadRefCounter", "ServicePath"),
                  NoCount("GUIReadRefCounter", "GuiPath"),
                  {Trace("InstallDelRegValue -> " + kProductKey + "\\ProdSubType"), Trace("InstallDelRegValue <- 0"),
                   Trace("InstallDelRegValue -> " + kOldKey + "\\ProdSubType"), Trace("InstallDelRegValue <- 0"),
                   Trace("InstallDelRegTree -> " + kProductKey), Trace("InstallDelRegTree ->"),
                   Trace("InstallDelRegTree ->"), Trace("InstallDelRegTree <- deleted"),
                   Trace("InstallDelRegTree <- deleted"), Trace("InstallDelRegTree <- deleted")},
                  TreeDeleted(kOldKey),
                  TreeDeleted(kProductKey),
                  TreeDeleted(kOldKey),
                  {Trace("VrinDeleteCommonResources <- [0]")}}));
}

TEST_F(SharedResourcesTest, AServerCountLeftDeletesNothing) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  ServerCount(1);
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().Dword(kProduct, "ProdSubType"), 2u);
  EXPECT_EQ(LocalRegistry().Dword(kOld, "ProdSubType"), 1u);
  EXPECT_TRUE(LocalRegistry().Find(kUserProduct));
  EXPECT_TRUE(LocalRegistry().Find(kUserOld));
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, Trace("InstallDel")), 0u);
  // Both counts are read before deciding.
  EXPECT_TRUE(Contains(lines, Trace("NTReadRefCounter <- 1")));
  EXPECT_TRUE(Contains(lines, Trace("GUIReadRefCounter <- 0")));
}

TEST_F(SharedResourcesTest, ServerPathThatCannotBeReadDeletesNothing) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  ServerCount(1);
  // The copy of ServicePath is refused after its size was read: the server
  // still counts, so its keys must stay.
  Faults::Instance().Fail("RegQueryValueEx", ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  EXPECT_TRUE(LocalRegistry().Find(kUserProduct));
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, Trace("InstallDel")), 0u);
  EXPECT_TRUE(Contains(lines, Report("VrinDeleteCommonResources", ERROR_INVALID_DATA,
                                     "NTReadRefCounter : InstallGetRegString", "The data is invalid.")));
}

TEST_F(SharedResourcesTest, AConsoleCountLeftDeletesNothing) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  ServerCount(0);
  ConsoleCount(2);
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  EXPECT_TRUE(LocalRegistry().Find(kUserOld));
  EXPECT_EQ(CountOf(LogLines(), Trace("InstallDel")), 0u);
}

TEST_F(SharedResourcesTest, MissingKeysAreNoFailure) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, "ERR: "), 0u);
  EXPECT_EQ(Slice(lines, Trace("InstallDelRegValue -> " + kProductKey + "\\ProdSubType"), 2),
            (Lines{Trace("InstallDelRegValue -> " + kProductKey + "\\ProdSubType"), Trace("InstallDelRegValue <- 2")}));
  EXPECT_EQ(CountOf(lines, Trace("InstallDelRegTree <- not deleted")), 4u);
}

TEST_F(SharedResourcesTest, AKeyThatRefusesDeletionIsAFailureLineAndTheOthersStillGo) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  LocalRegistry().Deny(kProduct, DELETE);
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  EXPECT_FALSE(LocalRegistry().Find(kOld));
  EXPECT_FALSE(LocalRegistry().Find(kUserProduct));
  EXPECT_FALSE(LocalRegistry().Find(kUserOld));
  EXPECT_EQ(Slice(LogLines(), Trace("InstallDelRegTree -> " + kProductKey), 3),
            (Lines{Trace("InstallDelRegTree -> " + kProductKey), Trace("InstallDelRegTree <- not deleted"),
                   Failure("Failed to delete HKEY_LOCAL_MACHINE\\" + kProductKey)}));
  EXPECT_EQ(LogLines().back(), Trace("VrinDeleteCommonResources <- [0]"));
}

TEST_F(SharedResourcesTest, AFailedCountReadIsReportedAndDeletesNothing) {
  MSIHANDLE hInstall = Open();
  SeedKeys();
  ServerCount(0);
  // The path is there but cannot be copied: no count must not mean count 0.
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(VrinDeleteCommonResources(hInstall), 0u);
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  EXPECT_TRUE(LocalRegistry().Find(kUserOld));
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("ERR: OV VRIN : VrinDeleteCommonResources : 14\r\n\r\nCONTEXT = ", 0), 0u)
      << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), Trace("VrinDeleteCommonResources <- [0]"));
}

TEST_F(SharedResourcesTest, CommonResourcesRefuseAMissingSession) {
  OpenSession();
  SeedKeys();
  TakeStdout();
  EXPECT_EQ(VrinDeleteCommonResources(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinDeleteCommonResources ->\r\n"
            "OV VRIN : VrinDeleteCommonResources : 160\r\n\r\nCONTEXT = VrinDeleteCommonResources : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinDeleteCommonResources <- [0]\r\n");
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
}

// --- VrinDeleteLeftOvers: the decisions ---

// How one component's "last user" comes out: its condition true, false or
// undecided, and the count that then decides.
enum class Side { kConditionTrue, kFalseNoCount, kFalseCounted, kUndecidedNoCount, kUndecidedCounted };

bool IsLast(Side side) {
  return side == Side::kConditionTrue || side == Side::kFalseNoCount || side == Side::kUndecidedNoCount;
}

const char* Name(Side side) {
  switch (side) {
    case Side::kConditionTrue:
      return "ConditionTrue";
    case Side::kFalseNoCount:
      return "FalseNoCount";
    case Side::kFalseCounted:
      return "FalseCounted";
    case Side::kUndecidedNoCount:
      return "UndecidedNoCount";
    case Side::kUndecidedCounted:
      return "UndecidedCounted";
  }
  return "?";
}

class LeftOverDecisionTest : public SharedResourcesTest, public ::testing::WithParamInterface<std::tuple<Side, Side>> {
 protected:
  // Sets up one side; the count is 1 where the condition holds, so that a
  // count read by mistake would show.
  void Arrange(Side side, const std::string& feature, const std::string& property, const std::string& condition,
               void (*setCount)(uint32_t)) {
    switch (side) {
      case Side::kConditionTrue:
        Removing(feature, property);
        setCount(1);
        break;
      case Side::kFalseNoCount:
      case Side::kFalseCounted:
        Staying(feature, property);
        setCount(side == Side::kFalseCounted ? 1 : 0);
        break;
      case Side::kUndecidedNoCount:
      case Side::kUndecidedCounted:
        Removing(feature, property);
        Faults::Instance().Fail("MsiEvaluateCondition", MSICONDITION_ERROR, 0, condition);
        setCount(side == Side::kUndecidedCounted ? 1 : 0);
        break;
    }
  }
};

TEST_P(LeftOverDecisionTest, EachFolderGoesWhenItsComponentHadTheLastUser) {
  const auto [server, console] = GetParam();
  MSIHANDLE hInstall = Open();
  Files().AddDirectory(kServerDir);
  Files().AddDirectory(kConsoleDir);
  LocalRegistry().SetDword(kOld, "ProdSubType", 1);
  Arrange(server, "Server", "NTSERVERREFCOUNTER", kServerLast, ServerCount);
  Arrange(console, "Console", "GUIREFCOUNTER", kConsoleLast, ConsoleCount);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  const bool serverLast = IsLast(server);
  const bool consoleLast = IsLast(console);
  EXPECT_EQ(Files().Exists(kServerDir), !serverLast);
  EXPECT_EQ(Files().Exists(kConsoleDir), !consoleLast);
  EXPECT_EQ(static_cast<bool>(LocalRegistry().Find(kProduct)), !(serverLast && consoleLast));
  EXPECT_EQ(static_cast<bool>(LocalRegistry().Find(kOld)), !(serverLast && consoleLast));

  Lines lines = LogLines();
  EXPECT_EQ(lines.front(), Trace("VrinDeleteLeftOvers -->"));
  EXPECT_EQ(lines.back(), Trace("VrinDeleteLeftOvers <- [0]"));
  EXPECT_EQ(CountOf(lines, "ERR: "), 0u);
  // A count is read only when the condition did not hold.
  EXPECT_EQ(Contains(lines, Trace("NTReadRefCounter ->")), server != Side::kConditionTrue);
  EXPECT_EQ(Contains(lines, Trace("GUIReadRefCounter ->")), console != Side::kConditionTrue);
  const bool serverUndecided = server == Side::kUndecidedNoCount || server == Side::kUndecidedCounted;
  const bool consoleUndecided = console == Side::kUndecidedNoCount || console == Side::kUndecidedCounted;
  EXPECT_EQ(Contains(lines, Warning("Condition " + kServerLast + " undecided (3)")), serverUndecided);
  EXPECT_EQ(Contains(lines, Warning("Condition " + kConsoleLast + " undecided (3)")), consoleUndecided);
  EXPECT_EQ(Contains(lines, Trace("The components are installed in a different directory -> delete the NT directory")),
            serverLast);
  EXPECT_EQ(Contains(lines, Trace("The components are installed in a different directory -> delete the Gui directory")),
            consoleLast);
  EXPECT_EQ(Contains(lines, Trace("Old VRIN Key = " + kOldKey)), serverLast && consoleLast);
  if (serverLast && consoleLast) {
    // The server's folder goes first.
    auto serverAt =
        std::find(lines.begin(), lines.end(), Trace("InstallDeleteDirectory -> " + kServerDir + " recursive"));
    auto consoleAt =
        std::find(lines.begin(), lines.end(), Trace("InstallDeleteDirectory -> " + kConsoleDir + " recursive"));
    EXPECT_LT(serverAt, consoleAt);
    EXPECT_NE(consoleAt, lines.end());
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllCombinations, LeftOverDecisionTest,
    ::testing::Combine(::testing::Values(Side::kConditionTrue, Side::kFalseNoCount, Side::kFalseCounted,
                                         Side::kUndecidedNoCount, Side::kUndecidedCounted),
                       ::testing::Values(Side::kConditionTrue, Side::kFalseNoCount, Side::kFalseCounted,
                                         Side::kUndecidedNoCount, Side::kUndecidedCounted)),
    [](const ::testing::TestParamInfo<std::tuple<Side, Side>>& info) {
      return std::string("Server") + Name(std::get<0>(info.param)) + "Console" + Name(std::get<1>(info.param));
    });

// --- VrinDeleteLeftOvers: roads ---

TEST_F(SharedResourcesTest, ServerOnlyPackageRemovingTheLastServerDeletesItsFolderAndAllKeys) {
  PackageShape shape;
  shape.consoleComponent = false;
  shape.consoleFolder = false;
  MSIHANDLE hInstall = Open(shape);
  Session().SetTargetPath("NTSERVERFOLDER", "C:\\Program Files\\Orvannic\\Velmora\\Server\\");
  Files().AddDirectory("C:\\Program Files\\Orvannic\\Velmora\\Server");
  Removing("Server", "NTSERVERREFCOUNTER");
  LocalRegistry().SetDword(kOld, "ProdSubType", 1);
  LocalRegistry().SetDword(kProduct, "ProdSubType", 1);
  LocalRegistry().SetDword(kUserProduct, "Window", 1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists("C:\\Program Files"));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\C:\\", ""}}));
  EXPECT_FALSE(LocalRegistry().Find(kOld));
  EXPECT_FALSE(LocalRegistry().Find(kProductParent));
  EXPECT_TRUE(LocalRegistry().Find("HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN"));
  EXPECT_TRUE(LocalRegistry().Find(kUserProduct)) << "the user's keys are the common resources'";

  const std::string query = "SELECT `Feature_` FROM `FeatureComponents` WHERE `Component_` = '";
  const std::string folder = "C:\\Program Files\\Orvannic\\Velmora\\Server";
  EXPECT_EQ(
      LogLines(),
      Join({{Trace("VrinDeleteLeftOvers -->"), Trace(std::string("InstallComponentGetFeature -> ") + kServerComponent),
             Trace("InstallGetARecord -> " + query + kServerComponent + "'"), Trace("InstallGetARecord <-"),
             Trace("InstallGetRecordString -> 1"), Trace("InstallGetRecordString <- (Server)"),
             Trace("InstallComponentGetFeature <- Server"),
             Trace(std::string("InstallComponentGetFeature -> ") + kConsoleComponent),
             Trace("InstallGetARecord -> " + query + kConsoleComponent + "'"),
             Report("VrinDeleteLeftOvers : Gui Feature", 259, "InstallGetARecord : MsiViewFetch",
                    "No more data is available.")},
            NoCount("GUIReadRefCounter", "GuiPath"),
            {Trace("InstallGetTargetPath -> GUIFOLDER"),
             Report("VrinDeleteLeftOvers : szGuiPath", 267, "MsiGetSourcePath", "The directory name is invalid."),
             Trace("InstallGetTargetPath -> NTSERVERFOLDER"), Trace("InstallGetTargetPath <- (" + folder + "\\)"),
             Trace("The Gui component is not present -> delete the NT directory"),
             Trace("InstallDeleteDirectory -> " + folder + " recursive"),
             Trace("InstallDeleteDirectory -> C:\\Program Files\\Orvannic\\Velmora recursive"),
             Trace("InstallDeleteDirectory -> C:\\Program Files\\Orvannic recursive"),
             Trace("InstallDeleteDirectory -> C:\\Program Files recursive"),
             Trace("InstallDeleteDirectory -> C: recursive"), Trace("InstallDeleteDirectory <-"),
             Trace("InstallDeleteDirectory <-"), Trace("InstallDeleteDirectory <-"), Trace("InstallDeleteDirectory <-"),
             Trace("InstallDeleteDirectory <-"), Trace("Old VRIN Key = " + kOldKey)},
            TreeDeleted(kOldKey),
            TreeDeleted(kProductKey),
            TreeDeleted("Software\\Orvannic\\Lumicor Velmora"),
            {Trace("VrinDeleteLeftOvers <- [0]")}}));
}

TEST_F(SharedResourcesTest, ConsoleOnlyPackageRemovingTheLastConsoleDeletesItsFolder) {
  PackageShape shape;
  shape.serverComponent = false;
  shape.serverFolder = false;
  MSIHANDLE hInstall = Open(shape);
  Files().AddDirectory(kConsoleDir);
  Files().AddFile("C:\\Velmora\\other.txt", "kept");
  Removing("Console", "GUIREFCOUNTER");
  LocalRegistry().SetDword(kProduct, "ProdSubType", 1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists(kConsoleDir));
  EXPECT_TRUE(Files().Exists("C:\\Velmora\\other.txt"));
  EXPECT_FALSE(LocalRegistry().Find(kProductParent));
  Lines lines = LogLines();
  EXPECT_TRUE(Contains(lines, Report("VrinDeleteLeftOvers : NTServer feature", 259, "InstallGetARecord : MsiViewFetch",
                                     "No more data is available.")));
  EXPECT_TRUE(Contains(
      lines, Report("VrinDeleteLeftOvers : szPathNT", 267, "MsiGetSourcePath", "The directory name is invalid.")));
  EXPECT_EQ(Slice(lines, Trace("The NT component is not present -> delete the Gui directory"), 3),
            (Lines{Trace("The NT component is not present -> delete the Gui directory"),
                   Trace("InstallDeleteDirectory -> " + kConsoleDir + " recursive"),
                   Trace("InstallDeleteDirectory -> C:\\Velmora recursive")}));
  // The console's folder is read before the server's.
  auto console = std::find(lines.begin(), lines.end(), Trace("InstallGetTargetPath -> GUIFOLDER"));
  auto server = std::find(lines.begin(), lines.end(), Trace("InstallGetTargetPath -> NTSERVERFOLDER"));
  EXPECT_LT(console, server);
}

TEST_F(SharedResourcesTest, NeitherFolderKnownDeletesNoFolderButStillTheKeys) {
  PackageShape shape;
  shape.serverFolder = false;
  shape.consoleFolder = false;
  MSIHANDLE hInstall = Open(shape);
  Files().AddDirectory("C:\\Empty");
  Removing("Server", "NTSERVERREFCOUNTER");
  Removing("Console", "GUIREFCOUNTER");
  LocalRegistry().SetDword(kProduct, "ProdSubType", 1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  // Nothing deleted or scheduled, least of all relative to the current folder.
  EXPECT_TRUE(Files().Exists("C:\\Empty"));
  EXPECT_TRUE(Files().PendingOperations().empty());
  EXPECT_FALSE(LocalRegistry().Find(kProduct));
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, Trace("InstallDeleteDirectory")), 0u);
  EXPECT_EQ(CountOf(lines, "ERR: "), 2u);
  EXPECT_EQ(Slice(lines, Trace("InstallGetTargetPath -> NTSERVERFOLDER"), 4),
            (Lines{Trace("InstallGetTargetPath -> NTSERVERFOLDER"),
                   Report("VrinDeleteLeftOvers : szPathNT", 267, "MsiGetSourcePath", "The directory name is invalid."),
                   Warning("The directories of both components are unknown -> nothing deleted"),
                   Trace("Old VRIN Key = " + kOldKey)}));
}

TEST_F(SharedResourcesTest, NeitherFolderKnownAndNoLastUserWritesNoDecision) {
  PackageShape shape;
  shape.serverFolder = false;
  shape.consoleFolder = false;
  MSIHANDLE hInstall = Open(shape);
  Staying("Server", "NTSERVERREFCOUNTER");
  ServerCount(1);
  Staying("Console", "GUIREFCOUNTER");
  ConsoleCount(1);
  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, "WARN: "), 0u);
  EXPECT_EQ(lines.back(), Trace("VrinDeleteLeftOvers <- [0]"));
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
}

TEST_F(SharedResourcesTest, SharedFolderGoesOnceWhenBothHadTheirLastUser) {
  MSIHANDLE hInstall = Open();
  Session().SetTargetPath("NTSERVERFOLDER", "C:\\Velmora\\");
  Session().SetTargetPath("GUIFOLDER", "c:\\VELMORA\\");
  Files().AddDirectory("C:\\Velmora");
  Removing("Server", "NTSERVERREFCOUNTER");
  Removing("Console", "GUIREFCOUNTER");

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists("C:\\Velmora"));
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines, Trace("InstallGetTargetPath <- (C:\\Velmora\\)"), 3),
            (Lines{Trace("InstallGetTargetPath <- (C:\\Velmora\\)"),
                   Trace("The components are installed in the same directory but last uninstall -> delete the "
                         "directory"),
                   Trace("InstallDeleteDirectory -> C:\\Velmora recursive")}));
  EXPECT_EQ(CountOf(lines, Trace("InstallDeleteDirectory -> C:\\Velmora recursive")), 1u);
  EXPECT_EQ(CountOf(lines, Trace("The components are installed in a different")), 0u);
}

TEST_F(SharedResourcesTest, SharedFolderStaysWhileTheConsoleStays) {
  MSIHANDLE hInstall = Open();
  Session().SetTargetPath("NTSERVERFOLDER", "C:\\Velmora\\");
  Session().SetTargetPath("GUIFOLDER", "C:\\Velmora");
  Files().AddDirectory("C:\\Velmora");
  Removing("Server", "NTSERVERREFCOUNTER");
  Staying("Console", "GUIREFCOUNTER");
  ConsoleCount(1);
  LocalRegistry().SetDword(kOld, "ProdSubType", 1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_TRUE(Files().Exists("C:\\Velmora"));
  EXPECT_TRUE(Files().PendingOperations().empty());
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  EXPECT_TRUE(LocalRegistry().Find(kOld));
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, Trace("The components")), 0u) << "the same folder, without and with a backslash";
  EXPECT_EQ(CountOf(lines, Trace("InstallDelRegTree")), 0u);
}

TEST_F(SharedResourcesTest, FolderWithAFileInUseIsScheduledBehindTheFile) {
  MSIHANDLE hInstall = Open();
  const std::string file = kServerDir + "\\skdnt.exe";
  Files().AddFile(file, "MZ");
  Files().HoldOpen(file, GENERIC_READ, FILE_SHARE_READ);
  // The installer could not remove the file in use and put it off.
  ASSERT_TRUE(MoveFileEx(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  Files().AddDirectory(kConsoleDir);
  Removing("Server", "NTSERVERREFCOUNTER");
  Staying("Console", "GUIREFCOUNTER");
  ConsoleCount(1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_TRUE(Files().Exists(file));
  EXPECT_EQ(
      Files().PendingOperations(),
      (Pending{{"\\??\\" + file, ""}, {"\\??\\" + kServerDir, ""}, {"\\??\\C:\\Velmora", ""}, {"\\??\\C:\\", ""}}));
  Files().Restart();
  EXPECT_FALSE(Files().Exists(kServerDir));
  EXPECT_TRUE(Files().Exists(kConsoleDir));
}

TEST_F(SharedResourcesTest, FolderThatIsNoFolderOfOursIsNeverDeleted) {
  for (const std::string& path :
       {std::string("Velmora\\Server\\"), std::string("C:\\"), std::string("D:"), std::string("C:\\..\\"),
        std::string("C:\\Velmora\\..\\"), std::string("\\Velmora\\"), "C:\\" + std::string(MAX_PATH, 'v') + "\\"}) {
    PackageShape shape;
    shape.consoleComponent = false;
    shape.consoleFolder = false;
    MSIHANDLE hInstall = Open(shape);
    Files().AddDirectory("C:\\Velmora\\Server");
    Session().SetTargetPath("NTSERVERFOLDER", path);
    Removing("Server", "NTSERVERREFCOUNTER");

    EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

    EXPECT_TRUE(Files().Exists("C:\\Velmora\\Server")) << path;
    EXPECT_TRUE(Files().PendingOperations().empty()) << path;
    EXPECT_EQ(
        Slice(LogLines(), Trace("The Gui component is not present -> delete the NT directory"), 2),
        (Lines{Trace("The Gui component is not present -> delete the NT directory"), Warning("Not deleting " + path)}));
  }
}

TEST_F(SharedResourcesTest, MalformedFeatureKeyLeavesTheDecisionToTheCount) {
  PackageShape shape;
  shape.serverFeature = "Bad Key";
  MSIHANDLE hInstall = Open(shape);
  Files().AddDirectory(kServerDir);
  Files().AddDirectory(kConsoleDir);
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  ServerCount(0);
  Staying("Console", "GUIREFCOUNTER");
  ConsoleCount(1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists(kServerDir));
  EXPECT_TRUE(Files().Exists(kConsoleDir));
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines,
                  Warning("Condition &Bad Key = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\" "
                          "undecided (3)"),
                  2),
            (Lines{Warning("Condition &Bad Key = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\" "
                           "undecided (3)"),
                   Trace("NTReadRefCounter ->")}));
}

TEST_F(SharedResourcesTest, FeatureKeyTooLongForTheConditionIsNeverCut) {
  PackageShape shape;
  shape.serverFeature = std::string(230, 'F');
  MSIHANDLE hInstall = Open(shape);
  Files().AddDirectory(kServerDir);
  Files().AddDirectory(kConsoleDir);
  Removing(shape.serverFeature, "NTSERVERREFCOUNTER");
  ServerCount(1);
  Staying("Console", "GUIREFCOUNTER");
  ConsoleCount(1);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  // The count, still 1, decides: the server's folder stays.
  EXPECT_TRUE(Files().Exists(kServerDir));
  EXPECT_TRUE(Contains(LogLines(), Warning("Feature " + shape.serverFeature + " is too long for a condition")));
}

TEST_F(SharedResourcesTest, LeftOverKeysAreOnlyTheMachinesAndMissingOnesAreNoFailure) {
  MSIHANDLE hInstall = Open();
  Removing("Server", "NTSERVERREFCOUNTER");
  Removing("Console", "GUIREFCOUNTER");
  LocalRegistry().SetDword(kUserProduct, "Window", 1);
  LocalRegistry().SetDword(kUserOld, "Window", 1);
  LocalRegistry().SetString("HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Other", "Keep", "1");

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_TRUE(LocalRegistry().Find(kUserProduct));
  EXPECT_TRUE(LocalRegistry().Find(kUserOld));
  EXPECT_TRUE(LocalRegistry().Find("HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Other"));
  Lines lines = LogLines();
  EXPECT_EQ(CountOf(lines, "ERR: "), 0u);
  EXPECT_EQ(Slice(lines, Trace("Old VRIN Key = " + kOldKey), 7),
            Join({{Trace("Old VRIN Key = " + kOldKey)},
                  TreeMissing(kOldKey),
                  TreeMissing(kProductKey),
                  TreeMissing("Software\\Orvannic\\Lumicor Velmora")}));
}

TEST_F(SharedResourcesTest, AFailedCountReadEndsTheActionBeforeAnyDeletion) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory(kServerDir);
  Staying("Server", "NTSERVERREFCOUNTER");
  ServerCount(0);
  Removing("Console", "GUIREFCOUNTER");
  // The service path is stored but cannot be read into memory.
  Faults::Instance().Fail("RegQueryValueEx", ERROR_OUTOFMEMORY, 1, kProduct);

  EXPECT_EQ(VrinDeleteLeftOvers(hInstall), 0u);

  EXPECT_TRUE(Files().Exists(kServerDir));
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(
      lines[lines.size() - 2].rfind("ERR: OV VRIN : VrinDeleteLeftOvers : 14\r\n\r\nCONTEXT = NTReadRefCounter", 0), 0u)
      << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), Trace("VrinDeleteLeftOvers <- [0]"));
  EXPECT_EQ(CountOf(lines, Trace("InstallGetTargetPath")), 0u);
}

TEST_F(SharedResourcesTest, LeftOversRefuseAMissingSession) {
  OpenSession();
  LocalRegistry().SetDword(kProduct, "ProdSubType", 1);
  TakeStdout();
  EXPECT_EQ(VrinDeleteLeftOvers(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinDeleteLeftOvers -->\r\n"
            "OV VRIN : VrinDeleteLeftOvers : 160\r\n\r\nCONTEXT = VrinDeleteLeftOvers : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinDeleteLeftOvers <- [0]\r\n");
  EXPECT_TRUE(LocalRegistry().Find(kProduct));
}

}  // namespace
