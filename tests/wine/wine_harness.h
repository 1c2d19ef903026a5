// Runs the win64 build of the library under Wine's own Windows Installer:
// one Wine prefix per build tree, packages built from .wxs templates with
// wixl, msiexec installs and removals with verbose logs, registry read back
// through `reg export`.
//
// Every failure to run a tool (missing program, wixl error, wine timeout) is
// thrown as std::runtime_error, so that a broken environment fails the test
// instead of skipping it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wine {

namespace fs = std::filesystem;

// Seconds a single wine or wineserver call may take before it is killed.
inline constexpr int kWineTimeoutSeconds = 120;

// ${VRINCA_BINARY_DIR}/wine: prefix, lock, stamp and package work folders.
fs::path HarnessDir();
// ${VRINCA_BINARY_DIR}/wine/prefix.
fs::path PrefixDir();
// The DLL under test: ${VRINCA_DIST_DIR}/win64/vrinca.dll.
fs::path Win64Dll();
// ${VRINCA_SOURCE_DIR}/tests/wine/packages.
fs::path PackageTemplateDir();

// "Z:" followed by the absolute path with backslashes, as Wine maps "/".
std::string ToWindowsPath(const fs::path& path);

// Text file contents as UTF-8: a UTF-16 file (BOM, or NUL high bytes without
// one) is converted, a UTF-8 BOM is dropped, anything else is returned as is.
std::string DecodeText(const std::string& bytes);
std::string ReadTextFile(const fs::path& path);

// Lines without their terminators; "\r\n" and the "\r\r\n" that a text-mode
// CRT makes of a written "\r\n" both end a line.
std::vector<std::string> SplitLines(const std::string& text);

struct RunResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr of the wine process, undecoded
  double seconds = 0;
};

// Creates the prefix on first use (wineboot -u, then wineserver -w) and marks
// it ready with a stamp file; later calls and later test runs reuse it. Safe
// when several test processes start at once. Returns the seconds spent on
// creation, 0 when the prefix was already there.
double EnsurePrefix();

// Runs `wine64 <args...>` in the prefix (created first if needed) with
// WINEDEBUG=-all, mscoree and mshtml disabled, stdin from /dev/null and a
// timeout, then waits for the wineserver to exit. Calls from different
// processes are serialised on the prefix lock.
RunResult RunWine(const std::vector<std::string>& args, const fs::path& workingDir = {});

struct PackageOptions {
  std::string templateName;                         // file name in tests/wine/packages, e.g. "smoke.wxs"
  std::string workName;                             // work folder name under wine/work, replaced if present
  std::map<std::string, std::string> placeholders;  // NAME -> text for each "@NAME@"
  std::map<std::string, std::string> files;         // extra files written next to the .wxs: name -> contents
  std::vector<std::string> sql;                     // msibuild -q queries run on the built package, in order
  std::map<std::string, std::string> defines;       // wixl -D NAME=value, for the template's <?if?> and $(var.NAME)
};

struct Package {
  fs::path workDir;
  fs::path msi;
};

// Copies the template (placeholders substituted; one left over is an error)
// and the DLL as vrinca.dll into a fresh work folder, writes the extra files,
// runs `wixl -a x64` there so that SourceFile paths stay relative, then the
// SQL follow-ups.
Package BuildPackage(const PackageOptions& options);

struct MsiexecResult {
  int exitCode = -1;
  std::string log;     // verbose log as UTF-8
  std::string output;  // what the custom actions wrote to standard output
  fs::path logPath;
  double seconds = 0;
};

// The user interface msiexec is asked for: /qn (UILevel 2) or /qf (UILevel
// 5). Wine runs /qf without a display as long as the package's user
// interface sequence shows no dialog (wixl's has none). UILevel itself
// cannot be set on the command line: Wine keeps the level of the option.
enum class Ui { kNone, kFull };

// `msiexec /i|/x package /qn|/qf /l*v log [PROPERTY=value...]`. The log goes
// to the package's work folder as install.log, install-2.log, ... (remove.log
// for removals), so that no earlier log is overwritten.
MsiexecResult Install(const Package& package, const std::vector<std::string>& properties = {}, Ui ui = Ui::kNone);
MsiexecResult Remove(const Package& package, const std::vector<std::string>& properties = {});

// The value of a property in the property list that ends a verbose log
// ("Property(S): NAME = value"); nullopt when the log does not list it.
std::optional<std::string> LoggedProperty(const std::string& log, const std::string& name);

// Runs the lines as one batch file under Wine's cmd: several reg and sc
// commands for the price of one wine start.
RunResult RunBatch(const std::vector<std::string>& lines);

// The file or folder of the prefix that a "C:\..." path names. Existing
// folders are matched without regard to case, as Windows does, so that
// "C:\WINDOWS" is the prefix's "windows"; missing parts keep their case.
fs::path PrefixPath(const std::string& windowsPath);

// Writes files into the prefix ("C:\..." path -> contents), creating folders.
void WritePrefixFiles(const std::vector<std::pair<std::string, std::string>>& files);

// One run of an action in a verbose log: the lines between its
// "Action start hh:mm:ss: Name." and "Action ended hh:mm:ss: Name. Return
// value N." lines, and N. An action whose start has no end yet is not listed.
struct ActionRun {
  std::vector<std::string> lines;
  int returnValue = -1;
};
std::vector<ActionRun> FindActionRuns(const std::string& log, const std::string& action);

struct RegistryValue {
  enum class Type { kString, kExpandString, kMultiString, kDword, kQword, kBinary, kOther };
  Type type = Type::kOther;
  std::string text;                  // kString, kExpandString (UTF-8, unescaped / decoded)
  std::vector<std::string> strings;  // kMultiString
  std::uint64_t number = 0;          // kDword, kQword
  std::vector<std::uint8_t> bytes;   // raw data of every hex(...) form
  std::string raw;                   // the data as written after '=', continuations joined
};

// Registry names compare without regard to ASCII case, as Windows does.
struct CaseInsensitiveLess {
  bool operator()(const std::string& left, const std::string& right) const;
};

// Key path as written in the file ("HKEY_LOCAL_MACHINE\..."), then value name
// ("@" for the default value).
using RegistryValues = std::map<std::string, RegistryValue, CaseInsensitiveLess>;
using RegistryDump = std::map<std::string, RegistryValues, CaseInsensitiveLess>;

// Parses the text of a REGEDIT4 / version 5.00 .reg file (already decoded).
RegistryDump ParseRegFile(const std::string& text);

// `wine64 reg export KEY file /y` of the key and its subkeys; nullopt when
// reg fails, which is what it does for a key that does not exist.
std::optional<RegistryDump> ExportRegistry(const std::string& key);
// The same for several keys in one wine start.
std::vector<std::optional<RegistryDump>> ExportRegistry(const std::vector<std::string>& keys);

// `reg import` of .reg text given without its "Windows Registry Editor
// Version 5.00" header.
void ImportRegistry(const std::string& regText);

}  // namespace wine
