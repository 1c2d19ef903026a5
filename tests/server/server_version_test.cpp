// Server version detection: the packaged image's version, the installed
// server found through its service (version bands, folder, quoted and
// over-long image paths, failures), and the build number written after
// installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/registry.h"
#include "host/services.h"
#include "server/server_version.h"
#include "tests/support/session_fixture.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using host::Services;
using Lines = std::vector<std::string>;

const std::string kProductKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const char kFolder[] = "C:\\Program Files\\Velmora\\Server";
const char kImage[] = "C:\\Program Files\\Velmora\\Server\\skdnt.exe";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}

// A package whose File table carries the service image with this version.
std::vector<std::string> PackageSql(const char* version) {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
      "NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
      "SHORT NOT NULL PRIMARY KEY `File`)");
  if (version != nullptr) {
    sql.push_back(
        std::string("INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, `Sequence`) "
                    "VALUES ('skdnt.exe', 'Server', 'Skdnt.exe', 1000, '") +
        version + "', 1)");
  }
  return sql;
}

class ServerVersionTest : public vrintest::SessionTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(Services().OpenHandles(), 0) << "a service handle was left open";
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a registry key was left open";
    EXPECT_EQ(OpenHandles(), 0) << "an installer handle was left open";
    SessionTest::TearDown();
  }

  MSIHANDLE Open() { return OpenSession(vrintest::RowMarkersSql()); }

  // The installed server: its service entry and its image of that version.
  static void Install(vrintest::FileVersion version, const std::string& imagePath = std::string("\"") + kImage + "\"",
                      const std::string& file = kImage) {
    Services().Add({"Skelda", "OV Velmora Service", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                    imagePath, "", "LocalSystem"});
    Files().AddFile(file, vrintest::VersionedDll(version));
  }
  bool Has(const char* property) { return Session().HasProperty(property); }
};

// --- VrinNTInitialise ---------------------------------------------------------

TEST_F(ServerVersionTest, InitialiseTracesMajorAndMinorOfThePackagedImage) {
  MSIHANDLE hInstall = OpenSession(PackageSql("9.0.12.1"));
  EXPECT_EQ(VrinNTInitialise(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), Trace("VrinNTInitialise ->"));
  EXPECT_EQ(lines[1], Trace("InstallGetSourceFileVersion -> Skdnt.exe"));
  EXPECT_EQ(lines[lines.size() - 3], Trace("InstallGetSourceFileVersion <- 9.0.12.1"));
  EXPECT_EQ(lines[lines.size() - 2], Trace("Set BUILDVERSION=9.0"));
  EXPECT_EQ(lines.back(), Trace("VrinNTInitialise <- [0]"));
  EXPECT_FALSE(Has("BUILDVERSION")) << "traced, not published";
}

class ShortVersionTest : public ServerVersionTest,
                         public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(ShortVersionTest, MissingNumbersCountAsZero) {
  MSIHANDLE hInstall = OpenSession(PackageSql(GetParam().first));
  EXPECT_EQ(VrinNTInitialise(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], Trace(std::string("Set BUILDVERSION=") + GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Versions, ShortVersionTest,
                         ::testing::Values(std::make_pair("10.2", "10.2"), std::make_pair("", "0.0"),
                                           std::make_pair("7.x.1.1", "7.0"),
                                           std::make_pair("99999999999.1.0.0", "2147483647.1")));

TEST_F(ServerVersionTest, InitialiseWithoutTheFileRowFailsTheInstallation) {
  MSIHANDLE hInstall = OpenSession(PackageSql(nullptr));
  EXPECT_EQ(VrinNTInitialise(hInstall), 1603u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinNTInitialise", 259, "InstallGetARecord : MsiViewFetch", "No more data is available."));
  EXPECT_EQ(lines.back(), Trace("VrinNTInitialise <- [1603]"));
}

TEST_F(ServerVersionTest, InitialiseInDeferredExecutionFailsTheInstallation) {
  MSIHANDLE hInstall = OpenSession(PackageSql("9.0.12.1"));
  Session().SetDeferred(true);
  EXPECT_EQ(VrinNTInitialise(hInstall), 1603u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTInitialise ->"),
                   "OV VRIN : VrinNTInitialise : 0\r\n\r\nCONTEXT = VrinNTInitialise : MsiGetActiveDatabase",
                   Trace("VrinNTInitialise <- [1603]")}));
}

TEST_F(ServerVersionTest, InitialiseRefusesAMissingSessionWithCode6) {
  EXPECT_EQ(VrinNTInitialise(0), 1603u);
  Lines lines = TakeStdoutLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], Trace("VrinNTInitialise : 6"));
  EXPECT_EQ(lines[3], "CONTEXT = VrinNTInitialise : hInstall");
}

