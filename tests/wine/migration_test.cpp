// The registry migration on Wine's real registry: the oldest generation's key
// seeded with `reg import`, migrated by the DLL under msiexec, and the
// product key read back with `reg export` for types and data.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/wine/wine_test.h"

namespace {

const char kSourceKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion";
const char kVendorKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG";
const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";

using Bytes = std::vector<std::uint8_t>;
using Type = wine::RegistryValue::Type;

// ASCII text as UTF-16LE bytes.
Bytes Utf16(const std::string& text) {
  Bytes bytes;
  for (char c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// "hex(t):.." data of a .reg file.
std::string Hex(const std::string& kind, const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = "hex" + kind + ":";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += ",";
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

const std::string kLongName = "Long" + std::string(200, 'n');
const std::string kLongText(3000, 't');
const Bytes kSignature = {0x00, 0xFF, 0x10, 0x00, 0x5C};

// The oldest generation's settings, a sibling key under the vendor's key and
// a product key that already holds a value of one of the migrated names.
std::string SeedFile() {
  const Bytes volumes = Utf16(std::string("C:\\a\0D:\\b\0\0", 11));
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion]\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Tarrow\\\\Skelda\\\\\"\r\n"
      "\"LogPath\"=" +
      Hex("(2)", Utf16(std::string("%SystemRoot%\\Logs\0", 18))) +
      "\r\n"
      "\"Version\"=dword:00060102\r\n"
      "\"Signature\"=" +
      Hex("", kSignature) + "\r\n\"Volumes\"=" + Hex("(7)", volumes) +
      "\r\n"
      "\"Empty\"=hex:\r\n"
      "\"User\"=\"Administrator\"\r\n"
      "\"organization\"=\"Tarrow\"\r\n"
      "\"INSTALLTIME\"=dword:3b9aca00\r\n"
      "\"DriverPath\"=\"C:\\\\WINNT\\\\system32\\\\drivers\\\\skdnt.sys\"\r\n"
      "\"Users\"=\"near miss\"\r\n"
      "\"" +
      kLongName + "\"=\"" + kLongText +
      "\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Extra]\r\n"
      "\"Left\"=dword:00000001\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion]\r\n"
      "\"Version\"=\"7.0\"\r\n"
      "\"GuiPath\"=\"C:\\\\Velmora\\\\Console\"\r\n";
  // reg import reads a version 5 file as UTF-16LE with its byte-order mark.
  std::string file = "\xFF\xFE";
  for (char c : text) {
    file += c;
    file += '\0';
  }
  return file;
}

// The data of a value of HKEY_LOCAL_MACHINE as the wineserver saved it in the
// prefix's system.reg, which writes a string without its NUL in hex form, so
// the stored bytes show exactly; reg export writes such a string as if it had
// one. Empty when the key or value is not there.
std::string StoredValue(const wine::Prefix& prefix, const std::string& subkey, const std::string& name) {
  std::string header = "[";
  for (char c : subkey) header += c == '\\' ? std::string("\\\\") : std::string(1, c);
  header += "]";
  const std::string valueStart = "\"" + name + "\"=";
  bool inKey = false;
  for (const std::string& line : wine::SplitLines(wine::ReadTextFile(prefix.WinePrefix() / "system.reg"))) {
    if (!line.empty() && line[0] == '[') {
      inKey = line.compare(0, header.size(), header) == 0;
    } else if (inKey && line.compare(0, valueStart.size(), valueStart) == 0) {
      return line.substr(valueStart.size());
    }
  }
  return "";
}

// A string value without its NUL, which reg import cannot make (it adds one):
// written into system.reg while no wineserver runs, which the next wine call
// loads. The harness waits for the server to exit after every call.
void SeedUnterminatedString(const wine::Prefix& prefix) {
  std::ofstream file(prefix.WinePrefix() / "system.reg", std::ios::app | std::ios::binary);
  file << "\n[Software\\\\Tarrow ATG\\\\Skelda\\\\CurrentVersion] 1796688942\n\"Raw\"=" << Hex("(1)", Utf16("AB"))
       << "\n";
  if (!file) throw std::runtime_error("cannot append to system.reg");
}

void CleanUp(const wine::Prefix& prefix) {
  prefix.Run({"reg", "delete", "HKEY_LOCAL_MACHINE\\Software\\Orvannic", "/f"});
  prefix.Run({"reg", "delete", kVendorKey, "/f"});
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class WineMigration : public wine::ArchTest<> {};

TEST_P(WineMigration, OldestGenerationKeyIsCopiedWithTypesAndDataThenDeleted) {
  Wine().Ensure();
  CleanUp(Wine());
  wine::PackageOptions options;
  options.templateName = "migration.wxs";
  options.workName = "migration";
  options.files = {{"migration.txt", "migration\r\n"}, {"seed.reg", SeedFile()}};
  wine::Package package = Wine().BuildPackage(options);
  wine::RunResult seeded = Wine().Run({"reg", "import", wine::ToWindowsPath(package.workDir / "seed.reg")});
  SeedUnterminatedString(Wine());
  std::optional<wine::RegistryDump> source = Wine().ExportRegistry(kSourceKey);

  wine::MsiexecResult install = Wine().Install(package);
  std::optional<wine::RegistryDump> product = Wine().ExportRegistry(kProductKey);
  std::optional<wine::RegistryDump> vendor = Wine().ExportRegistry(kVendorKey);
  const std::string productSubkey = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
  const std::string storedRaw = StoredValue(Wine(), productSubkey, "Raw");
  const std::string storedText = StoredValue(Wine(), productSubkey, "Users");
  wine::MsiexecResult removal = Wine().Remove(package);
  CleanUp(Wine());

  ASSERT_EQ(seeded.exitCode, 0) << seeded.output;
  ASSERT_TRUE(source.has_value());
  ASSERT_EQ(source->at(kSourceKey).size(), 13u) << "the seed did not arrive whole";
  // reg export takes the last UTF-16 unit of every string for its NUL.
  ASSERT_EQ(source->at(kSourceKey).at("Raw").text, "A") << "the string without NUL was not seeded";
  ASSERT_EQ(install.exitCode, 0) << install.log;

  std::vector<wine::ActionRun> runs = wine::FindActionRuns(install.log, "VrinNTMigrateTarrowRegistry");
  ASSERT_EQ(runs.size(), 1u) << install.log;
  EXPECT_EQ(runs[0].returnValue, 1);
  const std::vector<std::string>& lines = runs[0].lines;
  for (const char* line :
       {"OV VRIN : Detected old key - migrating registry data to new key", "OV VRIN : Created new key for migration",
        "OV VRIN : Migrating value 'ConfigurationPath'", "OV VRIN : Migrating value 'Raw'", "OV VRIN : Skipping 'User'",
        "OV VRIN : Skipping 'organization'", "OV VRIN : Skipping 'INSTALLTIME'", "OV VRIN : Skipping 'DriverPath'",
        "OV VRIN : Migrating value 'Users'", "OV VRIN : Deleting old tree",
        "OV VRIN : RegOpenKeyEx(OldVersion) returned 259 - should no longer exist!"}) {
    EXPECT_TRUE(Contains(lines, line)) << line << "\n" << install.log;
  }
  // Windows reports the longest name in characters and the longest data as
  // stored, in UTF-16: 3001 characters of text take 6002 bytes.
  EXPECT_TRUE(Contains(lines, "OV VRIN : Allocing buffer for max name 205, max data 6002 ")) << install.log;

  ASSERT_TRUE(product.has_value()) << install.output;
  const wine::RegistryValues& values = product->at(kProductKey);
  EXPECT_EQ(values.at("ConfigurationPath").type, Type::kString);
  EXPECT_EQ(values.at("ConfigurationPath").text, "C:\\Tarrow\\Skelda\\");
  EXPECT_EQ(values.at("LogPath").type, Type::kExpandString);
  EXPECT_EQ(values.at("LogPath").bytes, Utf16(std::string("%SystemRoot%\\Logs\0", 18)));
  EXPECT_EQ(values.at("Version").type, Type::kDword) << "the old value is overwritten, type included";
  EXPECT_EQ(values.at("Version").number, 0x60102u);
  EXPECT_EQ(values.at("Signature").type, Type::kBinary);
  EXPECT_EQ(values.at("Signature").bytes, kSignature);
  EXPECT_EQ(values.at("Volumes").type, Type::kMultiString);
  EXPECT_EQ(values.at("Volumes").bytes, Utf16(std::string("C:\\a\0D:\\b\0\0", 11)));
  // Stored without its NUL, copied without one (the enumeration puts a NUL
  // after the data, which RegSetValueEx would otherwise take as the string's).
  EXPECT_EQ(values.at("Raw").text, "A");
  EXPECT_EQ(storedRaw, Hex("(1)", Utf16("AB")));
  EXPECT_EQ(storedText, "\"near miss\"") << "system.reg not read as expected";
  EXPECT_EQ(values.at("Empty").type, Type::kBinary);
  EXPECT_TRUE(values.at("Empty").bytes.empty());
  EXPECT_EQ(values.at("Users").text, "near miss");
  EXPECT_EQ(values.at(kLongName).text, kLongText);
  EXPECT_EQ(values.at("GuiPath").text, "C:\\Velmora\\Console");
  for (const char* skipped : {"User", "Organization", "InstallTime", "DriverPath"}) {
    EXPECT_EQ(values.count(skipped), 0u) << skipped;
  }
  EXPECT_EQ(values.size(), 10u);
  EXPECT_FALSE(vendor.has_value()) << "Software\\Tarrow ATG is still there";

  // The removal runs the action again and finds nothing to migrate.
  ASSERT_EQ(removal.exitCode, 0) << removal.log;
  std::vector<wine::ActionRun> again = wine::FindActionRuns(removal.log, "VrinNTMigrateTarrowRegistry");
  ASSERT_EQ(again.size(), 1u) << removal.log;
  EXPECT_EQ(again[0].lines, (std::vector<std::string>{
                                "OV VRIN : VrinNTMigrateTarrowRegistry ->",
                                "OV VRIN : RegOpenKeyEx(OldVersion) returned 2 - should no longer exist!",
                                "OV VRIN : VrinNTMigrateTarrowRegistry <- ",
                            }));
}

INSTANTIATE_TEST_SUITE_P(, WineMigration, wine::AllArches(), wine::ArchTestName);

}  // namespace
