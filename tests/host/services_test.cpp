// The simulated Service Control Manager and clock: entries kept in the
// registry, the two-call configuration query, deletion marks, image checks,
// scripted starts, faults, the restart and virtual time.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/registry.h"
#include "host/services.h"

namespace {

using host::Files;
using host::LocalRegistry;
using host::Services;
using host::StartScript;

const std::string kDriverKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver";
const char kDriverImage[] = "%SystemRoot%\\system32\\drivers\\skdnt.sys";
const char kDriverFile[] = "C:\\WINDOWS\\system32\\drivers\\skdnt.sys";

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::ResetMachine();
    hManager_ = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
  }
  void TearDown() override {
    CloseServiceHandle(hManager_);
    EXPECT_EQ(Services().OpenHandles(), 0) << "a test left a service handle open";
    host::ResetMachine();
  }

  static void AddDriver() {
    Services().Add({"SKDDriver", "OV Velmora Driver", SERVICE_FILE_SYSTEM_DRIVER, SERVICE_AUTO_START,
                    SERVICE_ERROR_NORMAL, kDriverImage, "Filter", ""});
    Files().AddFile(kDriverFile, "MZ");
  }
  SC_HANDLE Open(const char* name, DWORD access = SERVICE_ALL_ACCESS) { return OpenService(hManager_, name, access); }
  SC_HANDLE Create(const char* name, const char* display, DWORD type, DWORD start, const char* image) {
    return CreateService(hManager_, name, display, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL, image,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  // The error of a call that must fail.
  static DWORD Failed(BOOL result) { return result ? 0 : GetLastError(); }
  static DWORD Failed(SC_HANDLE handle) {
    if (handle != nullptr) CloseServiceHandle(handle);
    return handle != nullptr ? 0 : GetLastError();
  }

  SC_HANDLE hManager_ = nullptr;
};

TEST_F(ServicesTest, CreatedEntryIsWrittenWhereWindowsKeepsIt) {
  SC_HANDLE hService = CreateService(hManager_, "SKDDriver", "OV Velmora Driver", SERVICE_ALL_ACCESS,
                                     SERVICE_FILE_SYSTEM_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, kDriverImage,
                                     "Filter", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hService, nullptr);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Type"), 2u);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Start"), 2u);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "ErrorControl"), 1u);
  EXPECT_EQ(LocalRegistry().Value(kDriverKey, "ImagePath")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), kDriverImage);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "Group"), "Filter");
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "OV Velmora Driver");
  EXPECT_FALSE(LocalRegistry().Value(kDriverKey, "ObjectName").has_value()) << "a driver runs under no account";
  CloseServiceHandle(hService);
  EXPECT_EQ(Failed(Create("Skelda", nullptr, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "C:\\s.exe")), 0u);
  EXPECT_EQ(LocalRegistry().String(Services().KeyPath("Skelda"), "ObjectName"), "LocalSystem");
}