// --- VrinNTPreviousVersionInstalled -------------------------------------------

struct Band {
  uint16_t major;
  const char* products;
  bool upgrade;
  bool upgrade2;
};

class VersionBandTest : public ServerVersionTest, public ::testing::WithParamInterface<Band> {};

TEST_P(VersionBandTest, SetsTheFlagsOfItsBandAndAlwaysTheFolder) {
  const Band& band = GetParam();
  Install({band.major, 3, 41, 2});
  MSIHANDLE hInstall = Open();
  Session().SetProperty("PRODUCTS", band.products);
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERUPGRADE"), band.upgrade ? "1" : "");
  EXPECT_EQ(Session().GetProperty("NTSERVERUPGRADE2"), band.upgrade2 ? "1" : "");
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), kFolder);
  Lines expected = {Trace("VrinNTPreviousVersionInstalled ->"),
                    Trace(std::string("InstallGetFileVersion -> ") + kImage),
                    Trace("InstallGetFileVersion <- " + std::to_string(band.major) + ",3,41,2")};
  if (band.upgrade) expected.push_back(Trace("Set NTSERVERUPGRADE"));
  expected.push_back(Trace("InstallGetProperty -> PRODUCTS"));
  expected.push_back(Trace(std::string("InstallGetProperty <- (") + band.products + ")"));
  if (band.upgrade2) expected.push_back(Trace("Set NTSERVERUPGRADE2"));
  expected.push_back(Trace(std::string("Set NTSERVERINSTALLDIR = ") + kFolder));
  expected.push_back(Trace("VrinNTPreviousVersionInstalled <- [0]"));
  EXPECT_EQ(LogLines(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bands, VersionBandTest,
    ::testing::Values(Band{6, "2", true, false}, Band{6, "1", true, false}, Band{1, "", true, false},
                      Band{7, "2", false, true}, Band{8, "2", false, true}, Band{10, "2", false, true},
                      Band{8, "1", false, false}, Band{10, "1", false, false}, Band{7, "1", false, false},
                      Band{8, "", false, true}, Band{8, " 1", false, false}, Band{8, "1x", false, false},
                      Band{8, "x1", false, true}, Band{8, "01", false, false}, Band{9, "2", false, false},
                      Band{11, "2", false, false}, Band{12, "", false, false}));

TEST_F(ServerVersionTest, UnquotedImagePathIsTakenWhole) {
  Install({8, 0, 1, 0}, kImage);
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), kFolder);
}

TEST_F(ServerVersionTest, QuotedImagePathIsUsedWithoutItsQuotes) {
  Install({8, 0, 1, 0}, "\"C:\\Program Files\\OV VRIN\\skdnt.exe\"", "C:\\Program Files\\OV VRIN\\skdnt.exe");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), "C:\\Program Files\\OV VRIN");
  EXPECT_EQ(LogLines().at(1), Trace("InstallGetFileVersion -> C:\\Program Files\\OV VRIN\\skdnt.exe"));
}

TEST_F(ServerVersionTest, ArgumentsBehindAQuotedPathAreLeftOut) {
  Install({8, 0, 1, 0}, std::string("\"") + kImage + "\" -service");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), kFolder);
}

TEST_F(ServerVersionTest, LoneQuoteIsAnEmptyPath) {
  Install({8, 0, 1, 0}, "\"");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(LogLines().at(1), Trace("InstallGetFileVersion -> "));
  EXPECT_FALSE(Has("NTSERVERINSTALLDIR"));
}

TEST_F(ServerVersionTest, PathWithoutBackslashIsTheFolderItself) {
  Install({8, 0, 1, 0}, "skdnt.exe", "C:\\skdnt.exe");
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), "skdnt.exe");
}

TEST_F(ServerVersionTest, FolderIsCutAtTheLastRealBackslash) {
  host::SetAnsiCodePage(932);
  // "\x95\x5C" is one double-byte character whose trail byte is a backslash.
  const std::string image = "C:\\Velmora\\skd\x95\x5C.exe";
  Install({8, 0, 1, 0}, image, image);
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), "C:\\Velmora");
}

