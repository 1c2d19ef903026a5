// Migration of the oldest generation's settings: every value copied with its
// type and data, the four installation-specific names skipped in any letter
// case, the predecessor vendor's key deleted only after a complete copy, and
// the status line that ends every run.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/registry.h"
#include "server/migration.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::LocalRegistry;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const char kSourcePath[] = "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion";
const char kVendorPath[] = "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG";
const char kProductPath[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Failure(const std::string& text) { return "ERR: OV VRIN : " + text; }
std::string Status(int status) {
  return Failure("RegOpenKeyEx(OldVersion) returned " + std::to_string(status) + " - should no longer exist!");
}

Bytes Text(const std::string& text, bool withNul = true) {
  Bytes bytes(text.begin(), text.end());
  if (withNul) bytes.push_back(0);
  return bytes;
}

class MigrationTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open() { return OpenSession(vrintest::RowMarkersSql()); }

  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "the migration left a key open";
    SessionTest::TearDown();
  }

  static void Seed(const std::string& name, uint32_t type, Bytes data) {
    LocalRegistry().SetBinary(kSourcePath, name, type, std::move(data));
  }

  // The value in the product key has exactly this type and data.
  static void ExpectCopied(const std::string& name, uint32_t type, const Bytes& data) {
    auto value = LocalRegistry().Value(kProductPath, name);
    ASSERT_TRUE(value.has_value()) << name << " was not copied";
    EXPECT_EQ(value->type, type) << name;
    EXPECT_EQ(value->data, data) << name;
  }
};

// --- A complete copy ---

TEST_F(MigrationTest, NoSourceKeyCopiesNothingAndReportsStatus2) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().Create(kVendorPath);
  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTMigrateTarrowRegistry ->"), Status(2), Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr) << "the product key was created for nothing";
  EXPECT_NE(LocalRegistry().Find(kVendorPath), nullptr);
}

