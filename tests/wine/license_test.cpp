// The standalone setup's licence dialog under Wine's msiexec: VrinReadInfFile
// reads a setup information file from the package's source folder,
// VrinNameLicense turns the licence text it names into the temporary Memo
// row of LicenseAgreement (twice: the second run finds the first one's row),
// and license_probe.dll reads the properties and the dialog's rows back. The
// same actions and the same probe run on the simulated installer with the
// same files, and everything they leave must be the same.
//
// Where the two differ, and why:
// - The source folder: the package's work folder on Wine ("Z:\..."),
//   "C:\Setup\" on the simulated session. Both are replaced by "<source>".
// - The trace is compared on standard output: Wine formats the log's INFO
//   texts once more, so "[Setup]" would be read as a property there.
// - The dialog is never shown: msiexec /qn runs the actions in the execute
//   sequence (see license.wxs), and /qf would wait for a click.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/filesystem.h"
#include "setup/license.h"
#include "setup/setup_files.h"
#include "tests/support/session_fixture.h"
#include "tests/wine/license_probe.h"
#include "tests/wine/wine_test.h"

namespace {

using Lines = std::vector<std::string>;

const char kInf[] = "[Setup]\r\nLicenseTextFile=license.txt\r\nProdSubType=3\r\n";
// Both kinds of line end, Rich Text left unescaped, high bytes, and a NUL
// byte that ends the text.
const char kLicenceBytes[] = "First line\r\nSecond {\\b line}\nGr\xfc\xdf\x65 kept\r\nalso\0dropped\n";
const std::string kLicence(kLicenceBytes, sizeof(kLicenceBytes) - 1);
const char kSimulatedSource[] = "C:\\Setup\\";

// The dialogs: LicenseAgreement without its Memo, and a Memo of another
// dialog that does not count.
const std::vector<std::string> kDialogSql = {
    "CREATE TABLE `Dialog` (`Dialog` CHAR(72) NOT NULL, `HCentering` SHORT NOT NULL, `VCentering` SHORT NOT NULL, "
    "`Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Title` CHAR(128) LOCALIZABLE, "
    "`Control_First` CHAR(50) NOT NULL, `Control_Default` CHAR(50), `Control_Cancel` CHAR(50) PRIMARY KEY `Dialog`)",
    "INSERT INTO `Dialog` (`Dialog`, `HCentering`, `VCentering`, `Width`, `Height`, `Attributes`, `Title`, "
    "`Control_First`) VALUES ('LicenseAgreement', 50, 50, 374, 266, 3, 'Licence', 'Accept')",
    "INSERT INTO `Dialog` (`Dialog`, `HCentering`, `VCentering`, `Width`, `Height`, `Attributes`, `Title`, "
    "`Control_First`) VALUES ('ReadmeDialog', 50, 50, 374, 266, 3, 'Readme', 'Memo')",
    "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT NULL, "
    "`X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, "
    "`Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(255) LOCALIZABLE "
    "PRIMARY KEY `Dialog_`, `Control`)",
    "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
    "VALUES ('LicenseAgreement', 'Accept', 'PushButton', 236, 243, 56, 17, 3, 'Accept')",
    "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, `Attributes`, `Text`) "
    "VALUES ('ReadmeDialog', 'Memo', 'ScrollableText', 8, 55, 358, 130, 7, 'readme')",
};

std::string ReadBytes(const wine::fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

Lines TraceLines(const Lines& lines, const std::string& source) {
  Lines trace;
  for (const std::string& line : lines) {
    if (line.rfind("OV VRIN : ", 0) == 0) trace.push_back(Replaced(line, source, "<source>"));
  }
  return trace;
}

// The Control rows the package file itself holds, as msiinfo exports them.
std::string PackageControlRows(const wine::fs::path& msi) {
  std::string command = "msiinfo export '" + msi.string() + "' Control";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string rows;
  char buffer[4096];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof(buffer), pipe.get())) > 0) rows.append(buffer, read);
  return rows;
}

class WineLicenseTest : public wine::ArchTest<vrintest::SessionTest> {};

