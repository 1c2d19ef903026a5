// The master-setup exports called the way the backup suite's master setup
// calls them: a Windows program of the DLL's architecture loads it under
// Wine, hands it a record laid out by the shared structure (its 32-bit layout
// in the 32-bit prefix), and the profile it writes is read back from Wine's
// file system.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/wine/wine_test.h"

namespace {

std::map<std::string, std::string> Answers(const std::string& output) {
  std::map<std::string, std::string> answers;
  for (const std::string& line : wine::SplitLines(output)) {
    size_t equals = line.find('=');
    if (equals != std::string::npos && line.rfind("OV VRIN", 0) != 0) {
      answers[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  return answers;
}

class WineMasterSetup : public wine::ArchTest<> {};

TEST_P(WineMasterSetup, ExportsFillTheRecordAndWriteTheProfile) {
  wine::fs::path work = Wine().Dir() / "work" / "master_setup";
  wine::fs::remove_all(work);
  wine::fs::create_directories(work);
  wine::fs::path profile = work / "vrinca.icf";
  wine::RunResult run =
      Wine().Run({wine::ToWindowsPath(Probe("master_setup_probe.exe")), wine::ToWindowsPath(Wine().Dll()),
                  wine::ToWindowsPath(profile), "C:\\Backup Agents\\Velmora"},
                 work);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::map<std::string, std::string> answers = Answers(run.output);

  // A machine without any generation of the product: nothing found.
  EXPECT_EQ(answers["check"], "1") << run.output;
  EXPECT_EQ(answers["fixed"], "0");
  EXPECT_EQ(answers["component0"], "");
  EXPECT_EQ(answers["create"], "1") << run.output;
  EXPECT_EQ(answers["post"], "1");
  // Both calls left the master setup's parts of the record alone.
  EXPECT_EQ(run.output.find("untouched=0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("untouched=1"), std::string::npos);

  std::string text = wine::ReadTextFile(profile);
  EXPECT_NE(text.find("[VRIN]"), std::string::npos) << text;
  EXPECT_NE(text.find("INSTALLDIR=C:\\Backup Agents\\Velmora"), std::string::npos) << text;
  EXPECT_NE(text.find("MASTERSETUP=1"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(, WineMasterSetup, wine::AllArches(), wine::ArchTestName);

}  // namespace
