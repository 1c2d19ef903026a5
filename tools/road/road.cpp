#include "tools/road/road.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "host/clock.h"
#include "host/condition.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/message_table.h"
#include "host/pe_image.h"
#include "host/registry.h"
#include "host/services.h"
#include "host/shell_folders.h"
#include "runtime/module.h"
#include "sequencing/orchestrators.h"
#include "tools/road/kit_rows.h"
#include "tools/road/package_sql.h"

namespace vrinroad {

namespace {

const char kServerFeature[] = "ServerFeature";
const char kConsoleFeature[] = "ConsoleFeature";
// The File table's names: Windows Installer installs the long name.
const char kServerFileName[] = "Skdnt.exe";
const char kConsoleFileName[] = "Skdwin.exe";

// "hh:mm:ss" of the machine's clock, as the installer stamps its action lines.
std::string ClockText() {
  uint32_t seconds = host::VirtualClock().Now() / 1000;
  char text[16];
  snprintf(text, sizeof(text), "%02u:%02u:%02u", (seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60);
  return text;
}

// The installer's "Return value" of a custom action's result.
int ReturnValue(UINT result) {
  if (result == ERROR_SUCCESS) return 1;
  if (result == 1602) return 2;  // ERROR_INSTALL_USEREXIT
  return 3;
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "Name ->", "Name -->", "Name->", "Name <- [n]", "Name <- n" or "Name <-" of
// an action (the library's actions are named "Vrin..." or "VRIN...").
bool IsActionTrace(const std::string& text) {
  if (text.rfind("Vrin", 0) != 0 && text.rfind("VRIN", 0) != 0) return false;
  size_t blank = text.find(' ');
  std::string name = text.substr(0, blank);
  if (blank == std::string::npos) return name.size() > 2 && name.compare(name.size() - 2, 2, "->") == 0;
  std::string rest = text.substr(blank);
  if (rest == " ->" || rest == " -->" || rest == " <-") return true;
  if (rest.rfind(" <- ", 0) != 0) return false;
  std::string value = rest.substr(4);
  if (value.size() > 2 && value.front() == '[' && value.back() == ']') value = value.substr(1, value.size() - 2);
  if (!value.empty() && value.front() == '-') value = value.substr(1);
  return IsDigits(value);
}

// Whether another program holds the file open so that it cannot be written.
bool InUse(const std::string& file) {
  uintptr_t handle = 0;
  bool existed = false;
  const uint32_t error =
      host::Files().Open(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         OPEN_EXISTING, 0, &handle, &existed);
  if (error == ERROR_SUCCESS) host::Files().Close(handle);
  return error == ERROR_SHARING_VIOLATION;
}

// The file's count goes down by one; the last client removes the file. True
// when the file goes only at the next restart.
bool RemoveFileAndCount(const std::string& file) {
  std::optional<uint32_t> count = SharedCount(file);
  if (count.value_or(0) > 1) {
    SetSharedCount(file, *count - 1);
    return false;
  }
  if (auto key = host::LocalRegistry().Find(kSharedDllsKey)) key->RemoveValue(file);
  // A file another program holds open goes at the next restart.
  if (host::Files().Exists(file) && host::Files().Unlink(file.c_str()) != ERROR_SUCCESS) {
    host::Files().ScheduleAtRestart(file.c_str(), nullptr, false);
    return true;
  }
  return false;
}

// Windows Installer removes a component's folder that its removal left
// empty (the folder above it stays, as Wine's msiexec leaves it); a folder
// whose file goes at the next restart (deferred) goes then too.
void RemoveFolderIfEmpty(const std::string& folder, bool deferred) {
  if (!host::Files().IsDirectory(folder)) return;
  if (host::Files().List(folder).empty()) {
    host::Files().RemoveEmptyDirectory(folder.c_str());
  } else if (deferred) {
    host::Files().ScheduleAtRestart(folder.c_str(), nullptr, false);
  }
}

// No client counts the key file any more, and it is gone or goes at the next restart.
bool KeyFileGone(const std::string& file, bool deferred) {
  return !SharedCount(file).has_value() && (deferred || !host::Files().Exists(file));
}

// Where the installer registered a component's key file (or folder) when it
// installed it: a removal takes the component from there and counts its
// clients there, whatever the folder properties say now.
std::string InstalledAt(const char* productValue, const std::string& otherwise) {
  std::optional<std::string> registered = host::LocalRegistry().String(kProductKey, productValue);
  return registered && !registered->empty() ? *registered : otherwise;
}

void RemoveProductValue(const char* name) {
  if (auto key = host::LocalRegistry().Find(kProductKey)) key->RemoveValue(name);
}

}  // namespace

std::optional<vrintest::FileVersion> FileVersionOf(const std::string& content) {
  std::optional<host::PeImage> image =
      host::PeImage::Parse(std::vector<uint8_t>(content.begin(), content.end()), nullptr);
  if (!image) return std::nullopt;
  auto resource = image->FindResourceData(host::kResourceTypeVersion, 1);
  std::optional<host::FixedFileInfo> info = resource ? host::ParseVersionResource(*resource) : std::nullopt;
  if (!info) return std::nullopt;
  return vrintest::FileVersion{
      static_cast<uint16_t>(info->fileVersionMS >> 16), static_cast<uint16_t>(info->fileVersionMS & 0xFFFF),
      static_cast<uint16_t>(info->fileVersionLS >> 16), static_cast<uint16_t>(info->fileVersionLS & 0xFFFF)};
}

std::string VersionText(const vrintest::FileVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.build) +
         "." + std::to_string(version.revision);
}

bool InstallsFile(const std::optional<std::string>& existing, const vrintest::FileVersion& version,
                  const std::string& reinstallMode) {
  if (!existing) return true;
  std::string mode;
  for (char c : reinstallMode.empty() ? std::string("omus") : reinstallMode) {
    mode += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  auto has = [&mode](char letter) { return mode.find(letter) != std::string::npos; };
  if (has('a')) return true;
  if (!has('o') && !has('e') && !has('d')) return false;
  std::optional<vrintest::FileVersion> present = FileVersionOf(*existing);
  if (!present) return true;
  auto key = [](const vrintest::FileVersion& v) { return std::make_tuple(v.major, v.minor, v.build, v.revision); };
  return (has('o') && key(*present) < key(version)) || (has('e') && key(*present) <= key(version)) ||
         (has('d') && key(*present) != key(version));
}

RoadOptions RoadOptions::FirstInstallation(bool userInterface) {
  RoadOptions road;
  road.userInterface = userInterface;
  return road;
}

RoadOptions RoadOptions::Removal() {
  RoadOptions road;
  road.installed = true;
  road.server = FeatureRequest::kRemove;
  road.console = FeatureRequest::kRemove;
  return road;
}

RoadOptions RoadOptions::Repair() {
  RoadOptions road;
  road.installed = true;
  road.server = FeatureRequest::kLeave;
  road.console = FeatureRequest::kLeave;
  return road;
}

std::vector<std::string> PackageSql(const PackageOptions& package) {
  std::vector<std::string> sql = package.errorTableSql.empty() ? vrintest::RowMarkersSql() : package.errorTableSql;
  sql.push_back(
      "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
      "PRIMARY KEY `Property`)");
  std::vector<std::pair<std::string, std::string>> properties = {{"ProductLanguage", "1033"},
                                                                 {"PRODUCTS", package.products},
                                                                 {"INSTALLDIR", package.installDir},
                                                                 {"PRODUCTSUBTYPE", package.productSubType},
                                                                 {"ISReleaseFlags", package.releaseFlags}};
  for (const auto& [name, value] : properties) {
    if (value.empty()) continue;
    sql.push_back("INSERT INTO `Property` (`Property`, `Value`) VALUES (" + vrintest::SqlText(name) + ", " +
                  vrintest::SqlText(value) + ")");
  }

  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
  std::vector<std::vector<std::string>> directories = {{"TARGETDIR", "", "SourceDir"},
                                                       {"ProgramFilesFolder", "TARGETDIR", "PFiles"},
                                                       {"VRIN", "ProgramFilesFolder", "LUMICO~1|Lumicor Velmora"},
                                                       {"NTSERVERFOLDER", "VRIN", "Server"}};
  if (package.withConsole) directories.push_back({"GUIFOLDER", "VRIN", "Console"});
  for (const auto& row : directories) {
    if (row[1].empty()) {
      sql.push_back("INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES (" + vrintest::SqlText(row[0]) + ", " +
                    vrintest::SqlText(row[2]) + ")");
    } else {
      sql.push_back("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES (" +
                    vrintest::SqlText(row[0]) + ", " + vrintest::SqlText(row[1]) + ", " + vrintest::SqlText(row[2]) +
                    ")");
    }
  }

  sql.push_back(
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) "
      "LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` "
      "CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)");
  sql.push_back(std::string("INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Directory_`, "
                            "`Attributes`) VALUES ('") +
                kServerFeature + "', 'Server', 1, 1, 'NTSERVERFOLDER', 0)");
  if (package.withConsole) {
    sql.push_back(std::string("INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Directory_`, "
                              "`Attributes`) VALUES ('") +
                  kConsoleFeature + "', 'Console', 3, 1, 'GUIFOLDER', 0)");
  }

  // Attributes 8: the shared-DLL reference count of the key file is kept.
  sql.push_back(
      "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT "
      "NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)");
  sql.push_back(
      std::string("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) "
                  "VALUES ('") +
      kServerComponent + "', '{3A1F0C11-2B4D-4E6F-8A9B-0C1D2E3F4A51}', 'NTSERVERFOLDER', 8, 'skdnt.exe')");
  if (package.withConsole) {
    sql.push_back(
        std::string("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) "
                    "VALUES ('") +
        kConsoleComponent + "', '{4B2A1D22-3C5E-4F70-9BAC-1D2E3F4A5B62}', 'GUIFOLDER', 8, 'skdwin.exe')");
  }

  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('") + kServerFeature +
                "', '" + kServerComponent + "')");
  if (package.withConsole) {
    sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('") +
                  kConsoleFeature + "', '" + kConsoleComponent + "')");
  }

  sql.push_back(
      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
      "NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, "
      "`Sequence` SHORT NOT NULL PRIMARY KEY `File`)");
  sql.push_back(std::string("INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, "
                            "`Language`, `Sequence`) VALUES ('skdnt.exe', '") +
                kServerComponent + "', '" + kServerFileName + "', 4096, '" + VersionText(package.serverVersion) +
                "', '1033', 1)");
  if (package.withConsole) {
    sql.push_back(std::string("INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, "
                              "`Language`, `Sequence`) VALUES ('skdwin.exe', '") +
                  kConsoleComponent + "', '" + kConsoleFileName + "', 4096, '" + VersionText(package.consoleVersion) +
                  "', '1033', 2)");
  }
  return sql;
}

std::optional<uint32_t> SharedCount(const std::string& file) {
  return host::LocalRegistry().Dword(kSharedDllsKey, file);
}

void SetSharedCount(const std::string& file, uint32_t count) {
  host::LocalRegistry().SetDword(kSharedDllsKey, file, count);
}

void PrepareMachine() {
  host::Files().AddFile(kCrtFile, vrintest::VersionedDll({7, 0, 2600, 0}));
  host::Files().AddDirectory("C:\\WINDOWS\\system32\\drivers");
  host::Files().AddDirectory("C:\\Program Files");
  host::Files().AddDirectory(host::ShellFolders::Instance().CommonPrograms());
  host::LocalRegistry().Create(kLanmanParametersKey);
}

void SetSystemFolders(host::Session& session) {
  session.SetProperty("ProgramFilesFolder", "C:\\Program Files\\");
  session.SetProperty("WindowsFolder", std::string(host::kWindowsDirectory) + "\\");
  session.SetProperty("SystemFolder", std::string(host::kSystemDirectory) + "\\");
}

Road::Road(PackageOptions package, RoadOptions road) : package_(std::move(package)), road_(std::move(road)) {
  if (!package_.withConsole && road_.console != FeatureRequest::kLeave) road_.console = FeatureRequest::kLeave;
}

Road::~Road() {
  if (session_) session_->Close();
}

void Road::Start() {
  // Windows Installer loads the library for the custom actions.
  DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
  // What the installer does itself is none of the library's calls.
  host::Faults::Pause pause;
  if (!package_.packagePath.empty()) {
    msi_ = host::Package::Open(package_.packagePath);
  } else {
    msi_ = host::Package::FromSql(package_.sql.empty() ? PackageSql(package_) : package_.sql);
  }
  session_ = host::Session::Open(msi_);
  host::Session& session = *session_;

  SetSystemFolders(session);
  session.SetProperty("UILevel", road_.userInterface ? "5" : "2");
  session.SetProperty("ProductLanguage", road_.productLanguage);
  if (road_.installed) session.SetProperty("Installed", "1");
  if (!road_.startupMode.empty()) session.SetProperty("STARTUPMODE", road_.startupMode);

  std::string remove;
  bool removesAll = true;
  auto request = [&](const char* feature, const char* component, FeatureRequest what) {
    INSTALLSTATE installed =
        what == FeatureRequest::kInstall || what == FeatureRequest::kAbsent ? INSTALLSTATE_ABSENT : INSTALLSTATE_LOCAL;
    INSTALLSTATE action = what == FeatureRequest::kInstall  ? INSTALLSTATE_LOCAL
                          : what == FeatureRequest::kRemove ? INSTALLSTATE_ABSENT
                                                            : INSTALLSTATE_UNKNOWN;
    session.SetFeatureState(feature, installed, action);
    session.SetComponentState(component, installed, action);
    if (what == FeatureRequest::kRemove) {
      remove += (remove.empty() ? "" : ",") + std::string(feature);
    } else if (what != FeatureRequest::kAbsent) {
      removesAll = false;
    }
  };
  request(kServerFeature, kServerComponent, road_.server);
  if (package_.withConsole) request(kConsoleFeature, kConsoleComponent, road_.console);
  if (!remove.empty()) session.SetProperty("REMOVE", removesAll ? "ALL" : remove);

  for (const auto& [name, value] : road_.properties) session.SetProperty(name, value);
  // CostFinalize has given every directory its path.
  session.PublishDirectoryProperties();
  startProperties_ = session.Properties();
}

UINT CallAction(host::Session& session, const std::string& name, UINT(__stdcall* action)(MSIHANDLE)) {
  session.AppendLog(INSTALLMESSAGE_ACTIONSTART, "Action start " + ClockText() + ": " + name + ".");
  UINT result = action(session.Handle());
  session.AppendLog(INSTALLMESSAGE_ACTIONSTART, "Action ended " + ClockText() + ": " + name + ". Return value " +
                                                    std::to_string(ReturnValue(result)) + ".");
  return result;
}

bool Road::Call(const std::string& name, UINT(__stdcall* action)(MSIHANDLE)) {
  UINT result = CallAction(*session_, name, action);
  calls_.push_back(ActionCall{name, result});
  return result == ERROR_SUCCESS;
}

namespace {

using ActionFunction = UINT(__stdcall*)(MSIHANDLE);

struct Orchestrator {
  std::string name;
  ActionFunction action;
  bool console;
  Point point;
  int sequence;
};

ActionFunction OrchestratorFunction(const std::string& name) {
  static const std::pair<const char*, ActionFunction> kExports[] = {
      {"VrinNTMergePostLaunchConditions", VrinNTMergePostLaunchConditions},
      {"VrinNTMergePostInstallInitialize", VrinNTMergePostInstallInitialize},
      {"VrinNTMergePreInstallExecute", VrinNTMergePreInstallExecute},
      {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize},
      {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize},
      {"VrinGUIMergePostInstallInitialize", VrinGUIMergePostInstallInitialize},
      {"VrinGUIMergePreInstallFinalize", VrinGUIMergePreInstallFinalize},
      {"VrinGUIMergePostInstallFinalize", VrinGUIMergePostInstallFinalize}};
  for (const auto& [exportName, action] : kExports) {
    if (name == exportName) return action;
  }
  throw std::logic_error("the kit schedules " + name + ", which is no orchestrator of the library");
}

Point PointOf(const vrinkit::ModuleRow& row) {
  const std::string base = row.baseAction;
  if (base == "LaunchConditions" && row.after) return Point::kAfterLaunchConditions;
  if (base == "InstallInitialize" && row.after) return Point::kAfterInstallInitialize;
  if (base == "InstallExecute" && !row.after) return Point::kBeforeInstallExecute;
  if (base == "InstallFinalize") return row.after ? Point::kAfterInstallFinalize : Point::kBeforeInstallFinalize;
  throw std::logic_error(std::string("the kit places ") + row.action + (row.after ? " after " : " before ") + base +
                         ", where the roads have no point");
}

// The modules' orchestrators as the kit places them, in the order of their
// numbers in the consuming product's sequence.
const std::vector<Orchestrator>& Orchestrators() {
  static const std::vector<Orchestrator> orchestrators = [] {
    std::vector<Orchestrator> list;
    for (const vrinkit::ModuleRow& row : vrinkit::ModuleRows()) {
      list.push_back({row.action, OrchestratorFunction(row.action), row.console, PointOf(row), row.sequence});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Orchestrator& a, const Orchestrator& b) { return a.sequence < b.sequence; });
    return list;
  }();
  return orchestrators;
}

}  // namespace

bool Road::RunPoint(Point point) {
  for (const Orchestrator& orchestrator : Orchestrators()) {
    // A module that is not merged in brings none of its actions.
    if (orchestrator.point != point || (orchestrator.console && !package_.withConsole)) continue;
    if (!Call(orchestrator.name, orchestrator.action)) return false;
  }
  for (const PackageAction& action : package_.actions) {
    if (action.point != point) continue;
    if (!action.condition.empty()) {
      host::Faults::Pause pause;
      if (host::EvaluateCondition(action.condition, session_.get()) != MSICONDITION_TRUE) continue;
    }
    if (!Call(action.name, action.action)) return false;
  }
  return true;
}

UINT Road::Run() {
  if (session_) throw std::logic_error("a road runs once");
  Start();
  const Point points[] = {Point::kAfterLaunchConditions, Point::kAfterInstallInitialize, Point::kBeforeInstallExecute,
                          Point::kBeforeInstallFinalize, Point::kAfterInstallFinalize};
  UINT result = ERROR_SUCCESS;
  for (Point point : points) {
    if (!RunPoint(point)) {
      result = ERROR_INSTALL_FAILURE;
      break;
    }
    if (point == Point::kBeforeInstallExecute) {
      host::Faults::Pause pause;
      if (!TargetPathsFit()) {
        result = ERROR_INSTALL_FAILURE;
        break;
      }
      ApplyStandardActions();
      if (executeHook_) executeHook_(*session_);
    }
  }
  session_->Close();
  return result;
}

// Windows Installer cannot copy a file to a path of MAX_PATH characters or
// more: its file copy fails the installation before anything is installed.
bool Road::TargetPathsFit() {
  const std::pair<FeatureRequest, std::string> files[] = {
      {road_.server, TargetPath("NTSERVERFOLDER") + kServerFileName},
      {package_.withConsole ? road_.console : FeatureRequest::kLeave, TargetPath("GUIFOLDER") + kConsoleFileName}};
  for (const auto& [request, path] : files) {
    if (request == FeatureRequest::kInstall && path.size() >= MAX_PATH) {
      session_->AppendLog(INSTALLMESSAGE_ERROR, "Error 1310. Error writing to file: " + path + ".");
      return false;
    }
  }
  return true;
}

void Road::ApplyStandardActions() {
  // StopServices, RemoveFiles and RemoveRegistryValues come before
  // InstallFiles, WriteRegistryValues and InstallServices.
  if (road_.console == FeatureRequest::kRemove) RemoveConsole();
  if (road_.server == FeatureRequest::kRemove) RemoveServer();
  if (road_.server == FeatureRequest::kInstall) InstallServer();
  if (road_.console == FeatureRequest::kInstall) InstallConsole();
}

void Road::InstallServer() {
  const std::string folder = TargetPath("NTSERVERFOLDER");
  const std::string image = folder + kServerFileName;
  InstallFileAndCount(image, package_.serverVersion);
  InstallFileAndCount(kDriverFile, package_.serverVersion);
  host::Registry& registry = host::LocalRegistry();
  registry.SetString(kProductKey, "ServicePath", image);
  registry.SetString(kProductKey, "ConfigurationPath", folder);
  // InstallServices leaves an entry that exists already as it is.
  if (!host::Services().Exists(kServiceName)) {
    host::Services().Add({kServiceName, "OV Velmora Server", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                          SERVICE_ERROR_NORMAL, "\"" + image + "\"", "", "LocalSystem"});
  }
}

void Road::RemoveServer() {
  // StopServices: the running service lets go of its image.
  if (auto status = host::Services().Status(kServiceName)) {
    if (status->dwCurrentState != SERVICE_STOPPED) host::Services().Stop(kServiceName);
  }
  const std::string image = InstalledAt("ServicePath", TargetPath("NTSERVERFOLDER") + kServerFileName);
  const std::string folder = image.substr(0, image.rfind('\\') + 1);
  const bool deferred = RemoveFileAndCount(image);
  RemoveFileAndCount(kDriverFile);
  if (KeyFileGone(image, deferred)) {
    RemoveProductValue("ServicePath");
    RemoveProductValue("ConfigurationPath");
    RemoveFolderIfEmpty(folder, deferred);
  }
}

void Road::InstallConsole() {
  const std::string folder = TargetPath("GUIFOLDER");
  InstallFileAndCount(folder + kConsoleFileName, package_.consoleVersion);
  host::LocalRegistry().SetString(kProductKey, "GuiPath", folder);
}

void Road::InstallFileAndCount(const std::string& file, const vrintest::FileVersion& version) {
  SetSharedCount(file, SharedCount(file).value_or(0) + 1);
  const std::optional<std::string> existing = host::Files().FileContent(file);
  if (!InstallsFile(existing, version, session_->GetProperty("REINSTALLMODE"))) return;
  // A file another program holds open is replaced at the next restart.
  if (existing && InUse(file)) {
    const std::string waiting = file + ".new";
    host::Files().AddFile(waiting, vrintest::VersionedDll(version));
    host::Files().ScheduleAtRestart(waiting.c_str(), file.c_str(), true);
    return;
  }
  host::Files().AddFile(file, vrintest::VersionedDll(version));
}

void Road::RemoveConsole() {
  const std::string folder = InstalledAt("GuiPath", TargetPath("GUIFOLDER"));
  const std::string image = folder + kConsoleFileName;
  const bool deferred = RemoveFileAndCount(image);
  if (KeyFileGone(image, deferred)) {
    RemoveProductValue("GuiPath");
    RemoveFolderIfEmpty(folder, deferred);
  }
}

std::string Road::TargetPath(const std::string& directory) const {
  return session_ ? session_->TargetPath(directory).value_or("") : std::string();
}

std::vector<std::string> Road::Log() const {
  std::vector<std::string> lines;
  if (!session_) return lines;
  for (const host::LogEntry& entry : session_->Log()) lines.push_back(entry.text);
  return lines;
}

std::vector<std::string> Road::ActionLines() const {
  static const std::string kPrefix = "OV VRIN : ";
  std::vector<std::string> lines;
  if (!session_) return lines;
  for (const host::LogEntry& entry : session_->Log()) {
    if (entry.type == INSTALLMESSAGE_ACTIONSTART) {
      // "Action start 00:01:00: Name." without its time.
      size_t colon = entry.text.find(": ");
      lines.push_back(colon == std::string::npos ? entry.text : entry.text.substr(0, 12) + entry.text.substr(colon));
    } else if (entry.text.rfind(kPrefix, 0) == 0 && IsActionTrace(entry.text.substr(kPrefix.size()))) {
      lines.push_back(entry.text.substr(kPrefix.size()));
    }
  }
  return lines;
}

std::vector<std::string> Road::FailureLines() const {
  std::vector<std::string> lines;
  for (const std::string& line : Log()) {
    if (line.rfind("ERR: ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace vrinroad
