// The console's clean-up: the program group, version values and skdwin.ini
// after its last removal, in stages that fail separately; an earlier
// generation's files and key after an upgrade, the server's files kept next
// to a server; the 6.61 shortcut and group. Shell item lists and the
// allocator are always given back (the fixture checks).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "console/console_cleanup.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "host/shell_folders.h"
#include "tests/console/console_fixture.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using vrintest::Contains;
using vrintest::CountPrefixed;
using vrintest::kIniPath;
using vrintest::kOldKey;
using vrintest::kOldPath;
using vrintest::kProductKey;
using vrintest::kProductPath;
using vrintest::Lines;
using vrintest::Report;
using vrintest::ShortReport;
using vrintest::Slice;
using vrintest::Trace;
using vrintest::Warning;
using Pending = std::vector<std::pair<std::string, std::string>>;

const std::string kPrograms = host::kDefaultCommonPrograms;
const std::string kGroup = kPrograms + "\\Velmora";
const std::string kShortcut = kPrograms + "\\Velmora.lnk";
const char kEarlier[] = "C:\\Program Files\\OV VRIN\\Console";
// E_FAIL as the report's "%d" shows it.
const long kEFail = static_cast<long>(static_cast<int32_t>(0x80004005));

std::string In(const std::string& name) { return std::string(kEarlier) + "\\" + name; }

Lines Deleted(const std::string& path) {
  return {Trace("InstallDeleteFile -> " + path), Trace("InstallDeleteFile <- deleted")};
}

class CleanupTest : public vrintest::ConsoleTest {
 protected:
  static void SeedGroup() {
    Files().AddFile(kGroup + "\\Velmora Console.lnk", "link");
    Files().AddFile(kGroup + "\\Tools\\Help.lnk", "link");
  }
  static void SeedValues() {
    for (const std::string& path : {kProductPath, kOldPath}) {
      LocalRegistry().SetDword(path, "MajorVersion", 6);
      LocalRegistry().SetDword(path, "MinorVersion", 61);
      LocalRegistry().SetString(path, "GuiPath", kEarlier);
    }
  }
  static std::vector<std::string> ValueNames(const std::string& path) {
    std::vector<std::string> names;
    for (const host::RegValue& value : LocalRegistry().Find(path)->Values()) names.push_back(value.name);
    return names;
  }
};

// --- VrinGUIDeleteLeftOvers ---

TEST_F(CleanupTest, LastRemovalDeletesTheGroupTheVersionValuesAndTheProfile) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  SeedValues();
  Files().AddFile(kIniPath, "[SKDInformation]\r\nDir=C:\\x\r\n");
  Files().AddFile(kPrograms + "\\Other\\Other.lnk", "another product's");

  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists(kGroup));
  EXPECT_TRUE(Files().Exists(kPrograms + "\\Other\\Other.lnk"));
  EXPECT_FALSE(Files().Exists(kIniPath));
  EXPECT_EQ(ValueNames(kProductPath), (std::vector<std::string>{"GuiPath"}));
  EXPECT_EQ(ValueNames(kOldPath), (std::vector<std::string>{"GuiPath"}));
  EXPECT_EQ(host::ShellFolders::Instance().AllocatorRequests(), 1);

  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
            (Lines{Trace("VrinGUIDeleteLeftOvers ->"), Trace("VRIN program group = Velmora"),
                   Trace("InstallDeleteEntireDirectory -> " + kGroup)}));
  Lines tail;
  for (const char* key : {kProductKey, kOldKey}) {
    for (const char* value : {"MajorVersion", "MinorVersion"}) {
      tail.push_back(Trace("InstallDelRegValue -> " + std::string(key) + "\\" + value));
      tail.push_back(Trace("InstallDelRegValue <- 0"));
    }
  }
  Lines ini = Deleted(kIniPath);
  tail.insert(tail.end(), ini.begin(), ini.end());
  tail.push_back(Trace("VrinGUIDeleteLeftOvers <- [0]"));
  ASSERT_GT(lines.size(), tail.size());
  EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(tail.size()), lines.end()), tail);
  EXPECT_EQ(lines[lines.size() - tail.size() - 1], Trace("InstallDeleteEntireDirectory <-"));
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 0);
}