TEST_F(ServicesTest, RegFileSeedDescribesServicesOnlyWhereTheyHaveAType) {
  LocalRegistry().Import(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n\"Start\"=dword:00000002\r\n\"ImagePath\"=\"C:\\\\skdnt.exe\"\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\NotAnEntry]\r\n\"Other\"=\"x\"\r\n");
  SC_HANDLE hService = Open("SKELDA");
  EXPECT_NE(hService, nullptr);
  CloseServiceHandle(hService);
  EXPECT_EQ(Failed(Open("NotAnEntry")), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(Failed(Open("a\\b")), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(Failed(OpenSCManager("\\\\other", nullptr, SC_MANAGER_ALL_ACCESS)),
            static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(Failed(OpenSCManager(nullptr, "ServicesFailed", SC_MANAGER_ALL_ACCESS)),
            static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
}

TEST_F(ServicesTest, CreationRefusals) {
  AddDriver();
  EXPECT_EQ(Failed(Create("skddriver", nullptr, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "x.sys")),
            static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(Failed(Create("Other", "OV VELMORA DRIVER", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "x.sys")),
            static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
  EXPECT_EQ(Failed(Create("Other", nullptr, SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, "x.exe")),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Failed(Create("Other", nullptr, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "")),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Services().Exists("Other"));
  SC_HANDLE hReader = OpenSCManager("", nullptr, SC_MANAGER_CONNECT);
  EXPECT_EQ(Failed(CreateService(hReader, "Other", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.exe", nullptr, nullptr, nullptr,
                                 nullptr, nullptr)),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseServiceHandle(hReader);
}

TEST_F(ServicesTest, ConfigurationTwoCallPatternWithStringsInTheBuffer) {
  AddDriver();
  SC_HANDLE hService = Open("SKDDriver");
  DWORD cbNeeded = 0;
  EXPECT_EQ(Failed(QueryServiceConfig(hService, nullptr, 0, &cbNeeded)), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const size_t strings = std::strlen(kDriverImage) + 1 + std::strlen("Filter") + 1 + 2 /* no dependencies */ +
                         1 /* no account */ + std::strlen("OV Velmora Driver") + 1;
  EXPECT_EQ(cbNeeded, sizeof(QUERY_SERVICE_CONFIG) + strings);
  std::vector<BYTE> buffer(cbNeeded);
  auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIG>(buffer.data());
  DWORD cbShort = 0;
  EXPECT_EQ(Failed(QueryServiceConfig(hService, config, cbNeeded - 1, &cbShort)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cbShort, cbNeeded);
  ASSERT_TRUE(QueryServiceConfig(hService, config, cbNeeded, &cbNeeded));
  EXPECT_EQ(config->dwServiceType, 2u);
  EXPECT_EQ(config->dwStartType, 2u);
  EXPECT_EQ(config->dwErrorControl, 1u);
  EXPECT_STREQ(config->lpBinaryPathName, kDriverImage);
  EXPECT_STREQ(config->lpLoadOrderGroup, "Filter");
  EXPECT_STREQ(config->lpServiceStartName, "");
  EXPECT_STREQ(config->lpDisplayName, "OV Velmora Driver");
  for (const char* text : {config->lpBinaryPathName, config->lpLoadOrderGroup, config->lpDependencies,
                           config->lpServiceStartName, config->lpDisplayName}) {
    EXPECT_GE(reinterpret_cast<const BYTE*>(text), buffer.data() + sizeof(QUERY_SERVICE_CONFIG));
    EXPECT_LE(reinterpret_cast<const BYTE*>(text) + std::strlen(text) + 1, buffer.data() + buffer.size());
  }
  // Without a DisplayName value the entry's own spelling is shown.
  LocalRegistry().Find(kDriverKey)->RemoveValue("DisplayName");
  QueryServiceConfig(hService, nullptr, 0, &cbNeeded);
  buffer.assign(cbNeeded, 0);
  config = reinterpret_cast<LPQUERY_SERVICE_CONFIG>(buffer.data());
  ASSERT_TRUE(QueryServiceConfig(hService, config, cbNeeded, &cbNeeded));
  EXPECT_STREQ(config->lpDisplayName, "SKDDriver");
  CloseServiceHandle(hService);
}

TEST_F(ServicesTest, ChangeKeepsWhatItIsNotToldToChange) {
  AddDriver();
  SC_HANDLE hService = Open("SKDDriver");
  ASSERT_TRUE(ChangeServiceConfig(hService, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, "x\\y.sys", "",
                                  nullptr, nullptr, nullptr, nullptr, "New Name"));
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Type"), 2u);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "Start"), 3u);
  EXPECT_EQ(LocalRegistry().Dword(kDriverKey, "ErrorControl"), 1u);
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "ImagePath"), "x\\y.sys");
  EXPECT_EQ(LocalRegistry().Value(kDriverKey, "ImagePath")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_FALSE(LocalRegistry().Value(kDriverKey, "Group").has_value());
  EXPECT_EQ(LocalRegistry().String(kDriverKey, "DisplayName"), "New Name");
  EXPECT_EQ(Failed(ChangeServiceConfig(hService, SERVICE_NO_CHANGE, 9, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseServiceHandle(hService);
  hService = Open("SKDDriver", SERVICE_QUERY_STATUS);
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Failed(DeleteService(hService)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseServiceHandle(hService);
  EXPECT_EQ(Failed(CloseServiceHandle(hService)), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ServicesTest, StoppedEntryGoesWhenTheLastHandleCloses) {
  AddDriver();
  SC_HANDLE hOther = Open("SKDDriver");
  SC_HANDLE hService = Open("SKDDriver");
  ASSERT_TRUE(DeleteService(hService));
  EXPECT_EQ(Failed(DeleteService(hService)), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(hService);
  EXPECT_NE(LocalRegistry().Find(kDriverKey), nullptr) << "another handle still refers to it";
  CloseServiceHandle(hOther);
  EXPECT_EQ(LocalRegistry().Find(kDriverKey), nullptr);
  EXPECT_FALSE(Services().MarkedForDeletion("SKDDriver"));
}

TEST_F(ServicesTest, RunningEntryStaysMarkedUntilTheRestart) {
  AddDriver();
  Services().SetRunning("SKDDriver");
  SC_HANDLE hService = Open("SKDDriver");
  ASSERT_TRUE(DeleteService(hService));
  CloseServiceHandle(hService);
  hService = Open("SKDDriver");
  ASSERT_NE(hService, nullptr) << "still there to open and query";
  SERVICE_STATUS status = {};
  EXPECT_TRUE(QueryServiceStatus(hService, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Failed(ChangeServiceConfig(hService, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, "x")),
            static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(hService);
  EXPECT_EQ(Failed(Create("SKDDriver", nullptr, SERVICE_FILE_SYSTEM_DRIVER, SERVICE_AUTO_START, "x.sys")),
            static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

  Files().AddFile("C:\\old.dll", "x");
  ASSERT_EQ(Files().ScheduleAtRestart("C:\\old.dll", nullptr, false), 0u);
  Services().Add({"Skelda", "", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, "s.exe", "", ""});
  Services().SetRunning("Skelda");
  host::RestartMachine();
  EXPECT_EQ(Services().OpenHandles(), 0) << "a restart leaves no handle";
  EXPECT_EQ(LocalRegistry().Find(kDriverKey), nullptr);
  EXPECT_FALSE(Files().Exists("C:\\old.dll"));
  EXPECT_EQ(Services().Status("Skelda")->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Failed(CloseServiceHandle(hManager_)), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  hManager_ = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
}

TEST_F(ServicesTest, StartNeedsTheImageOnDisk) {
  Services().Add(
      {"SKDDriver", "", SERVICE_FILE_SYSTEM_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kDriverImage, "", ""});
  SC_HANDLE hService = Open("SKDDriver");
  // The file system's own answer: the folder on the way is missing, then the file.
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  Files().AddDirectory("C:\\WINDOWS\\system32\\drivers");
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Services().Status("SKDDriver")->dwWin32ExitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  Files().AddFile(kDriverFile, "MZ");
  EXPECT_TRUE(StartService(hService, 0, nullptr));
  EXPECT_EQ(Services().Status("SKDDriver")->dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  CloseServiceHandle(hService);
  ASSERT_EQ(Services().Starts().size(), 1u);
  EXPECT_EQ(Services().Starts()[0].ticks, host::Clock::kBootTicks);
  LocalRegistry().SetDword(kDriverKey, "Start", SERVICE_DISABLED);
  Services().Stop("SKDDriver");
  hService = Open("SKDDriver");
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
  CloseServiceHandle(hService);
}

struct ImageCase {
  DWORD type;
  const char* imagePath;
  const char* file;
};

class ImagePathTest : public ServicesTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ImagePathTest, FormsWindowsAccepts) {
  Services().Add(
      {"Skd", "", GetParam().type, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, GetParam().imagePath, "", ""});
  SC_HANDLE hService = Open("Skd");
  EXPECT_FALSE(StartService(hService, 0, nullptr)) << "nothing on disk yet";
  Files().AddFile(GetParam().file, "MZ");
  EXPECT_TRUE(StartService(hService, 0, nullptr)) << GetParam().imagePath;
  CloseServiceHandle(hService);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ImagePathTest,
    ::testing::Values(
        ImageCase{SERVICE_KERNEL_DRIVER, "\\SystemRoot\\System32\\drivers\\skd.sys",
                  "C:\\WINDOWS\\system32\\drivers\\skd.sys"},
        ImageCase{SERVICE_KERNEL_DRIVER, "system32\\DRIVERS\\skd.sys", "C:\\WINDOWS\\system32\\drivers\\skd.sys"},
        ImageCase{SERVICE_FILE_SYSTEM_DRIVER, "\\??\\C:\\Drivers\\skd.sys", "C:\\Drivers\\skd.sys"},
        ImageCase{SERVICE_FILE_SYSTEM_DRIVER, "", "C:\\WINDOWS\\system32\\drivers\\Skd.sys"},
        ImageCase{SERVICE_WIN32_OWN_PROCESS, "\"C:\\Program Files\\Skd\\skd.exe\" -service",
                  "C:\\Program Files\\Skd\\skd.exe"},
        ImageCase{SERVICE_WIN32_OWN_PROCESS, "C:\\Program Files\\Skd\\skd.exe -service",
                  "C:\\Program Files\\Skd\\skd.exe"},
        ImageCase{SERVICE_WIN32_OWN_PROCESS, "%ProgramFiles%\\Skd\\skd.exe", "C:\\Program Files\\Skd\\skd.exe"}));

// What the status queries after a start report: (state, checkpoint) each.
std::vector<std::pair<DWORD, DWORD>> Play(SC_HANDLE hService, const StartScript& script, int queries) {
  Services().SetStartScript("skd", script);
  std::vector<std::pair<DWORD, DWORD>> seen;
  if (!StartService(hService, 0, nullptr)) return {{0, GetLastError()}};
  for (int i = 0; i < queries; ++i) {
    SERVICE_STATUS status = {};
    QueryServiceStatus(hService, &status);
    seen.push_back({status.dwCurrentState, status.dwCheckPoint});
  }
  Services().Stop("Skd");
  return seen;
}

using Seen = std::vector<std::pair<DWORD, DWORD>>;

TEST_F(ServicesTest, ScriptsRunOnStatusQueries) {
  Services().Add(
      {"Skd", "", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\skd.exe", "", ""});
  Files().AddFile("C:\\skd.exe", "MZ");
  SC_HANDLE hService = Open("Skd");
  EXPECT_EQ(Play(hService, StartScript::RunningAfter(3, 1000), 4), (Seen{{2, 1}, {2, 2}, {4, 0}, {4, 0}}));
  EXPECT_EQ(Play(hService, StartScript::Stalled(5, 2000), 3), (Seen{{2, 5}, {2, 5}, {2, 5}}));
  EXPECT_EQ(Play(hService, StartScript::Progressing(4000), 3), (Seen{{2, 1}, {2, 2}, {2, 3}}));
  EXPECT_EQ(Play(hService, StartScript::StoppedAfter(2, 1067, 100), 2), (Seen{{2, 1}, {1, 0}}));
  EXPECT_EQ(Services().Status("Skd")->dwWin32ExitCode, 1067u);
  EXPECT_EQ(Play(hService, StartScript::Refused(ERROR_SERVICE_REQUEST_TIMEOUT), 1),
            (Seen{{0, ERROR_SERVICE_REQUEST_TIMEOUT}}));
  EXPECT_EQ(Services().Starts().size(), 4u);
  EXPECT_EQ(Services().StatusQueries("Skd"), 12);
  CloseServiceHandle(hService);
}

// A caller that polls without sleeping, or waits without a time-out, is
// stopped with an error instead of hanging the test.
TEST_F(ServicesTest, StartsThatNeverEndStopTheirCaller) {
  Services().Add(
      {"Skd", "", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\skd.exe", "", ""});
  Files().AddFile("C:\\skd.exe", "MZ");
  SC_HANDLE hService = Open("Skd");
  for (uint32_t sleep : {0u, 1000u}) {
    Services().SetStartScript("Skd", StartScript::Progressing(sleep));
    ASSERT_TRUE(StartService(hService, 0, nullptr));
    SERVICE_STATUS status = {};
    int queries = 0;
    try {
      for (; queries <= host::kMaxQueriesWithoutTime; ++queries) {
        QueryServiceStatus(hService, &status);
        if (sleep != 0) Sleep(sleep);
      }
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(queries, sleep == 0 ? host::kMaxQueriesWithoutTime - 1 : static_cast<int>(host::kMaxStartPending / sleep))
        << "wait hint " << sleep;
    Services().Stop("Skd");
  }
  EXPECT_EQ(Services().StartRequests("SKD"), 2);
  CloseServiceHandle(hService);
}

TEST_F(ServicesTest, FaultsFollowTheServiceName) {
  AddDriver();
  Services().Add(
      {"Skelda", "", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\s.exe", "", ""});
  Files().AddFile("C:\\s.exe", "MZ");
  host::Faults::Instance().Fail("StartService", ERROR_ACCESS_DENIED, 0, "skelda");
  host::Faults::Instance().Fail("QueryServiceConfig", ERROR_NOT_ENOUGH_MEMORY, 2, "SKDDriver");
  SC_HANDLE hDriver = Open("SKDDriver");
  SC_HANDLE hService = Open("Skelda");
  EXPECT_TRUE(StartService(hDriver, 0, nullptr));
  EXPECT_EQ(Failed(StartService(hService, 0, nullptr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  DWORD cb = 0;
  QueryServiceConfig(hDriver, nullptr, 0, &cb);
  std::vector<BYTE> buffer(cb);
  EXPECT_EQ(Failed(QueryServiceConfig(hDriver, reinterpret_cast<LPQUERY_SERVICE_CONFIG>(buffer.data()), cb, &cb)),
            static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  CloseServiceHandle(hDriver);
  CloseServiceHandle(hService);
}

TEST_F(ServicesTest, PausedFaultsNeitherCountNorFailCalls) {
  AddDriver();
  host::Faults::Instance().Clear();
  host::Faults::Instance().Fail("OpenService", ERROR_ACCESS_DENIED);
  {
    host::Faults::Pause pause;
    SC_HANDLE hPaused = Open("SKDDriver");
    EXPECT_NE(hPaused, nullptr);
    CloseServiceHandle(hPaused);
  }
  EXPECT_EQ(Open("SKDDriver"), nullptr) << "the first call counted fails";
  using Call = std::pair<std::string, std::string>;
  EXPECT_EQ(host::Faults::Instance().CallSequence(), (std::vector<Call>{{"OpenService", "SKDDriver"}}));
}

// --- The clock ---

TEST(ClockTest, SleepMovesTheTickCountAndIsRecorded) {
  host::ResetMachine();
  EXPECT_EQ(GetTickCount(), host::Clock::kBootTicks);
  Sleep(1500);
  Sleep(10000);
  host::VirtualClock().Advance(500);
  EXPECT_EQ(GetTickCount(), host::Clock::kBootTicks + 12000);
  EXPECT_EQ(host::VirtualClock().Sleeps(), (std::vector<uint32_t>{1500, 10000}))
      << "time passing elsewhere is no sleep";
  EXPECT_EQ(host::VirtualClock().TotalSlept(), 11500u);
  EXPECT_THROW(Sleep(INFINITE), std::logic_error) << "a sleep that never ends fails the test";
  host::VirtualClock().Set(0xFFFFFF00u);
  Sleep(0x200);
  EXPECT_EQ(GetTickCount(), 0x100u) << "wraps as after 49.7 days";
  host::ResetMachine();
  EXPECT_EQ(GetTickCount(), host::Clock::kBootTicks);
  EXPECT_TRUE(host::VirtualClock().Sleeps().empty());
}

}  // namespace
