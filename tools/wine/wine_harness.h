// Runs the Windows builds of the library under Wine's own Windows Installer,
// one prefix per architecture: a pure 32-bit Windows (WINEARCH=win32, Wine's
// 32-bit loader) for dist/win32/vrinca.dll, a 64-bit one for
// dist/win64/vrinca.dll. Packages are built from .wxs templates with wixl for
// the prefix's architecture, msiexec installs and removes them with verbose
// logs, and the registry is read back through `reg export`.
//
// Every failure to run a tool (missing program, wixl error, wine timeout) is
// thrown as std::runtime_error, so that a broken environment fails the test
// instead of skipping it. The one thing that is not a failure is a machine
// whose kernel cannot run the 32-bit loader at all: CannotRun says so.
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

enum class Arch { kWin32, kWin64 };
inline constexpr Arch kArches[] = {Arch::kWin32, Arch::kWin64};

// "win32" or "win64": the dist folder of the build, the prefix's folder, the
// suffix of the tests' names.
const char* ArchName(Arch arch);

// Why this machine cannot run the architecture's Wine, empty when it can.
// The 32-bit loader is an i386 program: a kernel without IA-32 emulation
// refuses it. Checked once per process by running a tiny i386 program
// (VRINCA_I386_CHECK, built from i386_check.s), never assumed.
std::string CannotRun(Arch arch);

// ${VRINCA_BINARY_DIR}/wine: the prefixes' folders and the scratch files.
fs::path HarnessRoot();
// ${VRINCA_SOURCE_DIR}/tests/wine/packages.
fs::path PackageTemplateDir();
// tools/wine/roads.wxs: the consuming package of both merge modules that
// vrinsim's Wine engine and the Wine roads test build (see the file).
fs::path RoadsTemplate();
// ${VRINCA_SOURCE_DIR}/packaging: the integration kit, whose includes
// (common.wxi, server.wxi, console.wxi, setup.wxi) every template may use.
fs::path KitDir();

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

// Runs a Linux tool (wixl, msibuild, msiinfo; looked up on PATH) in `dir`
// with stdin from /dev/null. A tool that cannot be started is an error.
RunResult RunTool(const std::vector<std::string>& args, const fs::path& dir);

struct PackageOptions {
  std::string templateName;  // file name in tests/wine/packages, e.g. "smoke.wxs", or an absolute path
  std::string workName;      // work folder name under the prefix's work/, replaced if present
  std::map<std::string, std::string> placeholders;  // NAME -> text for each "@NAME@"
  std::map<std::string, std::string> files;         // extra files written next to the .wxs: name -> contents
  std::vector<std::string> kitTables;          // kit folders or .idt files (under KitDir()) merged in by flatten.sh
  std::vector<std::string> sql;                // msibuild -q queries run on the built package afterwards, in order
  std::map<std::string, std::string> defines;  // wixl -D NAME=value, for the template's <?if?> and $(var.NAME)
};

struct Package {
  Arch arch = Arch::kWin64;
  fs::path workDir;
  fs::path msi;
};

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

// The value of a property in the property list that ends a verbose log
// ("Property(S): NAME = value"); nullopt when the log does not list it.
std::optional<std::string> LoggedProperty(const std::string& log, const std::string& name);

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

// The Wine prefix of one architecture and everything that runs in it: its
// loader, the DLL of that build, packages built for it. A prefix lives in a
// folder of its own, by default HarnessRoot()/<arch>: prefix/, its lock and
// stamp, work/ with one folder per package. Instances are cheap; all state is
// on disk, shared by the test processes of a build tree.
class Prefix {
 public:
  explicit Prefix(Arch arch, fs::path dir = {}) : arch_(arch), dir_(std::move(dir)) {}
  static const Prefix& Of(Arch arch);

  Arch arch() const { return arch_; }
  // The folder given, else HarnessRoot()/<arch>.
  fs::path Dir() const;
  // Dir()/prefix: the Wine prefix itself.
  fs::path WinePrefix() const;
  // ${VRINCA_DIST_DIR}/<arch>: the Windows build's files.
  fs::path DistDir() const;
  // DistDir()/vrinca.dll: the DLL under test.
  fs::path Dll() const;

  // Creates the prefix on first use (wineboot -u, then wineserver -w) and
  // marks it ready with a stamp file; later calls and later test runs reuse
  // it. Safe when several test processes start at once. Returns the seconds
  // spent on creation, 0 when the prefix was already there.
  double Ensure() const;

