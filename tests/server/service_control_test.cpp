// Driver and service control: registration and correction of the driver,
// removal of both entries, the start after installation with its waits (in
// virtual time), the validation of a driver marked for deletion, and every
// failure with its report and result.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/local_memory.h"
#include "host/machine.h"
#include "host/message_table.h"
#include "host/registry.h"
#include "host/services.h"
#include "runtime/module.h"
#include "server/service_control.h"
#include "tests/support/session_fixture.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using host::Services;
using host::StartScript;
using Lines = std::vector<std::string>;
using Sleeps = std::vector<uint32_t>;

const std::string kDriverKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver";
const char kDriverImage[] = "%SystemRoot%\\system32\\drivers\\skdnt.sys";
const char kDriverFile[] = "C:\\WINDOWS\\system32\\drivers\\skdnt.sys";
const char kServiceFile[] = "C:\\Program Files\\Velmora\\Server\\skdnt.exe";
const char kCrt[] = "C:\\WINDOWS\\system32\\msvcrt.dll";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
// A report at row 1, which the package's Error table marks "ERR: ".
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}
// The trace of the driver's display name in US English.
Lines DisplayNameLines(const std::string& language = "", const std::string& name = "OV Velmora Driver") {
  return {Trace("InstallGetProperty -> ProductLanguage"), Trace("InstallGetProperty <- (" + language + ")"),
          Trace("InstallGetResourceString -> 40000002"),
          Trace("Looking for language " + (language.empty() ? std::string("1033") : language)),
          Trace("InstallGetResourceString <- " + name)};
}
Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const char kMarked[] = "The specified service has been marked for deletion.";
std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }

const char kNoService[] = "The specified service does not exist as an installed service.";
const char kRunning[] = "An instance of the service is already running.";
const char kDenied[] = "Access is denied.";
const char kNotFound[] = "The system cannot find the file specified.";

class ServiceControlTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    Files().AddDirectory("C:\\WINDOWS\\system32\\drivers");
    SetCrt(7);
    localBefore_ = host::LocalAllocationCount();
  }
  void TearDown() override {
    EXPECT_EQ(Services().OpenHandles(), 0) << "a service handle was left open";
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a registry key was left open";
    EXPECT_EQ(OpenHandles(), 0) << "an installer handle was left open";
    EXPECT_EQ(host::LocalAllocationCount(), localBefore_) << "the display name was not released";
    SessionTest::TearDown();
  }

  MSIHANDLE Open() { return OpenSession(vrintest::RowMarkersSql()); }

  static void SetCrt(uint16_t major) { Files().AddFile(kCrt, vrintest::VersionedDll({major, 0, 2600, 0})); }
  static void AddDriver(const std::string& display = "OV Velmora Driver", const std::string& image = kDriverImage,
                        uint32_t start = SERVICE_AUTO_START) {
    Services().Add(
        {"SKDDriver", display, SERVICE_FILE_SYSTEM_DRIVER, start, SERVICE_ERROR_NORMAL, image, "Filter", ""});
    Files().AddFile(kDriverFile, "MZ");
  }
  static void AddService() {
    Services().Add({"Skelda", "OV Velmora Service", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                    std::string("\"") + kServiceFile + "\"", "", "LocalSystem"});
    Files().AddFile(kServiceFile, "MZ");
  }
  static DWORD State(const char* name) { return Services().Status(name)->dwCurrentState; }
  static std::vector<std::string> Started() {
    std::vector<std::string> names;
    for (const host::StartRecord& start : Services().Starts()) names.push_back(start.name);
    return names;
  }
  static int Calls(const char* function) {
    auto it = Faults::Instance().CallCounts().find(function);
    return it == Faults::Instance().CallCounts().end() ? 0 : it->second;
  }
  static const Sleeps& Slept() { return host::VirtualClock().Sleeps(); }
  // Deletes the running driver's entry as a removal would: marked, not gone.
  static void MarkRunningDriver() {
    Services().SetRunning("SKDDriver");
    SC_HANDLE hManager = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE hDriver = OpenService(hManager, "SKDDriver", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(hDriver));
    CloseServiceHandle(hDriver);
    CloseServiceHandle(hManager);
  }

 private:
  size_t localBefore_ = 0;
};

// --- VrinNTInstallDriver ------------------------------------------------------