TEST_F(CleanupTest, AMissingGroupIsOneReportAndTheOtherStagesStillRun) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory(kPrograms);
  SeedValues();
  Files().AddFile(kIniPath, "");

  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);

  Lines lines = LogLines();
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 1);
  EXPECT_EQ(Slice(lines, Trace("InstallDeleteEntireDirectory -> " + kGroup), 2),
            (Lines{Trace("InstallDeleteEntireDirectory -> " + kGroup),
                   Report("VrinGUIDeleteLeftOvers : Remove program group", 3,
                          "InstallDeleteEntireDirectory : FindFirstFile", vrintest::kPathNotFoundText)}));
  EXPECT_EQ(ValueNames(kProductPath), (std::vector<std::string>{"GuiPath"}));
  EXPECT_EQ(ValueNames(kOldPath), (std::vector<std::string>{"GuiPath"}));
  EXPECT_FALSE(Files().Exists(kIniPath));
}

TEST_F(CleanupTest, MissingValuesAndKeysAreNoFailure) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  LocalRegistry().SetDword(kProductPath, "MinorVersion", 1);
  Files().AddFile(kIniPath, "");
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 0);
  EXPECT_EQ(Slice(lines, Trace("InstallDelRegValue -> " + std::string(kProductKey) + "\\MajorVersion"), 4),
            (Lines{Trace("InstallDelRegValue -> " + std::string(kProductKey) + "\\MajorVersion"),
                   Trace("InstallDelRegValue <- 2"),
                   Trace("InstallDelRegValue -> " + std::string(kProductKey) + "\\MinorVersion"),
                   Trace("InstallDelRegValue <- 0")}));
  EXPECT_TRUE(LocalRegistry().Find(kProductPath)->Values().empty());
}

TEST_F(CleanupTest, AValueThatCannotBeDeletedIsReportedAfterTheOthersWereTried) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  SeedValues();
  Files().AddFile(kIniPath, "");
  LocalRegistry().Deny(kProductPath, KEY_SET_VALUE);

  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);

  Lines lines = LogLines();
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 1);
  EXPECT_TRUE(Contains(lines, Report("VrinGUIDeleteLeftOvers", 5, "VrinGUIDeleteLeftOvers : InstallDelRegValue",
                                     vrintest::kAccessDeniedText)));
  EXPECT_EQ(ValueNames(kProductPath), (std::vector<std::string>{"MajorVersion", "MinorVersion", "GuiPath"}));
  EXPECT_EQ(ValueNames(kOldPath), (std::vector<std::string>{"GuiPath"}));
  EXPECT_FALSE(Files().Exists(kIniPath)) << "the profile stage still runs";
  EXPECT_FALSE(Files().Exists(kGroup));
}

TEST_F(CleanupTest, AMissingProgramsFolderIsReportedWithTheShellsResult) {
  MSIHANDLE hInstall = Open();
  SeedValues();
  Files().AddFile(kIniPath, "");
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines, Trace("VRIN program group = Velmora"), 2),
            (Lines{Trace("VRIN program group = Velmora"),
                   ShortReport("VrinGUIDeleteLeftOvers : Remove program group", kEFail,
                               "VrinGUIDeleteLeftOvers : SHGetSpecialFolderLocation")}));
  EXPECT_FALSE(Files().Exists(kIniPath));
  EXPECT_EQ(ValueNames(kOldPath), (std::vector<std::string>{"GuiPath"}));
}

TEST_F(CleanupTest, WithoutTheShellsAllocatorNoItemListIsAskedFor) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  Faults::Instance().Fail("SHGetMalloc", static_cast<uint32_t>(0x8007000E));
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  // E_OUTOFMEMORY as the report's "%d" shows it, whatever the description.
  EXPECT_EQ(CountPrefixed(LogLines(),
                          "ERR: OV VRIN : VrinGUIDeleteLeftOvers : Remove program group : -2147024882\r\n"
                          "\r\nCONTEXT = VrinGUIDeleteLeftOvers : SHGetMalloc"),
            1);
  EXPECT_EQ(Faults::Instance().CallCounts().count("SHGetSpecialFolderLocation"), 0u);
  EXPECT_TRUE(Files().Exists(kGroup));
}

