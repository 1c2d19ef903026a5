#include "host/session.h"

#include "host/faults.h"

namespace host {

namespace {
std::shared_ptr<Record>& LastErrorRecord() {
  static std::shared_ptr<Record> record;
  return record;
}
}  // namespace

std::shared_ptr<Session> Session::Open(std::shared_ptr<Package> package) {
  std::shared_ptr<Session> session(new Session());
  if (package != nullptr) {
    session->database_ = DatabaseConnection::OpenReadOnly(package->Path());
  }
  session->package_ = std::move(package);
  session->handle_ = HandleTable::Instance().Add(session);
  return session;
}

void Session::Close() {
  if (handle_ != 0) {
    HandleTable::Instance().Close(handle_);
    handle_ = 0;
  }
}

std::string Session::GetProperty(const std::string& name) const {
  auto it = properties_.find(name);
  return it != properties_.end() ? it->second : std::string();
}

void Session::SetProperty(const std::string& name, const std::string& value) {
  if (value.empty()) {
    properties_.erase(name);
  } else {
    properties_[name] = value;
  }
}

std::optional<std::string> Session::SourcePath(const std::string& directory) const {
  auto it = sourcePaths_.find(directory);
  if (it == sourcePaths_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Session::TargetPath(const std::string& directory) const {
  auto it = targetPaths_.find(directory);
  if (it == targetPaths_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Session::InfoLines() const {
  std::vector<std::string> lines;
  for (const LogEntry& entry : log_) {
    if (entry.type == INSTALLMESSAGE_INFO) lines.push_back(entry.text);
  }
  return lines;
}

void SetLastErrorRecord(std::shared_ptr<Record> record) { LastErrorRecord() = std::move(record); }

std::shared_ptr<Record> TakeLastErrorRecord() {
  std::shared_ptr<Record> record = std::move(LastErrorRecord());
  LastErrorRecord().reset();
  return record;
}

void ResetInstaller() {
  HandleTable::Instance().Clear();
  Faults::Instance().Clear();
  LastErrorRecord().reset();
}

}  // namespace host
