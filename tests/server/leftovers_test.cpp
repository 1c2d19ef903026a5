// Left-overs of earlier servers: the previous generation's unused values and
// old files after an upgrade; the service's files, the driver file, the log
// folder named by skdnt.cfg and the hidden uninstall entry after the last
// removal. Files in use are scheduled for the restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/registry.h"
#include "server/leftovers.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using Lines = std::vector<std::string>;
using Pending = std::vector<std::pair<std::string, std::string>>;

const char kOldPath[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6B2D3F01-8E4C-4A32-8D66-2F3B4C5D6E72}";
const std::string kUninstallPath = std::string("HKEY_LOCAL_MACHINE\\") + kUninstallKey;
const char kServer[] = "C:\\Program Files\\Velmora\\Server";
const char kDriver[] = "C:\\WINDOWS\\system32\\drivers\\skdnt.sys";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}
std::string In(const std::string& name) { return std::string(kServer) + "\\" + name; }

// The trace of one InstallDeleteFile that deleted the file at once.
Lines Deleted(const std::string& path) {
  return {Trace("InstallDeleteFile -> " + path), Trace("InstallDeleteFile <- deleted")};
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from the first one that equals first, count of them.
Lines Slice(const Lines& lines, const std::string& first, size_t count) {
  auto it = std::find(lines.begin(), lines.end(), first);
  if (it == lines.end() || static_cast<size_t>(lines.end() - it) < count) return {"<" + first + " not found>"};
  return Lines(it, it + static_cast<std::ptrdiff_t>(count));
}

class LeftOversTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open(const std::string& installDir) {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    if (!installDir.empty()) Session().SetProperty("NTSERVERINSTALLDIR", installDir);
    return hInstall;
  }

  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "an action left a key open";
    EXPECT_EQ(Files().OpenFileHandles(), 0) << "an action left a file open";
    EXPECT_EQ(Files().OpenFindHandles(), 0) << "an action left a listing open";
    SessionTest::TearDown();
  }

  // An earlier server's folder with every file the actions know, one more that
  // is not theirs, and the driver file.
  static void SeedServer(const std::string& profile = "") {
    for (const char* name : {"skdnt.cli", "skdnt.dat", "skdnt.exe", "backup.cfg", "backup.cli", "skdnt60.cli",
                             "skdnt.sys", "skdnt351.sys", "skdnt64.cli", "custom.txt"}) {
      Files().AddFile(In(name), name);
    }
    Files().AddFile(In("skdnt.cfg"), profile);
    Files().AddFile(kDriver, "driver");
  }

  static void SeedOldKey() {
    for (const char* name : {"DriverPath", "InstallTime", "Organization", "User", "ServicePath", "GuiPath"}) {
      LocalRegistry().SetString(kOldPath, name, std::string("old ") + name);
    }
  }

  static void ExpectGone(const std::vector<std::string>& names) {
    for (const std::string& name : names) EXPECT_FALSE(Files().Exists(In(name))) << name;
  }
  static void ExpectKept(const std::vector<std::string>& names) {
    for (const std::string& name : names) EXPECT_TRUE(Files().Exists(In(name))) << name;
  }
};

// --- VrinNTDeleteUpgradeLeftOvers ---