TEST_F(CleanupTest, AFailedPathLookupStillFreesTheItemListAndReleasesTheAllocator) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  Faults::Instance().Fail("SHGetPathFromIDList", ERROR_ACCESS_DENIED);
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  EXPECT_TRUE(
      Contains(LogLines(), Report("VrinGUIDeleteLeftOvers : Remove program group", 5,
                                  "VrinGUIDeleteLeftOvers : SHGetPathFromIDList", vrintest::kAccessDeniedText)));
  EXPECT_TRUE(Files().Exists(kGroup));
  // The fixture checks that the list was freed and the allocator released.
  EXPECT_EQ(host::ShellFolders::Instance().AllocatorRequests(), 1);
}

TEST_F(CleanupTest, AProfileInUseIsScheduledAndAFailedWindowsFolderIsReported) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  Files().AddFile(kIniPath, "");
  Files().HoldOpen(kIniPath, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\" + std::string(kIniPath), ""}}));
  Files().Release(kIniPath);

  Faults::Instance().Fail("GetWindowsDirectory", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(VrinGUIDeleteLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(
      Lines(lines.end() - 2, lines.end()),
      (Lines{Report("VrinGUIDeleteLeftOvers : delete skdwin.ini", 8, "VrinGUIDeleteLeftOvers : GetWindowsDirectory",
                    "Not enough memory resources are available to process this command."),
             Trace("VrinGUIDeleteLeftOvers <- [0]")}));
}

TEST_F(CleanupTest, AMissingSessionIsRefusedAndNothingIsDeleted) {
  OpenSession();
  SeedGroup();
  SeedValues();
  Files().AddFile(kIniPath, "");
  TakeStdout();
  EXPECT_EQ(VrinGUIDeleteLeftOvers(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinGUIDeleteLeftOvers ->\r\n"
            "OV VRIN : VrinGUIDeleteLeftOvers : 160\r\n\r\nCONTEXT = VrinGUIDeleteLeftOvers : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinGUIDeleteLeftOvers <- [0]\r\n");
  EXPECT_TRUE(Files().Exists(kGroup));
  EXPECT_TRUE(Files().Exists(kIniPath));
  EXPECT_EQ(ValueNames(kProductPath).size(), 3u);
}

// --- VrinGUIDeleteUpgradeLeftOvers ---

const std::vector<std::string> kConsoleFiles = {"tslogclt.nlm", "tslogsrv.nlm", "skd.3",
                                                "skd.4",        "skd60.cli",    "skdwin.gid",
                                                "skd.cfg",      "skdupdat.exe", "skdwin.cn_"};
const std::vector<std::string> kServerFiles = {"skdnt.cfg", "skdnt.cli", "skdnt60.cli"};

class UpgradeTest : public CleanupTest {
 protected:
  MSIHANDLE OpenWith(const std::string& folder) {
    MSIHANDLE hInstall = Open();
    Session().SetProperty("GUIINSTALLDIR", folder);
    return hInstall;
  }
  static void SeedEarlier(const std::string& folder = kEarlier) {
    for (const std::string& name : kConsoleFiles) Files().AddFile(folder + "\\" + name, name);
    for (const std::string& name : kServerFiles) Files().AddFile(folder + "\\" + name, name);
    Files().AddFile(folder + "\\Engalpha\\skdeng.dll", "alpha");
    Files().AddFile(folder + "\\Engi86\\skdeng.dll", "i86");
    Files().AddFile(folder + "\\Engi86\\Help\\skd.hlp", "help");
    Files().AddFile(folder + "\\skdwin.exe", "the new console");
  }
  static void SeedOldKey() {
    LocalRegistry().SetDword(kOldPath, "MajorVersion", 6);
    LocalRegistry().SetDword(kOldPath, "MinorVersion", 61);
    LocalRegistry().SetString(kOldPath, "GuiPath", kEarlier);
    LocalRegistry().SetString(kOldPath + "\\Settings\\Deep", "x", "y");
  }
};

TEST_F(UpgradeTest, EverythingOfTheEarlierGenerationGoesInItsOrder) {
  MSIHANDLE hInstall = OpenWith(kEarlier);
  SeedEarlier();
  SeedOldKey();
  LocalRegistry().SetString(kProductPath, "GuiPath", kEarlier);

  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);

  for (const std::string& name : kConsoleFiles) EXPECT_FALSE(Files().Exists(In(name))) << name;
  for (const std::string& name : kServerFiles) EXPECT_FALSE(Files().Exists(In(name))) << name;
  EXPECT_FALSE(Files().Exists(In("Engalpha")));
  EXPECT_FALSE(Files().Exists(In("Engi86")));
  EXPECT_EQ(Files().List(kEarlier), (std::vector<std::string>{"skdwin.exe"}));
  EXPECT_EQ(LocalRegistry().Find(kOldPath), nullptr);
  EXPECT_NE(LocalRegistry().Find("HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN"), nullptr)
      << "only CurrentVersion goes";
  EXPECT_EQ(LocalRegistry().String(kProductPath, "GuiPath"), kEarlier);

  Lines lines = LogLines();
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 0);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 7),
            (Lines{Trace("VrinGUIDeleteUpgradeLeftOvers ->"),
                   Trace("InstallDelRegValue -> " + std::string(kOldKey) + "\\MajorVersion"),
                   Trace("InstallDelRegValue <- 0"),
                   Trace("InstallDelRegValue -> " + std::string(kOldKey) + "\\MinorVersion"),
                   Trace("InstallDelRegValue <- 0"), Trace("InstallGetProperty -> GUIINSTALLDIR"),
                   Trace("InstallGetProperty <- (" + std::string(kEarlier) + ")")}));
  // The entries in their order, the folders between the files.
  std::vector<std::string> order;
  for (const std::string& line : lines) {
    for (const std::string prefix : {"OV VRIN : InstallDeleteFile -> ", "OV VRIN : InstallDeleteEntireDirectory -> "}) {
      if (line.rfind(prefix, 0) == 0) order.push_back(line.substr(prefix.size()));
    }
  }
  std::vector<std::string> expected;
  for (const char* name : {"tslogclt.nlm", "tslogsrv.nlm", "skd.3", "skd.4", "skd60.cli", "skdwin.gid", "skd.cfg"}) {
    expected.push_back(In(name));
  }
  expected.insert(expected.end(), {In("Engalpha"), In("Engalpha\\skdeng.dll"), In("skdupdat.exe"), In("skdwin.cn_"),
                                   In("Engi86"), In("Engi86\\Help"), In("Engi86\\Help\\skd.hlp"),
                                   In("Engi86\\skdeng.dll"), In("skdnt.cfg"), In("skdnt.cli"), In("skdnt60.cli")});
  EXPECT_EQ(order, expected);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{Trace("InstallDelRegTree <- deleted"), Trace("VrinGUIDeleteUpgradeLeftOvers <- [0]")}));
}

