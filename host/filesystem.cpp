#include "host/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/code_page.h"
#include "host/registry.h"
#include "host/win32_files.h"

namespace host {

namespace {

constexpr size_t kMaxComponent = 255;
constexpr uint32_t kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Data access rights that take part in sharing (FILE_READ_DATA, FILE_EXECUTE;
// FILE_WRITE_DATA, FILE_APPEND_DATA; DELETE).
constexpr uint32_t kReadAccess = GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | 0x0001 | 0x0020;
constexpr uint32_t kWriteAccess = GENERIC_WRITE | GENERIC_ALL | 0x0002 | 0x0004;
constexpr uint32_t kDeleteAccess = DELETE | GENERIC_ALL;
constexpr const char* kNtPrefix = "\\??\\";

struct ParsedPath {
  char drive = 'C';
  std::vector<std::string> parts;
  bool trailingSeparator = false;
};

bool IsSeparator(const char* p, size_t length) { return length == 1 && (*p == '\\' || *p == '/'); }

// Characters Windows refuses in names; the wildcards only where allowed.
uint32_t CheckComponent(const std::string& part, bool wildcards) {
  for (size_t i = 0; i < part.size();) {
    size_t length = CharLength(part.c_str() + i);
    if (length == 0) return ERROR_INVALID_NAME;
    unsigned char byte = static_cast<unsigned char>(part[i]);
    if (length == 1) {
      if (byte < 0x20 || std::strchr("<>:\"|", byte) != nullptr) return ERROR_INVALID_NAME;
      if ((byte == '*' || byte == '?') && !wildcards) return ERROR_INVALID_NAME;
    }
    i += length;
  }
  return part.size() > kMaxComponent ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

uint32_t ParsePath(const char* path, bool wildcards, ParsedPath* out) {
  *out = ParsedPath();
  if (path == nullptr || path[0] == '\0') return ERROR_PATH_NOT_FOUND;
  if (std::strlen(path) >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  const char* p = path;
  if (std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    out->drive = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
    p += 2;
  } else if ((p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/')) {
    return ERROR_BAD_NETPATH;
  }
  // Drive-relative, rooted and relative paths all start at a drive's root:
  // the current directory is C:\ and every drive's own directory its root.
  std::vector<std::string> raw(1);
  while (*p != '\0') {
    size_t length = CharLength(p);
    if (IsSeparator(p, length)) {
      raw.emplace_back();
    } else {
      raw.back().append(p, length);
    }
    p += length;
  }
  out->trailingSeparator = raw.size() > 1 && raw.back().empty();
  size_t last = raw.size();
  while (last > 0 && raw[last - 1].empty()) --last;
  for (size_t i = 0; i < raw.size(); ++i) {
    const std::string& part = raw[i];
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!out->parts.empty()) out->parts.pop_back();
      continue;
    }
    uint32_t error = CheckComponent(part, wildcards && i + 1 == last);
    if (error != ERROR_SUCCESS) return error;
    out->parts.push_back(part);
  }
  return ERROR_SUCCESS;
}

// The NTFS order of names: compared with letters in upper case.
std::string UpcaseKey(const std::string& name) {
  std::string key = FoldCase(name);
  for (size_t i = 0; i < key.size();) {
    size_t length = CharLength(key.c_str() + i);
    unsigned char byte = static_cast<unsigned char>(key[i]);
    if (length == 1 && byte >= 'a' && byte <= 'z') key[i] = static_cast<char>(byte - 'a' + 'A');
    if (length == 1 && AnsiCodePage() != 932 && byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) {
      key[i] = static_cast<char>(byte - 0x20);
    }
    i += length == 0 ? 1 : length;
  }
  return key;
}

bool HostIsDirectory(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entries of a Linux folder in FindFirstFile's order.
std::vector<std::string> HostEntries(const std::string& hostDirectory) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(hostDirectory.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return UpcaseKey(a) < UpcaseKey(b); });
  return names;
}

// The stored spelling of name in a Linux folder, compared without case.
std::optional<std::string> FindStored(const std::string& hostDirectory, const std::string& name) {
  const std::string folded = FoldCase(name);
  for (const std::string& entry : HostEntries(hostDirectory)) {
    if (FoldCase(entry) == folded) return entry;
  }
  return std::nullopt;
}

// DOS wildcard matching, character by character, without regard to case.
bool MatchFrom(const std::string& pattern, size_t pi, const std::string& name, size_t ni) {
  while (pi < pattern.size()) {
    size_t plength = CharLength(pattern.c_str() + pi);
    if (plength == 1 && pattern[pi] == '*') {
      for (size_t rest = ni; rest <= name.size();) {
        if (MatchFrom(pattern, pi + 1, name, rest)) return true;
        if (rest == name.size()) break;
        rest += std::max<size_t>(1, CharLength(name.c_str() + rest));
      }
      return false;
    }
    if (ni >= name.size()) return false;
    size_t nlength = std::max<size_t>(1, CharLength(name.c_str() + ni));
    if (!(plength == 1 && pattern[pi] == '?') &&
        FoldCase(pattern.substr(pi, plength)) != FoldCase(name.substr(ni, nlength))) {
      return false;
    }
    pi += std::max<size_t>(1, plength);
    ni += nlength;
  }
  return ni == name.size();
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // "*.*" lists every name, with or without an extension.
  if (pattern == "*.*") return true;
  return MatchFrom(pattern, 0, name, 0);
}

bool Denies(uint32_t access, uint32_t share) {
  return ((access & kReadAccess) && !(share & FILE_SHARE_READ)) ||
         ((access & kWriteAccess) && !(share & FILE_SHARE_WRITE)) ||
         ((access & kDeleteAccess) && !(share & FILE_SHARE_DELETE));
}

// Two opens of one file conflict when either asks for what the other does not share.
bool SharingConflict(uint32_t accessA, uint32_t shareA, uint32_t accessB, uint32_t shareB) {
  return Denies(accessA, shareB) || Denies(accessB, shareA);
}

std::string JoinHost(const std::string& directory, const std::string& name) {
  return name.empty() ? directory : directory + "/" + name;
}

// Multi-string bytes to strings; the list ends at its first empty string only
// where a pair has started, since a deletion's target is the empty string.
std::vector<std::string> SplitMultiString(const std::vector<uint8_t>& data) {
  std::vector<std::string> strings;
  std::string current;
  for (uint8_t byte : data) {
    if (byte == 0) {
      strings.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(byte));
    }
  }
  if (!current.empty()) strings.push_back(current);
  // Drop the list terminator: an empty string where a pair would start.
  std::vector<std::string> pairs;
  for (size_t i = 0; i < strings.size(); i += 2) {
    if (strings[i].empty()) break;
    pairs.push_back(strings[i]);
    pairs.push_back(i + 1 < strings.size() ? strings[i + 1] : std::string());
  }
  return pairs;
}

// The key itself or one below it (a folder's content).
bool UnderKey(const std::string& key, const std::string& base) {
  return key == base || key.compare(0, base.size() + 1, base + "\\") == 0;
}

template <typename Value>
void RekeyMap(std::map<std::string, Value>& table, const std::string& fromKey, const std::string& toKey) {
  std::map<std::string, Value> moved;
  for (auto it = table.begin(); it != table.end();) {
    if (UnderKey(it->first, fromKey)) {
      moved[toKey + it->first.substr(fromKey.size())] = it->second;
      it = table.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, value] : moved) table[key] = value;
}

std::string StripNtPrefix(const std::string& path) {
  const size_t prefix = std::strlen(kNtPrefix);
  return path.compare(0, prefix, kNtPrefix) == 0 ? path.substr(prefix) : path;
}

}  // namespace

std::string FileLocation::HostPath() const { return JoinHost(hostParent, storedName); }

std::string FileLocation::WindowsPath() const {
  std::string path(1, drive);
  path += ":\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) path += "\\";
    path += parts[i];
  }
  return path;
}