TEST_F(LeftOversTest, UpgradeRemovesTheUnusedOldValuesInOrderAndTheOldFiles) {
  MSIHANDLE hInstall = Open(std::string(kServer) + "\\");
  SeedServer();
  SeedOldKey();
  LocalRegistry().Find(kOldPath)->RemoveValue("InstallTime");  // a missing value is no failure

  EXPECT_EQ(VrinNTDeleteUpgradeLeftOvers(hInstall), 0u);

  const std::string oldKey = "Software\\Orvannic\\OV VRIN\\CurrentVersion\\";
  Lines expected = {Trace("VrinNTDeleteUpgradeLeftOvers ->"),
                    Trace("InstallDelRegValue -> " + oldKey + "DriverPath"),
                    Trace("InstallDelRegValue <- 0"),
                    Trace("InstallDelRegValue -> " + oldKey + "InstallTime"),
                    Trace("InstallDelRegValue <- 2"),
                    Trace("InstallDelRegValue -> " + oldKey + "Organization"),
                    Trace("InstallDelRegValue <- 0"),
                    Trace("InstallDelRegValue -> " + oldKey + "User"),
                    Trace("InstallDelRegValue <- 0"),
                    Trace("InstallGetProperty -> NTSERVERINSTALLDIR"),
                    Trace("InstallGetProperty <- (" + std::string(kServer) + "\\)")};
  for (const char* name : {"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli"}) {
    Lines deleted = Deleted(In(name));
    expected.insert(expected.end(), deleted.begin(), deleted.end());
  }
  expected.push_back(Trace("VrinNTDeleteUpgradeLeftOvers <- [0]"));
  EXPECT_EQ(LogLines(), expected);

  ExpectGone({"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli"});
  ExpectKept({"skdnt.cfg", "skdnt.exe", "backup.cfg", "custom.txt"});
  EXPECT_TRUE(Files().Exists(kDriver));
  const auto& values = LocalRegistry().Find(kOldPath)->Values();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "ServicePath");
  EXPECT_EQ(values[1].name, "GuiPath");
}

TEST_F(LeftOversTest, UpgradeWithoutTheFolderPropertyDeletesTheValuesButNoFile) {
  MSIHANDLE hInstall = Open("");
  SeedServer();
  SeedOldKey();
  EXPECT_EQ(VrinNTDeleteUpgradeLeftOvers(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().Find(kOldPath)->Values().size(), 2u);
  ExpectKept({"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli"});
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{Trace("InstallGetProperty -> NTSERVERINSTALLDIR"), Trace("InstallGetProperty <- ()"),
                   Trace("VrinNTDeleteUpgradeLeftOvers <- [0]")}));
}

TEST_F(LeftOversTest, UpgradeSchedulesAFileInUseAndReportsMissingOnes) {
  MSIHANDLE hInstall = Open(kServer);
  Files().AddFile(In("skdnt.sys"), "old driver");
  Files().AddFile(In("skdnt64.cli"), "x");
  Files().HoldOpen(In("skdnt.sys"), GENERIC_READ, FILE_SHARE_READ);

  EXPECT_EQ(VrinNTDeleteUpgradeLeftOvers(hInstall), 0u);

  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\" + In("skdnt.sys"), ""}}));
  ExpectGone({"skdnt64.cli"});
  Lines lines = LogLines();
  EXPECT_EQ(Slice(lines, Trace("InstallDeleteFile -> " + In("skdnt60.cli")), 3),
            (Lines{Trace("InstallDeleteFile -> " + In("skdnt60.cli")),
                   Report("InstallDeleteFile", 2, "InstallDeleteFile : GetFileAttributes",
                          "The system cannot find the file specified."),
                   Trace("InstallDeleteFile <- not deleted")}));
  EXPECT_EQ(Slice(lines, Trace("InstallDeleteFile -> " + In("skdnt.sys")), 2),
            (Lines{Trace("InstallDeleteFile -> " + In("skdnt.sys")), Trace("InstallDeleteFile <- not deleted")}));
  EXPECT_EQ(lines.back(), Trace("VrinNTDeleteUpgradeLeftOvers <- [0]"));
}

TEST_F(LeftOversTest, UpgradeWithAFolderTooLongForAPathIsReportedNotCut) {
  const std::string folder = "C:\\" + std::string(250, 'f');
  MSIHANDLE hInstall = Open(folder);
  EXPECT_EQ(VrinNTDeleteUpgradeLeftOvers(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinNTDeleteUpgradeLeftOvers", 206, "InstallMakePath", "The filename or extension is too long."));
  EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind(Trace("InstallDeleteFile ->"), 0) == 0;
  })) << "no file is deleted under a cut path";
}

