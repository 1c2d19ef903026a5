// Shared-file reference counts: which file's count is read, what property it
// becomes, and how the decrements lower counts without ever creating,
// deleting or wrapping one.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/registry.h"
#include "runtime/install_exception.h"
#include "server/reference_counts.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::LocalRegistry;

const std::string kShared = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const std::string kProduct = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kOld = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const std::string kSharedKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

const std::string kService = "C:\\Program Files\\Velmora\\Server\\skdnt.exe";
const std::string kOldService = "C:\\Program Files\\OV VRIN\\skdnt.exe";
const std::string kDriver = "C:\\WINDOWS\\system32\\drivers\\skdnt.sys";

class ReferenceCountsTest : public vrintest::SessionTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a key was left open";
    SessionTest::TearDown();
  }

  static void SetCount(const std::string& file, uint32_t count) { LocalRegistry().SetDword(kShared, file, count); }
  static std::optional<host::RegValue> Count(const std::string& file) { return LocalRegistry().Value(kShared, file); }
  static void ExpectDword(const std::string& file, uint32_t count) {
    auto value = Count(file);
    ASSERT_TRUE(value.has_value()) << file;
    EXPECT_EQ(value->type, static_cast<uint32_t>(REG_DWORD)) << file;
    EXPECT_EQ(LocalRegistry().Dword(kShared, file), count) << file;
  }
  static size_t SharedValueCount() {
    auto key = LocalRegistry().Find(kShared);
    return key ? key->Values().size() : 0;
  }
};

// --- Reading the server's count ---------------------------------------------

TEST_F(ReferenceCountsTest, ServerCountOfOneIsPublishedAsOne) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 1);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "1");
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "OV VRIN : VrinNTReadRefCounter ->",
                "OV VRIN : NTReadRefCounter ->",
                "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ServicePath",
                "OV VRIN : InstallGetRegString <- " + kService,
                "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + kService + " [0]",
                "OV VRIN : InstallGetRegValue <- 1",
                "OV VRIN : NTReadRefCounter <- 1",
                "OV VRIN : InstallSetProperty -> NTSERVERREFCOUNTER = 1",
                "OV VRIN : InstallSetProperty <-",
                "OV VRIN : VrinNTReadRefCounter <- [0]",
            }));
  ExpectDword(kService, 1);  // reading never changes a count
}

TEST_F(ReferenceCountsTest, ServerCountsOfTwoAndThreeArePublishedAsDecimalText) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 2);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "2");
  SetCount(kService, 3);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "3");
  EXPECT_EQ(NTReadRefCounter(hInstall), 3u);
}

TEST_F(ReferenceCountsTest, CountStoredAsTextIsReadAsItsNumber) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  LocalRegistry().SetString(kShared, kService, "01");
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  // "1", not "01": the removal conditions compare the text with "1".
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "1");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[4], "OV VRIN : InstallGetRegString -> " + kSharedKey + "\\" + kService);
  EXPECT_EQ(lines[5], "OV VRIN : InstallGetRegString <- 01");
  EXPECT_EQ(lines[6], "OV VRIN : NTReadRefCounter <- 1");
}

TEST_F(ReferenceCountsTest, FourByteTextCountIsNotTakenForItsRawBytes) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  // "123" and its NUL are four bytes, the size of a REG_DWORD.
  LocalRegistry().SetString(kShared, kService, "123");
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "123");
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  EXPECT_EQ(Count(kService)->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(LocalRegistry().String(kShared, kService), "122");
}

TEST_F(ReferenceCountsTest, StoredZeroRemovesThePropertyLikeAMissingCount) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("NTSERVERREFCOUNTER", "4");
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 0);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("NTSERVERREFCOUNTER"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], "OV VRIN : InstallGetRegValue <- 0");
  EXPECT_EQ(lines[6], "OV VRIN : NTReadRefCounter <- 0");
  EXPECT_EQ(lines[7], "OV VRIN : Deleting NTSERVERREFCOUNTER");
  EXPECT_EQ(lines[8], "OV VRIN : VrinNTReadRefCounter <- [0]");
  ExpectDword(kService, 0);
}

