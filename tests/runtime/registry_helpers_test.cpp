// Registry helpers: traces, results for missing keys and values, and the tree
// deletion that stops at the first key it cannot touch.
#include <gtest/gtest.h>

#include <string>

#include "host/faults.h"
#include "host/registry.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "tests/support/session_fixture.h"

namespace {

using host::LocalRegistry;

const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kProductPath = std::string("HKEY_LOCAL_MACHINE\\") + kProductKey;

class RegistryHelpersTest : public vrintest::SessionTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a helper left a key open";
    SessionTest::TearDown();
  }
};

TEST_F(RegistryHelpersTest, GetRegStringReturnsTheData) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProductPath, "ServicePath", "C:\\Program Files\\Velmora\\Server");
  char* szValue = InstallGetRegString(hInstall, kProductKey, "ServicePath");
  EXPECT_STREQ(szValue, "C:\\Program Files\\Velmora\\Server");
  InstallFreeString(szValue);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ServicePath",
                "OV VRIN : InstallGetRegString <- C:\\Program Files\\Velmora\\Server"}));
}

TEST_F(RegistryHelpersTest, GetRegStringOfMissingOrEmptyValueIsNull) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_EQ(InstallGetRegString(hInstall, kProductKey, "GuiPath"), nullptr);
  LocalRegistry().SetBinary(kProductPath, "Empty", REG_SZ, {});
  EXPECT_EQ(InstallGetRegString(hInstall, kProductKey, "Empty"), nullptr);
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetRegString <- Null");
}

TEST_F(RegistryHelpersTest, GetRegStringTerminatesDataStoredWithoutNul) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetBinary(kProductPath, "Raw", REG_SZ, {'7', '.', '1'});
  char* szValue = InstallGetRegString(hInstall, kProductKey, "Raw");
  EXPECT_STREQ(szValue, "7.1");
  InstallFreeString(szValue);
}

TEST_F(RegistryHelpersTest, GetRegStringWithoutMemoryIsNull) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetString(kProductPath, "GuiPath", "C:\\Gui");
  host::Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(InstallGetRegString(hInstall, kProductKey, "GuiPath"), nullptr);
}

TEST_F(RegistryHelpersTest, GetRegValueAndItsDefault) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetDword(kProductPath, "Products", 5);
  EXPECT_EQ(InstallGetRegValue(hInstall, kProductKey, "Products", 0), 5u);
  EXPECT_EQ(InstallGetRegValue(hInstall, kProductKey, "Missing", 7), 7u);
  EXPECT_EQ(InstallGetRegValue(hInstall, "Software\\Nowhere", "Products", 9), 9u);
  EXPECT_EQ(LogLines().at(0),
            "OV VRIN : InstallGetRegValue -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\Products [0]");
  EXPECT_EQ(LogLines().at(1), "OV VRIN : InstallGetRegValue <- 5");
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetRegValue <- 9");
}

TEST_F(RegistryHelpersTest, GetRegValueKeepsTheDefaultForValuesNotFourBytesLong) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetBinary(kProductPath, "Short", REG_BINARY, {0x01, 0x02});
  LocalRegistry().SetBinary(kProductPath, "Long", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(InstallGetRegValue(hInstall, kProductKey, "Short", 0xAABBCCDD), 0xAABBCCDDu);
  EXPECT_EQ(InstallGetRegValue(hInstall, kProductKey, "Long", 3), 3u);
}

TEST_F(RegistryHelpersTest, SettersCreateTheKeyAndWriteTypedValues) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_EQ(InstallSetRegValue(hInstall, kProductKey, "BuildNumber", 2141), 0);
  EXPECT_EQ(InstallSetRegString(hInstall, kProductKey, "GuiPath", "C:\\Gui"), 0);
  auto number = LocalRegistry().Value(kProductPath, "BuildNumber");
  EXPECT_EQ(number->type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(LocalRegistry().Dword(kProductPath, "BuildNumber"), 2141u);
  auto text = LocalRegistry().Value(kProductPath, "GuiPath");
  EXPECT_EQ(text->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(text->data, (std::vector<uint8_t>{'C', ':', '\\', 'G', 'u', 'i', 0}));
  EXPECT_EQ(
      LogLines(),
      (std::vector<std::string>{
          "OV VRIN : InstallSetRegValue -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\BuildNumber = 2141",
          "OV VRIN : InstallSetRegValue <- 0",
          "OV VRIN : InstallSetRegString -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\GuiPath = C:\\Gui",
          "OV VRIN : InstallSetRegString <- 0"}));
}

TEST_F(RegistryHelpersTest, SettersReturnTheRefusal) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().Deny(kProductPath, KEY_SET_VALUE);
  EXPECT_EQ(InstallSetRegValue(hInstall, kProductKey, "Products", 1), ERROR_ACCESS_DENIED);
  host::Faults::Instance().Fail("RegSetValueEx", ERROR_NOT_ENOUGH_MEMORY, 1);
  LocalRegistry().Deny(kProductPath, 0);
  EXPECT_EQ(InstallSetRegString(hInstall, kProductKey, "GuiPath", "x"), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "GuiPath"));
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallSetRegString <- 8");
}