TEST_F(LeftOversTest, UpgradeRefusesAMissingSession) {
  OpenSession();
  SeedOldKey();
  TakeStdout();
  EXPECT_EQ(VrinNTDeleteUpgradeLeftOvers(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinNTDeleteUpgradeLeftOvers ->\r\n"
            "OV VRIN : VrinNTDeleteUpgradeLeftOvers : 160\r\n\r\nCONTEXT = VrinNTDeleteUpgradeLeftOvers : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinNTDeleteUpgradeLeftOvers <- [0]\r\n");
  EXPECT_EQ(LocalRegistry().Find(kOldPath)->Values().size(), 6u);
}

// --- VrinNTDeleteLeftOvers ---

TEST_F(LeftOversTest, LastRemovalDeletesFilesDriverAndTheDefaultLogFolderWhateverTheProfileSaid) {
  MSIHANDLE hInstall = Open(kServer);
  // Configured elsewhere, but skdnt.cfg is deleted at once: the lookup after
  // its deletion finds only the default.
  SeedServer("[General]\r\nLogfileDirectory=D:\\Velmora Logs\r\n");
  Files().AddFile("D:\\Velmora Logs\\skdnt.log", "log");
  Files().AddFile(In("Logs\\skdnt.log"), "log");

  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);

  ExpectGone({"skdnt.cfg", "skdnt.cli", "skdnt.dat", "skdnt.exe", "backup.cfg", "backup.cli", "Logs"});
  ExpectKept({"custom.txt", "skdnt60.cli"});
  EXPECT_FALSE(Files().Exists(kDriver));
  EXPECT_TRUE(Files().Exists("D:\\Velmora Logs\\skdnt.log"));
  EXPECT_TRUE(Files().PendingOperations().empty());
  EXPECT_EQ(LocalRegistry().Dword(kUninstallPath, "SystemComponent"), 1u);

  Lines expected = {Trace("VrinNTDeleteLeftOvers ->"), Trace("InstallGetProperty -> NTSERVERINSTALLDIR"),
                    Trace("InstallGetProperty <- (" + std::string(kServer) + ")")};
  for (const char* name : {"skdnt.cfg", "skdnt.cli", "skdnt.dat", "skdnt.exe"}) {
    Lines deleted = Deleted(In(name));
    expected.insert(expected.end(), deleted.begin(), deleted.end());
  }
  Lines driver = Deleted(kDriver);
  expected.insert(expected.end(), driver.begin(), driver.end());
  expected.push_back(Trace("InstallSetRegValue -> " + std::string(kUninstallKey) + "\\SystemComponent = 1"));
  expected.push_back(Trace("InstallSetRegValue <- 0"));
  for (const char* name : {"backup.cfg", "backup.cli"}) {
    Lines deleted = Deleted(In(name));
    expected.insert(expected.end(), deleted.begin(), deleted.end());
  }
  // The installer formats a logged line once more: "[General]" reads as an unset property.
  expected.push_back(Trace("InstallGetPrivateProfileString ->  LogfileDirectory=(" + In("Logs") + ")"));
  expected.push_back(Trace("InstallGetPrivateProfileString <- " + In("Logs")));
  expected.push_back(Trace("InstallDeleteEntireDirectory -> " + In("Logs")));
  Lines lines = LogLines();
  ASSERT_GT(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{Trace("InstallDeleteEntireDirectory <-"), Trace("VrinNTDeleteLeftOvers <- [0]")}));
  EXPECT_NE(TakeStdout().find("OV VRIN : InstallGetPrivateProfileString -> [General] LogfileDirectory=(" + In("Logs") +
                              ")\r\n"),
            std::string::npos);
}