TEST_F(ServiceControlTest, FirstInstallationCreatesTheDriverWithTheRegistrationParameters) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            Join({{Trace("VrinNTInstallDriver ->")}, DisplayNameLines(), {Trace("VrinNTInstallDriver <- [0]")}}));
  auto key = LocalRegistry().Find(kDriverKey);
  ASSERT_NE(key, nullptr);
  std::vector<std::string> names;
  for (const host::RegValue& value : key->Values()) names.push_back(value.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Type", "Start", "ErrorControl", "ImagePath", "DisplayName", "Group"}))
      << "no tag, dependencies or account";
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Type"), static_cast<uint32_t>(SERVICE_FILE_SYSTEM_DRIVER));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Start"), static_cast<uint32_t>(SERVICE_AUTO_START));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "ErrorControl"), static_cast<uint32_t>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(LocalRegistry().Value(kDriverKey, "ImagePath")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "Group"), "Filter");
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Driver");
  EXPECT_EQ(State("SKDDriver"), static_cast<DWORD>(SERVICE_STOPPED)) << "registered, not started";
}

struct LanguageCase {
  const char* language;
  const char* displayName;  // code page 1252
};

class DriverDisplayNameTest : public ServiceControlTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(DriverDisplayNameTest, FollowsTheInstallationLanguage) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ProductLanguage", GetParam().language);
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), GetParam().displayName);
  EXPECT_EQ(LogLines().at(5), Trace(std::string("InstallGetResourceString <- ") + GetParam().displayName));
}

INSTANTIATE_TEST_SUITE_P(Languages, DriverDisplayNameTest,
                         ::testing::Values(LanguageCase{"1031", "OV Velmora Treiber"},
                                           LanguageCase{"1036", "Unit\xE9 OV Velmora"},
                                           LanguageCase{"1044", "OV Velmora-driver"},
                                           LanguageCase{"1033", "OV Velmora Driver"}));

// An entry registered by an installation in another language gets this
// language's display name; its own type, start, error control and group stay.
TEST_F(ServiceControlTest, EntryOfAnotherLanguageGetsThisLanguagesDisplayNameOnly) {
  Services().Add({"SKDDriver", "OV Velmora Driver", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                  kDriverImage, "FSFilter Activity Monitor", ""});
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ProductLanguage", "1031");
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Treiber");
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Type"), static_cast<uint32_t>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Start"), static_cast<uint32_t>(SERVICE_DEMAND_START));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "ErrorControl"), static_cast<uint32_t>(SERVICE_ERROR_IGNORE));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "Group"), "FSFilter Activity Monitor");
}

TEST_F(ServiceControlTest, SameEntryInAnotherLetterCaseIsLeftAlone) {
  AddDriver("OV Velmora Driver", "%SYSTEMROOT%\\System32\\DRIVERS\\SKDNT.SYS");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            Join({{Trace("VrinNTInstallDriver ->")},
                  DisplayNameLines(),
                  {Trace("Driver path = %SYSTEMROOT%\\System32\\DRIVERS\\SKDNT.SYS"),
                   Trace("Driver display name = OV Velmora Driver"), Trace("VrinNTInstallDriver <- [0]")}}));
  EXPECT_EQ(Calls("ChangeServiceConfig"), 0);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), "%SYSTEMROOT%\\System32\\DRIVERS\\SKDNT.SYS");
}

TEST_F(ServiceControlTest, DisplayNameDifferingOnlyInLetterCaseIsCorrected) {
  AddDriver("OV VELMORA DRIVER");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(Calls("ChangeServiceConfig"), 1);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Driver");
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  EXPECT_EQ(LogLines().at(7), Trace("Driver display name = OV VELMORA DRIVER"));
}

TEST_F(ServiceControlTest, ExistingEntryKeepsItsStartTypeAndGetsThePathBack) {
  Services().Add({"SKDDriver", "OV Velmora Driver", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                  "\\SystemRoot\\System32\\drivers\\old.sys", "FSFilter Activity Monitor", ""});
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  EXPECT_EQ(LocalRegistry().Value(kDriverKey, "ImagePath")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Type"), static_cast<uint32_t>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Start"), static_cast<uint32_t>(SERVICE_DEMAND_START));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "ErrorControl"), static_cast<uint32_t>(SERVICE_ERROR_IGNORE));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "Group"), "FSFilter Activity Monitor");
  EXPECT_EQ(LogLines().at(6), Trace("Driver path = \\SystemRoot\\System32\\drivers\\old.sys"));
}

struct InstallDriverFailure {
  const char* function;
  DWORD error;
  int nth;
  const char* context;
  UINT result;
};

class InstallDriverFailureTest : public ServiceControlTest,
                                 public ::testing::WithParamInterface<InstallDriverFailure> {};