TEST_F(RegistryHelpersTest, DelRegValueResults) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetDword(kProductPath, "NTGUI", 1);
  EXPECT_EQ(InstallDelRegValue(hInstall, kProductKey, "NTGUI"), 0);
  EXPECT_FALSE(LocalRegistry().Value(kProductPath, "NTGUI"));
  EXPECT_EQ(InstallDelRegValue(hInstall, kProductKey, "NTGUI"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(InstallDelRegValue(hInstall, "Software\\Nowhere", "NTGUI"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallDelRegValue <- 2");
}

TEST_F(RegistryHelpersTest, DelRegTreeOfAKeyWithoutSubkeys) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().SetDword(kProductPath, "Products", 1);
  EXPECT_TRUE(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, kProductKey));
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr);
  EXPECT_NE(LocalRegistry().Find("HKLM\\Software\\Orvannic\\Lumicor Velmora"), nullptr);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : InstallDelRegTree -> Software\\Orvannic\\Lumicor Velmora\\CurrentVersion",
                            "OV VRIN : InstallDelRegTree ->", "OV VRIN : InstallDelRegTree <- deleted",
                            "OV VRIN : InstallDelRegTree <- deleted"}));
}

TEST_F(RegistryHelpersTest, DelRegTreeDeletesADeepTree) {
  MSIHANDLE hInstall = OpenSession();
  LocalRegistry().Create("HKLM\\Software\\Orvannic\\A\\B\\C");
  LocalRegistry().Create("HKLM\\Software\\Orvannic\\A\\D");
  LocalRegistry().SetDword("HKLM\\Software\\Orvannic\\A\\B", "V", 1);
  EXPECT_TRUE(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, "Software\\Orvannic"));
  EXPECT_EQ(LocalRegistry().Find("HKLM\\Software\\Orvannic"), nullptr);
}

TEST_F(RegistryHelpersTest, DelRegTreeOfAMissingKey) {
  MSIHANDLE hInstall = OpenSession();
  EXPECT_FALSE(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, "Software\\Nowhere"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : InstallDelRegTree -> Software\\Nowhere",
                                                  "OV VRIN : InstallDelRegTree <- not deleted"}));
}

TEST_F(RegistryHelpersTest, AccessDeniedInTheMiddleOfTheWalkKeepsWhatWasDeletedDeleted) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().Create("HKLM\\Software\\T\\Alpha");
  LocalRegistry().Create("HKLM\\Software\\T\\Beta\\Inner");
  LocalRegistry().Create("HKLM\\Software\\T\\Gamma");
  LocalRegistry().Deny("HKLM\\Software\\T\\Beta", KEY_SET_VALUE);
  EXPECT_FALSE(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, "Software\\T"));
  EXPECT_EQ(LocalRegistry().Find("HKLM\\Software\\T\\Alpha"), nullptr);
  EXPECT_NE(LocalRegistry().Find("HKLM\\Software\\T\\Beta\\Inner"), nullptr);
  EXPECT_NE(LocalRegistry().Find("HKLM\\Software\\T\\Gamma"), nullptr);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : InstallDelRegTree -> Software\\T",
                            "OV VRIN : InstallDelRegTree ->",
                            "OV VRIN : InstallDelRegTree ->",
                            "OV VRIN : InstallDelRegTree <- deleted",
                            "ERR: OV VRIN : Failed to open Beta 5",
                            "OV VRIN : InstallDelRegTree <- not deleted",
                            "OV VRIN : InstallDelRegTree <- not deleted",
                        }));
}

TEST_F(RegistryHelpersTest, FailedEnumerationStopsTheWalk) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  LocalRegistry().Create("HKLM\\Software\\T\\Alpha");
  host::Faults::Instance().Fail("RegEnumKeyEx", ERROR_NOT_ENOUGH_MEMORY, 1, "HKEY_LOCAL_MACHINE\\Software\\T");
  EXPECT_FALSE(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, "Software\\T"));
  EXPECT_NE(LocalRegistry().Find("HKLM\\Software\\T\\Alpha"), nullptr);
  EXPECT_EQ(LogLines().at(2), "ERR: OV VRIN : Failed to enumerate  8");
}

// Subkey names go through a MAX_PATH buffer: up to 259 characters the tree
// is deleted; a longer name ends the walk as an enumeration failure and the
// key stays, never cut to some other key's name.
class SubkeyNameLengthTest : public RegistryHelpersTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(SubkeyNameLengthTest, DeletedOrRefusedNotCut) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  const std::string key = "HKLM\\Software\\T\\" + std::string(GetParam(), 'k');
  LocalRegistry().Create(key);
  const bool fits = GetParam() <= 259;
  EXPECT_EQ(InstallDelRegTree(hInstall, HKEY_LOCAL_MACHINE, "Software\\T") != FALSE, fits);
  EXPECT_EQ(LocalRegistry().Find(key) == nullptr, fits);
  if (!fits) {
    EXPECT_EQ(LogLines().at(2), "ERR: OV VRIN : Failed to enumerate  234");
  }
}

INSTANTIATE_TEST_SUITE_P(AroundMaxPath, SubkeyNameLengthTest, ::testing::Values(259, 260, 261, 10000));

}  // namespace