// skdnt.cfg in use is deleted only at the restart, so the lookup finds the
// configured folder; it goes only when it lies strictly below the server's
// folder.
TEST_F(LeftOversTest, AConfiguredLogFolderGoesOnlyWhenItLiesBelowTheServerFolder) {
  const std::string cut = "D:\\" + std::string(300, 'L');
  const struct {
    std::string configured;
    bool deleted;
    std::string why;
  } cases[] = {
      {In("Trace"), true, "a folder below the server's"},
      {"c:\\program files\\velmora\\SERVER\\Trace\\", true, "the same in other letter case"},
      {In("Logs"), true, "the default folder"},
      {"D:\\VelmoraLogs", false, "a folder elsewhere"},
      {kServer, false, "the server's folder itself"},
      {std::string(kServer) + "\\\\", false, "the server's folder with an empty part"},
      {In("Trace\\.."), false, "the server's folder in disguise"},
      {"C:\\Program Files\\Velmora\\Server2\\Logs", false, "a sibling sharing the name's start"},
      {"Logs", false, "a folder relative to the installer's current folder"},
      {"\\\\server\\share", false, "a network share"},
      {cut, false, "a value cut by the buffer"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.why);
    MSIHANDLE hInstall = Open(kServer);
    SeedServer("[General]\r\nLogfileDirectory=" + test.configured + "\r\n");
    Files().HoldOpen(In("skdnt.cfg"), GENERIC_READ, FILE_SHARE_READ);
    const Lines outside = {"D:\\VelmoraLogs", "C:\\Program Files\\Velmora\\Server2\\Logs", cut.substr(0, 200)};
    for (const std::string& folder : outside) Files().AddFile(folder + "\\keep.log", "log");
    Files().AddFile(In("Trace\\skdnt.log"), "log");
    Files().AddFile(In("Logs\\skdnt.log"), "log");

    EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);

    Lines lines = LogLines();
    if (test.deleted) {
      EXPECT_TRUE(Contains(lines, Trace("InstallDeleteEntireDirectory -> " + test.configured)));
      EXPECT_FALSE(Files().Exists(test.configured));
    } else {
      std::string shown = test.configured == cut ? cut.substr(0, MAX_PATH - 1) : test.configured;
      EXPECT_TRUE(Contains(lines, Warning("Not deleting log folder " + shown)));
      EXPECT_FALSE(Contains(lines, Trace("InstallDeleteEntireDirectory -> " + shown)));
    }
    for (const std::string& folder : outside) EXPECT_TRUE(Files().Exists(folder + "\\keep.log")) << folder;
    ExpectKept({"custom.txt"});
    Session().Close();
    host::ResetMachine();
  }
}

TEST_F(LeftOversTest, AnEmptyLogFolderValueLeavesTheDefault) {
  MSIHANDLE hInstall = Open(std::string(kServer) + "\\");
  SeedServer("[General]\r\nLogfileDirectory=\r\n");
  Files().HoldOpen(In("skdnt.cfg"), GENERIC_READ, FILE_SHARE_READ);
  Files().AddFile(In("Logs\\2001\\old.log"), "log");

  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);

  EXPECT_FALSE(Files().Exists(In("Logs")));
  EXPECT_TRUE(Files().Exists(kServer)) << "only the log folder is removed, not its parent";
  EXPECT_TRUE(Contains(LogLines(), Trace("InstallDeleteEntireDirectory -> " + In("Logs"))));
}

TEST_F(LeftOversTest, FilesInUseAreScheduledAndAConfiguredFolderElsewhereStays) {
  MSIHANDLE hInstall = Open(kServer);
  SeedServer("[General]\r\nLogfileDirectory=D:\\VelmoraLogs\r\n");
  Files().AddFile("D:\\VelmoraLogs\\skdnt.log", "log");
  Files().AddFile(In("Logs\\skdnt.log"), "log");
  Files().HoldOpen(In("skdnt.cfg"), GENERIC_READ, FILE_SHARE_READ);
  Files().HoldOpen(In("skdnt.exe"), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ);
  Files().HoldOpen(kDriver, GENERIC_READ, FILE_SHARE_READ);

  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);

  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\" + In("skdnt.cfg"), ""},
                                                  {"\\??\\" + In("skdnt.exe"), ""},
                                                  {"\\??\\" + std::string(kDriver), ""}}));
  ExpectGone({"skdnt.cli", "skdnt.dat", "backup.cfg", "backup.cli"});
  EXPECT_TRUE(Files().Exists("D:\\VelmoraLogs\\skdnt.log"));
  ExpectKept({"Logs\\skdnt.log"});
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{Warning("Not deleting log folder D:\\VelmoraLogs"), Trace("VrinNTDeleteLeftOvers <- [0]")}));
  Files().Restart();
  ExpectGone({"skdnt.cfg", "skdnt.exe"});
  EXPECT_FALSE(Files().Exists(kDriver));
}