TEST_F(ReferenceCountsTest, AbsentAndEmptyCountsRemoveTheProperty) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("NTSERVERREFCOUNTER"));
  EXPECT_FALSE(Count(kService).has_value()) << "reading created a count";

  LocalRegistry().SetString(kShared, kService, "");
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("NTSERVERREFCOUNTER"));
  EXPECT_EQ(LogLines().at(LogLines().size() - 2), "OV VRIN : Deleting NTSERVERREFCOUNTER");
}

TEST_F(ReferenceCountsTest, NoServicePathAnywhereRemovesTheProperty) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("NTSERVERREFCOUNTER", "2");
  SetCount(kService, 2);  // a count nobody points at is not read
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("NTSERVERREFCOUNTER"));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "OV VRIN : VrinNTReadRefCounter ->",
                "OV VRIN : NTReadRefCounter ->",
                "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ServicePath",
                "OV VRIN : InstallGetRegString <- Null",
                "OV VRIN : InstallGetRegString -> Software\\Orvannic\\OV VRIN\\CurrentVersion\\ServicePath",
                "OV VRIN : InstallGetRegString <- Null",
                "OV VRIN : NTReadRefCounter <- 0",
                "OV VRIN : Deleting NTSERVERREFCOUNTER",
                "OV VRIN : VrinNTReadRefCounter <- [0]",
            }));
}

TEST_F(ReferenceCountsTest, EmptyServicePathFallsBackToTheOldKey) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", "");
  LocalRegistry().SetString(kOld, "ServicePath", kOldService);
  SetCount(kOldService, 2);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "2");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[3], "OV VRIN : InstallGetRegString <- ");
  EXPECT_EQ(lines[4], "OV VRIN : InstallGetRegString -> Software\\Orvannic\\OV VRIN\\CurrentVersion\\ServicePath");
  EXPECT_EQ(lines[6], "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + kOldService + " [0]");
}

TEST_F(ReferenceCountsTest, ProductKeyPathWinsEvenWithoutACount) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  LocalRegistry().SetString(kOld, "ServicePath", kOldService);
  SetCount(kOldService, 5);
  EXPECT_EQ(NTReadRefCounter(hInstall), 0u);
  for (const std::string& line : LogLines()) {
    EXPECT_EQ(line.find("OV VRIN\\CurrentVersion"), std::string::npos) << line;
  }
}

TEST_F(ReferenceCountsTest, UnreadableCountsReadAsZeroWithAWarning) {
  struct Case {
    uint32_t type;
    std::vector<uint8_t> data;
  };
  const std::vector<Case> cases = {
      {REG_SZ, {'x', 0}},                                               // not a number
      {REG_SZ, {'1', ' ', 0}},                                          // trailing blank
      {REG_SZ, {'4', '2', '9', '4', '9', '6', '7', '2', '9', '6', 0}},  // beyond 32 bits
      {REG_DWORD, {0x01, 0x00}},                                        // too short
      {REG_BINARY, {0x01, 0x00, 0x00, 0x00, 0x00}},                     // too long
  };
  for (const Case& c : cases) {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    LocalRegistry().SetString(kProduct, "ServicePath", kService);
    LocalRegistry().SetBinary(kShared, kService, c.type, c.data);
    Session().SetProperty("NTSERVERREFCOUNTER", "1");
    EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
    EXPECT_FALSE(Session().HasProperty("NTSERVERREFCOUNTER"));
    std::vector<std::string> lines = LogLines();
    std::string warning = "WARN: OV VRIN : Unreadable count of " + kService + " taken as 0";
    EXPECT_NE(std::find(lines.begin(), lines.end(), warning), lines.end()) << c.type << " " << c.data.size();
    auto stored = Count(kService);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, c.type);
    EXPECT_EQ(stored->data, c.data);
    Session().Close();
  }
}

