// The DLL loaded by Wine's msiexec from a package's Binary table: the
// readme actions run as immediate custom actions, write their trace to the
// verbose log and change the session's properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "tests/wine/wine_test.h"

namespace {

const char kSeededReadMe[] = "https://readme.invalid/vrinca-smoke";

// Full root name: reg export writes keys that way, and the dump keeps its spelling.
const char kArpKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6F1B3C2A-58D4-4E1B-9A57-"
    "3C0D2E7B1A01}";

const char kInstalledFile[] = "C:\\Program Files\\Vrinca Smoke\\smoke.txt";

// Removes the package when a failed assertion leaves the test early, so that
// the next run starts from a prefix without the product.
class RemoveOnExit {
 public:
  RemoveOnExit(const wine::Prefix& prefix, const wine::Package& package) : prefix_(prefix), package_(package) {}
  ~RemoveOnExit() {
    if (armed_) {
      try {
        prefix_.Remove(package_);
      } catch (const std::exception& error) {
        std::cerr << "cleanup removal failed: " << error.what() << "\n";
      }
    }
  }
  void Disarm() { armed_ = false; }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;

 private:
  const wine::Prefix& prefix_;
  wine::Package package_;
  bool armed_ = true;
};

bool ContainsSequence(const std::vector<std::string>& lines, const std::vector<std::string>& sequence) {
  return std::search(lines.begin(), lines.end(), sequence.begin(), sequence.end()) != lines.end();
}

size_t LineIndex(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

class WineSmoke : public wine::ArchTest<> {};

TEST_P(WineSmoke, ReadMeActionsRunUnderMsiexec) {
  double bootSeconds = Wine().Ensure();
  RecordProperty("prefix_seconds", std::to_string(bootSeconds));

  wine::PackageOptions options;
  options.templateName = "smoke.wxs";
  options.workName = "smoke";
  options.files["smoke.txt"] = "vrinca smoke payload\r\n";
  options.kitTables = {"setup/CustomAction.idt"};
  wine::Package package = Wine().BuildPackage(options);
  RemoveOnExit cleanup(Wine(), package);

  wine::MsiexecResult install = Wine().Install(package);
  RecordProperty("install_seconds", std::to_string(install.seconds));
  std::cout << "prefix creation " << bootSeconds << " s, install " << install.seconds << " s\n";
  ASSERT_EQ(install.exitCode, 0) << install.log;
  ASSERT_FALSE(install.log.empty()) << "no log at " << install.logPath;

  // Wine formats an INFO message once more before logging it, so the exit
  // trace "VrinSetARPReadMe <- [0]" loses its "[0]" (read as record field 0,
  // which is empty) and keeps the space before it.
  std::vector<wine::ActionRun> setArpReadMe = wine::FindActionRuns(install.log, "VrinSetARPReadMe");
  ASSERT_EQ(setArpReadMe.size(), 1u) << install.log;
  EXPECT_EQ(setArpReadMe[0].returnValue, 1);
  EXPECT_EQ(setArpReadMe[0].lines, (std::vector<std::string>{
                                       "OV VRIN : VrinSetARPReadMe ->",
                                       "OV VRIN : Setting ARPREADME=",
                                       "OV VRIN : VrinSetARPReadMe <- ",
                                   }));
  EXPECT_TRUE(std::regex_search(
      install.log, std::regex("\nAction ended [0-9]+:[0-9]+:[0-9]+: VrinSetARPReadMe\\. Return value 1\\.\r?\n")))
      << install.log;

  std::vector<wine::ActionRun> nameReadMe = wine::FindActionRuns(install.log, "VrinNameReadMe");
  ASSERT_EQ(nameReadMe.size(), 1u) << install.log;
  EXPECT_EQ(nameReadMe[0].returnValue, 1);
  EXPECT_EQ(nameReadMe[0].lines, (std::vector<std::string>{
                                     "OV VRIN : VrinNameReadMe ->",
                                     "OV VRIN : Set READMEFILE = ",
                                     "OV VRIN : VrinNameReadMe <- ",
                                 }));

  // Sequence 1011 before 1012.
  std::vector<std::string> logLines = wine::SplitLines(install.log);
  EXPECT_LT(LineIndex(logLines, "OV VRIN : VrinNameReadMe ->"), LineIndex(logLines, "OV VRIN : VrinSetARPReadMe ->"));

  // Standard output gets the trace unformatted, exit code included.
  EXPECT_TRUE(ContainsSequence(wine::SplitLines(install.output),
                               {
                                   "OV VRIN : VrinSetARPReadMe ->",
                                   "OV VRIN : Setting ARPREADME=",
                                   "OV VRIN : VrinSetARPReadMe <- [0]",
                               }))
      << install.output;

  // The empty value removed the seeded property: it is gone from the final
  // property dump and RegisterProduct published an empty readme link.
  EXPECT_EQ(install.log.find(kSeededReadMe), std::string::npos) << install.log;
  EXPECT_EQ(install.log.find("Property(S): ARPREADME"), std::string::npos) << install.log;
  std::optional<wine::RegistryDump> arp = Wine().ExportRegistry(kArpKey);
  ASSERT_TRUE(arp.has_value()) << "no Add or Remove Programs entry " << kArpKey;
  ASSERT_EQ(arp->count(kArpKey), 1u);
  const wine::RegistryValues& entry = arp->at(kArpKey);
  ASSERT_EQ(entry.count("ReadMe"), 1u);
  EXPECT_EQ(entry.at("ReadMe").type, wine::RegistryValue::Type::kString);
  EXPECT_EQ(entry.at("ReadMe").text, "");
  ASSERT_EQ(entry.count("DisplayName"), 1u);
  EXPECT_EQ(entry.at("DisplayName").text, "Vrinca Smoke");
  EXPECT_TRUE(wine::fs::exists(Wine().Path(kInstalledFile)));

  wine::MsiexecResult removal = Wine().Remove(package);
  cleanup.Disarm();
  ASSERT_EQ(removal.exitCode, 0) << removal.log;
  EXPECT_FALSE(Wine().ExportRegistry(kArpKey).has_value());
  EXPECT_FALSE(wine::fs::exists(Wine().Path(kInstalledFile)));
}

INSTANTIATE_TEST_SUITE_P(, WineSmoke, wine::AllArches(), wine::ArchTestName);

}  // namespace
