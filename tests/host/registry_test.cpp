// The simulated registry: the calls the helpers make, and the .reg format.
#include <gtest/gtest.h>

#include "host/machine.h"
#include "host/platform.h"
#include "host/registry.h"

namespace {

using host::LocalRegistry;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a test left a key open";
    host::ResetMachine();
  }
};

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirSpelling) {
  LocalRegistry().SetString("HKLM\\Software\\Orvannic\\CurrentVersion", "GuiPath", "C:\\Gui");
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\orvannic\\currentversion", 0, KEY_READ, &hKey), 0);
  char data[32];
  DWORD cb = sizeof(data);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueEx(hKey, "guipath", nullptr, &type, reinterpret_cast<LPBYTE>(data), &cb), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(data, "C:\\Gui");
  EXPECT_EQ(cb, 7u);
  RegCloseKey(hKey);
  EXPECT_NE(LocalRegistry().Export().find("[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\CurrentVersion]"),
            std::string::npos);
}

TEST_F(RegistryTest, QuerySizeContract) {
  LocalRegistry().SetDword("HKLM\\Software\\X", "Products", 3);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_READ, &hKey), 0);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueEx(hKey, "Products", nullptr, nullptr, nullptr, &cb), 0);
  EXPECT_EQ(cb, 4u);
  char small[2];
  cb = sizeof(small);
  EXPECT_EQ(RegQueryValueEx(hKey, "Products", nullptr, nullptr, reinterpret_cast<LPBYTE>(small), &cb), ERROR_MORE_DATA);
  EXPECT_EQ(RegQueryValueEx(hKey, "Missing", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  RegCloseKey(hKey);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Y", 0, KEY_READ, &hKey), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreEnforced) {
  LocalRegistry().SetDword("HKLM\\Software\\X", "V", 1);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_READ, &hKey), 0);
  DWORD value = 2;
  EXPECT_EQ(RegSetValueEx(hKey, "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(hKey, "V"), ERROR_ACCESS_DENIED);
  RegCloseKey(hKey);
  LocalRegistry().Deny("HKLM\\Software\\X", KEY_SET_VALUE);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_WRITE, &hKey), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
            ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, CreateReportsDispositionAndBuildsThePath) {
  HKEY hKey = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\A\\B\\C", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                           nullptr, &hKey, &disposition),
            0);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(hKey);
  ASSERT_EQ(
      RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\a\\b\\c", 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, &disposition),
      0);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(hKey);
  EXPECT_NE(LocalRegistry().Find("HKLM\\Software\\A\\B\\C"), nullptr);
}