// The registry reader does not look at the type: four bytes are a count, and
// a stored 1 means the last user whatever stored it.
TEST_F(ReferenceCountsTest, FourBytesOfAnyTypeAreACountPublishedAndLowered) {
  const struct {
    uint32_t type;
    std::vector<uint8_t> data;
    std::string published;
    uint32_t lowered;
  } cases[] = {
      {REG_BINARY, {0x01, 0x00, 0x00, 0x00}, "1", 0},
      {REG_DWORD, {0xFF, 0xFF, 0xFF, 0x7F}, "2147483647", 0x7FFFFFFE},
      {REG_DWORD, {0x00, 0x00, 0x00, 0x80}, "-2147483648", 0x7FFFFFFF},
      {REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, "-1", 0xFFFFFFFE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.published);
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    LocalRegistry().SetString(kProduct, "ServicePath", kService);
    LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
    LocalRegistry().SetBinary(kShared, kService, c.type, c.data);
    EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
    EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), c.published);
    EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
    ExpectDword(kService, c.lowered);
    for (const std::string& line : LogLines()) EXPECT_EQ(line.rfind("WARN: ", 0), std::string::npos) << line;
    Session().Close();
  }
}

TEST_F(ReferenceCountsTest, RefusedPropertyIsReportedAndKeepsItsValue) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 2);
  Session().SetProperty("NTSERVERREFCOUNTER", "7");
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 0, "NTSERVERREFCOUNTER");
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "7");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[8],
            "ERR: OV VRIN : VrinNTReadRefCounter : 1627\r\n\r\nCONTEXT = InstallSetProperty : MsiSetProperty\r\n"
            "DESCRIPTION = Function failed during execution.\r\n");
  EXPECT_EQ(lines[9], "OV VRIN : VrinNTReadRefCounter <- [0]");

  // Removing the property fails the same way.
  SetCount(kService, 0);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "7");
  EXPECT_EQ(LogLines().at(LogLines().size() - 2),
            "ERR: OV VRIN : VrinNTReadRefCounter : 1627\r\n\r\nCONTEXT = InstallSetProperty : MsiSetProperty\r\n"
            "DESCRIPTION = Function failed during execution.\r\n");
}

TEST_F(ReferenceCountsTest, ReadWithoutSessionReportsTheRefusedPropertyOnStandardOutput) {
  OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 1);
  TakeStdout();
  EXPECT_EQ(VrinNTReadRefCounter(0), 0u);
  std::string out = TakeStdout();
  EXPECT_NE(out.find("OV VRIN : VrinNTReadRefCounter ->\r\n"), std::string::npos);
  EXPECT_NE(out.find("OV VRIN : NTReadRefCounter <- 1\r\n"), std::string::npos);
  EXPECT_NE(out.find("OV VRIN : VrinNTReadRefCounter : 6\r\n\r\nCONTEXT = InstallSetProperty : MsiSetProperty\r\n"
                     "DESCRIPTION = The handle is invalid.\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("OV VRIN : VrinNTReadRefCounter <- [0]\r\n"), std::string::npos);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ReferenceCountsTest, PathThatCannotBeCopiedIsAFailureNotAMissingPath) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 1);
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 1);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  // Not taken for "no count": the property stays as it was.
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "1");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4],
            "ERR: OV VRIN : VrinNTReadRefCounter : 14\r\n\r\nCONTEXT = NTReadRefCounter : InstallGetRegString\r\n"
            "DESCRIPTION = Not enough memory resources are available to complete this operation.\r\n");
}

TEST_F(ReferenceCountsTest, RefusedCountIsAFailureNotAMissingCount) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 1);
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  // The count's own read: the probe's open passes, InstallGetRegValue's is refused.
  Faults::Instance().Fail("RegOpenKeyEx", ERROR_ACCESS_DENIED, 2, "HKEY_LOCAL_MACHINE\\" + kSharedKey);
  EXPECT_EQ(VrinNTReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERREFCOUNTER"), "1");
  std::vector<std::string> lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "ERR: OV VRIN : VrinNTReadRefCounter : 13\r\n\r\nCONTEXT = NTReadRefCounter : "
                      "InstallGetRegValue\r\nDESCRIPTION = The data is invalid.\r\n"),
            lines.end());
}