TEST_F(MigrationTest, EveryTypeIsCopiedUnchangedAndTheVendorKeyDeleted) {
  MSIHANDLE hInstall = Open();
  const Bytes multi = {'C', ':', '\\', 'a', 0, 'D', ':', '\\', 'b', 0, 0};
  const Bytes binary = {0x00, 0xFF, 0x10, 0x00, 0x5C};
  Seed("ConfigurationPath", REG_SZ, Text("C:\\Tarrow\\Skelda\\"));
  Seed("LogPath", REG_EXPAND_SZ, Text("%SystemRoot%\\Logs"));
  Seed("Version", REG_DWORD, {0x02, 0x01, 0x00, 0x06});
  Seed("Signature", REG_BINARY, binary);
  Seed("Volumes", REG_MULTI_SZ, multi);
  Seed("Raw", REG_SZ, Text("AB", false));
  Seed("Empty", REG_BINARY, {});
  Seed("", REG_SZ, Text("default"));
  LocalRegistry().SetDword(std::string(kVendorPath) + "\\Other\\Deep", "Left", 1);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  ExpectCopied("ConfigurationPath", REG_SZ, Text("C:\\Tarrow\\Skelda\\"));
  ExpectCopied("LogPath", REG_EXPAND_SZ, Text("%SystemRoot%\\Logs"));
  ExpectCopied("Version", REG_DWORD, {0x02, 0x01, 0x00, 0x06});
  ExpectCopied("Signature", REG_BINARY, binary);
  ExpectCopied("Volumes", REG_MULTI_SZ, multi);
  ExpectCopied("Raw", REG_SZ, Text("AB", false));
  ExpectCopied("Empty", REG_BINARY, {});
  ExpectCopied("", REG_SZ, Text("default"));
  EXPECT_EQ(LocalRegistry().Find(kProductPath)->Values().size(), 8u);
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr) << "the whole vendor tree goes";

  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 13u);
  EXPECT_EQ(
      Lines(lines.begin(), lines.begin() + 13),
      (Lines{Trace("VrinNTMigrateTarrowRegistry ->"), Trace("Detected old key - migrating registry data to new key"),
             Trace("Created new key for migration"), Trace("Allocing buffer for max name 18, max data 18 "),
             Trace("Migrating value 'ConfigurationPath'"), Trace("Migrating value 'LogPath'"),
             Trace("Migrating value 'Version'"), Trace("Migrating value 'Signature'"),
             Trace("Migrating value 'Volumes'"), Trace("Migrating value 'Raw'"), Trace("Migrating value 'Empty'"),
             Trace("Migrating value ''"), Trace("InstallDelRegTree -> Software\\Tarrow ATG")}));
  // The old tree is deleted, then the line says so.
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
            (Lines{Trace("InstallDelRegTree <- deleted"), Trace("Deleting old tree"), Status(ERROR_NO_MORE_ITEMS),
                   Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
}

TEST_F(MigrationTest, TheFourInstallationValuesAreSkippedInAnyLetterCase) {
  MSIHANDLE hInstall = Open();
  Seed("User", REG_SZ, Text("Administrator"));
  Seed("ConfigurationPath", REG_SZ, Text("C:\\Tarrow\\"));
  Seed("ORGANIZATION", REG_SZ, Text("Tarrow"));
  Seed("installtime", REG_DWORD, {1, 2, 3, 4});
  Seed("dRIVERpATH", REG_SZ, Text("C:\\WINNT\\system32\\drivers\\skdnt.sys"));
  Seed("Users", REG_SZ, Text("near miss"));
  Seed("User ", REG_SZ, Text("near miss"));
  Seed("Version", REG_SZ, Text("5.1"));

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  Lines lines = LogLines();
  EXPECT_EQ(
      Lines(lines.begin() + 4, lines.begin() + 12),
      (Lines{Trace("Skipping 'User'"), Trace("Migrating value 'ConfigurationPath'"), Trace("Skipping 'ORGANIZATION'"),
             Trace("Skipping 'installtime'"), Trace("Skipping 'dRIVERpATH'"), Trace("Migrating value 'Users'"),
             Trace("Migrating value 'User '"), Trace("Migrating value 'Version'")}));
  for (const char* skipped : {"User", "Organization", "InstallTime", "DriverPath"}) {
    EXPECT_FALSE(LocalRegistry().Value(kProductPath, skipped).has_value()) << skipped;
  }
  ExpectCopied("Users", REG_SZ, Text("near miss"));
  ExpectCopied("User ", REG_SZ, Text("near miss"));
  ExpectCopied("Version", REG_SZ, Text("5.1"));
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr);
}

TEST_F(MigrationTest, ACopiedValueOverwritesOneOfTheSameNameAndLeavesTheOthers) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetDword(kProductPath, "version", 7);
  LocalRegistry().SetString(kProductPath, "GuiPath", "C:\\Velmora\\Console");
  LocalRegistry().SetString(kProductPath, "User", "kept");
  Seed("Version", REG_SZ, Text("5.1"));
  Seed("User", REG_SZ, Text("old"));

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  const host::RegValue* version = LocalRegistry().Find(kProductPath)->Value("Version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(version->data, Text("5.1"));
  EXPECT_EQ(LocalRegistry().String(kProductPath, "GuiPath"), "C:\\Velmora\\Console");
  EXPECT_EQ(LocalRegistry().String(kProductPath, "User"), "kept");
  EXPECT_EQ(LocalRegistry().Find(kProductPath)->Values().size(), 3u);
}

TEST_F(MigrationTest, AnEmptySourceKeyStillCompletesTheMigration) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().Create(kSourcePath);
  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], Trace("Allocing buffer for max name 1, max data 0 "));
  EXPECT_EQ(lines[4], Trace("InstallDelRegTree -> Software\\Tarrow ATG"));
  EXPECT_EQ(lines[lines.size() - 3], Trace("Deleting old tree"));
  EXPECT_EQ(lines[lines.size() - 2], Status(ERROR_NO_MORE_ITEMS));
  EXPECT_NE(LocalRegistry().Find(kProductPath), nullptr) << "the product key is created";
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr);
}