TEST_P(InstallDriverFailureTest, IsReportedWithItsContextAndResult) {
  const InstallDriverFailure& failure = GetParam();
  AddDriver("Old Name");
  MSIHANDLE hInstall = Open();
  Faults::Instance().Fail(failure.function, failure.error, failure.nth);
  EXPECT_EQ(VrinNTInstallDriver(hInstall), failure.result);
  bool reported = false;
  for (const std::string& line : LogLines()) {
    if (line.rfind("ERR: OV VRIN : VrinNTInstallDriver : " + std::to_string(failure.error) +
                       "\r\n\r\nCONTEXT = " + failure.context + "\r\n",
                   0) == 0) {
      reported = true;
    }
  }
  EXPECT_TRUE(reported) << failure.context;
  EXPECT_EQ(LogLines().back(), Trace("VrinNTInstallDriver <- [" + std::to_string(failure.result) + "]"));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "Old Name") << "nothing changed";
}

INSTANTIATE_TEST_SUITE_P(Table, InstallDriverFailureTest,
                         ::testing::Values(InstallDriverFailure{"OpenSCManager", ERROR_ACCESS_DENIED, 1,
                                                                "VrinNTInstallDriver : OpenSCManager", 1603},
                                           InstallDriverFailure{"CreateService", ERROR_ACCESS_DENIED, 1,
                                                                "VrinNTInstallDriver : CreateService", 1603},
                                           InstallDriverFailure{"OpenService", ERROR_ACCESS_DENIED, 1,
                                                                "VrinNTInstallDriver : OpenService", 1603},
                                           InstallDriverFailure{"QueryServiceConfig", ERROR_ACCESS_DENIED, 1,
                                                                "VrinNTInstallDriver : QueryServiceConfig(1)", 1603},
                                           InstallDriverFailure{"QueryServiceConfig", ERROR_ACCESS_DENIED, 2,
                                                                "VrinNTInstallDriver : QueryServiceConfig(2)", 1603},
                                           InstallDriverFailure{"ChangeServiceConfig", ERROR_ACCESS_DENIED, 1,
                                                                "VrinNTInstallDriver : ChangeServiceConfig", 1603},
                                           // The codes that mean "the entry is there" never fail the installation.
                                           InstallDriverFailure{"QueryServiceConfig", ERROR_SERVICE_EXISTS, 2,
                                                                "VrinNTInstallDriver : QueryServiceConfig(2)", 0},
                                           InstallDriverFailure{"ChangeServiceConfig", ERROR_SERVICE_MARKED_FOR_DELETE,
                                                                1, "VrinNTInstallDriver : ChangeServiceConfig", 0}));

TEST_F(ServiceControlTest, EveryAllocationFailureEndsInTheHandlerWithNothingLeftOpen) {
  // Each allocation of the correcting road fails in turn; one of them is the
  // configuration buffer.
  int configFailures = 0;
  for (int nth = 1; nth <= 40; ++nth) {
    host::ResetMachine();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    AddDriver("Old Name");
    MSIHANDLE hInstall = Open();
    Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, nth);
    UINT result = VrinNTInstallDriver(hInstall);
    EXPECT_TRUE(result == 0 || result == 1603) << nth;
    EXPECT_EQ(Services().OpenHandles(), 0) << nth;
    EXPECT_EQ(OpenHandles(), 0) << nth;
    for (const std::string& line : LogLines()) {
      if (line.find("CONTEXT = VrinNTInstallDriver : szConfig\r\n") != std::string::npos) {
        ++configFailures;
        EXPECT_EQ(line.rfind("ERR: OV VRIN : VrinNTInstallDriver : 14\r\n", 0), 0u);
        EXPECT_EQ(result, 1603u);
      }
    }
  }
  EXPECT_EQ(configFailures, 1);
}

TEST_F(ServiceControlTest, MissingDisplayNameLeavesTheNameToWindows) {
  MSIHANDLE hInstall = Open();
  // The message table cannot be read: no display name, and nothing raised.
  Faults::Instance().Fail("FormatMessage", ERROR_NOT_ENOUGH_MEMORY, 0, "1033");
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_FALSE(LocalRegistry().Value(kDriverKey, "DisplayName").has_value());
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  // On an existing entry only the path is corrected; its name stays.
  LocalRegistry().SetString(kDriverKey, "DisplayName", "Custom");
  LocalRegistry().SetString(kDriverKey, "ImagePath", "other.sys", REG_EXPAND_SZ);
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "Custom");
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
}

