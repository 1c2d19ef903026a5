// The vrinsim command as a user runs it: exit status and where it says what.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome Vrinsim(const std::string& arguments) {
  const std::string out = testing::TempDir() + "vrinsim.out";
  const std::string err = testing::TempDir() + "vrinsim.err";
  std::string command =
      std::string(VRINCA_BINARY_DIR) + "/tools/vrinsim/vrinsim " + arguments + " > " + out + " 2> " + err;
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

TEST(VrinsimCommand, ListsTheBundledScenarios) {
  Outcome outcome = Vrinsim("list");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.out.find("install-and-remove"), std::string::npos);
  EXPECT_NE(outcome.out.find("First installation, then removal of the last agent"), std::string::npos);
}

TEST(VrinsimCommand, RunWritesTheLogFileAndSucceeds) {
  const std::string log = testing::TempDir() + "vrinsim.log";
  Outcome outcome = Vrinsim("run repair --log " + log);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const std::string written = ReadAll(log);
  EXPECT_EQ(written.rfind("Action start 00:01:00: VrinNTMergePostLaunchConditions.\n", 0), 0u);
  EXPECT_NE(outcome.out.find("wall time"), std::string::npos);
}

TEST(VrinsimCommand, BadScenarioAndFailedRoadHaveTheirOwnStatus) {
  const fs::path folder = fs::path(testing::TempDir()) / "vrinsim-bad";
  fs::create_directories(folder);
  std::ofstream(folder / "scenario.txt") << "title = t\n[step s]\nroad = fly\n";
  Outcome bad = Vrinsim("run " + folder.string());
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "vrinsim: " + (folder / "scenario.txt").string() +
                         ":3: a road is install, remove, repair, actions, master-setup or restart\n");
  EXPECT_EQ(bad.out, "") << "nothing half-run is reported";

  // Another service holds the driver's display name: registering the driver
  // fails, and with it the installation.
  std::ofstream(folder / "machine.reg") << "Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Other]\r\n"
                                           "\"Type\"=dword:00000001\r\n\"DisplayName\"=\"OV Velmora Driver\"\r\n";
  std::ofstream(folder / "scenario.txt") << "title = t\nmachine = machine.reg\n[step s]\nroad = install\n";
  Outcome failed = Vrinsim("run " + folder.string());
  EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
  EXPECT_EQ(failed.err,
            "vrinsim: the road failed: VrinNTMergePreInstallFinalize returned 1603\n"
            "    ERR: OV VRIN : VrinNTInstallDriver : 1078 / CONTEXT = VrinNTInstallDriver : CreateService / "
            "DESCRIPTION = The name is already in use as either a service name or a service display name.\n"
            "    ERR: OV VRIN : VrinNTMergePreInstallFinalize : 1603 / CONTEXT = VrinNTMergePreInstallFinalize : "
            "VrinNTInstallDriver / DESCRIPTION = Fatal error during installation.\n");
  EXPECT_NE(failed.out.find("FAILED: VrinNTMergePreInstallFinalize returned 1603"), std::string::npos);
  fs::remove_all(folder);
}

}  // namespace