TEST_P(WineLicenseTest, InfFileAndLicenceTextLeaveTheSameMemoRowAsOnTheSimulatedInstaller) {
  wine::PackageOptions options;
  options.templateName = "license.wxs";
  options.workName = "license";
  options.files = {
      {"license_probe.dll", ReadBytes(Probe("license_probe.dll"))}, {"vrin.inf", kInf}, {"1033/license.txt", kLicence}};
  options.kitTables = {"setup/CustomAction.idt"};
  options.sql = kDialogSql;
  options.sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('UnCompressedFolder', "
      "'TARGETDIR', '.')");
  wine::Package package = Wine().BuildPackage(options);
  const wine::fs::path wineProbe = package.workDir / "probe.txt";
  wine::MsiexecResult run = Wine().Install(package, {"PROBEFILE=" + wine::ToWindowsPath(wineProbe)});
  const std::string wineSource = wine::ToWindowsPath(package.workDir) + "\\";

  // The same on the simulated installer.
  MSIHANDLE hInstall = OpenSession(kDialogSql);
  Session().SetSourcePath("UnCompressedFolder", kSimulatedSource);
  Session().SetProperty("INFFILE", "vrin.inf");
  Session().SetProperty("VRINLANGID", "1033");
  const wine::fs::path simulatedProbe = package.workDir / "probe-simulated.txt";
  Session().SetProperty("PROBEFILE", simulatedProbe.string());
  host::Files().AddFile(std::string(kSimulatedSource) + "vrin.inf", kInf);
  host::Files().AddFile(std::string(kSimulatedSource) + "1033\\license.txt", kLicence);
  TakeStdout();
  EXPECT_EQ(VrinReadInfFile(hInstall), 0u);
  EXPECT_EQ(VrinNameLicense(hInstall), 0u);
  EXPECT_EQ(VrinNameLicense(hInstall), 0u);
  const Lines simulatedTrace = TakeStdoutLines();
  EXPECT_EQ(ProbeLicense(hInstall), 1602u);

  // Each action succeeded; the probe ended the installation.
  for (const char* action : {"VrinReadInfFile", "VrinNameLicense", "VrinNameLicenseAgain"}) {
    std::vector<wine::ActionRun> runs = wine::FindActionRuns(run.log, action);
    ASSERT_EQ(runs.size(), 1u) << action << " in " << run.logPath;
    EXPECT_EQ(runs[0].returnValue, 1) << action << " in " << run.logPath;
  }
  // Wine logs the probe's 1602 as "Return value 0", as any failure; the
  // exit status of the loader keeps msiexec's 1602 modulo 256.
  ASSERT_EQ(wine::FindActionRuns(run.log, "ProbeLicense").size(), 1u) << run.logPath;
  EXPECT_EQ(wine::FindActionRuns(run.log, "ProbeLicense")[0].returnValue, 0) << run.logPath;
  EXPECT_EQ(run.exitCode, 1602 % 256) << run.logPath;

  // Properties and rows alike, to the byte.
  const std::string onWine = Replaced(ReadBytes(wineProbe), wineSource, "<source>");
  const std::string simulated = Replaced(ReadBytes(simulatedProbe), kSimulatedSource, "<source>");
  EXPECT_EQ(onWine, simulated);
  const std::string expected =
      "LICENSE=.\\1033\\license.txt\nLICENSEFILE=<source>.\\1033\\license.txt\nPRODUCTSUBTYPE=3\nPRODSUBTYPE=3\n"
      "Rows=2\nMemoRows=1\nType=ScrollableText\n8\n55\n358\n130\n7\nPropertyNull=1\n"
      "Text={\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f1\\froman\\fcharset2 "
      "Symbol;}{\\f2\\froman Times New Roman;}}\n{\\colortbl\\red0\\green0\\blue0;}\n"
      "\\deflang2057\\pard\\plain\\f0\\fs16 First line\r\n\\par Second {\\b line}\n\\par Gr\xfc\xdf\x65 kept\r\n"
      "\\par also\n\\par }";
  EXPECT_EQ(onWine, expected);

  // The same trace, the second licence run finding the first one's row.
  EXPECT_EQ(TraceLines(wine::SplitLines(run.output), wineSource), TraceLines(simulatedTrace, kSimulatedSource));

  // The row was temporary: the package file has no Memo for the licence.
  EXPECT_EQ(PackageControlRows(package.msi).find("LicenseAgreement\tMemo"), std::string::npos);
  std::fprintf(stderr, "Wine msiexec run: %.1f s\n", run.seconds);
}

INSTANTIATE_TEST_SUITE_P(, WineLicenseTest, wine::AllArches(), wine::ArchTestName);

}  // namespace