// The image path into its MAX_PATH buffer, bare or quoted with arguments
// after it: exact up to 259 characters, refused from 260 on.
class ImagePathLengthTest : public ServerVersionTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ImagePathLengthTest, FitsExactlyOrIsRefused) {
  const std::string path = "C:\\" + std::string(GetParam() - 3, 'p');
  Install({8, 0, 1, 0}, path, kImage);
  for (const std::string& registered : {path, "\"" + path + "\" -service"}) {
    LocalRegistry().SetString(Services().KeyPath("Skelda"), "ImagePath", registered, REG_EXPAND_SZ);
    char szPath[MAX_PATH];
    const bool fits = GetServiceImagePath(szPath, sizeof(szPath)) != FALSE;
    EXPECT_EQ(fits, GetParam() <= 259) << registered.size();
    if (fits) {
      EXPECT_EQ(szPath, path);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AroundMaxPath, ImagePathLengthTest, ::testing::Values(259, 260, 261, 10000));

TEST_F(ServerVersionTest, ImagePathOf260CharactersIsRefusedNotCut) {
  // 259 characters fit; 260 are refused, not cut to the 259 that exist.
  const std::string fits = "C:\\" + std::string(200, 'd') + "\\" + std::string(55, 'f');
  ASSERT_EQ(fits.size(), 259u);
  Install({8, 0, 1, 0}, fits, fits);
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("NTSERVERINSTALLDIR"), "C:\\" + std::string(200, 'd'));
  Session().SetProperty("NTSERVERINSTALLDIR", "");
  LocalRegistry().SetString(Services().KeyPath("Skelda"), "ImagePath", "\"" + fits + "f\"", REG_EXPAND_SZ);
  Session().Close();
  hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTPreviousVersionInstalled ->"),
                   Report("VrinNTPreviousVersionInstalled", 206, "VrinNTPreviousVersionInstalled : lpBinaryPathName",
                          "The filename or extension is too long."),
                   Trace("VrinNTPreviousVersionInstalled <- [0]")}));
  EXPECT_FALSE(Has("NTSERVERINSTALLDIR"));
}

TEST_F(ServerVersionTest, NoServiceIsAFirstInstallation) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("NTSERVERUPGRADE", "kept");
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinNTPreviousVersionInstalled ->"),
                   Report("VrinNTPreviousVersionInstalled", 1060, "VrinNTPreviousVersionInstalled : OpenService",
                          "The specified service does not exist as an installed service."),
                   Trace("VrinNTPreviousVersionInstalled <- [0]")}));
  EXPECT_EQ(Session().GetProperty("NTSERVERUPGRADE"), "kept") << "only ever set, never cleared";
  EXPECT_FALSE(Has("NTSERVERUPGRADE2"));
  EXPECT_FALSE(Has("NTSERVERINSTALLDIR"));
}

TEST_F(ServerVersionTest, MissingImageSetsNoPropertyAtAll) {
  Install({6, 0, 1, 0});
  Files().Unlink(kImage);
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  EXPECT_EQ(LogLines().at(2),
            Report("VrinNTPreviousVersionInstalled", 2, "InstallGetFileVersion : GetFileVersionInfoSize",
                   "The system cannot find the file specified."));
  EXPECT_FALSE(Has("NTSERVERUPGRADE"));
  EXPECT_FALSE(Has("NTSERVERINSTALLDIR"));
}

struct PreviousFailure {
  const char* function;
  int nth;
  const char* key;
  const char* context;
  bool upgradeKept;  // NTSERVERUPGRADE was set before the failure
};

class PreviousFailureTest : public ServerVersionTest, public ::testing::WithParamInterface<PreviousFailure> {};

