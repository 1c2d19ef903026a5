// A repair that leaves the features alone: the orchestrators only look (the
// driver check, detection, counts) and record the build number of the
// installed image; nothing is registered, counted, shared or deleted.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/roads/road_fixture.h"

namespace vrinroad {
namespace {

const char kServerImage[] = "C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe";

class RepairTest : public RoadTest {};

TEST_F(RepairTest, RepairLeavingTheFeaturesAloneOnlyRecordsTheBuildNumber) {
  Drive({}, RoadOptions::FirstInstallation());
  // A hotfix replaced the service image since.
  host::Files().AddFile(kServerImage, vrintest::VersionedDll({9, 0, 12, 3}));
  const std::string before = host::LocalRegistry().Export();
  const size_t shares = host::Shares::Instance().Count();

  RoadOptions options = RoadOptions::Repair();
  options.startupMode = "Manual";
  Road& road = Drive({}, options);

  EXPECT_EQ(road.ActionLines(),
            Join({
                Orchestrated("VrinNTMergePostLaunchConditions", Act("VrinNTInstallationValidation")),
                Orchestrated("VrinNTMergePostInstallInitialize",
                             Join({Act("VrinNTInitialise"), Act("VrinNTPreviousVersionInstalled"),
                                   Act("VrinNTReadRefCounter")})),
                Orchestrated("VrinGUIMergePostInstallInitialize",
                             Join({Act("VrinGUIPreviousVersionInstalled"), Act("VrinGUIReadRefCounter")})),
                Orchestrated("VrinNTMergePreInstallExecute", {}),
                Orchestrated("VrinNTMergePreInstallFinalize", {}),
                Orchestrated("VrinGUIMergePreInstallFinalize", {}),
                Orchestrated("VrinNTMergePostInstallFinalize", {}),
                Orchestrated("VrinGUIMergePostInstallFinalize", {}),
            }));
  // The stopped driver is only traced; nothing on the machine was missing.
  Lines log = road.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "OV VRIN : Driver status = 1"), log.end());
  EXPECT_EQ(road.FailureLines(), Lines{});
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "1");
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERUPGRADE"));
  EXPECT_FALSE(road.Session().HasProperty("GUIUPGRADE"));

  // The fourth number of the hotfix; everything else as it was.
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "BuildNumber"), 3u);
  host::LocalRegistry().SetDword(kProductKey, "BuildNumber", 12);
  EXPECT_EQ(host::LocalRegistry().Export(), before);
  EXPECT_EQ(host::Shares::Instance().Count(), shares);
  EXPECT_TRUE(Started().empty());
  EXPECT_EQ(host::Files().FileContent(kServerImage), vrintest::VersionedDll({9, 0, 12, 3}));
}

}  // namespace
}  // namespace vrinroad