TEST_F(LeftOversTest, TheUninstallEntryIsCreatedHoldingOnlySystemComponent) {
  MSIHANDLE hInstall = Open(kServer);
  SeedServer();
  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);
  auto key = LocalRegistry().Find(kUninstallPath);
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->Values().size(), 1u);
  EXPECT_EQ(key->Values()[0].name, "SystemComponent");
  EXPECT_EQ(key->Values()[0].type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(key->Values()[0].data, (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST_F(LeftOversTest, AnExistingUninstallEntryKeepsItsValues) {
  MSIHANDLE hInstall = Open(kServer);
  SeedServer();
  LocalRegistry().SetString(kUninstallPath, "DisplayName", "Lumicor Velmora");
  LocalRegistry().SetDword(kUninstallPath, "SystemComponent", 0);
  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kUninstallPath, "DisplayName"), "Lumicor Velmora");
  EXPECT_EQ(LocalRegistry().Dword(kUninstallPath, "SystemComponent"), 1u);
}

TEST_F(LeftOversTest, AMissingLogFolderIsReportedAfterEverythingElseIsDone) {
  MSIHANDLE hInstall = Open(kServer);
  SeedServer();
  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);
  ExpectGone({"skdnt.cfg", "skdnt.exe", "backup.cli"});
  EXPECT_FALSE(Files().Exists(kDriver));
  EXPECT_EQ(LocalRegistry().Dword(kUninstallPath, "SystemComponent"), 1u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{Trace("InstallDeleteEntireDirectory -> " + In("Logs")),
                   Report("VrinNTDeleteLeftOvers", 3, "InstallDeleteEntireDirectory : FindFirstFile",
                          "The system cannot find the path specified."),
                   Trace("VrinNTDeleteLeftOvers <- [0]")}));
}

TEST_F(LeftOversTest, AWindowsFolderThatCannotBeReadLeavesTheRestAsItIs) {
  MSIHANDLE hInstall = Open(kServer);
  SeedServer();
  Files().AddFile(In("Logs\\skdnt.log"), "log");
  Faults::Instance().Fail("GetWindowsDirectory", ERROR_ACCESS_DENIED);

  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);

  ExpectGone({"skdnt.cfg", "skdnt.cli", "skdnt.dat", "skdnt.exe"});
  ExpectKept({"backup.cfg", "backup.cli", "Logs\\skdnt.log"});
  EXPECT_TRUE(Files().Exists(kDriver));
  EXPECT_EQ(LocalRegistry().Find(kUninstallPath), nullptr);
  Lines lines = LogLines();
  EXPECT_EQ(
      Lines(lines.end() - 2, lines.end()),
      (Lines{Report("VrinNTDeleteLeftOvers", 5, "VrinNTDeleteLeftOvers : GetWindowsDirectory", "Access is denied."),
             Trace("VrinNTDeleteLeftOvers <- [0]")}));
}

TEST_F(LeftOversTest, WithoutTheFolderPropertyNothingIsTouched) {
  MSIHANDLE hInstall = Open("");
  SeedServer();
  EXPECT_EQ(VrinNTDeleteLeftOvers(hInstall), 0u);
  ExpectKept({"skdnt.cfg", "skdnt.exe", "backup.cli"});
  EXPECT_TRUE(Files().Exists(kDriver));
  EXPECT_EQ(LocalRegistry().Find(kUninstallPath), nullptr);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTDeleteLeftOvers ->"), Trace("InstallGetProperty -> NTSERVERINSTALLDIR"),
                               Trace("InstallGetProperty <- ()"), Trace("VrinNTDeleteLeftOvers <- [0]")}));
}

TEST_F(LeftOversTest, WithoutASessionThePropertyReadFailsAndNothingIsTouched) {
  OpenSession();
  SeedServer();
  TakeStdout();
  EXPECT_EQ(VrinNTDeleteLeftOvers(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinNTDeleteLeftOvers ->\r\n"
            "OV VRIN : InstallGetProperty -> NTSERVERINSTALLDIR\r\n"
            "OV VRIN : VrinNTDeleteLeftOvers : 6\r\n\r\nCONTEXT = MsiGetSourcePath\r\n"
            "DESCRIPTION = The handle is invalid.\r\n\r\n"
            "OV VRIN : VrinNTDeleteLeftOvers <- [0]\r\n");
  ExpectKept({"skdnt.cfg", "skdnt.exe"});
  EXPECT_TRUE(Files().Exists(kDriver));
}

}  // namespace