  // Makes this prefix a copy of `pristine` (created first if needed), which
  // is much faster than a boot: whatever this prefix held is replaced.
  // Returns the seconds spent.
  double CopyOf(const Prefix& pristine) const;

  // Runs `<loader> <args...>` in the prefix (created first if needed) with
  // WINEDEBUG=-all, mscoree and mshtml disabled, stdin from /dev/null and a
  // timeout, then waits for the wineserver to exit. Calls from different
  // processes are serialised on the prefix's lock.
  RunResult Run(const std::vector<std::string>& args, const fs::path& workingDir = {}) const;

  // Lets calls follow each other while the wineserver of the previous one
  // is still there (it stays about two seconds after its last program),
  // rather than waiting for it to exit: for one process alone in its
  // prefix, which has no other process's files to wait for.
  void DoNotWaitForServer() { waitForServer_ = false; }
  // Waits for the prefix's wineserver to exit.
  void WaitForServer() const;

  // Runs the lines as one batch file under Wine's cmd: several reg and sc
  // commands for the price of one wine start.
  RunResult RunBatch(const std::vector<std::string>& lines) const;

  // Copies the template (placeholders substituted; one left over is an
  // error) and the DLL as vrinca.dll into a fresh work folder, writes the
  // extra files, runs `wixl -a x86|x64` there so that SourceFile paths stay
  // relative, then the SQL follow-ups. The template gets the defines
  // ProgramFilesFolder (ProgramFilesFolder or ProgramFiles64Folder) and
  // Win64 ("no" or "yes") for its folders and components.
  Package BuildPackage(const PackageOptions& options) const;

  // The kit's example packages built for this architecture by
  // packaging/build-examples.sh into the work folder workName:
  // "consumer.msi", "server-only.msi", "setup.msi".
  Package BuildExample(const std::string& example, const std::string& workName) const;

  // Merges kit folders or .idt files into a package with packaging/flatten.sh.
  void Flatten(const Package& package, const std::vector<fs::path>& tables) const;

  // `msiexec /i|/x package /qn|/qf /l*v log [PROPERTY=value...]`. The log
  // goes to the package's work folder as install.log, install-2.log, ...
  // (remove.log for removals), so that no earlier log is overwritten. A
  // package built for the other architecture is refused.
  MsiexecResult Install(const Package& package, const std::vector<std::string>& properties = {},
                        Ui ui = Ui::kNone) const;
  MsiexecResult Remove(const Package& package, const std::vector<std::string>& properties = {},
                       Ui ui = Ui::kNone) const;

  // The file or folder of the prefix that a "C:\..." path names. Existing
  // folders are matched without regard to case, as Windows does, so that
  // "C:\WINDOWS" is the prefix's "windows"; missing parts keep their case.
  fs::path Path(const std::string& windowsPath) const;

  // The Windows path of a host path: "C:\..." inside the prefix's drive C:,
  // else "Z:\...".
  std::string WindowsPathOf(const fs::path& path) const;

  // Writes files into the prefix ("C:\..." path -> contents), creating folders.
  void WriteFiles(const std::vector<std::pair<std::string, std::string>>& files) const;

  // `reg export KEY file /y` of the key and its subkeys; nullopt when reg
  // fails, which is what it does for a key that does not exist.
  std::optional<RegistryDump> ExportRegistry(const std::string& key) const;
  // The same for several keys in one wine start; a start that did not run
  // its batch to the end is tried once more, then thrown.
  std::vector<std::optional<RegistryDump>> ExportRegistry(const std::vector<std::string>& keys) const;
  // The exported files' text (decoded), nullopt for a key that does not exist.
  std::vector<std::optional<std::string>> ExportRegistryText(const std::vector<std::string>& keys) const;

  // `reg import` of .reg text given without its "Windows Registry Editor
  // Version 5.00" header.
  void ImportRegistry(const std::string& regText) const;

 private:
  double EnsureLocked() const;
  std::map<std::string, std::string> Environment() const;
  // The architecture's loader followed by args.
  std::vector<std::string> Command(const std::vector<std::string>& args) const;
  // A package of this architecture with a fresh, empty work folder workName;
  // throws when the DLL it would carry is missing.
  Package NewPackage(const std::string& workName) const;
  MsiexecResult RunMsiexec(const Package& package, const std::string& option, const std::string& logStem,
                           const std::vector<std::string>& properties, Ui ui) const;

  Arch arch_;
  fs::path dir_;
  bool waitForServer_ = true;
};

}  // namespace wine