TEST_P(PreviousFailureTest, IsReportedAndWhatWasSetStays) {
  const PreviousFailure& failure = GetParam();
  Install({6, 0, 1, 0});
  MSIHANDLE hInstall = Open();
  Faults::Instance().Fail(failure.function, ERROR_ACCESS_DENIED, failure.nth, failure.key);
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], Report("VrinNTPreviousVersionInstalled", 5, failure.context, "Access is denied."));
  EXPECT_EQ(Session().GetProperty("NTSERVERUPGRADE"), failure.upgradeKept ? "1" : "");
  EXPECT_FALSE(Has("NTSERVERINSTALLDIR"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PreviousFailureTest,
    ::testing::Values(PreviousFailure{"OpenSCManager", 1, "", "VrinNTPreviousVersionInstalled : OpenSCManager", false},
                      PreviousFailure{"OpenService", 1, "Skelda", "VrinNTPreviousVersionInstalled : OpenService",
                                      false},
                      PreviousFailure{"QueryServiceConfig", 1, "Skelda",
                                      "VrinNTPreviousVersionInstalled : QueryServiceConfig(1)", false},
                      PreviousFailure{"QueryServiceConfig", 2, "Skelda",
                                      "VrinNTPreviousVersionInstalled : QueryServiceConfig(2)", false},
                      PreviousFailure{"MsiSetProperty", 1, "NTSERVERUPGRADE",
                                      "VrinNTPreviousVersionInstalled : MsiSetProperty(1)", false},
                      PreviousFailure{"MsiSetProperty", 1, "NTSERVERINSTALLDIR",
                                      "VrinNTPreviousVersionInstalled : MsiSetProperty(2)", true}));

TEST_F(ServerVersionTest, SecondFlagFailureUsesTheFirstFlagsContext) {
  Install({8, 0, 1, 0});
  MSIHANDLE hInstall = Open();
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "NTSERVERUPGRADE2");
  EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinNTPreviousVersionInstalled", 1627, "VrinNTPreviousVersionInstalled : MsiSetProperty(1)",
                   "Function failed during execution."));
}

TEST_F(ServerVersionTest, ConfigurationAllocationFailureIsReported) {
  Install({8, 0, 1, 0});
  MSIHANDLE hInstall = Open();
  // Every allocation failing in turn ends in a report, one of them that of
  // the configuration buffer.
  bool configReported = false;
  for (int nth = 1; nth <= 30; ++nth) {
    Faults::Instance().Clear();
    Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, nth);
    EXPECT_EQ(VrinNTPreviousVersionInstalled(hInstall), 0u);
    EXPECT_EQ(Services().OpenHandles(), 0);
    for (const std::string& line : LogLines()) {
      if (line.find("CONTEXT = VrinNTPreviousVersionInstalled : szConfig\r\n") != std::string::npos) {
        configReported = true;
      }
    }
  }
  EXPECT_TRUE(configReported);
}

// --- GetServiceImagePath, QueryFileVersion, WriteBuildNumber ------------------

TEST_F(ServerVersionTest, ImagePathOfTheServiceWithoutQuotes) {
  Install({9, 0, 12, 0});
  char szPath[MAX_PATH] = {};
  EXPECT_TRUE(GetServiceImagePath(szPath, sizeof(szPath)));
  EXPECT_STREQ(szPath, kImage);
  char szSmall[10] = {};
  EXPECT_FALSE(GetServiceImagePath(szSmall, sizeof(szSmall))) << "refused, not cut";
  EXPECT_TRUE(TakeStdout().empty()) << "nothing traced";
}

TEST_F(ServerVersionTest, ImagePathFailuresAnswerFalse) {
  char szPath[MAX_PATH] = {};
  EXPECT_FALSE(GetServiceImagePath(szPath, sizeof(szPath)));
  Install({9, 0, 12, 0});
  for (const char* function : {"OpenSCManager", "OpenService", "QueryServiceConfig"}) {
    Faults::Instance().Clear();
    Faults::Instance().Fail(function, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GetServiceImagePath(szPath, sizeof(szPath))) << function;
  }
  Faults::Instance().Clear();
  Faults::Instance().Fail("QueryServiceConfig", ERROR_ACCESS_DENIED, 2);
  EXPECT_FALSE(GetServiceImagePath(szPath, sizeof(szPath)));
  Faults::Instance().Clear();
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_FALSE(GetServiceImagePath(szPath, sizeof(szPath)));
  const std::string longPath = "C:\\" + std::string(300, 'x');
  LocalRegistry().SetString(Services().KeyPath("Skelda"), "ImagePath", longPath, REG_EXPAND_SZ);
  Faults::Instance().Clear();
  EXPECT_FALSE(GetServiceImagePath(szPath, sizeof(szPath)));
}

TEST_F(ServerVersionTest, FileVersionCopyWithTheRequestTracedOnly) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(kImage, vrintest::VersionedDll({9, 1, 12, 3}));
  VS_FIXEDFILEINFO* pVersion = QueryFileVersion(hInstall, kImage);
  ASSERT_NE(pVersion, nullptr);
  EXPECT_EQ(pVersion->dwFileVersionMS, (9u << 16) | 1u);
  EXPECT_EQ(pVersion->dwFileVersionLS, (12u << 16) | 3u);
  delete pVersion;
  EXPECT_EQ(LogLines(), (Lines{Trace(std::string("InstallGetFileVersion -> ") + kImage)}));
}

