// Scenario files as engineers write them: every mistake is reported with
// its file and line, all in one run, before anything plays; service scripts
// end whatever their numbers; what a play shows to be pointless is warned
// about; packages given as .idt tables or WiX source open as the built-in
// one does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/vrinsim/player.h"
#include "tools/vrinsim/report.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {
namespace {

namespace fs = std::filesystem;

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrinsim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& name, const std::string& text) {
    fs::create_directories((fs::path(folder_) / name).parent_path());
    std::ofstream(fs::path(folder_) / name, std::ios::binary) << text;
  }

  // The messages of the ScenarioError that loading and playing raise, one
  // per line, with the folder's path left out.
  std::string ErrorOf(const std::string& scenarioText) {
    Write("scenario.txt", scenarioText);
    try {
      Play(LoadScenario(folder_));
    } catch (const ScenarioError& error) {
      std::string text = error.what();
      for (size_t at; (at = text.find(folder_ + "/")) != std::string::npos;) text.erase(at, folder_.size() + 1);
      return text;
    }
    return "<no error>";
  }

  std::string folder_;
};

const char kHead[] = "title = t\n";

TEST_F(ScenarioTest, EveryMistakeIsReportedWithItsLine) {
  Write("machine.reg",
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"A\"=dwrd:1\r\n");
  const std::string restart = "[step s]\nroad = restart\n";
  const struct {
    std::string scenario;
    std::string errors;
  } cases[] = {
      {"\xEF\xBB\xBF" + std::string(kHead) + restart, "<no error>"},
      {std::string(kHead) + "colour = blue\n" + restart,
       "scenario.txt:2: unknown key \"colour\" before the first step"},
      {std::string(kHead) + "road = install\n" + restart,
       "scenario.txt:2: \"road\" belongs in a step: start one with \"[step Title]\" first"},
      {std::string(kHead) + "[step s]\nroad = instal\n",
       "scenario.txt:3: \"road = instal\": did you mean install? (a road is install, remove, repair, actions, "
       "master-setup, restart or event)"},
      {std::string(kHead) + "package = builtin\n" + restart,
       "scenario.txt:2: \"package = builtin\": did you mean built-in?"},
      {std::string(kHead) + "[stepX]\nroad = restart\n",
       "scenario.txt:2: \"[stepX]\" is not a step header: write \"[step Title]\""},
      {std::string(kHead) + "[step s]\nroad = restart\nroad = install\n",
       "scenario.txt:4: a second \"road =\" line in step \"s\" (the first is line 3)"},
      {std::string(kHead) + "[step s]\nui = basic\n", "scenario.txt:2: step \"s\" has no \"road = ...\" line"},
      {std::string(kHead) + "products = abc\n" + restart,
       "scenario.txt:2: \"products = abc\": a product number is 1 to 32 (any other text: \"property PRODUCTS = ...\")"},
      {std::string(kHead) + "[step s]\nroad = install\nactions = VrinNTStartVrin\nui = none\n",
       "scenario.txt:4: \"actions =\" is for road = actions, not road = install\n"
       "scenario.txt:5: \"ui = none\": ui (UILevel 5 or 2) is full or basic"},
      {std::string(kHead) + "[step s]\nprofile = C:\\p.icf\nroad = restart\n",
       "scenario.txt:3: \"profile =\" is for road = master-setup, not road = restart"},
      {std::string(kHead) + "remote-machine FILESRV = machine.reg\n[step s]\nroad = master-setup\nmachine = FILESRV2\n",
       "machine.reg:4: unknown value data: dwrd:1\n"
       "scenario.txt:5: \"machine = FILESRV2\": no \"remote-machine FILESRV2 = FILE.reg\" is declared: did you "
       "mean FILESRV?"},
      {std::string(kHead) + "[step s]\nroad = actions\nactions = VrinNameReadMe, VrinNameReadMee\n",
       "scenario.txt:4: unknown action \"VrinNameReadMee\": did you mean VrinNameReadMe? (vrinsim actions lists "
       "them)"},
      {std::string(kHead) + "[step s]\nroad = actions\n",
       "scenario.txt:3: road = actions needs \"actions = A, B, ...\": the actions it calls in one session"},
      {std::string(kHead) + "machine = missing.reg\nfile C:\\a.dll = version 1.2.3\n" + restart,
       "scenario.txt:2: \"missing.reg\" does not exist in " + folder_ +
           "\nscenario.txt:3: \"1.2.3\" is not a version a.b.c.d"},
      {std::string(kHead) + "running-service = Skeld\n[step s]\nroad = install\nservice Nope = immediate\n",
       "scenario.txt:2: \"running-service = Skeld\": the machine has no service Skeld\n"
       "scenario.txt:5: \"service Nope = ...\": Nope is neither a service of the machine nor one the roads create "
       "(Skelda, SKDDriver)"},
      // Scripts that could not end, or mean nothing.
      {std::string(kHead) + "[step s]\nroad = install\nservice Skelda = progressing 0\nservice Skelda = refused 0\n"
                            "service Skelda = running-after 0 5\nservice SKDDriver = stopped-after 1001 1 1\n"
                            "service Skelda = running-after 3\n",
       "scenario.txt:4: \"service Skelda = progressing 0\": a service that keeps starting must ask for a wait of at "
       "least 1 ms; with none, the virtual clock never reaches the waiting action's time-out\n"
       "scenario.txt:5: \"service Skelda = refused 0\": 0 is no error; a start that succeeds is \"immediate\"\n"
       "scenario.txt:6: \"service Skelda = running-after 0 5\": N counts status queries, from 1 to 1000\n"
       "scenario.txt:7: \"service SKDDriver = stopped-after 1001 1 1\": N counts status queries, from 1 to 1000\n"
       "scenario.txt:8: \"service Skelda = running-after 3\": the script is \"running-after N HINT\""},
      // What only the play finds stops it at its step.
      {std::string(kHead) + "[step s]\nroad = actions\nactions = VrinNameReadMe\nfeature Nope = absent local\n",
       "scenario.txt:2: step \"s\": the package has no feature \"Nope\""},
      {std::string(kHead) + "just words\n" + restart,
       "scenario.txt:2: expected \"key = value\", \"[step Title]\" or a comment"},
      {"[step s]\nroad = install\n", "scenario.txt: no \"title = ...\""},
      {kHead, "scenario.txt: no \"[step ...]\""},
      // A path the machine refuses.
      {std::string(kHead) + "file C:\\" + std::string(240, 'a') + "\\" + std::string(30, 'b') + " = text x\n" + restart,
       "scenario.txt:2: unusable path C:\\" + std::string(240, 'a') + "\\" + std::string(30, 'b') + " (error 206)"},
  };
  for (const auto& row : cases) EXPECT_EQ(ErrorOf(row.scenario), row.errors) << row.scenario;
}