TEST_F(MigrationTest, DoubleByteNamesAreCopiedAsTheyAre) {
  host::SetAnsiCodePage(932);
  MSIHANDLE hInstall = Open();
  // 0x83 0x5C: a katakana character whose trail byte is the backslash.
  const std::string name =
      "\x83\x5C"
      "User";
  Seed(name, REG_SZ, Text("\x83\x5C"));
  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);
  ExpectCopied(name, REG_SZ, Text("\x83\x5C"));
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr);
}

// --- Buffer sizes ---

TEST_F(MigrationTest, LongestNameAndDataFitTheBufferExactly) {
  MSIHANDLE hInstall = Open();
  // The registry's longest value name, and a megabyte of data; the short
  // value comes first, so a length left over from it would be too small for
  // the long one.
  const std::string longName(16383, 'N');
  Bytes longData(1024 * 1024);
  for (size_t i = 0; i < longData.size(); ++i) longData[i] = static_cast<uint8_t>(i * 7 + 1);
  Seed("A", REG_BINARY, {1});
  Seed(longName, REG_BINARY, longData);
  Seed("B", REG_SZ, Text(std::string(300, 'b')));

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  ExpectCopied("A", REG_BINARY, {1});
  ExpectCopied(longName, REG_BINARY, longData);
  ExpectCopied("B", REG_SZ, Text(std::string(300, 'b')));
  Lines lines = LogLines();
  EXPECT_EQ(lines.at(3), Trace("Allocing buffer for max name 16384, max data 1048576 "));
  EXPECT_EQ(lines[lines.size() - 2], Status(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr);
}

TEST_F(MigrationTest, AValueLargerThanTheBufferEndsTheCopyWithoutTouchingMemory) {
  MSIHANDLE hInstall = Open();
  Seed("First", REG_SZ, Text("copied"));
  Seed("Second", REG_BINARY, Bytes(64, 0xAB));
  Seed("Third", REG_SZ, Text("not reached"));
  // What the enumeration answers for a value that grew past the lengths the
  // key reported.
  Faults::Instance().Fail("RegEnumValue", ERROR_MORE_DATA, 2);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  ExpectCopied("First", REG_SZ, Text("copied"));
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "Second").has_value());
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "Third").has_value());
  EXPECT_NE(LocalRegistry().Find(kSourcePath), nullptr) << "the source must stay for the next run";
  EXPECT_EQ(
      LogLines(),
      (Lines{Trace("VrinNTMigrateTarrowRegistry ->"), Trace("Detected old key - migrating registry data to new key"),
             Trace("Created new key for migration"), Trace("Allocing buffer for max name 7, max data 64 "),
             Trace("Migrating value 'First'"), Failure("RegEnumValue(oldkey)"), Status(ERROR_MORE_DATA),
             Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
}

// --- Failures keep the source ---

TEST_F(MigrationTest, AFailedSetKeepsTheSourceAndWhatWasCopied) {
  MSIHANDLE hInstall = Open();
  Seed("ConfigurationPath", REG_SZ, Text("C:\\Tarrow\\"));
  Seed("Version", REG_SZ, Text("5.1"));
  Seed("Products", REG_DWORD, {1, 0, 0, 0});
  Faults::Instance().Fail("RegSetValueEx", ERROR_ACCESS_DENIED, 2, kProductPath);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  ExpectCopied("ConfigurationPath", REG_SZ, Text("C:\\Tarrow\\"));
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "Version").has_value());
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "Products").has_value());
  EXPECT_EQ(LocalRegistry().Find(kSourcePath)->Values().size(), 3u);
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.begin() + 4, lines.end()),
            (Lines{Trace("Migrating value 'ConfigurationPath'"), Trace("Migrating value 'Version'"),
                   Failure("RegSetValueEx(newkey)"), Status(ERROR_ACCESS_DENIED),
                   Trace("VrinNTMigrateTarrowRegistry <- [0]")}));

  // The next run copies again and completes.
  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);
  ExpectCopied("Products", REG_DWORD, {1, 0, 0, 0});
  EXPECT_EQ(LocalRegistry().Find(kVendorPath), nullptr);
}