TEST_F(ReferenceCountsTest, RefusedSharedDllsKeyRaisesItsError) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  SetCount(kService, 2);
  LocalRegistry().Deny(kShared, KEY_READ);
  auto raised = Raised([&] { NTReadRefCounter(hInstall); });
  EXPECT_EQ(raised.first, "NTReadRefCounter : InstallGetRegValue");
  EXPECT_EQ(raised.second, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ReferenceCountsTest, RefusedCountIsNotLoweredAndTheNextFileIsStillTried) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  SetCount(kService, 2);
  SetCount(kDriver, 2);
  Faults::Instance().Fail("RegQueryValueEx", ERROR_ACCESS_DENIED, 1, "HKEY_LOCAL_MACHINE\\" + kSharedKey);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 2);
  ExpectDword(kDriver, 1);
}

TEST_F(ReferenceCountsTest, ReadRoutineRaisesOutOfMemoryForATextCount) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ServicePath", kService);
  LocalRegistry().SetString(kShared, kService, "2");
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 2);
  auto raised = Raised([&] { NTReadRefCounter(hInstall); });
  EXPECT_EQ(raised.first, "NTReadRefCounter : InstallGetRegString");
  EXPECT_EQ(raised.second, static_cast<DWORD>(ERROR_OUTOFMEMORY));
}

// --- Reading the console's count --------------------------------------------

TEST_F(ReferenceCountsTest, ConsoleCountIsThatOfSkdwinInGuiPath) {
  for (const std::string folder : {"C:\\Velmora\\Console", "C:\\Velmora\\Console\\"}) {
    MSIHANDLE hInstall = OpenSession();
    LocalRegistry().SetString(kProduct, "GuiPath", folder);
    SetCount("C:\\Velmora\\Console\\skdwin.exe", 2);
    EXPECT_EQ(VrinGUIReadRefCounter(hInstall), 0u);
    EXPECT_EQ(Session().GetProperty("GUIREFCOUNTER"), "2");
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "OV VRIN : VrinGUIReadRefCounter ->",
                  "OV VRIN : GUIReadRefCounter ->",
                  "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\GuiPath",
                  "OV VRIN : InstallGetRegString <- " + folder,
                  "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\C:\\Velmora\\Console\\skdwin.exe [0]",
                  "OV VRIN : InstallGetRegValue <- 2",
                  "OV VRIN : GUIReadRefCounter <- 2",
                  "OV VRIN : InstallSetProperty -> GUIREFCOUNTER = 2",
                  "OV VRIN : InstallSetProperty <-",
                  "OV VRIN : VrinGUIReadRefCounter <- [0]",
              }));
    Session().Close();
  }
}

TEST_F(ReferenceCountsTest, MissingConsoleCountRemovesGuiRefCounter) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Velmora\\Console");
  Session().SetProperty("GUIREFCOUNTER", "1");
  EXPECT_EQ(VrinGUIReadRefCounter(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("GUIREFCOUNTER"));
  EXPECT_EQ(LogLines().at(LogLines().size() - 2), "OV VRIN : Deleting GUIREFCOUNTER");
  EXPECT_EQ(SharedValueCount(), 0u);
}

TEST_F(ReferenceCountsTest, ConsoleFolderTooLongForThePathIsReported) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\" + std::string(250, 'g'));
  Session().SetProperty("GUIREFCOUNTER", "1");
  EXPECT_EQ(VrinGUIReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("GUIREFCOUNTER"), "1");
  EXPECT_EQ(LogLines().at(LogLines().size() - 2),
            "ERR: OV VRIN : VrinGUIReadRefCounter : 206\r\n\r\nCONTEXT = InstallMakePath\r\n"
            "DESCRIPTION = The filename or extension is too long.\r\n");
}

// --- Lowering the server's counts -------------------------------------------

