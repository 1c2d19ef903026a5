#include "host/session.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <tuple>

#include "host/faults.h"

namespace host {

namespace {
std::shared_ptr<Record>& LastErrorRecord() {
  static std::shared_ptr<Record> record;
  return record;
}

// Guards path resolution against Directory tables whose parents form a cycle.
constexpr int kMaxDirectoryDepth = 64;

// Every row of a query, or none when the query does not open (a package
// without that table).
std::vector<std::shared_ptr<Record>> Rows(const std::shared_ptr<DatabaseConnection>& database, const std::string& sql) {
  std::vector<std::shared_ptr<Record>> rows;
  int error = 0;
  std::shared_ptr<ViewObject> view = ViewObject::Open(database, sql, &error);
  if (view == nullptr || view->Execute(nullptr) != ERROR_SUCCESS) return rows;
  std::shared_ptr<Record> row;
  while (view->Fetch(&row) == ERROR_SUCCESS) rows.push_back(row);
  return rows;
}

// "short|long" -> (short, long); a name without "|" is both.
std::pair<std::string, std::string> ShortAndLong(const std::string& name) {
  size_t bar = name.find('|');
  if (bar == std::string::npos) return {name, name};
  return {name.substr(0, bar), name.substr(bar + 1)};
}

std::string WithBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + "\\";
}

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// MsiSetTargetPath's clean-up: names split at separators lose surrounding
// blanks, empty names vanish ("C:\\ Program Files \\ " is "C:\Program
// Files\"), a UNC prefix stays, and the path ends in a backslash.
std::string NormalisePath(const std::string& path) {
  std::string out;
  size_t pos = 0;
  if (path.compare(0, 2, "\\\\") == 0) {
    out = "\\\\";
    pos = 2;
  }
  bool first = true;
  while (pos <= path.size()) {
    size_t end = path.find_first_of("\\/", pos);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(pos, end - pos);
    size_t begin = name.find_first_not_of(' ');
    size_t last = name.find_last_not_of(' ');
    name = begin == std::string::npos ? std::string() : name.substr(begin, last - begin + 1);
    if (!name.empty()) {
      if (!first) out += '\\';
      out += name;
      first = false;
    }
    pos = end + 1;
  }
  return WithBackslash(out);
}

bool ToLocal(INSTALLSTATE state) { return state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_DEFAULT; }

}  // namespace

std::shared_ptr<Session> Session::Open(std::shared_ptr<Package> package) {
  std::shared_ptr<Session> session(new Session());
  if (package != nullptr) {
    session->database_ = DatabaseConnection::OpenReadOnly(package->Path());
    session->LoadPackageTables();
  }
  session->package_ = std::move(package);
  session->handle_ = HandleTable::Instance().Add(session);
  return session;
}

