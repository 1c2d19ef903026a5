// The server's registration actions on Wine's real Service Control Manager
// and registry: the driver entry as the Service Control Manager stores it,
// and the products bitmask, read back from Wine's registry.
#include <gtest/gtest.h>

#include <string>

#include "tests/wine/wine_test.h"

namespace {

const char kDriverKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\SKDDriver";
const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";

// What the test leaves in the prefix is taken away again, also after a
// failed assertion, so that the next run starts from a clean machine.
void CleanUp(const wine::Prefix& prefix, const wine::Package* package) {
  if (package != nullptr) prefix.Remove(*package);
  prefix.Run({"sc", "delete", "SKDDriver"});
  prefix.Run({"reg", "delete", "HKEY_LOCAL_MACHINE\\Software\\Orvannic", "/f"});
}

class WineServerActions : public wine::ArchTest<> {};

TEST_P(WineServerActions, DriverEntryAndProductsBitmaskInWinesRegistry) {
  Wine().Ensure();
  CleanUp(Wine(), nullptr);
  wine::PackageOptions options;
  options.templateName = "server_actions.wxs";
  options.workName = "server_actions";
  options.files = {{"server.txt", "server\r\n"}};
  wine::Package package = Wine().BuildPackage(options);

  wine::MsiexecResult install = Wine().Install(package);
  std::optional<wine::RegistryDump> driver = Wine().ExportRegistry(kDriverKey);
  std::optional<wine::RegistryDump> product = Wine().ExportRegistry(kProductKey);
  CleanUp(Wine(), &package);

  ASSERT_EQ(install.exitCode, 0) << install.log;
  std::vector<wine::ActionRun> runs = wine::FindActionRuns(install.log, "VrinNTInstallDriver");
  ASSERT_EQ(runs.size(), 1u) << install.log;
  EXPECT_EQ(runs[0].returnValue, 1);

  ASSERT_TRUE(driver.has_value()) << install.output;
  const wine::RegistryValues& entry = driver->at(kDriverKey);
  EXPECT_EQ(entry.at("Type").number, 2u);
  EXPECT_EQ(entry.at("Start").number, 2u);
  EXPECT_EQ(entry.at("ErrorControl").number, 1u);
  EXPECT_EQ(entry.at("Group").text, "Filter");
  // Wine's services.exe stores the path as REG_SZ where Windows writes
  // REG_EXPAND_SZ (the simulated Service Control Manager follows Windows);
  // the text, unexpanded, is what both keep.
  EXPECT_EQ(entry.at("ImagePath").text, "%SystemRoot%\\system32\\drivers\\skdnt.sys");
  EXPECT_EQ(entry.at("DisplayName").text, "OV Velmora Treiber");

  ASSERT_TRUE(product.has_value()) << install.output;
  const wine::RegistryValue& products = product->at(kProductKey).at("Products");
  EXPECT_EQ(products.type, wine::RegistryValue::Type::kDword);
  EXPECT_EQ(products.number, 4u) << "product 3 owns bit 2";
}

INSTANTIATE_TEST_SUITE_P(, WineServerActions, wine::AllArches(), wine::ArchTestName);

}  // namespace
