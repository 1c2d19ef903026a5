// The simulated network the master-setup exports rely on: the computer
// name, other machines' registries and the installed-product query.
#include <gtest/gtest.h>

#include <string>

#include "host/faults.h"
#include "host/machine.h"
#include "host/network.h"
#include "host/platform.h"
#include "host/registry.h"

namespace {

const char kCode[] = "{4A1C2E90-7D3B-4F21-9C55-1E2A3B4C5D61}";

class NetworkHostTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0);
    host::Faults::Instance().Clear();
    host::ResetMachine();
  }
};

TEST_F(NetworkHostTest, ComputerNameNeedsRoomForItsNul) {
  host::Network::Instance().SetComputerName("SERVER7");
  char szName[8];
  DWORD cch = 7;
  EXPECT_FALSE(GetComputerNameA(szName, &cch));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(cch, 8u);
  cch = sizeof(szName);
  ASSERT_TRUE(GetComputerNameA(szName, &cch));
  EXPECT_STREQ(szName, "SERVER7");
  EXPECT_EQ(cch, 7u);
}

TEST_F(NetworkHostTest, RemoteHandleReadsAndWritesThatMachineOnly) {
  host::Registry& remote = host::Network::Instance().AddMachine("FILESRV");
  remote.SetString("HKLM\\Software\\Test", "Where", "remote");
  host::LocalRegistry().SetString("HKLM\\Software\\Test", "Where", "local");

  HKEY hRemote = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\filesrv", HKEY_LOCAL_MACHINE, &hRemote), ERROR_SUCCESS);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(hRemote, "Software\\Test", 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
  char szValue[16] = "";
  DWORD cb = sizeof(szValue);
  EXPECT_EQ(RegQueryValueExA(hKey, "Where", nullptr, nullptr, reinterpret_cast<LPBYTE>(szValue), &cb), ERROR_SUCCESS);
  EXPECT_STREQ(szValue, "remote");
  const BYTE abNew[] = "changed";
  EXPECT_EQ(RegSetValueExA(hKey, "Where", 0, REG_SZ, abNew, sizeof(abNew)), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(hRemote), ERROR_SUCCESS);
  EXPECT_EQ(remote.String("HKLM\\Software\\Test", "Where"), "changed");
  EXPECT_EQ(host::LocalRegistry().String("HKLM\\Software\\Test", "Where"), "local");
}

TEST_F(NetworkHostTest, ConnectFailures) {
  HKEY hKey = nullptr;
  EXPECT_EQ(RegConnectRegistryA("NOWHERE", HKEY_LOCAL_MACHINE, &hKey), ERROR_BAD_NETPATH);
  host::Network::Instance().AddMachine("FILESRV");
  EXPECT_EQ(RegConnectRegistryA("FILESRV", HKEY_CURRENT_USER, &hKey), ERROR_INVALID_HANDLE);
  host::Faults::Instance().Fail("RegConnectRegistry", ERROR_ACCESS_DENIED, 1, "FILESRV");
  EXPECT_EQ(RegConnectRegistryA("FILESRV", HKEY_LOCAL_MACHINE, &hKey), ERROR_ACCESS_DENIED);
  host::Network::Instance().RemoveMachine("filesrv");
  EXPECT_EQ(RegConnectRegistryA("FILESRV", HKEY_LOCAL_MACHINE, &hKey), ERROR_BAD_NETPATH);
}

TEST_F(NetworkHostTest, OwnNameOrNoNameConnectsToTheLocalRegistry) {
  host::LocalRegistry().SetDword("HKLM\\Software\\Test", "Local", 7);
  for (const char* szMachine : {static_cast<const char*>(nullptr), "vrinhost", "\\\\VRINHOST"}) {
    HKEY hRoot = nullptr;
    ASSERT_EQ(RegConnectRegistryA(szMachine, HKEY_LOCAL_MACHINE, &hRoot), ERROR_SUCCESS);
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hRoot, "Software\\Test", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    RegCloseKey(hKey);
    RegCloseKey(hRoot);
  }
}

TEST_F(NetworkHostTest, ProductInfoOfInstalledProducts) {
  char szValue[8];
  DWORD cch = sizeof(szValue);
  EXPECT_EQ(MsiGetProductInfoA(kCode, "PackageCode", szValue, &cch), static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
  EXPECT_EQ(MsiGetProductInfoA("4A1C2E90", "PackageCode", szValue, &cch), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  host::InstalledProducts::Instance().Set("{4a1c2e90-7d3b-4f21-9c55-1e2a3b4c5d61}", "PackageCode", "{ABCDEFGH}");
  EXPECT_EQ(MsiGetProductInfoA(kCode, "Version", szValue, &cch), static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
  EXPECT_EQ(MsiGetProductInfoA(kCode, "PackageCode", szValue, &cch), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(cch, 10u);
  EXPECT_STREQ(szValue, "{ABCDEF");
  char szRoomy[100];
  cch = sizeof(szRoomy);
  EXPECT_EQ(MsiGetProductInfoA(kCode, "PackageCode", szRoomy, &cch), static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_STREQ(szRoomy, "{ABCDEFGH}");
  host::ResetMachine();
  EXPECT_EQ(MsiGetProductInfoA(kCode, "PackageCode", szRoomy, &cch), static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
}

}  // namespace