// A console upgraded alone leaves the earlier server installed: the key that
// registers it stays for that server's own upgrade and removal.
TEST_F(UpgradeTest, TheEarlierKeyStaysWhileTheEarlierServerIsTheInstalledOne) {
  const std::string kEarlierImage = "C:\\Program Files\\Orvannic\\OV VRIN\\Server\\skdnt.exe";
  for (bool serverUpgraded : {false, true}) {
    SCOPED_TRACE(serverUpgraded ? "the server upgraded too" : "the console alone");
    MSIHANDLE hInstall = OpenWith(kEarlier);
    SeedOldKey();
    LocalRegistry().SetString(kOldPath, "ServicePath", kEarlierImage);
    if (serverUpgraded) LocalRegistry().SetString(kProductPath, "ServicePath", kEarlierImage);
    EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
    EXPECT_EQ(LocalRegistry().String(kOldPath, "ServicePath").has_value(), !serverUpgraded);
    EXPECT_FALSE(LocalRegistry().Dword(kOldPath, "MajorVersion").has_value());
    EXPECT_EQ(Contains(LogLines(), Trace("Keeping " + std::string(kOldKey) +
                                         ": the earlier server it registers is still installed")),
              !serverUpgraded);
  }
}

TEST_F(UpgradeTest, TheServersFilesStayNextToTheServer) {
  MSIHANDLE hInstall = OpenWith(std::string(kEarlier) + "\\");
  SeedEarlier();
  Files().AddFile(In("skdnt.exe"), "the server");
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  for (const std::string& name : kServerFiles) EXPECT_TRUE(Files().Exists(In(name))) << name;
  for (const std::string& name : kConsoleFiles) EXPECT_FALSE(Files().Exists(In(name))) << name;
  EXPECT_FALSE(Files().Exists(In("Engalpha")));
  EXPECT_EQ(Faults::Instance().CallCounts().at("OpenFile"), 1);
  Lines lines = LogLines();
  EXPECT_FALSE(Contains(lines, Trace("InstallDeleteFile -> " + In("skdnt.cfg"))));
  EXPECT_EQ(CountPrefixed(lines, "WARN: "), 0);
}