TEST_F(ReferenceCountsTest, ServerDecrementLowersTheImageAndTheDriverOnce) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  SetCount(kService, 3);
  SetCount(kDriver, 2);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 2);
  ExpectDword(kDriver, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTDecrementRefCounter ->",
                            "OV VRIN : InstallGetRegString -> "
                            "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ConfigurationPath",
                            "OV VRIN : InstallGetRegString <- C:\\Program Files\\Velmora\\Server",
                            "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + kService + " [0]",
                            "OV VRIN : InstallGetRegValue <- 3",
                            "OV VRIN : InstallSetRegValue -> " + kSharedKey + "\\" + kService + " = 2",
                            "OV VRIN : InstallSetRegValue <- 0",
                            "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + kDriver + " [0]",
                            "OV VRIN : InstallGetRegValue <- 2",
                            "OV VRIN : InstallSetRegValue -> " + kSharedKey + "\\" + kDriver + " = 1",
                            "OV VRIN : InstallSetRegValue <- 0",
                            "OV VRIN : VrinNTDecrementRefCounter <- [0]",
                        }));
}

TEST_F(ReferenceCountsTest, OneBecomesAStoredZeroAndZeroIsNotTouched) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server\\");
  SetCount(kService, 1);
  SetCount(kDriver, 0);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 0);
  ExpectDword(kDriver, 0);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[8], "OV VRIN : InstallGetRegValue <- 0");
  // And again: nothing goes below 0, nothing is deleted.
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 0);
  ExpectDword(kDriver, 0);
  EXPECT_EQ(SharedValueCount(), 2u);
}

TEST_F(ReferenceCountsTest, MissingCountsAreNotCreated) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().Find(kShared), nullptr) << "the SharedDlls key was created";
  LocalRegistry().Create(kShared);
  SetCount(kDriver, 1);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  EXPECT_FALSE(Count(kService).has_value());
  ExpectDword(kDriver, 0);
}

TEST_F(ReferenceCountsTest, ConfigurationPathWithAndWithoutBackslashNameTheSameValue) {
  for (const std::string folder : {"C:\\Program Files\\Velmora\\Server", "C:\\Program Files\\Velmora\\Server\\"}) {
    MSIHANDLE hInstall = OpenSession();
    LocalRegistry().SetString(kProduct, "ConfigurationPath", folder);
    SetCount(kService, 2);
    EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
    ExpectDword(kService, 1);
    EXPECT_EQ(SharedValueCount(), 1u);
    Session().Close();
  }
}

TEST_F(ReferenceCountsTest, WithoutConfigurationPathNothingIsLowered) {
  MSIHANDLE hInstall = OpenSession();
  // The old key is not consulted, and an empty folder counts as none.
  LocalRegistry().SetString(kOld, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "");
  SetCount(kService, 2);
  SetCount(kDriver, 2);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 2);
  ExpectDword(kDriver, 2);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTDecrementRefCounter ->",
                            "OV VRIN : InstallGetRegString -> "
                            "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ConfigurationPath",
                            "OV VRIN : InstallGetRegString <- ",
                            "OV VRIN : VrinNTDecrementRefCounter <- [0]",
                        }));
}

TEST_F(ReferenceCountsTest, WindowsFolderFailureStopsBeforeTheDriver) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  SetCount(kService, 2);
  SetCount(kDriver, 2);
  Faults::Instance().Fail("GetWindowsDirectory", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 1);
  ExpectDword(kDriver, 2);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[7],
            "ERR: OV VRIN : VrinNTDecrementRefCounter : 8\r\n\r\nCONTEXT = VrinNTDecrementRefCounter : "
            "GetWindowsDirectory\r\nDESCRIPTION = Not enough memory resources are available to process this "
            "command.\r\n");
  EXPECT_EQ(lines[8], "OV VRIN : VrinNTDecrementRefCounter <- [0]");
}

