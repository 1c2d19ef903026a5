// The readme actions: the first actions to carry the frame end to end.
#include <gtest/gtest.h>

#include "host/faults.h"
#include "setup/readme.h"
#include "tests/support/session_fixture.h"

namespace {

class ReadmeActionsTest : public vrintest::SessionTest {};

TEST_F(ReadmeActionsTest, NameReadMeRemovesReadmeFile) {
  MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
  Session().SetProperty("READMEFILE", "readme.txt");
  EXPECT_EQ(VrinNameReadMe(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("READMEFILE"));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"Info OV VRIN : VrinNameReadMe ->. ", "Info OV VRIN : Set READMEFILE = . ",
                                      "Info OV VRIN : VrinNameReadMe <- [0]. "}));
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(ReadmeActionsTest, SetARPReadMeRemovesTheReadmeLink) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("ARPREADME", "http://example.invalid/readme");
  EXPECT_EQ(VrinSetARPReadMe(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("ARPREADME"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"OV VRIN : VrinSetARPReadMe ->", "OV VRIN : Setting ARPREADME=",
                                                  "OV VRIN : VrinSetARPReadMe <- [0]"}));
}

TEST_F(ReadmeActionsTest, RefusedPropertyIsReportedAndTheInstallationGoesOn) {
  MSIHANDLE hInstall = OpenSession();
  host::Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 0);
  EXPECT_EQ(VrinNameReadMe(hInstall), 0u);
  EXPECT_EQ(VrinSetARPReadMe(hInstall), 0u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[2],
            "OV VRIN : VrinNameReadMe : 1627\r\n\r\nCONTEXT = VrinNameReadMe : MsiSetProperty\r\n"
            "DESCRIPTION = Function failed during execution.\r\n");
  EXPECT_EQ(lines[6],
            "OV VRIN : VrinSetARPReadMe : 1627\r\n\r\nCONTEXT = VrinSetARPReadMe : MsiSetProperty\r\n"
            "DESCRIPTION = Function failed during execution.\r\n");
  EXPECT_EQ(lines[7], "OV VRIN : VrinSetARPReadMe <- [0]");
}

}  // namespace