TEST_F(ServiceControlTest, InstallDriverWithoutSessionFailsTheInstallation) {
  EXPECT_EQ(VrinNTInstallDriver(0), 1603u);
  EXPECT_EQ(TakeStdoutLines(),
            (Lines{Trace("VrinNTInstallDriver ->"), Trace("VrinNTInstallDriver : 160"), "",
                   "CONTEXT = VrinNTInstallDriver : hInstall", "DESCRIPTION = One or more arguments are not correct.",
                   "", Trace("VrinNTInstallDriver <- [1603]")}));
  EXPECT_FALSE(Services().Exists("SKDDriver"));
}

// --- VrinNTUninstallDriver and VrinNTUninstallService ------------------------

TEST_F(ServiceControlTest, LastRemovalDeletesBothEntries) {
  AddDriver();
  AddService();
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  EXPECT_EQ(VrinNTUninstallService(hInstall), 0u);
  EXPECT_EQ(VrinNTUninstallDriver(hInstall), 0u);
  EXPECT_FALSE(Services().Exists("Skelda"));
  EXPECT_FALSE(Services().Exists("SKDDriver"));
  EXPECT_EQ(LocalRegistry().Find(kDriverKey), nullptr);
  EXPECT_TRUE(Services().Starts().empty());
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTUninstallService ->"), Trace("InstallGetProperty -> NTSERVERREFCOUNTER"),
                               Trace("InstallGetProperty <- (1)"), Trace("VrinNTUninstallService <- [0]"),
                               Trace("VrinNTUninstallDriver ->"), Trace("InstallGetProperty -> NTSERVERREFCOUNTER"),
                               Trace("InstallGetProperty <- (1)"), Trace("VrinNTUninstallDriver <- [0]")}));
}

class RemainingUsersTest : public ServiceControlTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RemainingUsersTest, KeepBothEntriesAndRestartTheService) {
  AddDriver();
  AddService();
  Services().SetStartScript("Skelda", StartScript::RunningAfter(3, 500));
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERREFCOUNTER", GetParam());
  EXPECT_EQ(VrinNTUninstallService(hInstall), 0u);
  EXPECT_EQ(VrinNTUninstallDriver(hInstall), 0u);
  EXPECT_TRUE(Services().Exists("Skelda"));
  EXPECT_TRUE(Services().Exists("SKDDriver"));
  EXPECT_FALSE(Services().MarkedForDeletion("SKDDriver"));
  EXPECT_EQ(Started(), (std::vector<std::string>{"Skelda"}));
  EXPECT_EQ(State("Skelda"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Slept(), (Sleeps{500, 500})) << "waited for the service to run";
  EXPECT_EQ(LogLines().at(2), Trace(std::string("InstallGetProperty <- (") + GetParam() + ")"));
}

INSTANTIATE_TEST_SUITE_P(Counts, RemainingUsersTest, ::testing::Values("2", "01", "", " 1", "1 "));

// The restarted service's wait ends without it running: its result is not
// used, nothing is reported.
TEST_F(ServiceControlTest, RestartedServiceThatNeverRunsIsNoFailure) {
  for (const StartScript& script : {StartScript::Progressing(6000), StartScript::Stalled(1, 2000)}) {
    host::ResetMachine();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    AddService();
    Services().SetStartScript("Skelda", script);
    MSIHANDLE hInstall = Open();
    Session().SetProperty("NTSERVERREFCOUNTER", "2");
    EXPECT_EQ(VrinNTUninstallService(hInstall), 0u);
    EXPECT_EQ(State("Skelda"), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTUninstallService ->"), Trace("InstallGetProperty -> NTSERVERREFCOUNTER"),
                                 Trace("InstallGetProperty <- (2)"), Trace("VrinNTUninstallService <- [0]")}));
    Session().Close();
  }
}

TEST_F(ServiceControlTest, RunningDriverStaysMarkedUntilTheRestart) {
  AddDriver();
  Services().SetRunning("SKDDriver");
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  EXPECT_EQ(VrinNTUninstallDriver(hInstall), 0u);
  EXPECT_TRUE(Services().Exists("SKDDriver"));
  EXPECT_TRUE(Services().MarkedForDeletion("SKDDriver"));
  // The next installation's validation sees it, and its registration passes.
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("DRIVERPENDINGDELETION"), "1");
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinNTInstallDriver", 1072, "VrinNTInstallDriver : CreateService", kMarked));
  EXPECT_EQ(lines.back(), Trace("VrinNTInstallDriver <- [0]"));
  // Gone after the restart, and registered afresh by the next installation.
  host::RestartMachine();
  EXPECT_FALSE(Services().Exists("SKDDriver"));
  EXPECT_EQ(VrinNTInstallDriver(hInstall), 0u);
  EXPECT_EQ(LogLines().back(), Trace("VrinNTInstallDriver <- [0]"));
  EXPECT_FALSE(Services().MarkedForDeletion("SKDDriver"));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Driver");
}