TEST_F(RegistryTest, DeleteKeyIsRefusedWhileItHasSubkeys) {
  LocalRegistry().Create("HKLM\\Software\\P\\Child");
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\P"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\P\\Child"), 0);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\P"), 0);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\P"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HandleOfADeletedKeyFails) {
  LocalRegistry().SetDword("HKLM\\Software\\P", "V", 1);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\P", 0, KEY_READ, &hKey), 0);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\P"), 0);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueEx(hKey, "V", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
  RegCloseKey(hKey);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, EnumerationAndKeyInformation) {
  LocalRegistry().Create("HKLM\\Software\\E\\beta");
  LocalRegistry().Create("HKLM\\Software\\E\\Alpha");
  LocalRegistry().SetString("HKLM\\Software\\E", "LongerName", "0123456789");
  LocalRegistry().SetDword("HKLM\\Software\\E", "V", 1);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\E", 0, KEY_READ, &hKey), 0);
  char name[MAX_PATH];
  DWORD cch = sizeof(name);
  ASSERT_EQ(RegEnumKeyEx(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "Alpha");
  cch = 5;  // "beta" needs 5 with its NUL
  EXPECT_EQ(RegEnumKeyEx(hKey, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
  cch = 4;
  EXPECT_EQ(RegEnumKeyEx(hKey, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = sizeof(name);
  EXPECT_EQ(RegEnumKeyEx(hKey, 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKey(hKey, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName, &maxData,
                            nullptr, nullptr),
            0);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSubkey, 5u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 10u);
  EXPECT_EQ(maxData, 11u);
  DWORD type = 0;
  BYTE data[16];
  DWORD cbData = sizeof(data);
  cch = sizeof(name);
  ASSERT_EQ(RegEnumValue(hKey, 1, name, &cch, nullptr, &type, data, &cbData), 0);
  EXPECT_STREQ(name, "V");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  RegCloseKey(hKey);
}

const char kMachine[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; the oldest generation\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion]\r\n"
    "\"ServicePath\"=\"C:\\\\Program Files\\\\Skelda\"\r\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    "\"Version\"=dword:0000000a\r\n"
    "\"Raw\"=hex:01,02,ff\r\n"
    "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,\\\r\n"
    "  00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\r\n"
    "\"Type\"=dword:00000002\r\n"
    "\"DisplayName\"=\"Dateisystemfilter f\xC3\xBCr Sicherungen\"\r\n"
    "\r\n";

TEST_F(RegistryTest, RegFileSeedsTypedValues) {
  LocalRegistry().Import(kMachine);
  const std::string key = "HKLM\\Software\\Tarrow ATG\\Skelda\\CurrentVersion";
  EXPECT_EQ(LocalRegistry().String(key, "ServicePath"), "C:\\Program Files\\Skelda");
  EXPECT_EQ(LocalRegistry().String(key, "Quote"), "say \"hi\"");
  EXPECT_EQ(LocalRegistry().Dword(key, "Version"), 10u);
  EXPECT_EQ(LocalRegistry().Value(key, "Raw")->data, (std::vector<uint8_t>{1, 2, 0xff}));
  auto expand = LocalRegistry().Value(key, "Expand");
  EXPECT_EQ(expand->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(std::string(expand->data.begin(), expand->data.end()), std::string("%SystemRoot%\0", 13));
  auto multi = LocalRegistry().Value(key, "Multi");
  EXPECT_EQ(std::string(multi->data.begin(), multi->data.end()), std::string("a\0b\0\0", 5));
  EXPECT_EQ(LocalRegistry().String(key, ""), "default");
  // UTF-8 text becomes the ANSI code page's bytes.
  EXPECT_EQ(LocalRegistry().String("HKLM\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver", "DisplayName"),
            "Dateisystemfilter f\xFCr Sicherungen");
}

TEST_F(RegistryTest, RegFileRoundTripsAMachine) {
  LocalRegistry().Import(kMachine);
  LocalRegistry().SetBinary("HKLM\\Software\\NoNul", "Text", REG_SZ, {'a', 'b'});
  LocalRegistry().Create("HKCU\\Software\\Empty");
  std::string first = LocalRegistry().Export();
  host::Registry copy;
  copy.Import(first);
  EXPECT_EQ(copy.Export(), first);
  EXPECT_EQ(copy.Value("HKLM\\Software\\NoNul", "Text")->data, (std::vector<uint8_t>{'a', 'b'}));
  EXPECT_NE(copy.Find("HKCU\\Software\\Empty"), nullptr);
}

TEST_F(RegistryTest, RegFileKeyNameWithANulByteIsImportedNotLoopedOver) {
  const std::string name("Nul\0Inside", 10);
  LocalRegistry().Import("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\" + name +
                         "]\n\"V\"=\"1\"\n");
  EXPECT_EQ(LocalRegistry().String("HKLM\\Software\\" + name, "V"), "1");
}

TEST_F(RegistryTest, RegFileBrokenUtf8IsAReplacementAndStillRoundTrips) {
  LocalRegistry().Import(
      "Windows Registry Editor Version "
      "5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n\"V\"=\"a\xEA\"\n\"W\"=\"\xE9t\xC3\xA9\"\n");
  EXPECT_EQ(LocalRegistry().String("HKLM\\Software\\A", "V"), "a?");
  EXPECT_EQ(LocalRegistry().String("HKLM\\Software\\A", "W"), "?t\xE9");
  host::Registry copy;
  copy.Import(LocalRegistry().Export());
  EXPECT_EQ(copy.Export(), LocalRegistry().Export());
}

TEST_F(RegistryTest, RegFileRemovesKeysAndValues) {
  LocalRegistry().Import(kMachine);
  LocalRegistry().Import(
      "Windows Registry Editor Version 5.00\n\n"
      "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion]\n"
      "\"Raw\"=-\n");
  EXPECT_EQ(LocalRegistry().Find("HKLM\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver"), nullptr);
  EXPECT_FALSE(LocalRegistry().Value("HKLM\\Software\\Tarrow ATG\\Skelda\\CurrentVersion", "Raw"));
  EXPECT_TRUE(LocalRegistry().Value("HKLM\\Software\\Tarrow ATG\\Skelda\\CurrentVersion", "Version"));
}

TEST_F(RegistryTest, MalformedRegLineIsRefusedWithItsNumber) {
  const char* cases[][2] = {
      {"REGEDIT5\n", "1"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=expand:\"a\", \"b\"\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=multi:\"a\" \"b\"\n", "3"},
      {"Windows Registry Editor Version 5.00\n\n\"Orphan\"=\"x\"\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=dword:123456789\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=hex:1g\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\n\"V\"=\"unterminated\n", "4"},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n", "2"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A\n", "2"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\nV=1\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=hex(fffffffffffffffff):00\n", "3"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=hex(100000000):00\n", "3"},
  };
  for (const auto& [text, line] : cases) {
    host::Registry registry;
    try {
      registry.Import(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const host::RegFileError& error) {
      EXPECT_EQ(std::to_string(error.Line()), line) << error.what();
    }
  }
}

// What vrinsim prints for expandable and multi-strings reads back, and
// regedit's older format keeps its single-byte text.
TEST_F(RegistryTest, RegFileTakesReadableTextFormsAndRegedit4) {
  LocalRegistry().Import(
      "Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"E\"=expand:\"%SystemRoot%\\\\x \\\"q\\\"\"\n"
      "\"M\"=multi:\"a\", \"\xC3\xBC\"\n");
  EXPECT_EQ(LocalRegistry().Value("HKLM\\A", "E")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(LocalRegistry().String("HKLM\\A", "E"), "%SystemRoot%\\x \"q\"");
  auto multi = LocalRegistry().Value("HKLM\\A", "M");
  EXPECT_EQ(std::string(multi->data.begin(), multi->data.end()), std::string("a\0\xFC\0\0", 5));
  LocalRegistry().Import("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\B]\r\n\"S\"=\"f\xFCr\"\r\n\"X\"=hex(2):61,62,00\r\n");
  EXPECT_EQ(LocalRegistry().String("HKLM\\B", "S"), "f\xFCr");
  EXPECT_EQ(LocalRegistry().String("HKLM\\B", "X"), "ab");
}

TEST_F(RegistryTest, Utf16RegFileAsRegeditWritesIt) {
  std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\W]\r\n\"N\"=\"v\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : utf8) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  LocalRegistry().Import(utf16);
  EXPECT_EQ(LocalRegistry().String("HKCU\\Software\\W", "N"), "v");
}

}  // namespace
