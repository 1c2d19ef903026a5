// The NetWare client probe, the per-machine or per-user choice and the reboot
// flag of the suite's backup products.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/registry.h"
#include "host/user_interface.h"
#include "setup/probes.h"
#include "tests/support/session_fixture.h"

namespace {

using host::LocalRegistry;
using host::NetworkProviders;

const char kEnterprise[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvannic\\Lumicor Enterprise Backup";
const char kTessaro[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvannic\\Lumicor Tessaro Backup";

class EnvironmentProbesTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open() { return hInstall_ = OpenSession(vrintest::RowMarkersSql()); }
  std::vector<std::string> ErrorLines() const {
    std::vector<std::string> found;
    for (const auto& line : LogLines()) {
      if (line.rfind("ERR: ", 0) == 0) found.push_back(line);
    }
    return found;
  }
  MSIHANDLE hInstall_ = 0;
};

// ---- IsNovellClientInstalled and VrinNovellClientInstalled

TEST_F(EnvironmentProbesTest, NetWareProviderWithAVersionIsAClient) {
  NetworkProviders::Instance().AddProvider(WNNC_NET_LANMAN, "Microsoft Windows Network", 0x50001);
  EXPECT_FALSE(IsNovellClientInstalled()) << "another network's provider is no NetWare client";
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, "NetWare Services", 0x40000);
  EXPECT_TRUE(IsNovellClientInstalled());
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, "NetWare Services", 0);
  EXPECT_FALSE(IsNovellClientInstalled()) << "provider version 0";
}

TEST_F(EnvironmentProbesTest, ProbeFailuresMeanNoClient) {
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, "NetWare Services", 0x40000);
  NetworkProviders::Instance().SetNetworkSupport(false);
  EXPECT_FALSE(IsNovellClientInstalled());
  NetworkProviders::Instance().SetNetworkSupport(true);
  host::Faults::Instance().Fail("WNetGetNetworkInformationA", ERROR_BAD_PROVIDER);
  EXPECT_FALSE(IsNovellClientInstalled());
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, std::string(300, 'n'), 0x40000);
  EXPECT_FALSE(IsNovellClientInstalled()) << "a name beyond the 256-byte buffer is refused";
  EXPECT_EQ(TakeStdout(), "") << "the probe is silent";
}

TEST_F(EnvironmentProbesTest, ClientFoundSetsNovellClient) {
  Open();
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, "NetWare Services", 0x40000);
  EXPECT_EQ(VrinNovellClientInstalled(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("NOVELLCLIENT"), "1");
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"OV VRIN : VrinNovellClientInstalled ->", "OV VRIN : Set NOVELLCLIENT = 1",
                                      "OV VRIN : VrinNovellClientInstalled <- [0]"}));
}

TEST_F(EnvironmentProbesTest, NoClientLeavesNovellClientAlone) {
  Open();
  Session().SetProperty("NOVELLCLIENT", "earlier");
  EXPECT_EQ(VrinNovellClientInstalled(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("NOVELLCLIENT"), "earlier");
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(EnvironmentProbesTest, RefusedNovellClientIsReported) {
  Open();
  NetworkProviders::Instance().AddProvider(WNNC_NET_NETWARE, "NetWare Services", 0x40000);
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "NOVELLCLIENT");
  EXPECT_EQ(VrinNovellClientInstalled(hInstall_), 0u);
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find("CONTEXT = VrinNovellClientInstalled : MsiSetProperty(1)"), std::string::npos);
}

// ---- VrinInitUsers

TEST_F(EnvironmentProbesTest, AdministratorInstallsForAllUsers) {
  Open();
  Session().SetProperty("AdminUser", "1");
  EXPECT_EQ(VrinInitUsers(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("ALLUSERS"), "1");
  EXPECT_EQ(Session().GetProperty("ApplicationUsers"), "AllUsers");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinInitUsers ->", "OV VRIN : Setting ALLUSERS=1",
                                                  "OV VRIN : Setting ApplicationUsers=AllUsers",
                                                  "OV VRIN : VrinInitUsers <- [0]"}));
}

TEST_F(EnvironmentProbesTest, OtherUsersInstallForThemselves) {
  Open();
  EXPECT_EQ(VrinInitUsers(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("ALLUSERS"), "2");
  EXPECT_EQ(Session().GetProperty("ApplicationUsers"), "OnlyCurrentUser");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinInitUsers ->", "OV VRIN : Setting ALLUSERS=2",
                                                  "OV VRIN : Setting ApplicationUsers=OnlyCurrentUser",
                                                  "OV VRIN : VrinInitUsers <- [0]"}));
}