TEST_F(ServiceControlTest, AlreadyRunningServiceMakesTheRestartFail) {
  AddService();
  AddDriver();
  Services().SetRunning("Skelda");
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERREFCOUNTER", "2");
  EXPECT_EQ(VrinNTUninstallService(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTUninstallService ->"), Trace("InstallGetProperty -> NTSERVERREFCOUNTER"),
                   Trace("InstallGetProperty <- (2)"),
                   Report("VrinNTUninstallService", 1056, "VrinNTUninstallService : StartService", kRunning),
                   Trace("VrinNTUninstallService <- [0]")}));
  EXPECT_TRUE(Slept().empty());
}

struct RemovalFailure {
  const char* function;
  const char* key;
  const char* context;
};

class RemovalFailureTest : public ServiceControlTest, public ::testing::WithParamInterface<RemovalFailure> {};

TEST_P(RemovalFailureTest, IsReportedAndTheResultStaysZero) {
  AddDriver();
  AddService();
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERREFCOUNTER", "1");
  Faults::Instance().Fail(GetParam().function, ERROR_ACCESS_DENIED, 0, GetParam().key);
  const bool driver = std::string(GetParam().context).rfind("VrinNTUninstallDriver", 0) == 0;
  const std::string name = driver ? "VrinNTUninstallDriver" : "VrinNTUninstallService";
  EXPECT_EQ(driver ? VrinNTUninstallDriver(hInstall) : VrinNTUninstallService(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 2], Report(name, 5, GetParam().context, kDenied));
  EXPECT_EQ(lines.back(), Trace(name + " <- [0]"));
  EXPECT_TRUE(Services().Exists(driver ? "SKDDriver" : "Skelda"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemovalFailureTest,
    ::testing::Values(RemovalFailure{"OpenSCManager", "", "VrinNTUninstallDriver : OpenSCManager"},
                      RemovalFailure{"OpenService", "SKDDriver", "VrinNTUninstallDriver : OpenService"},
                      RemovalFailure{"DeleteService", "SKDDriver", "VrinNTUninstallDriver : DeleteService"},
                      RemovalFailure{"OpenSCManager", "", "VrinNTUninstallService : OpenSCManager"},
                      RemovalFailure{"OpenService", "Skelda", "VrinNTUninstallService : OpenService"},
                      RemovalFailure{"DeleteService", "Skelda", "VrinNTUninstallService : DeleteService"}));

// --- VrinNTStartVrin ------------------------------------------------------------

class StartVrinTest : public ServiceControlTest {
 protected:
  MSIHANDLE Ready() {
    AddDriver();
    AddService();
    return Open();
  }
};

TEST_F(StartVrinTest, StartsTheDriverThenTheServiceAndPauses) {
  MSIHANDLE hInstall = Ready();
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver", "Skelda"}));
  EXPECT_EQ(State("SKDDriver"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(State("Skelda"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Slept(), (Sleeps{10000}));
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->"), Trace("VrinNTStartVrin <- [0]")}));
  // The runtime's version is read without the session: its trace is on
  // standard output only.
  Lines out = TakeStdoutLines();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[1], Trace(std::string("InstallGetFileVersion -> ") + kCrt));
  EXPECT_EQ(out[2], Trace("InstallGetFileVersion <- 7,0,2600,0"));
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
}

TEST_F(StartVrinTest, StalledDriverKeepsTheServiceFromStarting) {
  MSIHANDLE hInstall = Ready();
  Services().SetStartScript("SKDDriver", StartScript::Stalled(1, 2000));
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver"}));
  EXPECT_EQ(State("Skelda"), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Slept(), (Sleeps{2000})) << "the second status shows no progress";
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->"), Warning("SKDDriver not running after start (state 2)"),
                               Trace("VrinNTStartVrin <- [0]")}));
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE")) << "no failure: nothing to reboot for";
}

TEST_F(StartVrinTest, DriverStillStartingAfterFifteenSecondsLetsTheServiceStart) {
  MSIHANDLE hInstall = Ready();
  Services().SetStartScript("SKDDriver", StartScript::Progressing(4000));
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver", "Skelda"}));
  // 15 s for the driver (the last sleep cut to the time-out), then the pause.
  EXPECT_EQ(Slept(), (Sleeps{4000, 4000, 4000, 3000, 10000}));
  EXPECT_EQ(host::VirtualClock().TotalSlept(), 25000u);
  EXPECT_EQ(Services().Starts()[1].ticks - Services().Starts()[0].ticks, 15000u);
  EXPECT_EQ(State("SKDDriver"), static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->"), Warning("SKDDriver not running after start (state 2)"),
                               Trace("VrinNTStartVrin <- [0]")}));
}