TEST_F(UpgradeTest, MissingFoldersPassSilentlyMissingFilesAreReportedByTheDeletion) {
  MSIHANDLE hInstall = OpenWith(kEarlier);
  for (const std::string& name : kConsoleFiles) Files().AddFile(In(name), name);
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  // The three server files are missing: each deletion reports error 2;
  // the two missing folders report nothing.
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 3);
  EXPECT_EQ(CountPrefixed(lines, "ERR: OV VRIN : InstallDeleteFile : 2"), 3);
  EXPECT_TRUE(Contains(lines, Trace("InstallDeleteEntireDirectory -> " + In("Engalpha"))));
  EXPECT_EQ(lines.back(), Trace("VrinGUIDeleteUpgradeLeftOvers <- [0]"));
}

TEST_F(UpgradeTest, AnEmptyFolderPropertyDeletesNoFileButStillTheOldKey) {
  MSIHANDLE hInstall = OpenWith("");
  // What bare names would reach: the current folder, C:\.
  for (const std::string& name : kConsoleFiles) Files().AddFile("C:\\" + name, name);
  Files().AddFile("C:\\Engi86\\x.dll", "x");
  SeedOldKey();
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  for (const std::string& name : kConsoleFiles) EXPECT_TRUE(Files().Exists("C:\\" + name)) << name;
  EXPECT_TRUE(Files().Exists("C:\\Engi86\\x.dll"));
  EXPECT_EQ(LocalRegistry().Find(kOldPath), nullptr);
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines, Trace("InstallGetProperty <- ()"), 2),
            (Lines{Trace("InstallGetProperty <- ()"),
                   Warning("Not deleting the earlier console's files: GUIINSTALLDIR is ''")}));
  EXPECT_TRUE(Contains(lines, Trace("InstallDelRegTree -> " + std::string(kOldKey))));
  EXPECT_EQ(Faults::Instance().CallCounts().count("OpenFile"), 0u);
}

TEST_F(UpgradeTest, ARelativeFolderPropertyIsTreatedAsEmpty) {
  for (const char* folder : {"Console", "C:Console", "\\Console"}) {
    MSIHANDLE hInstall = OpenWith(folder);
    Files().AddFile("C:\\Console\\skd.cfg", "x");
    EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
    EXPECT_TRUE(Files().Exists("C:\\Console\\skd.cfg")) << folder;
    EXPECT_TRUE(Contains(LogLines(), Warning("Not deleting the earlier console's files: GUIINSTALLDIR is '" +
                                             std::string(folder) + "'")));
  }
}