std::string FileLocation::Key() const { return FoldCase(WindowsPath()); }

FileSystem& FileSystem::Instance() {
  static FileSystem fileSystem;
  return fileSystem;
}

FileSystem::FileSystem() { MakeRoot(); }

FileSystem::~FileSystem() {
  for (auto& [handle, file] : files_) ::close(file.fd);
  RemoveRoot();
}

void FileSystem::MakeRoot() {
  // In the temporary folder the environment names, as mkdtemp's callers do.
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/vrinfs-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create the machine's file system");
  root_ = pattern;
  std::filesystem::create_directories(root_ + "/C/WINDOWS/system32");
}

void FileSystem::RemoveRoot() {
  if (root_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
  root_.clear();
}

void FileSystem::Reset() {
  for (auto& [handle, file] : files_) ::close(file.fd);
  files_.clear();
  finds_.clear();
  attributes_.clear();
  held_.clear();
  heldDirectories_.clear();
  RemoveRoot();
  MakeRoot();
}

uint32_t FileSystem::Locate(const char* path, FileLocation* out, bool wildcards) const {
  ParsedPath parsed;
  uint32_t error = ParsePath(path, wildcards, &parsed);
  if (error != ERROR_SUCCESS) return error;
  FileLocation location;
  location.drive = parsed.drive;
  location.parts = parsed.parts;
  std::string directory = root_ + "/" + std::string(1, parsed.drive);
  if (!HostIsDirectory(directory)) return ERROR_PATH_NOT_FOUND;
  if (parsed.parts.empty()) {
    location.hostParent = directory;
    location.exists = true;
    location.directory = true;
    *out = location;
    return ERROR_SUCCESS;
  }
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    std::optional<std::string> stored = FindStored(directory, parsed.parts[i]);
    if (!stored || !HostIsDirectory(JoinHost(directory, *stored))) return ERROR_PATH_NOT_FOUND;
    directory = JoinHost(directory, *stored);
  }
  location.hostParent = directory;
  std::optional<std::string> stored = FindStored(directory, parsed.parts.back());
  location.storedName = stored ? *stored : parsed.parts.back();
  location.exists = stored.has_value();
  location.directory = location.exists && HostIsDirectory(location.HostPath());
  *out = location;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Attributes(const FileLocation& location) const {
  auto it = attributes_.find(location.Key());
  uint32_t stored = it != attributes_.end() ? it->second : (location.directory ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  if (location.directory) return stored | FILE_ATTRIBUTE_DIRECTORY;
  return stored != 0 ? stored : FILE_ATTRIBUTE_NORMAL;
}

bool FileSystem::ReadOnly(const std::string& key) const {
  auto it = attributes_.find(key);
  return it != attributes_.end() && (it->second & FILE_ATTRIBUTE_READONLY) != 0;
}

uint32_t FileSystem::CheckSharing(const std::string& key, uint32_t access, uint32_t share) const {
  auto held = held_.find(key);
  if (held != held_.end() && SharingConflict(access, share, held->second.access, held->second.share)) {
    return ERROR_SHARING_VIOLATION;
  }
  for (const auto& [handle, file] : files_) {
    if (file.key == key && SharingConflict(access, share, file.access, file.share)) return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

void FileSystem::Forget(const std::string& key) {
  attributes_.erase(key);
  held_.erase(key);
  heldDirectories_.erase(key);
}

void FileSystem::MoveSideEntries(const std::string& fromKey, const std::string& toKey) {
  RekeyMap(attributes_, fromKey, toKey);
  RekeyMap(held_, fromKey, toKey);
  std::set<std::string> moved;
  for (auto it = heldDirectories_.begin(); it != heldDirectories_.end();) {
    if (UnderKey(*it, fromKey)) {
      moved.insert(toKey + it->substr(fromKey.size()));
      it = heldDirectories_.erase(it);
    } else {
      ++it;
    }
  }
  heldDirectories_.insert(moved.begin(), moved.end());
}

uintptr_t FileSystem::NextHandle() {
  uintptr_t handle = nextHandle_;
  nextHandle_ += 4;
  return handle;
}

uint32_t FileSystem::QueryAttributes(const char* path, uint32_t* attributes) const {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  *attributes = Attributes(location);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::ChangeAttributes(const char* path, uint32_t attributes) {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  attributes_[location.Key()] = attributes & kSettableAttributes;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Unlink(const char* path) {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (location.directory) return ERROR_ACCESS_DENIED;
  // DeleteFile opens for DELETE sharing everything: only opens that do not
  // share deletion stop it. Then the read-only attribute refuses it.
  const std::string key = location.Key();
  error = CheckSharing(key, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (error != ERROR_SUCCESS) return error;
  if (ReadOnly(key)) return ERROR_ACCESS_DENIED;
  if (::unlink(location.HostPath().c_str()) != 0) return ERROR_ACCESS_DENIED;
  Forget(key);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::MakeDirectory(const char* path) {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (location.exists) return ERROR_ALREADY_EXISTS;
  if (::mkdir(location.HostPath().c_str(), 0755) != 0) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::RemoveEmptyDirectory(const char* path) {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (!location.directory) return ERROR_DIRECTORY;
  // A drive's root is never removed.
  if (location.IsRoot()) return ERROR_ACCESS_DENIED;
  const std::string key = location.Key();
  if (heldDirectories_.count(key) != 0) return ERROR_SHARING_VIOLATION;
  if (ReadOnly(key)) return ERROR_ACCESS_DENIED;
  if (!HostEntries(location.HostPath()).empty()) return ERROR_DIR_NOT_EMPTY;
  if (::rmdir(location.HostPath().c_str()) != 0) return ERROR_ACCESS_DENIED;
  Forget(key);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::ScheduleAtRestart(const char* source, const char* target, bool replace) {
  // Like Windows, only the path is checked: whether it exists is the
  // restart's business.
  FileLocation from;
  uint32_t error = Locate(source, &from);
  if (error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) return error;
  if (error == ERROR_PATH_NOT_FOUND) {
    ParsedPath parsed;
    error = ParsePath(source, false, &parsed);
    if (error != ERROR_SUCCESS) return error;
    from.drive = parsed.drive;
    from.parts = parsed.parts;
  }
  std::string targetText;
  if (target != nullptr) {
    ParsedPath parsed;
    error = ParsePath(target, false, &parsed);
    if (error != ERROR_SUCCESS) return error;
    FileLocation to;
    to.drive = parsed.drive;
    to.parts = parsed.parts;
    targetText = (replace ? "!" : "") + std::string(kNtPrefix) + to.WindowsPath();
  }
  Registry& registry = LocalRegistry();
  std::shared_ptr<RegKey> key = registry.Find(kSessionManagerKey);
  if (key && (key->DeniedAccess() & KEY_SET_VALUE) != 0) return ERROR_ACCESS_DENIED;
  if (!key) key = registry.Create(kSessionManagerKey);
  std::vector<uint8_t> data;
  if (const RegValue* value = key->Value(kPendingRenamesValue); value != nullptr && value->type == REG_MULTI_SZ) {
    for (const std::string& text : SplitMultiString(value->data)) {
      data.insert(data.end(), text.begin(), text.end());
      data.push_back(0);
    }
  }
  const std::string sourceText = std::string(kNtPrefix) + from.WindowsPath();
  data.insert(data.end(), sourceText.begin(), sourceText.end());
  data.push_back(0);
  data.insert(data.end(), targetText.begin(), targetText.end());
  data.push_back(0);
  data.push_back(0);
  key->SetValue(kPendingRenamesValue, REG_MULTI_SZ, std::move(data));
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Rename(const char* source, const char* target, bool replace) {
  FileLocation from;
  uint32_t error = Locate(source, &from);
  if (error != ERROR_SUCCESS) return error;
  if (!from.exists) return ERROR_FILE_NOT_FOUND;
  if (from.IsRoot()) return ERROR_ACCESS_DENIED;
  FileLocation to;
  error = Locate(target, &to);
  if (error != ERROR_SUCCESS) return error;
  const std::string fromKey = from.Key();
  const std::string toKey = to.Key();
  if (from.directory) {
    if (heldDirectories_.count(fromKey) != 0) return ERROR_SHARING_VIOLATION;
  } else {
    error = CheckSharing(fromKey, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (error != ERROR_SUCCESS) return error;
  }
  if (to.exists && toKey != fromKey) {
    if (!replace || to.directory || from.directory) return ERROR_ALREADY_EXISTS;
    error = Unlink(target);
    if (error != ERROR_SUCCESS) return error;
  }
  if (::rename(from.HostPath().c_str(), JoinHost(to.hostParent, to.parts.back()).c_str()) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  MoveSideEntries(fromKey, toKey);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Open(const char* path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t attributes,
                          uintptr_t* handle, bool* existed) {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (location.IsRoot() || location.directory) return ERROR_ACCESS_DENIED;
  *existed = location.exists;
  const std::string key = location.Key();
  switch (disposition) {
    case CREATE_NEW:
      if (location.exists) return ERROR_FILE_EXISTS;
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      if (!location.exists) return ERROR_FILE_NOT_FOUND;
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (location.exists) {
    error = CheckSharing(key, access, share);
    if (error != ERROR_SUCCESS) return error;
    if (ReadOnly(key) && ((access & kWriteAccess) != 0 || truncate)) return ERROR_ACCESS_DENIED;
  }
  int flags = (access & kWriteAccess) != 0 ? O_RDWR : O_RDONLY;
  if (!location.exists) flags |= O_CREAT;
  if (truncate) flags |= O_TRUNC;
  int fd = ::open(location.HostPath().c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  if (!location.exists) attributes_[key] = (attributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  *handle = NextHandle();
  files_[*handle] = OpenFile{key, location.HostPath(), access, share, fd};
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Read(uintptr_t handle, void* buffer, uint32_t count, uint32_t* read) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  if ((it->second.access & kReadAccess) == 0) return ERROR_ACCESS_DENIED;
  ssize_t result = ::read(it->second.fd, buffer, count);
  if (result < 0) return ERROR_ACCESS_DENIED;
  *read = static_cast<uint32_t>(result);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Write(uintptr_t handle, const void* buffer, uint32_t count, uint32_t* written) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  if ((it->second.access & kWriteAccess) == 0) return ERROR_ACCESS_DENIED;
  ssize_t result = ::write(it->second.fd, buffer, count);
  if (result < 0) return ERROR_ACCESS_DENIED;
  *written = static_cast<uint32_t>(result);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Size(uintptr_t handle, uint64_t* size) const {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  struct stat st;
  if (::fstat(it->second.fd, &st) != 0) return ERROR_INVALID_HANDLE;
  *size = static_cast<uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Close(uintptr_t handle) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  ::close(it->second.fd);
  files_.erase(it);
  return ERROR_SUCCESS;
}

const char* FileSystem::HandleKey(uintptr_t handle) const {
  auto it = files_.find(handle);
  return it != files_.end() ? it->second.key.c_str() : nullptr;
}

bool FileSystem::FillFindData(const FindState& state, const std::string& name, FindEntryData* data) const {
  if (name == "." || name == "..") {
    *data = FindEntryData{name, FILE_ATTRIBUTE_DIRECTORY, 0};
    return true;
  }
  const std::string hostPath = JoinHost(state.directoryHost, name);
  struct stat st;
  if (::stat(hostPath.c_str(), &st) != 0) return false;
  // The side tables are keyed by Windows path: rebuild it from the host path.
  FileLocation location;
  location.directory = S_ISDIR(st.st_mode);
  std::string relative = hostPath.substr(root_.size() + 1);
  location.drive = relative[0];
  size_t start = 2;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) location.parts.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  *data = FindEntryData{name, Attributes(location), location.directory ? 0 : static_cast<uint64_t>(st.st_size)};
  return true;
}

uint32_t FileSystem::FindStart(const char* pattern, uintptr_t* handle, FindEntryData* first) {
  ParsedPath parsed;
  uint32_t error = ParsePath(pattern, true, &parsed);
  if (error != ERROR_SUCCESS) return error;
  // A pattern that ends in a separator, or names a root, lists nothing.
  if (parsed.trailingSeparator || parsed.parts.empty()) return ERROR_FILE_NOT_FOUND;
  const std::string wildcard = parsed.parts.back();
  FileLocation directory;
  std::string directoryPath = std::string(1, parsed.drive) + ":\\";
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) directoryPath += parsed.parts[i] + "\\";
  error = Locate(directoryPath.c_str(), &directory);
  if (error != ERROR_SUCCESS) return error;
  if (!directory.exists || !directory.directory) return ERROR_PATH_NOT_FOUND;
  FindState state;
  state.directoryHost = directory.HostPath();
  std::vector<std::string> candidates;
  // NTFS lists "." and ".." first, except in a drive's root.
  if (!directory.IsRoot()) candidates = {".", ".."};
  for (const std::string& name : HostEntries(state.directoryHost)) candidates.push_back(name);
  for (const std::string& name : candidates) {
    if (WildcardMatch(wildcard, name)) state.names.push_back(name);
  }
  for (; state.next < state.names.size(); ++state.next) {
    if (FillFindData(state, state.names[state.next], first)) break;
  }
  if (state.next == state.names.size()) return ERROR_FILE_NOT_FOUND;
  ++state.next;
  *handle = NextHandle();
  finds_[*handle] = std::move(state);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::FindNext(uintptr_t handle, FindEntryData* next) {
  auto it = finds_.find(handle);
  if (it == finds_.end()) return ERROR_INVALID_HANDLE;
  FindState& state = it->second;
  // Names taken when the listing started; those deleted since are skipped.
  while (state.next < state.names.size()) {
    const std::string& name = state.names[state.next++];
    if (FillFindData(state, name, next)) return ERROR_SUCCESS;
  }
  return ERROR_NO_MORE_FILES;
}

uint32_t FileSystem::FindEnd(uintptr_t handle) {
  return finds_.erase(handle) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

uint32_t FileSystem::ReadWhole(const char* path, uint32_t access, uint32_t share, std::string* content) const {
  FileLocation location;
  uint32_t error = Locate(path, &location);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (location.directory) return ERROR_ACCESS_DENIED;
  error = CheckSharing(location.Key(), access, share);
  if (error != ERROR_SUCCESS) return error;
  int fd = ::open(location.HostPath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  content->clear();
  char buffer[4096];
  ssize_t count;
  while ((count = ::read(fd, buffer, sizeof(buffer))) > 0) content->append(buffer, static_cast<size_t>(count));
  ::close(fd);
  return count < 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

uint32_t FileSystem::WriteWhole(const char* path, uint32_t access, uint32_t share, const std::string& content) {
  uintptr_t handle = 0;
  bool existed = false;
  uint32_t error = Open(path, access, share, CREATE_ALWAYS, 0, &handle, &existed);
  if (error != ERROR_SUCCESS) return error;
  uint32_t written = 0;
  error = Write(handle, content.data(), static_cast<uint32_t>(content.size()), &written);
  Close(handle);
  if (error == ERROR_SUCCESS && written != content.size()) error = ERROR_ACCESS_DENIED;
  return error;
}

// --- Test interface ---

FileLocation FileSystem::LocateForTest(const std::string& path) const {
  FileLocation location;
  uint32_t error = Locate(path.c_str(), &location);
  if (error != ERROR_SUCCESS) {
    throw std::invalid_argument("unusable path " + path + " (error " + std::to_string(error) + ")");
  }
  return location;
}

FileLocation FileSystem::CreateParents(const std::string& path) {
  ParsedPath parsed;
  uint32_t error = ParsePath(path.c_str(), false, &parsed);
  if (error != ERROR_SUCCESS || parsed.parts.empty()) {
    throw std::invalid_argument("unusable path " + path + " (error " + std::to_string(error) + ")");
  }
  std::string directory = root_ + "/" + std::string(1, parsed.drive);
  std::filesystem::create_directories(directory);
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    std::optional<std::string> stored = FindStored(directory, parsed.parts[i]);
    directory = JoinHost(directory, stored ? *stored : parsed.parts[i]);
    if (!stored) std::filesystem::create_directory(directory);
    if (!HostIsDirectory(directory)) throw std::invalid_argument(path + ": a file stands in the way");
  }
  return LocateForTest(path);
}

void FileSystem::AddDirectory(const std::string& path) {
  FileLocation location = CreateParents(path);
  if (location.exists && !location.directory) throw std::invalid_argument(path + " is a file");
  if (!location.exists) std::filesystem::create_directory(location.HostPath());
}

void FileSystem::AddFile(const std::string& path, const std::string& content) {
  FileLocation location = CreateParents(path);
  if (location.directory) throw std::invalid_argument(path + " is a folder");
  int fd = ::open(location.HostPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + location.HostPath());
  bool complete = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ::close(fd);
  if (!complete) throw std::runtime_error("cannot write " + location.HostPath());
}

std::optional<std::string> FileSystem::FileContent(const std::string& path) const {
  std::string content;
  if (ReadWhole(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &content) != 0) {
    return std::nullopt;
  }
  return content;
}

bool FileSystem::Exists(const std::string& path) const {
  FileLocation location;
  return Locate(path.c_str(), &location) == ERROR_SUCCESS && location.exists;
}

bool FileSystem::IsDirectory(const std::string& path) const {
  FileLocation location;
  return Locate(path.c_str(), &location) == ERROR_SUCCESS && location.exists && location.directory;
}

std::string FileSystem::HostPath(const std::string& path) const {
  FileLocation location = LocateForTest(path);
  if (!location.exists) throw std::invalid_argument(path + " does not exist");
  return location.HostPath();
}

std::vector<std::string> FileSystem::List(const std::string& path) const { return HostEntries(HostPath(path)); }

void FileSystem::WriteDrives(const std::string& folder) const {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  for (const auto& drive : fs::directory_iterator(root_)) {
    fs::copy(drive.path(), fs::path(folder) / drive.path().filename(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
}

void FileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  FileLocation location = LocateForTest(path);
  if (!location.exists) throw std::invalid_argument(path + " does not exist");
  uint32_t attributes = Attributes(location) & kSettableAttributes;
  attributes_[location.Key()] =
      readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
}

void FileSystem::HoldOpen(const std::string& path, uint32_t access, uint32_t share) {
  FileLocation location = LocateForTest(path);
  if (!location.exists || location.directory) throw std::invalid_argument(path + " is not a file");
  held_[location.Key()] = Hold{access, share};
}

void FileSystem::HoldDirectory(const std::string& path) {
  FileLocation location = LocateForTest(path);
  if (!location.directory) throw std::invalid_argument(path + " is not a folder");
  heldDirectories_.insert(location.Key());
}

void FileSystem::Release(const std::string& path) {
  const std::string key = LocateForTest(path).Key();
  held_.erase(key);
  heldDirectories_.erase(key);
}

std::vector<std::pair<std::string, std::string>> FileSystem::PendingOperations() const {
  std::vector<std::pair<std::string, std::string>> operations;
  std::optional<RegValue> value = LocalRegistry().Value(kSessionManagerKey, kPendingRenamesValue);
  if (!value || value->type != REG_MULTI_SZ) return operations;
  std::vector<std::string> strings = SplitMultiString(value->data);
  for (size_t i = 0; i + 1 < strings.size(); i += 2) operations.emplace_back(strings[i], strings[i + 1]);
  return operations;
}

void FileSystem::Restart() {
  // Other processes, and what they held, are gone before the session manager
  // works through the list.
  held_.clear();
  heldDirectories_.clear();
  for (const auto& [source, target] : PendingOperations()) {
    const std::string from = StripNtPrefix(source);
    if (target.empty()) {
      FileLocation location;
      if (Locate(from.c_str(), &location) != ERROR_SUCCESS || !location.exists) continue;
      if (location.directory) {
        RemoveEmptyDirectory(from.c_str());
      } else {
        attributes_.erase(location.Key());
        Unlink(from.c_str());
      }
      continue;
    }
    const bool replace = target[0] == '!';
    const std::string to = StripNtPrefix(replace ? target.substr(1) : target);
    Rename(from.c_str(), to.c_str(), replace);
  }
  if (std::shared_ptr<RegKey> key = LocalRegistry().Find(kSessionManagerKey)) key->RemoveValue(kPendingRenamesValue);
}

}  // namespace host