// The service's wait ends without it running: the pause and the result are
// the same, and the log shows the state it was left in.
TEST_F(StartVrinTest, ServiceNotRunningAfterItsWaitIsAWarningOnly) {
  const struct {
    StartScript script;
    Sleeps slept;
    int state;
  } cases[] = {
      {StartScript::Progressing(5000), {5000, 5000, 5000, 10000}, SERVICE_START_PENDING},
      {StartScript::StoppedAfter(2, 1067, 500), {500, 10000}, SERVICE_STOPPED},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.state);
    host::ResetMachine();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    SetCrt(7);
    MSIHANDLE hInstall = Ready();
    Services().SetStartScript("Skelda", test.script);
    EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
    EXPECT_EQ(Slept(), test.slept);
    EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->"),
                                 Warning("Skelda not running after start (state " + std::to_string(test.state) + ")"),
                                 Trace("VrinNTStartVrin <- [0]")}));
    EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
    Session().Close();
  }
}

class RebootTextTest : public StartVrinTest, public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

// A skip writes no exit trace line.
TEST_P(RebootTextTest, OnlyACaseSensitiveForceInTheFirstNineCharactersSkips) {
  MSIHANDLE hInstall = Ready();
  Session().SetProperty("REBOOT", GetParam().first);
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Services().Starts().empty(), GetParam().second) << GetParam().first;
  EXPECT_EQ(LogLines().back(), Trace(GetParam().second ? "VrinNTStartVrin ->" : "VrinNTStartVrin <- [0]"));
}

INSTANTIATE_TEST_SUITE_P(Texts, RebootTextTest,
                         ::testing::Values(std::make_pair("Force", true), std::make_pair("ReForce", true),
                                           std::make_pair("ReallyForce", false), std::make_pair("force", false),
                                           std::make_pair("FORCE", false), std::make_pair("ReallySuppress", false),
                                           std::make_pair("Suppress", false),
                                           // "Force" starts at the tenth character: cut off.
                                           std::make_pair("123456789Force", false)));

TEST_F(StartVrinTest, PendingRebootSkipsEverything) {
  for (MSIRUNMODE mode : {MSIRUNMODE_REBOOTATEND, MSIRUNMODE_REBOOTNOW}) {
    host::ResetMachine();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    SetCrt(7);
    MSIHANDLE hInstall = Ready();
    Session().SetMode(mode, true);
    EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
    EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->")})) << mode;
    EXPECT_TRUE(Services().Starts().empty()) << mode;
  }
}

TEST_F(StartVrinTest, OldCRuntimeSkipsEverything) {
  SetCrt(5);
  MSIHANDLE hInstall = Ready();
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->")}));
  EXPECT_TRUE(Services().Starts().empty());
  SetCrt(6);
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver", "Skelda"})) << "6 is new enough";
}

TEST_F(StartVrinTest, UnreadableCRuntimeVersionIsReportedAndNothingStarts) {
  MSIHANDLE hInstall = Ready();
  Files().Unlink(kCrt);
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTStartVrin ->"),
                   Report("VrinNTStartVrin", 2, "InstallGetFileVersion : GetFileVersionInfoSize", kNotFound),
                   Trace("VrinNTStartVrin <- [0]")}));
  EXPECT_TRUE(Services().Starts().empty());
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
  // A file without a version resource ends the same way.
  Files().AddFile(kCrt, vrintest::UnversionedDll());
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_TRUE(Services().Starts().empty());
}

TEST_F(StartVrinTest, UnreadableSystemFolderSkipsTheRuntimeTest) {
  MSIHANDLE hInstall = Ready();
  Files().Unlink(kCrt);
  Faults::Instance().Fail("GetSystemDirectory", ERROR_ACCESS_DENIED);
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver", "Skelda"}));
}

TEST_F(StartVrinTest, RunningDriverMakesTheFirstStartFailAndAsksForAReboot) {
  MSIHANDLE hInstall = Ready();
  Services().SetRunning("SKDDriver");
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTStartVrin ->"),
                               Report("VrinNTStartVrin", 1056, "VrinNTStartVrin : StartService (1)", kRunning),
                               Trace("InstallGetProperty -> STARTUPMODE"), Trace("InstallGetProperty <- ()"),
                               Trace("Set STARTUPMODE=NeedReboot"), Trace("VrinNTStartVrin <- [0]")}));
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), "NeedReboot");
  EXPECT_TRUE(Services().Starts().empty());
  EXPECT_TRUE(Slept().empty());
}

