#include "host/filesystem.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "host/code_page.h"
#include "host/registry.h"
#include "host/win32_files.h"

namespace host {

struct FileNode {
  std::string name;  // as created
  bool directory = false;
  std::shared_ptr<std::string> content;                       // a file's bytes, shared with its handles
  std::map<std::string, std::unique_ptr<FileNode>> children;  // a folder's, by stored name
  // The children by folded name, valid while foldedFor is the ANSI code page
  // (folding depends on it); foldsCollide when two names fold alike in it.
  std::map<std::string, FileNode*> folded;
  unsigned foldedFor = 0;
  bool foldsCollide = false;
};

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

// A folder's names in FindFirstFile's order.
std::vector<std::string> ListedNames(const FileNode& folder) {
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(folder.children.size());
  for (const auto& [name, child] : folder.children) keyed.emplace_back(UpcaseKey(name), name);
  // Not std::stable_sort: its buffer comes from the nothrow operator new,
  // which the host counts (and fails) as the library's allocation.
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> names;
  names.reserve(keyed.size());
  for (auto& [key, name] : keyed) names.push_back(std::move(name));
  return names;
}

// Names that fold alike (possible only after a change of code page): the one
// listed first answers, as when the names were searched in listing order.
void Refold(FileNode& folder) {
  folder.folded.clear();
  folder.foldsCollide = false;
  for (const std::string& name : ListedNames(folder)) {
    if (!folder.folded.emplace(FoldCase(name), folder.children[name].get()).second) folder.foldsCollide = true;
  }
  folder.foldedFor = AnsiCodePage();
}

// The child of a folder named name, compared without case.
FileNode* FindChild(FileNode& folder, const std::string& name) {
  if (folder.foldedFor != AnsiCodePage()) Refold(folder);
  auto it = folder.folded.find(FoldCase(name));
  return it == folder.folded.end() ? nullptr : it->second;
}

// Puts a node whose name no child has, compared without case, into a folder.
FileNode* Attach(FileNode& folder, std::unique_ptr<FileNode> node) {
  FileNode* added = node.get();
  folder.children[added->name] = std::move(node);
  if (folder.foldedFor == AnsiCodePage() && !folder.folded.emplace(FoldCase(added->name), added).second) {
    folder.foldedFor = 0;
  }
  return added;
}

FileNode* AddChild(FileNode& folder, const std::string& name, bool directory) {
  auto node = std::make_unique<FileNode>();
  node->name = name;
  node->directory = directory;
  if (!directory) node->content = std::make_shared<std::string>();
  return Attach(folder, std::move(node));
}

std::unique_ptr<FileNode> TakeChild(FileNode& folder, const std::string& name) {
  auto it = folder.children.find(name);
  std::unique_ptr<FileNode> node = std::move(it->second);
  folder.children.erase(it);
  if (folder.foldsCollide) {
    folder.foldedFor = 0;
  } else {
    folder.folded.erase(FoldCase(name));
  }
  return node;
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

void Visit(const FileNode& folder, FileLocation& location,
           const std::function<void(const FileLocation& location, const std::string* content)>& visit) {
  for (const auto& [name, child] : folder.children) {
    location.parts.push_back(name);
    location.storedName = name;
    location.directory = child->directory;
    visit(location, child->directory ? nullptr : child->content.get());
    if (child->directory) Visit(*child, location, visit);
    location.parts.pop_back();
  }
}

std::string StripNtPrefix(const std::string& path) {
  const size_t prefix = std::strlen(kNtPrefix);
  return path.compare(0, prefix, kNtPrefix) == 0 ? path.substr(prefix) : path;
}

}  // namespace

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

FileSystem::FileSystem() { MakeDrives(); }

FileSystem::~FileSystem() = default;

FileNode* FileSystem::Drive(char letter) {
  std::unique_ptr<FileNode>& drive = drives_[letter];
  if (!drive) {
    drive = std::make_unique<FileNode>();
    drive->directory = true;
  }
  return drive.get();
}

void FileSystem::MakeDrives() {
  drives_.clear();
  AddChild(*AddChild(*Drive('C'), "WINDOWS", true), "system32", true);
}

void FileSystem::Reset() {
  files_.clear();
  finds_.clear();
  attributes_.clear();
  held_.clear();
  heldDirectories_.clear();
  MakeDrives();
}

uint32_t FileSystem::Resolve(const char* path, FileLocation* out, FileNode** parent, FileNode** node,
                             bool wildcards) const {
  ParsedPath parsed;
  uint32_t error = ParsePath(path, wildcards, &parsed);
  if (error != ERROR_SUCCESS) return error;
  auto drive = drives_.find(parsed.drive);
  if (drive == drives_.end()) return ERROR_PATH_NOT_FOUND;
  FileNode* folder = nullptr;
  FileNode* found = drive->second.get();
  // Every component but the last must be a folder that exists.
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    if (!found->directory) return ERROR_PATH_NOT_FOUND;
    folder = found;
    found = FindChild(*folder, parsed.parts[i]);
    if (found == nullptr && i + 1 < parsed.parts.size()) return ERROR_PATH_NOT_FOUND;
  }
  FileLocation location;
  location.drive = parsed.drive;
  location.parts = std::move(parsed.parts);
  if (!location.parts.empty()) location.storedName = found != nullptr ? found->name : location.parts.back();
  location.exists = found != nullptr;
  location.directory = found != nullptr && found->directory;
  *out = std::move(location);
  if (parent != nullptr) *parent = folder;
  if (node != nullptr) *node = found;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Locate(const char* path, FileLocation* out, bool wildcards) const {
  return Resolve(path, out, nullptr, nullptr, wildcards);
}

FileNode* FileSystem::Exact(char drive, const std::vector<std::string>& parts) const {
  auto it = drives_.find(drive);
  if (it == drives_.end()) return nullptr;
  FileNode* node = it->second.get();
  for (const std::string& part : parts) {
    if (node == nullptr || !node->directory) return nullptr;
    auto child = node->children.find(part);
    node = child != node->children.end() ? child->second.get() : nullptr;
  }
  return node;
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
  FileNode* parent = nullptr;
  uint32_t error = Resolve(path, &location, &parent, nullptr);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (location.directory) return ERROR_ACCESS_DENIED;
  // DeleteFile opens for DELETE sharing everything: only opens that do not
  // share deletion stop it. Then the read-only attribute refuses it.
  const std::string key = location.Key();
  error = CheckSharing(key, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (error != ERROR_SUCCESS) return error;
  if (ReadOnly(key)) return ERROR_ACCESS_DENIED;
  TakeChild(*parent, location.storedName);
  Forget(key);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::MakeDirectory(const char* path) {
  FileLocation location;
  FileNode* parent = nullptr;
  uint32_t error = Resolve(path, &location, &parent, nullptr);
  if (error != ERROR_SUCCESS) return error;
  if (location.exists) return ERROR_ALREADY_EXISTS;
  AddChild(*parent, location.storedName, true);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::RemoveEmptyDirectory(const char* path) {
  FileLocation location;
  FileNode* parent = nullptr;
  FileNode* node = nullptr;
  uint32_t error = Resolve(path, &location, &parent, &node);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (!location.directory) return ERROR_DIRECTORY;
  // A drive's root is never removed.
  if (location.IsRoot()) return ERROR_ACCESS_DENIED;
  const std::string key = location.Key();
  if (heldDirectories_.count(key) != 0) return ERROR_SHARING_VIOLATION;
  if (ReadOnly(key)) return ERROR_ACCESS_DENIED;
  if (!node->children.empty()) return ERROR_DIR_NOT_EMPTY;
  TakeChild(*parent, location.storedName);
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
  FileNode* fromParent = nullptr;
  uint32_t error = Resolve(source, &from, &fromParent, nullptr);
  if (error != ERROR_SUCCESS) return error;
  if (!from.exists) return ERROR_FILE_NOT_FOUND;
  if (from.IsRoot()) return ERROR_ACCESS_DENIED;
  FileLocation to;
  FileNode* toParent = nullptr;
  error = Resolve(target, &to, &toParent, nullptr);
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
  // A folder cannot move into itself.
  if (from.directory && toKey != fromKey && UnderKey(toKey, fromKey)) return ERROR_ACCESS_DENIED;
  std::unique_ptr<FileNode> moved = TakeChild(*fromParent, from.storedName);
  moved->name = to.parts.back();
  Attach(*toParent, std::move(moved));
  MoveSideEntries(fromKey, toKey);
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Open(const char* path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t attributes,
                          uintptr_t* handle, bool* existed) {
  FileLocation location;
  FileNode* parent = nullptr;
  FileNode* node = nullptr;
  uint32_t error = Resolve(path, &location, &parent, &node);
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
  if (node == nullptr) {
    node = AddChild(*parent, location.storedName, false);
    attributes_[key] = (attributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  } else if (truncate) {
    node->content->clear();
  }
  *handle = NextHandle();
  files_[*handle] = OpenFile{key, node->content, 0, access, share};
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Read(uintptr_t handle, void* buffer, uint32_t count, uint32_t* read) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  if ((it->second.access & kReadAccess) == 0) return ERROR_ACCESS_DENIED;
  OpenFile& file = it->second;
  const std::string& content = *file.content;
  const uint64_t available = file.position < content.size() ? content.size() - file.position : 0;
  const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(count, available));
  if (length > 0) std::memcpy(buffer, content.data() + file.position, length);
  file.position += length;
  *read = length;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Write(uintptr_t handle, const void* buffer, uint32_t count, uint32_t* written) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  if ((it->second.access & kWriteAccess) == 0) return ERROR_ACCESS_DENIED;
  if (count == 0) {
    *written = 0;
    return ERROR_SUCCESS;
  }
  OpenFile& file = it->second;
  std::string& content = *file.content;
  // Past the end (another handle truncated the file) the gap reads as zeros.
  if (content.size() < file.position) content.resize(file.position, '\0');
  content.replace(file.position, std::min<uint64_t>(count, content.size() - file.position),
                  static_cast<const char*>(buffer), count);
  file.position += count;
  *written = count;
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Size(uintptr_t handle, uint64_t* size) const {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
  *size = it->second.content->size();
  return ERROR_SUCCESS;
}

uint32_t FileSystem::Close(uintptr_t handle) {
  auto it = files_.find(handle);
  if (it == files_.end()) return ERROR_INVALID_HANDLE;
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
  FileLocation location;
  location.drive = state.drive;
  location.parts = state.folder;
  location.parts.push_back(name);
  const FileNode* node = Exact(location.drive, location.parts);
  if (node == nullptr) return false;
  location.exists = true;
  location.directory = node->directory;
  *data = FindEntryData{name, Attributes(location), node->directory ? 0 : static_cast<uint64_t>(node->content->size())};
  return true;
}

uint32_t FileSystem::FindStart(const char* pattern, uintptr_t* handle, FindEntryData* first) {
  ParsedPath parsed;
  uint32_t error = ParsePath(pattern, true, &parsed);
  if (error != ERROR_SUCCESS) return error;
  // A pattern that ends in a separator, or names a root, lists nothing.
  if (parsed.trailingSeparator || parsed.parts.empty()) return ERROR_FILE_NOT_FOUND;
  const std::string wildcard = parsed.parts.back();
  FindState state;
  state.drive = parsed.drive;
  auto drive = drives_.find(parsed.drive);
  if (drive == drives_.end()) return ERROR_PATH_NOT_FOUND;
  FileNode* directory = drive->second.get();
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    directory = FindChild(*directory, parsed.parts[i]);
    if (directory == nullptr || !directory->directory) return ERROR_PATH_NOT_FOUND;
    state.folder.push_back(directory->name);
  }
  std::vector<std::string> candidates;
  // NTFS lists "." and ".." first, except in a drive's root.
  if (!state.folder.empty()) candidates = {".", ".."};
  for (std::string& name : ListedNames(*directory)) candidates.push_back(std::move(name));
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
  FileNode* node = nullptr;
  uint32_t error = Resolve(path, &location, nullptr, &node);
  if (error != ERROR_SUCCESS) return error;
  if (!location.exists) return ERROR_FILE_NOT_FOUND;
  if (location.directory) return ERROR_ACCESS_DENIED;
  error = CheckSharing(location.Key(), access, share);
  if (error != ERROR_SUCCESS) return error;
  *content = *node->content;
  return ERROR_SUCCESS;
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

FileLocation FileSystem::LocateForTest(const std::string& path, FileNode** node) const {
  FileLocation location;
  uint32_t error = Resolve(path.c_str(), &location, nullptr, node);
  if (error != ERROR_SUCCESS) {
    throw std::invalid_argument("unusable path " + path + " (error " + std::to_string(error) + ")");
  }
  return location;
}

FileNode* FileSystem::CreateParents(const std::string& path, FileLocation* location, FileNode** node) {
  ParsedPath parsed;
  uint32_t error = ParsePath(path.c_str(), false, &parsed);
  if (error != ERROR_SUCCESS || parsed.parts.empty()) {
    throw std::invalid_argument("unusable path " + path + " (error " + std::to_string(error) + ")");
  }
  FileNode* folder = Drive(parsed.drive);
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    FileNode* child = FindChild(*folder, parsed.parts[i]);
    if (child == nullptr) child = AddChild(*folder, parsed.parts[i], true);
    if (!child->directory) throw std::invalid_argument(path + ": a file stands in the way");
    folder = child;
  }
  Resolve(path.c_str(), location, nullptr, node);
  return folder;
}

void FileSystem::AddDirectory(const std::string& path) {
  FileLocation location;
  FileNode* node = nullptr;
  FileNode* folder = CreateParents(path, &location, &node);
  if (node != nullptr && !node->directory) throw std::invalid_argument(path + " is a file");
  if (node == nullptr) AddChild(*folder, location.storedName, true);
}

void FileSystem::AddFile(const std::string& path, const std::string& content) {
  FileLocation location;
  FileNode* node = nullptr;
  FileNode* folder = CreateParents(path, &location, &node);
  if (node != nullptr && node->directory) throw std::invalid_argument(path + " is a folder");
  if (node == nullptr) node = AddChild(*folder, location.storedName, false);
  *node->content = content;
}

void FileSystem::AddFileIn(const std::string& folder, const std::string& name, const std::string& content) {
  FileNode* directory = nullptr;
  if (!LocateForTest(folder, &directory).directory) throw std::invalid_argument(folder + " is not a folder");
  if (CheckComponent(name, false) != ERROR_SUCCESS) throw std::invalid_argument("unusable name " + name);
  FileNode* node = FindChild(*directory, name);
  if (node != nullptr && node->directory) throw std::invalid_argument(name + " is a folder");
  if (node == nullptr) node = AddChild(*directory, name, false);
  *node->content = content;
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

void FileSystem::ForEach(
    const std::function<void(const FileLocation& location, const std::string* content)>& visit) const {
  for (const auto& [letter, drive] : drives_) {
    FileLocation location;
    location.drive = letter;
    location.exists = true;
    Visit(*drive, location, visit);
  }
}

void FileSystem::WriteDrives(const std::string& folder) const {
  namespace fs = std::filesystem;
  for (const auto& [letter, drive] : drives_) {
    fs::create_directories(fs::path(folder) / std::string(1, letter));
  }
  ForEach([&](const FileLocation& location, const std::string* content) {
    fs::path path = fs::path(folder) / std::string(1, location.drive);
    for (const std::string& part : location.parts) path /= part;
    if (content == nullptr) {
      fs::create_directory(path);
      return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content->data(), static_cast<std::streamsize>(content->size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  });
}

std::vector<std::string> FileSystem::List(const std::string& path) const {
  FileNode* node = nullptr;
  if (!LocateForTest(path, &node).exists) throw std::invalid_argument(path + " does not exist");
  return node->directory ? ListedNames(*node) : std::vector<std::string>();
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