// Every script ends, at its edges too: the waits sleep its hints on the
// virtual clock up to their 15 s time-out, and the 10 s pause after the
// service's start follows whatever the wait gave.
TEST_F(ScenarioTest, ServiceScriptsEndWhateverTheirNumbers) {
  const struct {
    std::string script;
    uint64_t blocked;  // milliseconds on the virtual clock
  } cases[] = {
      {"Skelda = immediate", 10000},
      {"Skelda = running-after 1 0", 10000},
      {"Skelda = running-after 1000 1", 10999},
      {"Skelda = running-after 1000 4294967295", 25000},
      {"Skelda = stalled 0 0", 10000},
      {"Skelda = stalled 4294967295 4294967295", 25000},
      {"Skelda = progressing 1", 25000},
      {"Skelda = progressing 4294967295", 25000},
      {"Skelda = refused 1", 0},
      {"Skelda = refused 4294967295", 0},
      {"Skelda = stopped-after 1 0 0", 10000},
      {"Skelda = stopped-after 1000 4294967295 4294967295", 25000},
      {"SKDDriver = progressing 1", 25000},
      {"SKDDriver = stalled 1 0", 0},
      {"SKDDriver = stalled 1 4294967295", 25000},
  };
  for (const auto& row : cases) {
    Write("scenario.txt",
          std::string(kHead) + "[step s]\nroad = install\nstartup-mode = Manual\nservice " + row.script + "\n");
    PlayResult result = Play(LoadScenario(folder_));
    ASSERT_EQ(result.steps.size(), 1u) << row.script;
    EXPECT_FALSE(result.failed) << row.script;
    EXPECT_EQ(result.steps[0].blockedMilliseconds, std::optional<uint64_t>(row.blocked)) << row.script;
  }
}