TEST_F(UpgradeTest, AServerImageHeldWithoutSharingStillKeepsTheServersFiles) {
  MSIHANDLE hInstall = OpenWith(kEarlier);
  SeedEarlier();
  Files().AddFile(In("skdnt.exe"), "the server");
  Files().HoldOpen(In("skdnt.exe"), GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  for (const std::string& name : kServerFiles) EXPECT_TRUE(Files().Exists(In(name))) << name;
  EXPECT_FALSE(Files().Exists(In("skd.cfg")));
}

TEST_F(UpgradeTest, AFolderPathTooLongForOpenFileIsTestedByItsAttributes) {
  for (bool server : {true, false}) {
    // skdnt.exe's path: 133 characters.
    const std::string folder = "C:\\" + std::string(120, server ? 'v' : 'w');
    MSIHANDLE hInstall = OpenWith(folder);
    SeedEarlier(folder);
    if (server) Files().AddFile(folder + "\\skdnt.exe", "the server");
    EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
    for (const std::string& name : kServerFiles) {
      EXPECT_EQ(Files().Exists(folder + "\\" + name), server) << name;
    }
    EXPECT_FALSE(Files().Exists(folder + "\\skd.cfg"));
  }
}

TEST_F(UpgradeTest, AServerImageThatCannotBeTestedKeepsTheServersFilesWithAWarning) {
  MSIHANDLE hInstall = OpenWith(kEarlier);
  SeedEarlier();
  Faults::Instance().Fail("OpenFile", ERROR_ACCESS_DENIED, 1, In("skdnt.exe"));
  Faults::Instance().Fail("GetFileAttributes", ERROR_ACCESS_DENIED, 1, In("skdnt.exe"));
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  for (const std::string& name : kServerFiles) EXPECT_TRUE(Files().Exists(In(name))) << name;
  EXPECT_TRUE(
      Contains(LogLines(), Warning("Keeping the server's files: " + In("skdnt.exe") + " cannot be tested (5)")));
}

TEST_F(UpgradeTest, FilesInUseAreScheduled) {
  MSIHANDLE hInstall = OpenWith(kEarlier);
  SeedEarlier();
  Files().HoldOpen(In("skd.cfg"), GENERIC_READ, FILE_SHARE_READ);
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\" + In("skd.cfg"), ""}}));
  EXPECT_FALSE(Files().Exists(In("skdupdat.exe")));
}

TEST_F(UpgradeTest, AFolderTooLongForTheNamesEndsTheStepsWithOneReport) {
  const std::string folder = "C:\\" + std::string(250, 'f');
  MSIHANDLE hInstall = OpenWith(folder);
  SeedOldKey();
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(
      Lines(lines.end() - 2, lines.end()),
      (Lines{Report("VrinGUIDeleteUpgradeLeftOvers", 206, "InstallMakePath", "The filename or extension is too long."),
             Trace("VrinGUIDeleteUpgradeLeftOvers <- [0]")}));
  EXPECT_NE(LocalRegistry().Find(kOldPath), nullptr) << "a failure ends the remaining steps";
  EXPECT_EQ(LocalRegistry().Find(kOldPath)->Values().size(), 1u) << "the version values went first";
}

TEST_F(UpgradeTest, WithoutASessionTheFolderCannotBeReadAndOnlyTheValuesGo) {
  OpenSession();
  SeedEarlier();
  SeedOldKey();
  TakeStdout();
  EXPECT_EQ(VrinGUIDeleteUpgradeLeftOvers(0), 0u);
  std::string out = TakeStdout();
  EXPECT_EQ(out.rfind("OV VRIN : VrinGUIDeleteUpgradeLeftOvers ->\r\n", 0), 0u);
  EXPECT_NE(out.find("OV VRIN : VrinGUIDeleteUpgradeLeftOvers : 6\r\n\r\nCONTEXT = MsiGetSourcePath\r\n"),
            std::string::npos);
  EXPECT_EQ(LocalRegistry().Find(kOldPath)->Values().size(), 1u);
  EXPECT_TRUE(Files().Exists(In("skd.cfg")));
}

// --- VRINDeleteOldShortCut ---

class OldShortCutTest : public CleanupTest {};

TEST_F(OldShortCutTest, TheShortcutTheGroupAndTheProfileGo) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  Files().AddFile(kShortcut, "link");
  Files().AddFile(kIniPath, "");
  Files().AddFile(kPrograms + "\\Velmora Tools.lnk", "not the 6.61 shortcut");

  EXPECT_EQ(VRINDeleteOldShortCut(hInstall), 0u);

  EXPECT_FALSE(Files().Exists(kShortcut));
  EXPECT_FALSE(Files().Exists(kGroup));
  EXPECT_FALSE(Files().Exists(kIniPath));
  EXPECT_TRUE(Files().Exists(kPrograms + "\\Velmora Tools.lnk"));
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            (Lines{Trace("VRINDeleteOldShortCut ->"), Trace("VRIN program group = Velmora"),
                   Trace("VRIN Shortcut Location " + kShortcut), Trace("Delete Program Group " + kGroup + " ver 6.61"),
                   Trace("InstallDeleteEntireDirectory -> " + kGroup)}));
  Lines tail = Deleted(kIniPath);
  tail.push_back(Trace("VRINDeleteOldShortCut <-"));
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()), tail);
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 0);
}

