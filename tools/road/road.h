// Installation roads on the simulated machine: a consuming package built from
// SQL, a session with the properties and feature states Windows Installer
// gives a road, and the merge modules' orchestrators driven at their five
// points of the installation sequence, with what the installer's own
// standard actions do to the components' files, shared-file counts, product
// key values and service applied in between. Several roads may run one after
// another on the same machine.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/package.h"
#include "host/platform.h"
#include "host/session.h"
#include "tools/road/pe_builder.h"

namespace vrinroad {

// Where things are on the machine and in the registry.
inline constexpr const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";
inline constexpr const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";
inline constexpr const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
inline constexpr const char kProductParentKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora";
inline constexpr const char kOldKey[] = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
inline constexpr const char kSharedDllsKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
inline constexpr const char kLanmanParametersKey[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
inline constexpr const char kDriverFile[] = "C:\\WINDOWS\\system32\\drivers\\skdnt.sys";
inline constexpr const char kCrtFile[] = "C:\\WINDOWS\\system32\\msvcrt.dll";
inline constexpr const char kServiceName[] = "Skelda";
inline constexpr const char kDriverName[] = "SKDDriver";
inline constexpr const char kShareName[] = "VRIN$";

// The five points of the installation sequence where the orchestrators sit.
enum class Point {
  kAfterLaunchConditions,
  kAfterInstallInitialize,
  kBeforeInstallExecute,
  kBeforeInstallFinalize,
  kAfterInstallFinalize,
};

// A custom action of the consuming package itself, run after the modules'
// orchestrators at its point (VrinDeleteLeftOvers, say).
struct PackageAction {
  Point point;
  std::string name;
  UINT(__stdcall* action)(MSIHANDLE);
  std::string condition = {};  // the sequence's condition; empty: always
};

// The consuming package.
struct PackageOptions {
  std::string products = "1";  // PRODUCTS: the product's number
  // A package file (.msi) to open instead of building the package from
  // these options; it must carry the modules' directories and components.
  std::string packagePath;
  std::vector<std::string> sql;  // or the package's tables as SQL
  bool withConsole = true;       // whether the console module is merged in
  // Skdnt.exe in the File table and the image installed; skdwin.exe likewise.
  vrintest::FileVersion serverVersion{9, 0, 12, 0};
  vrintest::FileVersion consoleVersion{9, 0, 12, 0};
  // The package's own installation folder (the property INSTALLDIR).
  std::string installDir = "C:\\Program Files\\Lumicor Velmora\\";
  // PRODUCTSUBTYPE and the build's release flags (ISReleaseFlags); empty
  // texts leave the property out.
  std::string productSubType = "2";
  std::string releaseFlags = "NTGUI";
  // The package's Error table; the default marks row-1 lines "ERR: " and
  // row-2 lines "WARN: ".
  std::vector<std::string> errorTableSql;
  std::vector<PackageAction> actions;
};

// What the installation asks of a module's feature.
enum class FeatureRequest {
  kInstall,  // installed absent, action local
  kRemove,   // installed local, action absent
  kLeave,    // installed local, no change requested (-1)
  kAbsent,   // not installed, no change requested (-1): a maintenance run of a product without it
};

struct RoadOptions {
  bool installed = false;  // Installed: a maintenance run of this product
  FeatureRequest server = FeatureRequest::kInstall;
  FeatureRequest console = FeatureRequest::kInstall;
  bool userInterface = true;  // UILevel 5, else 2
  std::string startupMode;    // STARTUPMODE; empty: not set
  std::string productLanguage = "1033";
  std::map<std::string, std::string> properties;  // anything else, set at the start

  static RoadOptions FirstInstallation(bool userInterface = true);
  static RoadOptions Removal();
  // A repair that leaves the features alone.
  static RoadOptions Repair();
};

// One call the installer made: an orchestrator or a package action.
struct ActionCall {
  std::string name;
  UINT result;
};

// A road from the package's session to the installation's end.
class Road {
 public:
  Road(PackageOptions package, RoadOptions road);
  ~Road();
  Road(const Road&) = delete;
  Road& operator=(const Road&) = delete;

  // Drives the road: 0 when the installation completes, 1603 when an
  // orchestrator fails it (nothing after that one runs). The session is
  // closed at the end; its log and properties stay readable.
  UINT Run();

  // Runs between the before-InstallExecute and before-InstallFinalize
  // points, after the standard actions' work: a test's hook into the
  // execution script (a file held open, a hotfix copied in, ...).
  void OnExecute(std::function<void(host::Session&)> hook) { executeHook_ = std::move(hook); }

  host::Session& Session() { return *session_; }
  std::string Property(const std::string& name) const { return session_->GetProperty(name); }
  const std::vector<ActionCall>& Calls() const { return calls_; }
  // Every line of the installation log, in order.
  std::vector<std::string> Log() const;
  // The log's action lines: the installer's "Action start: Name." and
  // "Action ended: Name. Return value n." lines (without their time) and the
  // library's action entry and exit lines (orchestrators, maintenance
  // actions) without their "OV VRIN : " prefix.
  std::vector<std::string> ActionLines() const;
  // The library's lines written at row 1 (failure reports, "ERR: " lines).
  std::vector<std::string> FailureLines() const;
  // The target path of a directory when the road ended.
  std::string TargetPath(const std::string& directory) const;
  // The session's properties when the first action was called.
  const std::map<std::string, std::string>& StartProperties() const { return startProperties_; }

 private:
  void Start();
  bool RunPoint(Point point);
  bool Call(const std::string& name, UINT(__stdcall* action)(MSIHANDLE));
  bool TargetPathsFit();
  void ApplyStandardActions();
  void InstallServer();
  void RemoveServer();
  void InstallConsole();
  void RemoveConsole();
  // A new client of the component: its key file's count goes up by one and
  // the file is copied as the versioning rules allow.
  void InstallFileAndCount(const std::string& file, const vrintest::FileVersion& version);

  PackageOptions package_;
  RoadOptions road_;
  std::shared_ptr<host::Package> msi_;
  std::shared_ptr<host::Session> session_;
  std::vector<ActionCall> calls_;
  std::function<void(host::Session&)> executeHook_;
  std::map<std::string, std::string> startProperties_;
};

// What the installer sets before the sequences run: the system folders'
// properties (ProgramFilesFolder, WindowsFolder, SystemFolder).
void SetSystemFolders(host::Session& session);

// Calls one custom action as the installer does, between its "Action start"
// and "Action ended ... Return value n." lines.
UINT CallAction(host::Session& session, const std::string& name, UINT(__stdcall* action)(MSIHANDLE));

// The SQL of the consuming package.
std::vector<std::string> PackageSql(const PackageOptions& package);

// The version resource of a file's content; nothing for a file without one.
std::optional<vrintest::FileVersion> FileVersionOf(const std::string& content);
// "9.0.12.0".
std::string VersionText(const vrintest::FileVersion& version);

// Windows Installer's file-versioning rules: whether InstallFiles puts a
// versioned file of the package over what its target path holds (nothing:
// the file is missing) under REINSTALLMODE (empty: the default "omus"). A
// missing file is always installed. Each letter adds a reason to replace an
// existing one: "o" an older version, "e" an older or equal one, "d" a
// different one, "a" any file; with "o", "e" or "d", an unversioned file
// gives way to the versioned one. "p" (and "c": the roads' files carry no
// checksum) replace only what is missing.
bool InstallsFile(const std::optional<std::string>& existing, const vrintest::FileVersion& version,
                  const std::string& reinstallMode);

// Shared-file counts as Windows Installer keeps them.
std::optional<uint32_t> SharedCount(const std::string& file);
void SetSharedCount(const std::string& file, uint32_t count);

// The machine every road needs: the system's C runtime (version 7), the
// network server's parameters key, the drivers, Program Files and common
// Programs folders.
void PrepareMachine();

}  // namespace vrinroad