// Nothing started the service on the removal, and the removal without a
// user interface showed no box: both are warned about, after the play.
TEST_F(ScenarioTest, ScriptsAndAnswersNothingUsedAreWarnedAbout) {
  Write("scenario.txt", std::string(kHead) +
                            "[step i]\nroad = install\nstartup-mode = Manual\nservice Skelda = running-after 2 10\n"
                            "[step r]\nroad = remove\nui = basic\nservice Skelda = refused 5\nmessage-box = 2\n");
  PlayResult result = Play(LoadScenario(folder_));
  ASSERT_FALSE(result.failed);
  std::vector<std::string> warnings;
  for (const Problem& warning : result.warnings) warnings.push_back(warning.Text().substr(folder_.size() + 1));
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "scenario.txt:9: warning: nothing started Skelda on road \"r\", so its script was not used",
                          "scenario.txt:10: warning: no message box asked for this answer on road \"r\""}));
}

// An older package keeps a newer file, which a repair then reads back;
// REINSTALLMODE "amus" replaces it. The report shows the versions.
TEST_F(ScenarioTest, OlderPackageKeepsANewerFileUnlessTheModeForcesIt) {
  const std::string image = "C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe";
  const std::string scenario =
      std::string(kHead) + "file " + image +
      " = version 10.0.5.0\nfile C:\\WINDOWS\\system32\\drivers\\skdnt.sys = version 6.61.0.300\n"
      "server-version = 9.0.12.0\n[step i]\nroad = install\n";
  Write("scenario.txt", scenario + "[step r]\nroad = repair\n");
  PlayResult kept = Play(LoadScenario(folder_));
  ASSERT_FALSE(kept.failed);
  const std::vector<std::string>& installed = kept.steps[0].changes;
  EXPECT_TRUE(std::none_of(installed.begin(), installed.end(), [&](const std::string& line) {
    return line.rfind("  ~ " + image, 0) == 0 || line.rfind("  + " + image, 0) == 0;
  })) << "the newer file stays as it was";
  EXPECT_NE(std::find(installed.begin(), installed.end(),
                      "  ~ C:\\WINDOWS\\system32\\drivers\\skdnt.sys 6.61.0.300 -> 9.0.12.0"),
            installed.end());
  const std::vector<std::string>& repaired = kept.steps[1].log;
  EXPECT_NE(std::find(repaired.begin(), repaired.end(), "OV VRIN : InstallGetFileVersion <- 10,0,5,0"), repaired.end());

  Write("scenario.txt", scenario + "property REINSTALLMODE = amus\n");
  const std::vector<std::string> forced = Play(LoadScenario(folder_)).steps[0].changes;
  EXPECT_NE(std::find(forced.begin(), forced.end(), "  ~ " + image + " 10.0.5.0 -> 9.0.12.0"), forced.end());
}

TEST_F(ScenarioTest, IdtTableErrorsNameTheTableFile) {
  Write("tables/Property.idt", "Property\tValue\ns72\tl0\nProperty\tProperty\nA\n");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "package = tables\n[step s]\nroad = actions\nactions = VrinNameReadMe\n"),
            "tables/Property.idt:4: 1 fields where the table has 2 columns");
  Write("tables/Property.idt", "Property\tValue\ns72\tx0\nProperty\tProperty\n");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "package = tables\n[step s]\nroad = actions\nactions = VrinNameReadMe\n"),
            "tables/Property.idt:2: column \"Value\": only string and integer columns are supported");
}

