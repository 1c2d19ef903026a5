// IRPstackSize: raised and lowered by one within the bounds of the running
// Windows build, what counts as the stored value, and what is left alone.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/registry.h"
#include "host/system.h"
#include "server/server_tuning.h"
#include "tests/support/session_fixture.h"

namespace {

using host::LocalRegistry;

const std::string kParameters = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
const char kValue[] = "IRPstackSize";

class ServerTuningTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    LocalRegistry().Create(kParameters);
  }
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "the key was left open";
    SessionTest::TearDown();
  }

  static void OldBuild() { host::SystemInfo::Instance().SetBuild(4, 0, 1381); }
  static void Store(uint32_t value) { LocalRegistry().SetDword(kParameters, kValue, value); }
  static std::optional<uint32_t> Stored() { return LocalRegistry().Dword(kParameters, kValue); }

  // Runs the raising or lowering action on a session and returns the value after it.
  std::optional<uint32_t> Run(bool raise) {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    EXPECT_EQ(raise ? VrinNTSetIRPStackSize(hInstall) : VrinNTUnSetIRPStackSize(hInstall), 0u);
    return Stored();
  }
};

// --- A current Windows: 15 to 50 ----------------------------------------------

TEST_F(ServerTuningTest, MissingValueIsRaisedToSixteenThenLoweredToFifteenWhichStays) {
  EXPECT_EQ(Run(true), 16u);
  auto value = LocalRegistry().Value(kParameters, kValue);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(value->data.size(), 4u);
  EXPECT_EQ(Run(false), 15u);
  EXPECT_EQ(Run(false), 15u) << "the default is the lower bound";
}

TEST_F(ServerTuningTest, MissingValueIsNotWrittenByLowering) {
  EXPECT_EQ(Run(false), std::nullopt);
  OldBuild();
  EXPECT_EQ(Run(false), std::nullopt);
}

TEST_F(ServerTuningTest, ActionsTraceOnlyTheirFrame) {
  EXPECT_EQ(Run(true), 16u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"OV VRIN : VrinNTSetIRPStackSize ->", "OV VRIN : VrinNTSetIRPStackSize <- [0]"}));
  EXPECT_EQ(Run(false), 15u);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinNTUnSetIRPStackSize ->",
                                                  "OV VRIN : VrinNTUnSetIRPStackSize <- [0]"}));
}

TEST_F(ServerTuningTest, UpperBoundIsNotRaised) {
  Store(50);
  EXPECT_EQ(Run(true), 50u);
  Store(49);
  EXPECT_EQ(Run(true), 50u);
}

TEST_F(ServerTuningTest, LowerBoundIsNotLowered) {
  Store(15);
  EXPECT_EQ(Run(false), 15u);
  Store(16);
  EXPECT_EQ(Run(false), 15u);
  Store(50);
  EXPECT_EQ(Run(false), 49u);
}

TEST_F(ServerTuningTest, ValueBelowTheRangeIsNotLoweredAndRaisedFromTheDefault) {
  Store(3);
  EXPECT_EQ(Run(false), 3u);
  Store(0);
  EXPECT_EQ(Run(false), 0u) << "no wrap below zero";
  Store(3);
  EXPECT_EQ(Run(true), 16u) << "never written below the lower bound";
}

TEST_F(ServerTuningTest, ValueAboveTheRangeIsLeftAlone) {
  Store(60);
  EXPECT_EQ(Run(true), 60u);
  EXPECT_EQ(Run(false), 60u) << "never written above the upper bound";
  Store(51);
  EXPECT_EQ(Run(false), 50u);
  Store(0xFFFFFFFF);
  EXPECT_EQ(Run(false), 0xFFFFFFFFu);
}

// --- A build below 1946: 5 to 12 -------------------------------------------------

TEST_F(ServerTuningTest, OldBuildBoundsAreFiveAndTwelve) {
  OldBuild();
  Store(12);
  EXPECT_EQ(Run(true), 12u);
  Store(5);
  EXPECT_EQ(Run(false), 5u);
  Store(11);
  EXPECT_EQ(Run(true), 12u);
  Store(6);
  EXPECT_EQ(Run(false), 5u);
  Store(2);
  EXPECT_EQ(Run(false), 2u);
}

TEST_F(ServerTuningTest, OldBuildMissingValueIsRaisedToSix) {
  OldBuild();
  EXPECT_EQ(Run(true), 6u);
}

TEST_F(ServerTuningTest, BoundaryBuilds) {
  host::SystemInfo::Instance().SetBuild(5, 0, 1945);
  EXPECT_EQ(Run(true), 6u);
  LocalRegistry().Create(kParameters)->RemoveValue(kValue);
  host::SystemInfo::Instance().SetBuild(5, 0, 1946);
  EXPECT_EQ(Run(true), 16u);
}

TEST_F(ServerTuningTest, OnlyTheLowWordOfTheBuildNumberCounts) {
  // Older Windows report the version in the high word: 4.10.1350.
  host::SystemInfo::Instance().SetBuild(4, 10, 0x040A0546);
  EXPECT_EQ(Run(true), 6u);
}

TEST_F(ServerTuningTest, UnreadableVersionGivesTheOldBounds) {
  host::Faults::Instance().Fail("GetVersionEx", ERROR_INVALID_PARAMETER, 0);
  EXPECT_EQ(Run(true), 6u);
}

// --- What is read and where ----------------------------------------------------------

TEST_F(ServerTuningTest, DataThatIsNotFourBytesLongCountsAsTheDefault) {
  LocalRegistry().SetBinary(kParameters, kValue, REG_BINARY, {0x14, 0x00});
  EXPECT_EQ(Run(true), 16u);
  LocalRegistry().SetString(kParameters, kValue, "20");
  EXPECT_EQ(Run(true), 16u);
}

TEST_F(ServerTuningTest, RegistryTypeIsNotLookedAt) {
  LocalRegistry().SetBinary(kParameters, kValue, REG_BINARY, {20, 0, 0, 0});
  EXPECT_EQ(Run(true), 21u);
  EXPECT_EQ(LocalRegistry().Value(kParameters, kValue)->type, static_cast<uint32_t>(REG_DWORD));
}

TEST_F(ServerTuningTest, MissingKeyChangesNothing) {
  LocalRegistry().DeleteTree(kParameters);
  EXPECT_EQ(Run(true), std::nullopt);
  EXPECT_EQ(LocalRegistry().Find(kParameters), nullptr) << "the key is not created";
}

TEST_F(ServerTuningTest, RefusedWriteIsNoFailure) {
  host::Faults::Instance().Fail("RegSetValueEx", ERROR_ACCESS_DENIED, 0);
  Store(20);
  EXPECT_EQ(Run(true), 20u);
}

TEST_F(ServerTuningTest, WithoutSessionTheValueIsStillAdjusted) {
  EXPECT_EQ(VrinNTSetIRPStackSize(0), 0u);
  EXPECT_EQ(Stored(), 16u);
  EXPECT_EQ(TakeStdout(), "OV VRIN : VrinNTSetIRPStackSize ->\r\nOV VRIN : VrinNTSetIRPStackSize <- [0]\r\n");
}

TEST_F(ServerTuningTest, RoutineRaisesAndLowersDirectly) {
  Store(30);
  AdjustIRPStackSize(true);
  EXPECT_EQ(Stored(), 31u);
  AdjustIRPStackSize(false);
  AdjustIRPStackSize(false);
  EXPECT_EQ(Stored(), 29u);
}

}  // namespace
