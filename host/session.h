// A running installation session: properties, directories, the package's
// database and the installation log.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/msi_api.h"
#include "host/package.h"

namespace host {

struct LogEntry {
  INSTALLMESSAGE type;
  std::string text;
};

class Session : public HandleObject {
 public:
  // Opens a session on a package (read-only, as the installer does) and gives
  // it a handle. A null package gives a session without a database.
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

  void SetSourcePath(const std::string& directory, const std::string& path) { sourcePaths_[directory] = path; }
  void SetTargetPath(const std::string& directory, const std::string& path) { targetPaths_[directory] = path; }
  std::optional<std::string> SourcePath(const std::string& directory) const;
  std::optional<std::string> TargetPath(const std::string& directory) const;

  // Deferred execution: the session has no active database.
  void SetDeferred(bool deferred) { deferred_ = deferred; }
  bool Deferred() const { return deferred_; }
  const std::shared_ptr<DatabaseConnection>& Database() const { return database_; }

  void AppendLog(INSTALLMESSAGE type, const std::string& text) { log_.push_back(LogEntry{type, text}); }
  const std::vector<LogEntry>& Log() const { return log_; }
  // The texts of the INFO messages, in order.
  std::vector<std::string> InfoLines() const;

 private:
  Session() = default;
  uint32_t handle_ = 0;
  std::shared_ptr<Package> package_;
  std::shared_ptr<DatabaseConnection> database_;
  std::map<std::string, std::string> properties_;
  std::map<std::string, std::string> sourcePaths_;
  std::map<std::string, std::string> targetPaths_;
  bool deferred_ = false;
  std::vector<LogEntry> log_;
};

// Process-wide installer state of the simulated machine.
void SetLastErrorRecord(std::shared_ptr<Record> record);
std::shared_ptr<Record> TakeLastErrorRecord();

// Closes every handle and clears faults and the last error record: a fresh
// installer for the next test.
void ResetInstaller();

}  // namespace host