void Session::LoadPackageTables() {
  for (const auto& row : Rows(database_, "SELECT `Property`, `Value` FROM `Property`")) {
    SetProperty(row->Text(1), row->Text(2));
  }
  for (const auto& row : Rows(database_, "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`")) {
    Directory directory;
    std::string name = row->Text(1);
    directory.parent = row->Text(2) == name ? std::string() : row->Text(2);
    std::string defaultDir = row->Text(3);
    size_t colon = defaultDir.find(':');
    std::string target = defaultDir.substr(0, colon);
    std::string source = colon == std::string::npos ? target : defaultDir.substr(colon + 1);
    std::tie(directory.targetShort, directory.targetLong) = ShortAndLong(target);
    std::tie(directory.sourceShort, directory.sourceLong) = ShortAndLong(source);
    directories_[name] = directory;
  }
  for (const auto& row : Rows(database_, "SELECT `Feature`, `Feature_Parent` FROM `Feature`")) {
    features_[row->Text(1)].parent = row->Text(2) == row->Text(1) ? std::string() : row->Text(2);
  }
  for (const auto& row : Rows(database_, "SELECT `Component`, `Directory_`, `Attributes` FROM `Component`")) {
    Component& component = components_[row->Text(1)];
    component.directory = row->Text(2);
    component.attributes = row->Integer(3).value_or(0);
  }
  for (const auto& row : Rows(database_, "SELECT `Feature_`, `Component_` FROM `FeatureComponents`")) {
    featureComponents_.emplace_back(row->Text(1), row->Text(2));
  }
  for (const auto& row : Rows(database_, "SELECT `File`, `Component_`, `FileName` FROM `File`")) {
    File file;
    file.component = row->Text(2);
    std::tie(file.shortName, file.longName) = ShortAndLong(row->Text(3));
    files_[row->Text(1)] = file;
  }
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

bool Session::HasDirectory(const std::string& directory) const {
  return directories_.count(directory) != 0 || targetPaths_.count(directory) != 0 || sourcePaths_.count(directory) != 0;
}

std::optional<std::string> Session::ResolveTarget(const std::string& directory, bool shortNames, int depth) const {
  if (depth > kMaxDirectoryDepth) return std::nullopt;
  auto overridden = targetPaths_.find(directory);
  if (overridden != targetPaths_.end()) return overridden->second;
  auto it = directories_.find(directory);
  if (it == directories_.end()) return std::nullopt;
  std::string property = GetProperty(directory);
  if (!property.empty()) return WithBackslash(property);
  const Directory& entry = it->second;
  if (entry.parent.empty()) {
    std::string drive = GetProperty("ROOTDRIVE");
    return drive.empty() ? std::string("C:\\") : WithBackslash(drive);
  }
  std::optional<std::string> parent = ResolveTarget(entry.parent, shortNames, depth + 1);
  if (!parent) return std::nullopt;
  const std::string& name = shortNames ? entry.targetShort : entry.targetLong;
  if (name.empty() || name == ".") return parent;
  return *parent + name + "\\";
}

std::optional<std::string> Session::ResolveSource(const std::string& directory, int depth) const {
  if (depth > kMaxDirectoryDepth) return std::nullopt;
  auto overridden = sourcePaths_.find(directory);
  if (overridden != sourcePaths_.end()) return overridden->second;
  auto it = directories_.find(directory);
  if (it == directories_.end()) return std::nullopt;
  const Directory& entry = it->second;
  if (entry.parent.empty()) {
    std::string root = GetProperty("SourceDir");
    if (root.empty()) root = GetProperty("SOURCEDIR");
    if (root.empty()) return std::nullopt;
    return WithBackslash(root);
  }
  std::optional<std::string> parent = ResolveSource(entry.parent, depth + 1);
  if (!parent) return std::nullopt;
  if (entry.sourceLong.empty() || entry.sourceLong == ".") return parent;
  return *parent + entry.sourceLong + "\\";
}

std::optional<std::string> Session::SourcePath(const std::string& directory) const {
  return ResolveSource(directory, 0);
}

std::optional<std::string> Session::TargetPath(const std::string& directory) const {
  return ResolveTarget(directory, false, 0);
}

std::optional<std::string> Session::ShortTargetPath(const std::string& directory) const {
  return ResolveTarget(directory, true, 0);
}

std::vector<std::string> Session::Subtree(const std::string& directory) const {
  std::vector<std::string> order = {directory};
  std::set<std::string> seen = {directory};
  for (size_t next = 0; next < order.size(); ++next) {
    for (const auto& [name, entry] : directories_) {
      if (entry.parent == order[next] && seen.insert(name).second) order.push_back(name);
    }
  }
  return order;
}

void Session::SetTargetPath(const std::string& directory, const std::string& path) {
  std::vector<std::string> moved = Subtree(directory);
  // Children follow the new parent: whatever pinned them goes, and the
  // properties of the package's directories then carry the new paths.
  for (size_t i = 1; i < moved.size(); ++i) {
    targetPaths_.erase(moved[i]);
    properties_.erase(moved[i]);
  }
  targetPaths_[directory] = path;
  for (const std::string& name : moved) {
    if (directories_.count(name) == 0) continue;
    std::optional<std::string> resolved = TargetPath(name);
    if (resolved) SetProperty(name, *resolved);
  }
}

bool Session::MoveDirectory(const std::string& directory, const std::string& path) {
  if (!HasDirectory(directory)) return false;
  SetTargetPath(directory, NormalisePath(path));
  return true;
}

void Session::PublishDirectoryProperties() {
  std::vector<std::pair<std::string, std::string>> paths;
  for (const auto& [name, entry] : directories_) {
    std::optional<std::string> path = TargetPath(name);
    if (path) paths.emplace_back(name, *path);
  }
  for (const auto& [name, path] : paths) SetProperty(name, path);
}

std::vector<std::string> Session::Features() const {
  std::vector<std::string> names;
  for (const auto& [name, feature] : features_) names.push_back(name);
  return names;
}

std::vector<std::string> Session::Components() const {
  std::vector<std::string> names;
  for (const auto& [name, component] : components_) names.push_back(name);
  return names;
}

std::optional<ItemState> Session::FeatureState(const std::string& feature) const {
  auto it = features_.find(feature);
  if (it == features_.end()) return std::nullopt;
  return it->second.state;
}

std::optional<ItemState> Session::ComponentState(const std::string& component) const {
  auto it = components_.find(component);
  if (it == components_.end()) return std::nullopt;
  return it->second.state;
}

void Session::SetFeatureState(const std::string& feature, INSTALLSTATE installed, INSTALLSTATE action) {
  features_[feature].state = ItemState{installed, action};
}

void Session::SetComponentState(const std::string& component, INSTALLSTATE installed, INSTALLSTATE action) {
  components_[component].state = ItemState{installed, action};
}

bool Session::RequestFeatureState(const std::string& feature, INSTALLSTATE action) {
  if (features_.count(feature) == 0) return false;
  // The feature and the features below it.
  std::vector<std::string> changed = {feature};
  std::set<std::string> seen = {feature};
  for (size_t next = 0; next < changed.size(); ++next) {
    for (const auto& [name, entry] : features_) {
      if (entry.parent == changed[next] && seen.insert(name).second) changed.push_back(name);
    }
  }
  for (const std::string& name : changed) features_[name].state.action = action;
  for (const auto& [owner, component] : featureComponents_) {
    auto target = components_.find(component);
    if (seen.count(owner) == 0 || target == components_.end()) continue;
    bool local = false, source = false, advertised = false, absent = false;
    for (const auto& [other, member] : featureComponents_) {
      auto state = FeatureState(other);
      if (member != component || !state) continue;
      local = local || ToLocal(state->action);
      source = source || state->action == INSTALLSTATE_SOURCE;
      advertised = advertised || state->action == INSTALLSTATE_ADVERTISED;
      absent = absent || state->action == INSTALLSTATE_ABSENT;
    }
    INSTALLSTATE requested = local        ? INSTALLSTATE_LOCAL
                             : source     ? INSTALLSTATE_SOURCE
                             : advertised ? INSTALLSTATE_ADVERTISED
                             : absent     ? INSTALLSTATE_ABSENT
                                          : target->second.state.action;
    if (requested == INSTALLSTATE_LOCAL || requested == INSTALLSTATE_SOURCE) {
      int where = target->second.attributes & 3;
      if (where == 0) requested = INSTALLSTATE_LOCAL;
      if (where == 1) requested = INSTALLSTATE_SOURCE;
    }
    // A component already in the requested state has nothing to do.
    ItemState& state = target->second.state;
    state.action = requested == state.installed ? INSTALLSTATE_UNKNOWN : requested;
  }
  return true;
}

std::optional<std::string> Session::ComponentPath(const std::string& component) const {
  auto it = components_.find(component);
  if (it == components_.end()) return std::nullopt;
  const ItemState& state = it->second.state;
  INSTALLSTATE effective = state.action != INSTALLSTATE_UNKNOWN ? state.action : state.installed;
  if (ToLocal(effective)) return TargetPath(it->second.directory);
  if (effective == INSTALLSTATE_SOURCE) return SourcePath(it->second.directory);
  return std::nullopt;
}

std::optional<std::string> Session::FilePath(const std::string& file, bool shortNames) const {
  auto it = files_.find(file);
  if (it == files_.end()) return std::nullopt;
  auto component = components_.find(it->second.component);
  if (component == components_.end()) return std::nullopt;
  const ItemState& state = component->second.state;
  INSTALLSTATE effective = state.action != INSTALLSTATE_UNKNOWN ? state.action : state.installed;
  std::optional<std::string> folder;
  if (ToLocal(effective)) {
    folder = shortNames ? ShortTargetPath(component->second.directory) : TargetPath(component->second.directory);
  } else if (effective == INSTALLSTATE_SOURCE) {
    folder = SourcePath(component->second.directory);
  }
  if (!folder) return std::nullopt;
  return *folder + (shortNames ? it->second.shortName : it->second.longName);
}

void Session::SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) {
    environment_.erase(Upper(name));
  } else {
    environment_[Upper(name)] = value;
  }
}

std::string Session::Environment(const std::string& name) const {
  auto it = environment_.find(Upper(name));
  return it != environment_.end() ? it->second : std::string();
}

void Session::SetMode(MSIRUNMODE mode, bool on) {
  if (on) {
    modes_.insert(mode);
  } else {
    modes_.erase(mode);
  }
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

int& ErrorTableQueries() {
  static int queries = 0;
  return queries;
}

namespace {

std::map<int, int>& RowQueries() {
  static std::map<int, int> queries;
  return queries;
}

}  // namespace

int ErrorRowQueries(int row) {
  auto it = RowQueries().find(row);
  return it != RowQueries().end() ? it->second : 0;
}

void NoteErrorTableQuery(const std::string& query) {
  ++ErrorTableQueries();
  static const std::string kRow = "WHERE `Error` = ";
  size_t at = query.find(kRow);
  if (at != std::string::npos) ++RowQueries()[std::atoi(query.c_str() + at + kRow.size())];
}

void ResetInstaller() {
  HandleTable::Instance().Clear();
  Faults::Instance().Clear();
  LastErrorRecord().reset();
  ErrorTableQueries() = 0;
  RowQueries().clear();
}

}  // namespace host