TEST_F(ReferenceCountsTest, RefusedWritesAreReportedAndEveryFileIsStillTried) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  SetCount(kService, 2);
  SetCount(kDriver, 3);
  LocalRegistry().Deny(kShared, KEY_SET_VALUE);
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  ExpectDword(kService, 2);
  ExpectDword(kDriver, 3);
  const std::string report =
      "ERR: OV VRIN : VrinNTDecrementRefCounter : 5\r\n\r\nCONTEXT = VrinNTDecrementRefCounter : "
      "InstallSetRegValue\r\nDESCRIPTION = Access is denied.\r\n";
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[6], "OV VRIN : InstallSetRegValue <- 5");
  EXPECT_EQ(lines[7], report);
  EXPECT_EQ(lines[8], "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + kDriver + " [0]");
  EXPECT_EQ(lines[12], report);
  EXPECT_EQ(lines[13], "OV VRIN : VrinNTDecrementRefCounter <- [0]");
}

TEST_F(ReferenceCountsTest, TextCountIsLoweredAsText) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  LocalRegistry().SetString(kShared, kService, "02");
  LocalRegistry().SetString(kShared, kDriver, "1");
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  auto service = Count(kService);
  ASSERT_TRUE(service.has_value());
  EXPECT_EQ(service->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(LocalRegistry().String(kShared, kService), "1");
  EXPECT_EQ(LocalRegistry().String(kShared, kDriver), "0");
  std::vector<std::string> lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "OV VRIN : InstallSetRegString -> " + kSharedKey + "\\" + kService + " = 1"),
            lines.end());
}

TEST_F(ReferenceCountsTest, UnreadableCountIsNeverLowered) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  LocalRegistry().SetString(kShared, kService, "2x");
  LocalRegistry().SetBinary(kShared, kDriver, REG_BINARY, {0x02, 0x00});
  EXPECT_EQ(VrinNTDecrementRefCounter(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kShared, kService), "2x");
  EXPECT_EQ(Count(kService)->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(Count(kDriver)->data, (std::vector<uint8_t>{0x02, 0x00}));
  std::vector<std::string> lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "WARN: OV VRIN : Unreadable count of " + kDriver + " taken as 0"),
            lines.end());
}

TEST_F(ReferenceCountsTest, DecrementNeedsNoSession) {
  OpenSession();
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "C:\\Program Files\\Velmora\\Server");
  SetCount(kService, 1);
  SetCount(kDriver, 1);
  TakeStdout();
  EXPECT_EQ(VrinNTDecrementRefCounter(0), 0u);
  ExpectDword(kService, 0);
  ExpectDword(kDriver, 0);
  std::vector<std::string> lines = TakeStdoutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "OV VRIN : VrinNTDecrementRefCounter ->");
  EXPECT_EQ(lines.back(), "OV VRIN : VrinNTDecrementRefCounter <- [0]");
  EXPECT_TRUE(LogLines().empty());
}

// --- Lowering the console's counts ------------------------------------------

TEST_F(ReferenceCountsTest, ConsoleDecrementTouchesFiveFilesInOrderEachOnItsOwn) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Velmora\\Console");
  const std::string folder = "C:\\Velmora\\Console\\";
  SetCount(folder + "skdwin.exe", 2);
  // skdwin.dll has no count
  SetCount(folder + "skdwin.hlp", 0);
  SetCount(folder + "skdnt.dll", 1);
  SetCount(folder + "skdnw.dll", 5);
  EXPECT_EQ(VrinGUIDecrementRefCounter(hInstall), 0u);
  ExpectDword(folder + "skdwin.exe", 1);
  EXPECT_FALSE(Count(folder + "skdwin.dll").has_value());
  ExpectDword(folder + "skdwin.hlp", 0);
  ExpectDword(folder + "skdnt.dll", 0);
  ExpectDword(folder + "skdnw.dll", 4);
  std::vector<std::string> reads;
  for (const std::string& line : LogLines()) {
    if (line.rfind("OV VRIN : InstallGetRegValue -> ", 0) == 0) reads.push_back(line);
  }
  EXPECT_EQ(reads, (std::vector<std::string>{
                       "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + folder + "skdwin.exe [0]",
                       "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + folder + "skdwin.dll [0]",
                       "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + folder + "skdwin.hlp [0]",
                       "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + folder + "skdnt.dll [0]",
                       "OV VRIN : InstallGetRegValue -> " + kSharedKey + "\\" + folder + "skdnw.dll [0]",
                   }));
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinGUIDecrementRefCounter <- [0]");
}