TEST_F(EnvironmentProbesTest, EachRefusedPropertyHasItsOwnContext) {
  Open();
  Session().SetProperty("AdminUser", "1");
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "ApplicationUsers");
  EXPECT_EQ(VrinInitUsers(hInstall_), 0u);
  Session().SetProperty("AdminUser", "");
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "ALLUSERS");
  EXPECT_EQ(VrinInitUsers(hInstall_), 0u);
  ASSERT_EQ(ErrorLines().size(), 2u);
  EXPECT_NE(ErrorLines()[0].find("CONTEXT = VrinInitUsers : MsiSetProperty(2)"), std::string::npos);
  EXPECT_NE(ErrorLines()[1].find("CONTEXT = VrinInitUsers : MsiSetProperty(3)"), std::string::npos);
  EXPECT_EQ(Session().GetProperty("ALLUSERS"), "1") << "the second run stopped at its first property";
}

TEST_F(EnvironmentProbesTest, UndecidableConditionSetsNothing) {
  Open();
  host::Faults::Instance().Fail("MsiEvaluateCondition", MSICONDITION_ERROR);
  EXPECT_EQ(VrinInitUsers(hInstall_), 0u);
  EXPECT_FALSE(Session().HasProperty("ALLUSERS"));
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find("VrinInitUsers : 3\r\n\r\nCONTEXT = VrinInitUsers : MsiEvaluateCondition(1)"),
            std::string::npos);
}

// ---- VrinScheduleReboot

struct RebootCase {
  const char* subType;
  const char* key;  // null: no key
};

class ScheduleRebootTest : public EnvironmentProbesTest, public ::testing::WithParamInterface<RebootCase> {};

TEST_P(ScheduleRebootTest, FlagGoesToTheSubTypesProductAndTheInstallerDoesNotRestart) {
  Open();
  Session().SetProperty("PRODSUBTYPE", GetParam().subType);
  EXPECT_EQ(VrinScheduleReboot(hInstall_), 0u);
  EXPECT_EQ(Session().GetProperty("REBOOT"), "Suppress");
  for (const char* key : {kEnterprise, kTessaro}) {
    bool expected = GetParam().key != nullptr && std::string(GetParam().key) == key;
    if (expected) {
      EXPECT_EQ(LocalRegistry().Dword(key, "Reboot"), std::optional<uint32_t>(1u)) << key;
    } else {
      EXPECT_FALSE(LocalRegistry().Find(key)) << key;
    }
  }
  EXPECT_TRUE(ErrorLines().empty());
}

INSTANTIATE_TEST_SUITE_P(SubTypes, ScheduleRebootTest,
                         ::testing::Values(RebootCase{"2", kEnterprise}, RebootCase{"1", kTessaro},
                                           RebootCase{"0", kTessaro}, RebootCase{"-1", kTessaro},
                                           RebootCase{"Enterprise", kTessaro}, RebootCase{"", nullptr}));

TEST_F(EnvironmentProbesTest, FailedRegistryWriteIsToleratedAndRefusedRebootReported) {
  Open();
  Session().SetProperty("PRODSUBTYPE", "2");
  LocalRegistry().Create(kEnterprise);
  LocalRegistry().Deny(kEnterprise, 0xFFFFFFFF);
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "REBOOT");
  EXPECT_EQ(VrinScheduleReboot(hInstall_), 0u);
  EXPECT_FALSE(LocalRegistry().Dword(kEnterprise, "Reboot"));
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find("CONTEXT = VrinScheduleReboot : MsiSetProperty(REBOOT)"), std::string::npos);
  auto lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "OV VRIN : InstallSetRegValue <- 5"), lines.end());
}

TEST_F(EnvironmentProbesTest, NullSessionIsNotRefusedButReadingFails) {
  OpenSession();
  EXPECT_EQ(VrinScheduleReboot(0), 0u);
  std::string out = TakeStdout();
  EXPECT_EQ(out.find("hInstall"), std::string::npos) << out;
  EXPECT_NE(out.find("VrinScheduleReboot : 6"), std::string::npos) << out;
  EXPECT_NE(out.find("OV VRIN : VrinScheduleReboot <- [0]"), std::string::npos);
  EXPECT_FALSE(LocalRegistry().Find(kTessaro));
}

}  // namespace