TEST_F(ServerVersionTest, FileVersionFailuresAnswerNull) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(QueryFileVersion(hInstall, "C:\\none.exe"), nullptr);
  Files().AddFile("C:\\plain.dll", vrintest::UnversionedDll());
  EXPECT_EQ(QueryFileVersion(hInstall, "C:\\plain.dll"), nullptr);
  Files().AddFile("C:\\odd.dll",
                  vrintest::AsText(vrintest::PeImageWith({{vrintest::kRtVersion, 1, vrintest::kLangEnglishUs,
                                                           vrintest::VersionInfo({1, 0, 0, 0}, {1, 0, 0, 0}, 20)}})));
  EXPECT_EQ(QueryFileVersion(hInstall, "C:\\odd.dll"), nullptr) << "a fixed block too short to copy";
  Files().AddFile(kImage, vrintest::VersionedDll({9, 1, 12, 3}));
  Faults::Instance().Fail("GetFileVersionInfo", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(QueryFileVersion(hInstall, kImage), nullptr);
  Faults::Instance().Fail("VerQueryValue", ERROR_RESOURCE_TYPE_NOT_FOUND);
  EXPECT_EQ(QueryFileVersion(hInstall, kImage), nullptr);
  for (int nth = 1; nth <= 2; ++nth) {
    Faults::Instance().Clear();
    Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, nth);
    EXPECT_EQ(QueryFileVersion(0, kImage), nullptr) << nth;
  }
  EXPECT_EQ(LogLines().size(), 5u) << "one request line each, with the session";
}

class BuildNumberTest : public ServerVersionTest,
                        public ::testing::WithParamInterface<std::pair<vrintest::FileVersion, uint32_t>> {};

TEST_P(BuildNumberTest, FourthNumberOrElseTheThird) {
  Install(GetParam().first);
  LocalRegistry().SetString(kProductKey, "Version", "9.0");
  MSIHANDLE hInstall = Open();
  EXPECT_TRUE(WriteBuildNumber(hInstall));
  auto value = LocalRegistry().Value(kProductKey, "BuildNumber");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(LocalRegistry().Dword(kProductKey, "BuildNumber"), GetParam().second);
  EXPECT_EQ(LogLines(), (Lines{Trace(std::string("InstallGetFileVersion -> ") + kImage)}));
}

INSTANTIATE_TEST_SUITE_P(Versions, BuildNumberTest,
                         ::testing::Values(std::make_pair(vrintest::FileVersion{9, 0, 12, 0}, 12u),
                                           std::make_pair(vrintest::FileVersion{9, 0, 12, 3}, 3u),
                                           std::make_pair(vrintest::FileVersion{9, 0, 0, 0}, 0u),
                                           std::make_pair(vrintest::FileVersion{9, 0, 2141, 65535}, 65535u)));

TEST_F(ServerVersionTest, BuildNumberNeedsTheProductKey) {
  Install({9, 0, 12, 0});
  MSIHANDLE hInstall = Open();
  EXPECT_FALSE(WriteBuildNumber(hInstall));
  EXPECT_EQ(LocalRegistry().Find(kProductKey), nullptr) << "the key is not created";
}

TEST_F(ServerVersionTest, BuildNumberFailuresWriteNothing) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetString(kProductKey, "Version", "9.0");
  EXPECT_FALSE(WriteBuildNumber(hInstall)) << "no service";
  EXPECT_TRUE(LogLines().empty());
  Install({9, 0, 12, 0});
  Files().Unlink(kImage);
  EXPECT_FALSE(WriteBuildNumber(hInstall)) << "no image";
  Files().AddFile(kImage, vrintest::VersionedDll({9, 0, 12, 0}));
  LocalRegistry().Deny(kProductKey, KEY_SET_VALUE);
  EXPECT_FALSE(WriteBuildNumber(hInstall)) << "key refused";
  EXPECT_FALSE(LocalRegistry().Value(kProductKey, "BuildNumber").has_value());
  LocalRegistry().Deny(kProductKey, 0);
  Faults::Instance().Fail("RegSetValueEx", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WriteBuildNumber(hInstall)) << "write refused";
  EXPECT_FALSE(LocalRegistry().Value(kProductKey, "BuildNumber").has_value());
  EXPECT_TRUE(WriteBuildNumber(hInstall));
}

}  // namespace