class StartupModeTest : public StartVrinTest,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(StartupModeTest, AfterAFailedStart) {
  MSIHANDLE hInstall = Ready();
  Services().SetStartScript("Skelda", StartScript::Refused(ERROR_ACCESS_DENIED));
  Session().SetProperty("STARTUPMODE", GetParam().first);
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), GetParam().second);
  EXPECT_EQ(LogLines().at(1), Report("VrinNTStartVrin", 5, "VrinNTStartVrin : StartService (2)", kDenied));
  bool traced = LogLines().at(4) == Trace("Set STARTUPMODE=NeedReboot");
  EXPECT_EQ(traced, std::string(GetParam().second) == "NeedReboot");
  EXPECT_TRUE(Slept().empty()) << "no pause after a service that did not start";
}

INSTANTIATE_TEST_SUITE_P(Modes, StartupModeTest,
                         ::testing::Values(std::make_pair("Manual", "NeedReboot"),
                                           std::make_pair("Automatic", "NeedReboot"),
                                           std::make_pair("Reboot", "Reboot"), std::make_pair("REBOOT", "REBOOT"),
                                           std::make_pair("reboot", "reboot"),
                                           std::make_pair("Reboots", "NeedReboot")));

TEST_F(StartVrinTest, MissingEntriesAskForAReboot) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(LogLines().at(1), Report("VrinNTStartVrin", 1060, "VrinNTStartVrin : OpenService", kNoService));
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), "NeedReboot");
  AddDriver();
  Session().SetProperty("STARTUPMODE", "");
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  EXPECT_EQ(Started(), (std::vector<std::string>{"SKDDriver"}));
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), "NeedReboot");
}

TEST_F(StartVrinTest, UnreadableStartupModeIsReportedToo) {
  MSIHANDLE hInstall = Ready();
  Services().SetRunning("SKDDriver");
  Faults::Instance().Fail("MsiGetProperty", ERROR_FUNCTION_FAILED, 0, "STARTUPMODE");
  EXPECT_EQ(VrinNTStartVrin(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], Report("VrinNTStartVrin", 1627, "MsiGetSourcePath", "Function failed during execution."));
  EXPECT_EQ(lines[4], Trace("VrinNTStartVrin <- [0]"));
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
}

TEST_F(StartVrinTest, WithoutSessionNothingEscapes) {
  AddDriver();
  AddService();
  EXPECT_EQ(VrinNTStartVrin(0), 0u);
  EXPECT_TRUE(Services().Starts().empty());
  Lines lines = TakeStdoutLines();
  EXPECT_EQ(lines.front(), Trace("VrinNTStartVrin ->"));
  EXPECT_EQ(lines.back(), Trace("VrinNTStartVrin <- [0]"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CONTEXT = VrinNTStartVrin : hInstall"), lines.end());
}

// --- VrinNTInstallationValidation -------------------------------------------

TEST_F(ServiceControlTest, StoppedDriverIsOnlyTraced) {
  AddDriver("Old Name");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinNTInstallationValidation ->"), Trace("Driver status = 1"),
                               Trace("VrinNTInstallationValidation <- [0]")}));
  EXPECT_EQ(Calls("ChangeServiceConfig"), 0);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "Old Name");
  EXPECT_FALSE(Session().HasProperty("DRIVERPENDINGDELETION"));
}

TEST_F(ServiceControlTest, RunningDriverGetsItsDisplayNameAgainAndNoProperty) {
  AddDriver("Old Name");
  Services().SetRunning("SKDDriver");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines(), Join({{Trace("VrinNTInstallationValidation ->"), Trace("Driver status = 4")},
                              DisplayNameLines(),
                              {Trace("VrinNTInstallationValidation <- [0]")}}));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Driver");
  EXPECT_FALSE(Session().HasProperty("DRIVERPENDINGDELETION"));
}

TEST_F(ServiceControlTest, RunningDriverMarkedForDeletionSetsThePendingProperty) {
  AddDriver();
  MarkRunningDriver();
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines(), Join({{Trace("VrinNTInstallationValidation ->"), Trace("Driver status = 4")},
                              DisplayNameLines(),
                              {Trace("Set DRIVERPENDINGDELETION=1"), Trace("VrinNTInstallationValidation <- [0]")}}));
  EXPECT_EQ(Session().GetProperty("DRIVERPENDINGDELETION"), "1");
}