TEST_F(ReferenceCountsTest, ConsolePathOnlyInTheOldKeyIsReadButNotLowered) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kOld, "GuiPath", "C:\\OV VRIN\\Console");
  SetCount("C:\\OV VRIN\\Console\\skdwin.exe", 2);
  EXPECT_EQ(VrinGUIReadRefCounter(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("GUIREFCOUNTER"), "2");
  EXPECT_EQ(VrinGUIDecrementRefCounter(hInstall), 0u);
  ExpectDword("C:\\OV VRIN\\Console\\skdwin.exe", 2);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{
                "OV VRIN : VrinGUIDecrementRefCounter ->",
                "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\GuiPath",
                "OV VRIN : InstallGetRegString <- Null",
                "OV VRIN : VrinGUIDecrementRefCounter <- [0]",
            }));
}

TEST_F(ReferenceCountsTest, ConsoleFolderTooLongForSomeNamesLowersTheOthers) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  // 249 characters: "\\skdnt.dll" fits the 260 bytes, "\\skdwin.exe" does not.
  const std::string folder = "C:\\" + std::string(246, 'g');
  LocalRegistry().SetString(kProduct, "GuiPath", folder);
  SetCount(folder + "\\skdnt.dll", 2);
  SetCount(folder + "\\skdnw.dll", 2);
  EXPECT_EQ(VrinGUIDecrementRefCounter(hInstall), 0u);
  ExpectDword(folder + "\\skdnt.dll", 1);
  ExpectDword(folder + "\\skdnw.dll", 1);
  int reports = 0;
  for (const std::string& line : LogLines()) {
    if (line.rfind("ERR: ", 0) != 0) continue;
    ++reports;
    EXPECT_EQ(line,
              "ERR: OV VRIN : VrinGUIDecrementRefCounter : 206\r\n\r\nCONTEXT = InstallMakePath\r\n"
              "DESCRIPTION = The filename or extension is too long.\r\n");
  }
  EXPECT_EQ(reports, 3) << "skdwin.exe, skdwin.dll and skdwin.hlp";
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinGUIDecrementRefCounter <- [0]");
}

TEST_F(ReferenceCountsTest, ConsoleWriteRefusedForOneFileStillLowersTheOthers) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Velmora\\Console");
  const std::string folder = "C:\\Velmora\\Console\\";
  for (const char* name : {"skdwin.exe", "skdwin.dll", "skdwin.hlp", "skdnt.dll", "skdnw.dll"}) {
    SetCount(folder + name, 2);
  }
  Faults::Instance().Fail("RegSetValueEx", ERROR_NOT_ENOUGH_MEMORY, 2);
  EXPECT_EQ(VrinGUIDecrementRefCounter(hInstall), 0u);
  ExpectDword(folder + "skdwin.exe", 1);
  ExpectDword(folder + "skdwin.dll", 2);
  ExpectDword(folder + "skdwin.hlp", 1);
  ExpectDword(folder + "skdnt.dll", 1);
  ExpectDword(folder + "skdnw.dll", 1);
  int reports = 0;
  for (const std::string& line : LogLines()) {
    if (line.rfind("ERR: ", 0) == 0) {
      ++reports;
      EXPECT_EQ(line,
                "ERR: OV VRIN : VrinGUIDecrementRefCounter : 8\r\n\r\nCONTEXT = VrinGUIDecrementRefCounter : "
                "InstallSetRegValue\r\nDESCRIPTION = Not enough memory resources are available to process this "
                "command.\r\n");
    }
  }
  EXPECT_EQ(reports, 1);
}

}  // namespace
