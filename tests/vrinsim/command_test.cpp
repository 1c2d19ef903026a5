// The vrinsim command as a user runs it: exit status, what it says where,
// line ends, the log file, the machine it prints, and the scenario a new
// user writes from the README (tests/vrinsim/new-user) with its mistakes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

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

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs vrinsim with the arguments in folder (default: the test's own).
Outcome Vrinsim(const std::string& arguments, const fs::path& folder = testing::TempDir()) {
  // The tests run in parallel processes: each has its own files.
  const std::string base = testing::TempDir() + "vrinsim-" + std::to_string(getpid());
  const std::string out = base + ".out";
  const std::string err = base + ".err";
  std::string command = "cd '" + folder.string() + "' && " + std::string(VRINCA_BINARY_DIR) +
                        "/tools/vrinsim/vrinsim " + arguments + " > " + out + " 2> " + err;
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

const std::string kFixtures = std::string(VRINCA_SOURCE_DIR) + "/tests/vrinsim/";

TEST(VrinsimCommand, AnswersEachCommandAndOptionWithItsStatus) {
  const struct {
    std::string arguments;
    int status;
    std::string out;  // a part of standard output
    std::string err;  // a part of standard error
  } cases[] = {
      {"list", 0, "install-and-remove           First installation, then removal of the last agent\n", ""},
      {"actions", 0, "\nVrinNTStartVrin\n", ""},
      {"--version", 0, "vrinsim 1.1: ", ""},
      {"--help", 0, "stopped-after N EXITCODE HINT", ""},
      {"run repair --log", 2, "", "vrinsim: --log needs a file name\n"},
      {"run repair --log /nonexistent/folder/x.log", 2, "",
       "vrinsim: cannot write the log file /nonexistent/folder/x.log: No such file or directory\n"},
      {"run repiar", 2, "",
       "no scenario \"repiar\": neither a folder nor a bundled scenario's name; did you mean repair? "
       "(vrinsim list shows them)\n"},
      {"run repair --color=purple", 2, "", "vrinsim: --color=purple: the colour is auto, always or never\n"},
      {"machine repair --step 3", 2, "", "vrinsim: --step 3: the scenario has 2 steps\n"},
      {"list --step 1", 2, "", "vrinsim: an option given to a command that does not take it\n"},
      {"machine repair --json x.json", 2, "", "vrinsim: an option given to a command that does not take it\n"},
      {"run repair --json /nonexistent/folder/x.json", 2, "",
       "vrinsim: cannot write the JSON report /nonexistent/folder/x.json: No such file or directory\n"},
      {"compare repair --arch x86", 2, "", "vrinsim: --arch x86: the architecture is win32 or win64\n"},
      {"compare", 2, "", "vrinsim: compare takes one SCENARIO\n"},
      {"run driver-name-taken", 1, "Verdict: failed: VrinNTMergePreInstallFinalize returned 1603",
       "vrinsim: the road failed: VrinNTMergePreInstallFinalize returned 1603\n"
       "    ERR: OV VRIN : VrinNTInstallDriver : 1078 / CONTEXT = VrinNTInstallDriver : CreateService / "
       "DESCRIPTION = The name is already in use as either a service name or a service display name.\n"},
  };
  for (const auto& row : cases) {
    Outcome outcome = Vrinsim(row.arguments);
    EXPECT_EQ(outcome.status, row.status) << row.arguments << "\n" << outcome.err;
    EXPECT_NE(outcome.out.find(row.out), std::string::npos) << row.arguments << "\n" << outcome.out;
    EXPECT_NE(outcome.err.find(row.err), std::string::npos) << row.arguments << "\n" << outcome.err;
    if (row.status == 2) {
      EXPECT_EQ(outcome.out, "") << row.arguments << ": nothing half-run is reported";
    }
  }
}

// The report has LF line ends, the log file CRLF and a line per step;
// --changes-only leaves the logs out; colours only when asked for.
TEST(VrinsimCommand, ReportAndLogFileHaveTheirOwnLineEnds) {
  const std::string log = testing::TempDir() + "vrinsim-" + std::to_string(getpid()) + ".log";
  Outcome plain = Vrinsim("run install-and-remove --log " + log);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find('\r'), std::string::npos);
  EXPECT_EQ(plain.out.find("\x1b["), std::string::npos) << "not a terminal";
  EXPECT_NE(plain.out.find("Verdict: succeeded, with 4 failure reports and 0 warnings that the actions tolerate"),
            std::string::npos);
  const std::string written = ReadAll(log);
  EXPECT_EQ(written.rfind("=== vrinsim step 1: First installation (install) ===\r\n"
                          "Action start 00:01:00: VrinNTMergePostLaunchConditions.\r\n",
                          0),
            0u);
  EXPECT_NE(written.find("\r\n=== vrinsim step 2: Removal of the last agent (remove) ===\r\n"), std::string::npos);
  for (size_t at = written.find('\n'); at != std::string::npos; at = written.find('\n', at + 1)) {
    ASSERT_EQ(written[at - 1], '\r') << "at " << at;
    ASSERT_NE(written[at - 2], '\r') << "at " << at;
  }

  Outcome changes = Vrinsim("run install-and-remove --changes-only --color=always");
  EXPECT_EQ(changes.out.find("Installation log:"), std::string::npos);
  EXPECT_NE(changes.out.find("Changes to the machine:"), std::string::npos);
  EXPECT_NE(changes.out.find("\x1b[32mVerdict: succeeded"), std::string::npos);
}

// A folder of the current folder goes before a bundled scenario of the same
// name, and vrinsim says so.
TEST(VrinsimCommand, LocalFolderShadowingABundledScenarioIsAnnounced) {
  const fs::path here = fs::path(testing::TempDir()) / ("vrinsim-shadow-" + std::to_string(getpid()));
  fs::create_directories(here / "repair");
  std::ofstream(here / "repair" / "scenario.txt") << "title = mine\n[step s]\nroad = restart\n";
  Outcome outcome = Vrinsim("run repair", here);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("=== repair: mine ==="), std::string::npos);
  EXPECT_EQ(outcome.err, "vrinsim: playing the folder ./repair, not the bundled scenario of that name (" +
                             std::string(VRINCA_SOURCE_DIR) + "/scenarios/repair)\n");
  fs::remove_all(here);
}

