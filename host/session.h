// A running installation session: properties, directories, the package's
// database and the installation log.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/msi_api.h"
#include "host/package.h"

namespace host {

struct LogEntry {
  INSTALLMESSAGE type;
  std::string text;
  // The message's own text before the template shaped it: field 1 of its
  // record (the library's trace line).
  std::string message;
};

// The installed state of a feature or component and the state the running
// installation requests for it (INSTALLSTATE_UNKNOWN: no change).
struct ItemState {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
};

class Session : public HandleObject {
 public:
  // Opens a session on a package (read-only, as the installer does) and gives
  // it a handle; the package's Property table becomes the first properties.
  // A null package gives a session without a database.
  static std::shared_ptr<Session> Open(std::shared_ptr<Package> package);
  HandleKind Kind() const override { return HandleKind::kSession; }

  uint32_t Handle() const { return handle_; }
  // Closes the session's handle; the object lives on for inspection.
  void Close();

  // Properties: names are case-sensitive; an unset property reads as empty,
  // and setting an empty value removes the property.
  std::string GetProperty(const std::string& name) const;
  bool HasProperty(const std::string& name) const { return properties_.count(name) != 0; }
  void SetProperty(const std::string& name, const std::string& value);
  const std::map<std::string, std::string>& Properties() const { return properties_; }

  // Directories. Paths come from the package's Directory table: a root's
  // target is the property of its own name (TARGETDIR), else ROOTDRIVE, else
  // C:\; its source is the property SourceDir (or SOURCEDIR), without which
  // sources are unknown. A child appends its DefaultDir name ("target:source",
  // each "short|long"; "." adds nothing). A property named after a directory
  // overrides its target path. Paths end in a backslash.
  //
  // SetSourcePath and SetTargetPath are overrides that also work for names the
  // package does not have. SetTargetPath moves a directory as MsiSetTargetPath
  // does, but takes the path as given: its children follow it, losing their
  // own overrides, and the package's moved directories get their new paths as
  // properties.
  void SetSourcePath(const std::string& directory, const std::string& path) { sourcePaths_[directory] = path; }
  void SetTargetPath(const std::string& directory, const std::string& path);
  std::optional<std::string> SourcePath(const std::string& directory) const;
  std::optional<std::string> TargetPath(const std::string& directory) const;
  // The target path with short names where DefaultDir has them.
  std::optional<std::string> ShortTargetPath(const std::string& directory) const;
  bool HasDirectory(const std::string& directory) const;
  // MsiSetTargetPath: false for a directory the session does not know. The
  // path is normalised (doubled separators and blanks around names dropped,
  // a final backslash added) and the moved directories' properties are set to
  // their new paths, as Windows Installer does.
  bool MoveDirectory(const std::string& directory, const std::string& path);
  // Sets the property of each of the package's directories to its target
  // path, as CostFinalize does; each property then pins its directory until
  // the directory or a parent is moved.
  void PublishDirectoryProperties();

  // Features and components, from the package's Feature, Component and
  // FeatureComponents tables (states start unknown) or added by a test.
  std::optional<ItemState> FeatureState(const std::string& feature) const;
  // The keys, sorted: what a test walks to set the states costing would.
  std::vector<std::string> Features() const;
  std::vector<std::string> Components() const;
  std::optional<ItemState> ComponentState(const std::string& component) const;
  // Test API: sets both states, adding the feature or component if needed.
  void SetFeatureState(const std::string& feature, INSTALLSTATE installed, INSTALLSTATE action);
  void SetComponentState(const std::string& component, INSTALLSTATE installed, INSTALLSTATE action);
  // MsiSetFeatureState: the feature's requested state, and its child features'
  // (Feature_Parent); each of their components then requests local if any of
  // its features does, else source, else advertised, else absent; local or
  // source as its attributes allow (a local-only component is installed
  // locally even for a feature run from source), and nothing (unknown) when
  // it is in that state already. False for an unknown feature.
  bool RequestFeatureState(const std::string& feature, INSTALLSTATE action);
  // A file's full path ([#file], short names for [!file]) and a component's
  // folder ([$component]): the target when the component is (to be) local,
  // the source when run from source, else nothing.
  std::optional<std::string> FilePath(const std::string& file, bool shortNames) const;
  std::optional<std::string> ComponentPath(const std::string& component) const;

  // The installer process's environment variables; names ignore case.
  void SetEnvironment(const std::string& name, const std::string& value);
  std::string Environment(const std::string& name) const;

  // Run modes that MsiGetMode answers (reboot at end, reboot now, ...).
  void SetMode(MSIRUNMODE mode, bool on);
  bool Mode(MSIRUNMODE mode) const { return modes_.count(mode) != 0; }

  // Deferred execution: the session has no active database.
  void SetDeferred(bool deferred) { deferred_ = deferred; }
  bool Deferred() const { return deferred_; }
  const std::shared_ptr<DatabaseConnection>& Database() const { return database_; }

  void AppendLog(INSTALLMESSAGE type, const std::string& text, const std::string& message = "") {
    log_.push_back(LogEntry{type, text, message});
    if (logObserver_ != nullptr) logObserver_(log_.back());
  }
  // Called with every entry any session appends to its log (null: none).
  static void SetLogObserver(void (*observer)(const LogEntry& entry)) { logObserver_ = observer; }
  const std::vector<LogEntry>& Log() const { return log_; }
  // The texts of the INFO messages, in order.
  std::vector<std::string> InfoLines() const;

 private:
  Session() = default;
  uint32_t handle_ = 0;
  std::shared_ptr<Package> package_;
  std::shared_ptr<DatabaseConnection> database_;
  std::map<std::string, std::string> properties_;
  struct Directory {
    std::string parent;  // empty for a root
    std::string targetShort, targetLong, sourceShort, sourceLong;
  };
  struct Feature {
    std::string parent;
    ItemState state;
  };
  struct Component {
    std::string directory;
    int attributes = 2;  // Attributes & 3: 0 local only, 1 source only, 2 either
    ItemState state;
  };
  struct File {
    std::string component, shortName, longName;
  };

  void LoadPackageTables();
  std::optional<std::string> ResolveTarget(const std::string& directory, bool shortNames, int depth) const;
  std::optional<std::string> ResolveSource(const std::string& directory, int depth) const;
  // The directory and those below it, parents before children.
  std::vector<std::string> Subtree(const std::string& directory) const;

  std::map<std::string, std::string> sourcePaths_;
  std::map<std::string, std::string> targetPaths_;
  std::map<std::string, Directory> directories_;
  std::map<std::string, Feature> features_;
  std::map<std::string, Component> components_;
  std::vector<std::pair<std::string, std::string>> featureComponents_;
  std::map<std::string, File> files_;
  std::map<std::string, std::string> environment_;  // upper-cased name -> value
  std::set<int> modes_;
  bool deferred_ = false;
  std::vector<LogEntry> log_;
  static inline void (*logObserver_)(const LogEntry&) = nullptr;
};

// Process-wide installer state of the simulated machine.
void SetLastErrorRecord(std::shared_ptr<Record> record);
std::shared_ptr<Record> TakeLastErrorRecord();

// Closes every handle and clears faults, the last error record and the
// counters: a fresh installer for the next test.
void ResetInstaller();

// Queries of the Error table since the installer's reset: the trace reads
// one row for each line it writes with a session.
int& ErrorTableQueries();
// Those that asked for one row ("... WHERE `Error` = row"): the trace's
// failure reports read row 1, its warnings row 2.
int ErrorRowQueries(int row);
// Counts a query of the Error table.
void NoteErrorTableQuery(const std::string& query);

}  // namespace host
