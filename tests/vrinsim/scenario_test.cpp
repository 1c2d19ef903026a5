// Scenario files as engineers write them: every mistake stops the play with
// one message naming the file and the line, and packages given as .idt
// tables or WiX source open as the built-in one does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/vrinsim/player.h"
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

  // The message of the ScenarioError that loading and playing raise.
  std::string ErrorOf(const std::string& scenarioText) {
    Write("scenario.txt", scenarioText);
    try {
      Play(LoadScenario(folder_));
    } catch (const ScenarioError& error) {
      return error.what();
    }
    return "<no error>";
  }

  std::string folder_;
};

const char kHead[] = "title = t\n";

TEST_F(ScenarioTest, MistakesNameTheFileAndLine) {
  const std::string file = folder_ + "/scenario.txt";
  EXPECT_EQ(ErrorOf(std::string(kHead) + "colour = blue\n[step s]\n"),
            file + ":2: unknown key \"colour\" before the first step");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "[step s]\nroad = install\nui = none\n"),
            file + ":4: \"ui\" is \"full\" (UILevel 5) or \"basic\" (UILevel 2)");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "[step s]\nroad = actions\nactions = VrinNameReadMe, VrinFly\n"),
            file + ":4: unknown action \"VrinFly\"");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "machine = missing.reg\n[step s]\n"),
            file + ":2: \"missing.reg\" does not exist in " + folder_);
  EXPECT_EQ(ErrorOf(std::string(kHead) + "file C:\\a.dll = version 1.2.3\n[step s]\n"),
            file + ":2: \"1.2.3\" is not a version a.b.c.d");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "[step s]\nservice Skelda = running-after 3\n"),
            file + ":3: \"running-after\" takes 2 numbers");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "just words\n"),
            file + ":2: expected \"key = value\", \"[step Title]\" or a comment");
  EXPECT_EQ(ErrorOf("[step s]\nroad = install\n"), file + ": no \"title = ...\"");
  // A path the machine refuses stops the play before any road.
  EXPECT_EQ(ErrorOf(std::string(kHead) + "file C:\\" + std::string(300, 'a') + " = text x\n[step s]\n")
                .rfind(file + ":2: unusable path C:\\aaa", 0),
            0u);
  EXPECT_EQ(ErrorOf(kHead), file + ": no \"[step ...]\"");
}

TEST_F(ScenarioTest, MalformedRegistryLineStopsBeforeAnyRoad) {
  Write("machine.reg",
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"A\"=dwrd:1\r\n");
  std::string error = ErrorOf(std::string(kHead) + "machine = machine.reg\n[step s]\nroad = install\n");
  EXPECT_EQ(error.rfind(folder_ + "/machine.reg:4: ", 0), 0u) << error;
}

TEST_F(ScenarioTest, IdtTableErrorsNameTheTableFile) {
  Write("tables/Property.idt", "Property\tValue\ns72\tl0\nProperty\tProperty\nA\n");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "package = tables\n[step s]\nroad = actions\nactions = VrinNameReadMe\n"),
            folder_ + "/tables/Property.idt:4: 1 fields where the table has 2 columns");
  Write("tables/Property.idt", "Property\tValue\ns72\tx0\nProperty\tProperty\n");
  EXPECT_EQ(ErrorOf(std::string(kHead) + "package = tables\n[step s]\nroad = actions\nactions = VrinNameReadMe\n"),
            folder_ + "/tables/Property.idt:2: column \"Value\": only string and integer columns are supported");
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
  EXPECT_NE(Report(LoadScenario(folder_), result, false).find("=== FAILED: 1 of 2 steps"), std::string::npos);
}

TEST_F(ScenarioTest, BrokenWixSourceIsAScenarioError) {
  if (std::system("command -v wixl > /dev/null 2>&1") != 0) GTEST_SKIP() << "wixl (msitools) is not installed";
  Write("package.wxs", "<Wix><Product>");
  std::string error = ErrorOf(std::string(kHead) + "package = package.wxs\n[step s]\nroad = install\n");
  EXPECT_EQ(error.rfind(folder_ + "/package.wxs: wixl could not build it", 0), 0u) << error;
}

}  // namespace
}  // namespace vrinsim

namespace vrinsim {
namespace {

TEST_F(ScenarioTest, ScriptedServiceStartIsWaitedForOnTheVirtualClock) {
  const std::string road = std::string(kHead) + "[step install]\nroad = install\nstartup-mode = Manual\n";
  Write("scenario.txt", road + "[step restart]\nroad = restart\n");
  PlayResult plain = Play(LoadScenario(folder_));
  ASSERT_FALSE(plain.failed) << plain.steps.back().failure;
  EXPECT_EQ(plain.steps[0].blockedMilliseconds, 10000u) << "only the pause after the driver's start";
  EXPECT_NE(std::find(plain.steps[1].changes.begin(), plain.steps[1].changes.end(), "  ~ Skelda running -> stopped"),
            plain.steps[1].changes.end());

  // The server reports start pending twice before it runs: the action waits.
  Write("scenario.txt", road + "service Skelda = running-after 3 4000\n");
  PlayResult scripted = Play(LoadScenario(folder_));
  ASSERT_FALSE(scripted.failed) << scripted.steps.back().failure;
  EXPECT_GT(scripted.steps[0].blockedMilliseconds, 10000u);
}

}  // namespace
}  // namespace vrinsim
