// GetVersionEx and the loader of the simulated machine: the version record,
// load counts, missing DLLs and entry points, and the misuses it records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/system.h"

namespace {

using host::Modules;

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override { host::ResetMachine(); }
};

// --- GetVersionEx ------------------------------------------------------------------

TEST_F(LoaderTest, DefaultVersionIsWindowsTen) {
  OSVERSIONINFOA info;
  std::memset(&info, 0xCC, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwBuildNumber, 19045u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_STREQ(info.szCSDVersion, "");
}

TEST_F(LoaderTest, ConfiguredVersionAndExtendedRecord) {
  host::WindowsVersion version;
  version.major = 5;
  version.minor = 2;
  version.build = 3790;
  version.servicePack = "Service Pack 2";
  version.productType = 3;
  host::SystemInfo::Instance().SetVersion(version);
  OSVERSIONINFOEXA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
  EXPECT_EQ(info.dwBuildNumber, 3790u);
  EXPECT_STREQ(info.szCSDVersion, "Service Pack 2");
  EXPECT_EQ(info.wProductType, 3);
}

TEST_F(LoaderTest, WrongRecordSizeIsRefused) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info) - 1;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(info.dwBuildNumber, 0u);
}

// --- LoadLibrary and FreeLibrary -----------------------------------------------------

TEST_F(LoaderTest, LoadsAreCountedAndShareOneHandle) {
  HMODULE first = LoadLibraryA("NETAPI32.DLL");
  HMODULE second = LoadLibraryA("C:\\WINDOWS\\system32\\netapi32");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Modules::Instance().LoadCount("netapi32.dll"), 2);
  EXPECT_EQ(Modules::Instance().LoadedModules(), 1);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(Modules::Instance().LoadCount("NETAPI32.DLL"), 0);
  EXPECT_EQ(Modules::Instance().LoadCalls("NETAPI32.DLL"), 2);
  EXPECT_TRUE(Modules::Instance().Misuses().empty());
}

TEST_F(LoaderTest, ReleaseTooManyIsAMisuse) {
  HMODULE module = LoadLibraryA("NETAPI32.DLL");
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Modules::Instance().Misuses(),
            std::vector<std::string>{"FreeLibrary of NETAPI32.DLL after its last release"});
}

TEST_F(LoaderTest, MissingDllsAreNotFound) {
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  Modules::Instance().Remove("netapi32");
  EXPECT_EQ(LoadLibraryA("NETAPI32.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(Modules::Instance().LoadCalls("NETAPI32.DLL"), 0);
}

TEST_F(LoaderTest, LoadFaultFollowsTheName) {
  host::Faults::Instance().Fail("LoadLibrary", ERROR_ACCESS_DENIED, 1, "netapi32.dll");
  EXPECT_EQ(LoadLibraryA("NETAPI32.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HMODULE module = LoadLibraryA("NETAPI32.DLL");
  EXPECT_NE(module, nullptr) << "only the first load fails";
  FreeLibrary(module);
}

// --- GetProcAddress ------------------------------------------------------------------

TEST_F(LoaderTest, EntryPointsAreFoundByExactName) {
  HMODULE module = LoadLibraryA("NETAPI32.DLL");
  for (const char* name : {"NetShareGetInfo", "NetShareAdd", "NetShareDel", "NetApiBufferFree"}) {
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(module, "netshareadd"), nullptr) << "names are case-sensitive";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  Modules::Instance().RemoveExport("NETAPI32.DLL", "NetShareDel");
  EXPECT_EQ(GetProcAddress(module, "NetShareDel"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(module);
}

TEST_F(LoaderTest, HandleUsedAfterItsLastReleaseIsAMisuse) {
  HMODULE module = LoadLibraryA("NETAPI32.DLL");
  FreeLibrary(module);
  EXPECT_EQ(GetProcAddress(module, "NetShareAdd"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Modules::Instance().Misuses().size(), 1u);
}

TEST_F(LoaderTest, CallIntoAReleasedDllIsAMisuse) {
  HMODULE module = LoadLibraryA("NETAPI32.DLL");
  typedef NET_API_STATUS(NET_API_FUNCTION * PFNNETAPIBUFFERFREE)(LPVOID);
  auto pfnFree =
      reinterpret_cast<PFNNETAPIBUFFERFREE>(reinterpret_cast<void (*)()>(GetProcAddress(module, "NetApiBufferFree")));
  ASSERT_NE(pfnFree, nullptr);
  EXPECT_EQ(pfnFree(nullptr), static_cast<DWORD>(NERR_Success));
  EXPECT_TRUE(Modules::Instance().Misuses().empty());
  FreeLibrary(module);
  pfnFree(nullptr);
  EXPECT_EQ(Modules::Instance().Misuses(),
            std::vector<std::string>{"NetApiBufferFree called while NETAPI32.DLL is not loaded"});
}

}  // namespace