TEST_F(ServiceControlTest, OtherRefusalsOfTheProbeAreIgnored) {
  AddDriver();
  Services().SetRunning("SKDDriver");
  MSIHANDLE hInstall = Open();
  Faults::Instance().Fail("ChangeServiceConfig", ERROR_ACCESS_DENIED);
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("DRIVERPENDINGDELETION"));
  EXPECT_EQ(LogLines().back(), Trace("VrinNTInstallationValidation <- [0]"));
  EXPECT_EQ(LogLines().size(), 8u) << "nothing reported";
}

TEST_F(ServiceControlTest, ValidationFailuresAreReported) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines().at(1),
            Report("VrinNTInstallationValidation", 1060, "VrinNTInstallationValidation : OpenService", kNoService));
  AddDriver();
  Faults::Instance().Fail("QueryServiceStatus", ERROR_ACCESS_DENIED, 1, "SKDDriver");
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines().at(4),
            Report("VrinNTInstallationValidation", 5, "VrinNTInstallationValidation : QueryServiceStatus", kDenied));
  MarkRunningDriver();
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "DRIVERPENDINGDELETION");
  EXPECT_EQ(VrinNTInstallationValidation(hInstall), 0u);
  EXPECT_EQ(LogLines().at(14),
            Report("VrinNTInstallationValidation", 1627, "VrinNTInstallationValidation : MsiSetProperty",
                   "Function failed during execution."));
  EXPECT_FALSE(Session().HasProperty("DRIVERPENDINGDELETION"));
}

// --- WaitForServiceState -------------------------------------------------------

class WaitTest : public ServiceControlTest {
 protected:
  void SetUp() override {
    ServiceControlTest::SetUp();
    AddService();
    hManager_ = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
    hService_ = OpenService(hManager_, "Skelda", SERVICE_ALL_ACCESS);
  }
  void TearDown() override {
    CloseServiceHandle(hService_);
    CloseServiceHandle(hManager_);
    ServiceControlTest::TearDown();
  }
  void Start(const StartScript& script) {
    Services().SetStartScript("Skelda", script);
    ASSERT_TRUE(StartService(hService_, 0, nullptr));
  }
  BOOL Wait(DWORD timeout) {
    SetLastError(0);
    return WaitForServiceState(hService_, SERVICE_RUNNING, &status_, timeout);
  }
  SC_HANDLE hManager_ = nullptr;
  SC_HANDLE hService_ = nullptr;
  SERVICE_STATUS status_ = {};
};

TEST_F(WaitTest, SleepsTheWaitHintsUntilRunning) {
  Start(StartScript::RunningAfter(5, 700));
  EXPECT_TRUE(Wait(INFINITE));
  EXPECT_EQ(Slept(), (Sleeps{700, 700, 700, 700}));
  EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(WaitTest, TimeOutAnswersTrueWithTheLastErrorAndTheStateInTheRecord) {
  Start(StartScript::Progressing(6000));
  EXPECT_TRUE(Wait(15000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(status_.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(Slept(), (Sleeps{6000, 6000, 3000}));
}

TEST_F(WaitTest, HugeWaitHintIsCutToTheTimeOut) {
  Start(StartScript::Progressing(600000));
  EXPECT_TRUE(Wait(15000));
  EXPECT_EQ(Slept(), (Sleeps{15000}));
}

TEST_F(WaitTest, FrozenCheckpointEndsTheWait) {
  Start(StartScript::Stalled(3, 1000));
  EXPECT_FALSE(Wait(15000));
  EXPECT_EQ(Slept(), (Sleeps{1000}));
  EXPECT_EQ(status_.dwCheckPoint, 3u);
}

TEST_F(WaitTest, ServiceThatStopsEndsTheWaitAfterOneMoreLook) {
  Start(StartScript::StoppedAfter(2, 1067, 100));
  EXPECT_FALSE(Wait(15000));
  EXPECT_EQ(status_.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status_.dwWin32ExitCode, 1067u);
  EXPECT_EQ(Slept(), (Sleeps{100}));
  EXPECT_EQ(Services().StatusQueries("Skelda"), 3);
}

TEST_F(WaitTest, UnreadableStatusEndsTheWaitWithItsError) {
  Start(StartScript::RunningAfter(3, 100));
  Faults::Instance().Fail("QueryServiceStatus", ERROR_ACCESS_DENIED, 2);
  EXPECT_FALSE(Wait(15000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Slept(), (Sleeps{100}));
}

TEST_F(WaitTest, DeadlinePastTheWrapOfTheTickCount) {
  host::VirtualClock().Set(0xFFFFFFFFu - 1000);
  Start(StartScript::Progressing(4000));
  EXPECT_TRUE(Wait(15000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(host::VirtualClock().TotalSlept(), 15000u);
}

}  // namespace