TEST_F(MigrationTest, AProductKeyThatCannotBeCreatedStopsBeforeAnyCopy) {
  MSIHANDLE hInstall = Open();
  Seed("Version", REG_SZ, Text("5.1"));
  LocalRegistry().Create("HKLM\\Software\\Orvannic");
  LocalRegistry().Deny("HKLM\\Software\\Orvannic", KEY_CREATE_SUB_KEY);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTMigrateTarrowRegistry ->"),
                   Trace("Detected old key - migrating registry data to new key"), Failure("RegOpenKeyEx(NewVersion)"),
                   Status(ERROR_ACCESS_DENIED), Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
  EXPECT_NE(LocalRegistry().Find(kSourcePath), nullptr);
}

TEST_F(MigrationTest, AFailedKeyQueryStopsBeforeAnyCopy) {
  MSIHANDLE hInstall = Open();
  Seed("Version", REG_SZ, Text("5.1"));
  Faults::Instance().Fail("RegQueryInfoKey", ERROR_KEY_DELETED);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
            (Lines{Trace("Created new key for migration"), Failure("RegQueryInfoKey(oldkey)"),
                   Status(ERROR_KEY_DELETED), Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "Version").has_value());
  EXPECT_NE(LocalRegistry().Find(kSourcePath), nullptr);
}

TEST_F(MigrationTest, NoMemoryForTheBufferReportsStatus14) {
  MSIHANDLE hInstall = Open();
  Seed("Version", REG_SZ, Text("5.1"));
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
            (Lines{Trace("Allocing buffer for max name 8, max data 4 "), Failure("alloc(valuebuffer)"),
                   Status(ERROR_OUTOFMEMORY), Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
  EXPECT_NE(LocalRegistry().Find(kSourcePath), nullptr);
}

TEST_F(MigrationTest, ASourceKeyThatCannotBeOpenedIsLeftAlone) {
  MSIHANDLE hInstall = Open();
  Seed("Version", REG_SZ, Text("5.1"));
  LocalRegistry().Deny(kSourcePath, DELETE);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTMigrateTarrowRegistry ->"), Status(ERROR_ACCESS_DENIED),
                               Trace("VrinNTMigrateTarrowRegistry <- [0]")}));
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr);
}

TEST_F(MigrationTest, AVendorTreeThatCannotBeDeletedStaysAfterTheCopy) {
  MSIHANDLE hInstall = Open();
  Seed("Version", REG_SZ, Text("5.1"));
  LocalRegistry().Create(std::string(kVendorPath) + "\\Locked");
  LocalRegistry().Deny(std::string(kVendorPath) + "\\Locked", KEY_ALL_ACCESS);

  EXPECT_EQ(VrinNTMigrateTarrowRegistry(hInstall), 0u);

  ExpectCopied("Version", REG_SZ, Text("5.1"));
  EXPECT_NE(LocalRegistry().Find(std::string(kVendorPath) + "\\Locked"), nullptr);
  Lines lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), Failure("Failed to open Locked 5")), lines.end());
  EXPECT_EQ(lines[lines.size() - 2], Status(ERROR_NO_MORE_ITEMS));
}

// --- The action ---

TEST_F(MigrationTest, MissingSessionIsRefusedBeforeAnyRegistryWork) {
  OpenSession();
  Seed("Version", REG_SZ, Text("5.1"));
  TakeStdout();
  EXPECT_EQ(VrinNTMigrateTarrowRegistry(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinNTMigrateTarrowRegistry ->\r\n"
            "OV VRIN : VrinNTMigrateTarrowRegistry : 160\r\n\r\nCONTEXT = VrinNTMigrateTarrowRegistry : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinNTMigrateTarrowRegistry <- [0]\r\n");
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr);
  EXPECT_NE(LocalRegistry().Find(kSourcePath), nullptr);
}

}  // namespace