// The machine before a step, printed and written out, starts a new scenario
// that begins where the first one was.
TEST(VrinsimCommand, MachineBeforeAStepStartsAnotherScenario) {
  const fs::path next = fs::path(testing::TempDir()) / ("vrinsim-next-" + std::to_string(getpid()));
  fs::remove_all(next);
  Outcome machine = Vrinsim("machine install-and-remove --step 2 --drives " + (next / "drives").string());
  ASSERT_EQ(machine.status, 0) << machine.err;
  EXPECT_EQ(machine.out.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
  EXPECT_NE(
      machine.out.find("; The machine of scenario install-and-remove before step 2 (Removal of the last agent)\n"),
      std::string::npos);
  EXPECT_NE(machine.out.find(";   file C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe = version 9.0.12.0\n"),
            std::string::npos);
  EXPECT_NE(machine.out.find(";   running-service = Skelda\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(next / "drives" / "C" / "Program Files" / "Lumicor Velmora" / "Server" / "Skdnt.exe"));

  std::ofstream(next / "machine.reg") << machine.out;
  std::ofstream(next / "scenario.txt") << "title = from the end of another\nstandard-machine = no\n"
                                          "machine = machine.reg\ndrives = drives\nrunning-service = Skelda\n"
                                          "running-service = SKDDriver\nshare VRIN$ = C:\\Program Files\\Lumicor "
                                          "Velmora\\Server\n[step Removal]\nroad = remove\n";
  Outcome again = Vrinsim("machine " + next.string() + " --step 1", next);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.substr(0, again.out.find("; The machine")),
            machine.out.substr(0, machine.out.find("; The machine")));
  // The same removal, but for the share's access list, which a scenario's
  // share does not carry.
  Outcome removal = Vrinsim("run " + next.string() + " --no-wall-time --changes-only", next);
  Outcome original = Vrinsim("run install-and-remove --no-wall-time --changes-only");
  auto changes = [](const std::string& report, size_t from) {
    return report.substr(from, report.find("  Shares:", from) - from);
  };
  EXPECT_EQ(changes(removal.out, removal.out.find("Changes to the machine:")),
            changes(original.out, original.out.rfind("Changes to the machine:")));
  fs::remove_all(next);
}

// The scenario a new user wrote from the README plays; the same with a
// user's slips reports every one of them in one run, and plays nothing.
TEST(VrinsimCommand, NewUsersScenarioPlaysAndItsMistakesAreReportedAtOnce) {
  Outcome good = Vrinsim("run " + kFixtures + "new-user --no-wall-time");
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.err, "");
  EXPECT_NE(good.out.find("    ~ C:\\Program Files\\Velmora\\Server\\Skdnt.exe 9.0.10.0 -> 9.0.12.0\n"),
            std::string::npos);
  EXPECT_EQ(good.out.find("Skdwin.exe 10.0.5.0 ->"), std::string::npos) << "the newer console is kept";
  EXPECT_NE(good.out.find("STARTUPMODE = NeedReboot"), std::string::npos) << "the refused start";
  EXPECT_NE(good.out.find("=== completed: 3 of 3 steps"), std::string::npos);

  const std::string file = kFixtures + "new-user-mistakes/scenario.txt";
  Outcome bad = Vrinsim("run " + kFixtures + "new-user-mistakes");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err,
            file + ":6: \"running-service = Skeldaa\": the machine has no service Skeldaa: did you mean Skelda?\n" +
                file + ":7: \"9.0.10\" is not a version a.b.c.d\n" + file +
                ":8: \"package = builtin\": did you mean built-in?\n" + file +
                ":9: \"products = two\": a product number is 1 to 32 (any other text: \"property PRODUCTS = ...\")\n" +
                file +
                ":12: \"road = instal\": did you mean install? (a road is install, remove, repair, actions, "
                "master-setup, restart or event)\n" +
                file +
                ":14: \"service Skelda = progressing 0\": a service that keeps starting must ask for a wait of at "
                "least 1 ms; with none, the virtual clock never reaches the waiting action's time-out\n" +
                file +
                ":15: \"service Skeldo = ...\": Skeldo is neither a service of the machine nor one the roads create "
                "(Skelda, SKDDriver): did you mean Skelda?\n" +
                file + ":17: \"[stepRepair]\" is not a step header: write \"[step Title]\"\n" + file +
                ":19: a second \"road =\" line in step \"[stepRepair]\" (the first is line 18)\n" + file +
                ":21: step \"Product 2 is removed\" has no \"road = ...\" line\n" + file +
                ":26: \"machine = FILESRV\": no \"remote-machine FILESRV = FILE.reg\" is declared\n" + file +
                ":27: \"actions =\" is for road = actions, not road = master-setup\n"
                "vrinsim: 12 mistakes in the scenario: nothing was played\n");
}

}  // namespace