TEST_F(OldShortCutTest, AMissingShortcutIsReportedAndTheGroupStillGoes) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  EXPECT_EQ(VRINDeleteOldShortCut(hInstall), 0u);
  EXPECT_FALSE(Files().Exists(kGroup));
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines, Trace("VRIN Shortcut Location " + kShortcut), 4),
            (Lines{Trace("VRIN Shortcut Location " + kShortcut), Trace("Failed to delete " + kShortcut + " 2"),
                   Report("VRINDeleteOldShortCut", 2, "VRINDeleteOldShortCut: DeleteFile", vrintest::kNotFoundText),
                   Trace("Delete Program Group " + kGroup + " ver 6.61")}));
}

TEST_F(OldShortCutTest, AMissingGroupIsReportedAndTheProfileStillGoes) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(kShortcut, "link");
  Files().AddFile(kIniPath, "");
  EXPECT_EQ(VRINDeleteOldShortCut(hInstall), 0u);
  EXPECT_FALSE(Files().Exists(kShortcut));
  EXPECT_FALSE(Files().Exists(kIniPath));
  Lines lines = LogLines();
  EXPECT_EQ(CountPrefixed(lines, "ERR: "), 1);
  EXPECT_TRUE(Contains(lines, Report("VRINDeleteOldShortCut : Remove program group", 3,
                                     "InstallDeleteEntireDirectory : FindFirstFile", vrintest::kPathNotFoundText)));
}

TEST_F(OldShortCutTest, ShellFailuresAreReportedUnderTheStageAndEverythingIsGivenBack) {
  struct Case {
    const char* function;
    uint32_t error;
    std::string report;
  };
  const Case cases[] = {
      {"SHGetMalloc", 0x80004005u,
       ShortReport("VRINDeleteOldShortCut : Remove program group", kEFail, "VRINDeleteOldShortCut : SHGetMalloc")},
      {"SHGetSpecialFolderLocation", 0x80004005u,
       ShortReport("VRINDeleteOldShortCut : Remove program group", kEFail,
                   "VRINDeleteOldShortCut : SHGetSpecialFolderLocation")},
      {"SHGetPathFromIDList", ERROR_ACCESS_DENIED,
       Report("VRINDeleteOldShortCut : Remove program group", 5, "VRINDeleteOldShortCut : SHGetPathFromIDList",
              vrintest::kAccessDeniedText)}};
  for (const Case& c : cases) {
    MSIHANDLE hInstall = Open();
    SeedGroup();
    Files().AddFile(kShortcut, "link");
    Files().AddFile(kIniPath, "");
    Faults::Instance().Clear();
    Faults::Instance().Fail(c.function, c.error);
    EXPECT_EQ(VRINDeleteOldShortCut(hInstall), 0u);
    Lines lines = LogLines();
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
              (Lines{Trace("VRINDeleteOldShortCut ->"), Trace("VRIN program group = Velmora"), c.report}))
        << c.function;
    EXPECT_TRUE(Files().Exists(kShortcut)) << c.function;
    EXPECT_TRUE(Files().Exists(kGroup)) << c.function;
    EXPECT_FALSE(Files().Exists(kIniPath)) << c.function;
    EXPECT_EQ(lines.back(), Trace("VRINDeleteOldShortCut <-"));
    EXPECT_EQ(host::ShellFolders::Instance().LiveBlocks(), 0) << c.function;
    EXPECT_EQ(host::ShellFolders::Instance().AllocatorReferences(), 0) << c.function;
  }
}

TEST_F(OldShortCutTest, AFailedWindowsFolderIsReportedUnderTheProfileStage) {
  MSIHANDLE hInstall = Open();
  SeedGroup();
  Files().AddFile(kShortcut, "link");
  Faults::Instance().Fail("GetWindowsDirectory", ERROR_ACCESS_DENIED);
  EXPECT_EQ(VRINDeleteOldShortCut(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{Report("VRINDeleteOldShortCut : delete skdwin.ini", 5, "VRINDeleteOldShortCut : GetWindowsDirectory",
                          vrintest::kAccessDeniedText),
                   Trace("VRINDeleteOldShortCut <-")}));
  EXPECT_FALSE(Files().Exists(kGroup));
}

}  // namespace