TEST_F(ScenarioTest, IdtTablesKeepTranslatedControlCharactersAndNulls) {
  // A control character in an export stands for another: 0x19 for LF.
  Write("tables/Property.idt",
        "Property\tValue\ns72\tl0\nProperty\tProperty\nREADMEFILE\treadme\x19.txt\nPRODUCTS\t1\n");
  Write("tables/Error.idt", "Error\tMessage\ni2\tL0\nError\tError\n1\t\n4\tInfo [1]. \n");
  Write("scenario.txt",
        std::string(kHead) + "package = tables\n[step s]\nroad = actions\nactions = VrinSetARPReadMe\n");
  PlayResult result = Play(LoadScenario(folder_));
  ASSERT_EQ(result.steps.size(), 1u);
  EXPECT_FALSE(result.failed);
  ASSERT_FALSE(result.steps[0].log.empty());
  EXPECT_EQ(result.steps[0].log[1], "Info OV VRIN : VrinSetARPReadMe ->. ");
}

// wixl writes no File versions, so the server module cannot tell the
// version it installs: the road fails there, and says so.
TEST_F(ScenarioTest, WixSourcePackageIsBuiltAndAFailedRoadNamesItsAction) {
  if (std::system("command -v wixl > /dev/null 2>&1") != 0) GTEST_SKIP() << "wixl (msitools) is not installed";
  Write("package.wxs", R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{6E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C61}" Name="Roads" Language="1033" Version="9.0.12"
           Manufacturer="Test" UpgradeCode="{6E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C60}">
    <Package InstallerVersion="500" Compressed="yes"/>
    <Property Id="PRODUCTS" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="VRIN" Name="Lumicor Velmora">
          <Directory Id="NTSERVERFOLDER" Name="Server">
            <Component Id="NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83"
                       Guid="{6E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4C62}">
              <RegistryValue Root="HKLM" Key="Software\Test" Name="Server" Type="string" Value="1" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="ServerFeature" Level="1">
      <ComponentRef Id="NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83"/>
    </Feature>
  </Product>
</Wix>
)");
  Write("scenario.txt",
        std::string(kHead) +
            "package = package.wxs\nconsole = no\n[step s]\nroad = install\n[step never]\nroad = remove\n");
  PlayResult result = Play(LoadScenario(folder_));
  ASSERT_TRUE(result.failed);
  ASSERT_EQ(result.steps.size(), 1u) << "a failed step ends the play";
  const StepResult& step = result.steps[0];
  // The server module's feature was found in the built package.
  EXPECT_NE(std::find(step.log.begin(), step.log.end(), "OV VRIN : InstallComponentGetFeature <- ServerFeature"),
            step.log.end());
  ASSERT_EQ(step.calls.size(), 2u);
  EXPECT_EQ(step.failure.rfind("VrinNTMergePostInstallInitialize returned 1603\n", 0), 0u) << step.failure;
  EXPECT_NE(step.failure.find("CONTEXT = VrinNTMergePostInstallInitialize : VrinNTInitialise / "), std::string::npos);
  EXPECT_NE(Report(LoadScenario(folder_), result).find("=== FAILED: 1 of 2 steps"), std::string::npos);
}

TEST_F(ScenarioTest, BrokenWixSourceIsAScenarioError) {
  if (std::system("command -v wixl > /dev/null 2>&1") != 0) GTEST_SKIP() << "wixl (msitools) is not installed";
  Write("package.wxs", "<Wix><Product>");
  std::string error = ErrorOf(std::string(kHead) + "package = package.wxs\n[step s]\nroad = install\n");
  EXPECT_EQ(error.rfind("package.wxs: wixl could not build it", 0), 0u) << error;
}

}  // namespace
}  // namespace vrinsim

namespace vrinsim {
namespace {

TEST_F(ScenarioTest, RestartStopsTheServicesAStepStarted) {
  Write("scenario.txt", std::string(kHead) +
                            "[step install]\nroad = install\nstartup-mode = Manual\n"
                            "[step restart]\nroad = restart\n");
  PlayResult result = Play(LoadScenario(folder_));
  ASSERT_FALSE(result.failed) << result.steps.back().failure;
  EXPECT_NE(std::find(result.steps[1].changes.begin(), result.steps[1].changes.end(), "  ~ Skelda running -> stopped"),
            result.steps[1].changes.end());
  EXPECT_EQ(Verdict(result.steps[1]), "done: the machine restarted");
}

}  // namespace
}  // namespace vrinsim
