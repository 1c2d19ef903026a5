#include "host/registry.h"

#include <algorithm>

#include "host/code_page.h"

namespace host {

namespace {

const struct {
  const char* name;
  const char* shortName;
  HKEY handle;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (size_t i = 0; i < path.size();) {
    // An embedded NUL (a key name read from a .reg file) is one character.
    size_t length = std::max<size_t>(1, CharLength(path.c_str() + i));
    if (length == 1 && path[i] == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.append(path, i, length);
    }
    i += length;
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

}  // namespace

std::shared_ptr<RegKey> RegKey::Subkey(const std::string& name) const {
  auto it = subkeys_.find(FoldCase(name));
  return it != subkeys_.end() ? it->second : nullptr;
}

std::shared_ptr<RegKey> RegKey::AddSubkey(const std::string& name) {
  std::shared_ptr<RegKey>& slot = subkeys_[FoldCase(name)];
  if (!slot) slot = std::make_shared<RegKey>(name);
  return slot;
}

bool RegKey::RemoveSubkey(const std::string& name) {
  auto it = subkeys_.find(FoldCase(name));
  if (it == subkeys_.end()) return false;
  it->second->MarkDeleted();
  subkeys_.erase(it);
  return true;
}

const RegValue* RegKey::Value(const std::string& name) const {
  std::string folded = FoldCase(name);
  for (const RegValue& value : values_) {
    if (FoldCase(value.name) == folded) return &value;
  }
  return nullptr;
}

void RegKey::SetValue(const std::string& name, uint32_t type, std::vector<uint8_t> data) {
  std::string folded = FoldCase(name);
  for (RegValue& value : values_) {
    if (FoldCase(value.name) == folded) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  values_.push_back(RegValue{name, type, std::move(data)});
}

bool RegKey::RemoveValue(const std::string& name) {
  std::string folded = FoldCase(name);
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (FoldCase(it->name) == folded) {
      values_.erase(it);
      return true;
    }
  }
  return false;
}

void RegKey::MarkDeleted() {
  deleted_ = true;
  for (auto& [folded, subkey] : subkeys_) subkey->MarkDeleted();
}

bool SplitRegistryPath(const std::string& path, std::string* root, std::string* rest) {
  size_t slash = path.find('\\');
  std::string first = FoldCase(path.substr(0, slash));
  for (const auto& known : kRoots) {
    if (first == FoldCase(known.name) || first == FoldCase(known.shortName)) {
      *root = known.name;
      *rest = slash == std::string::npos ? "" : path.substr(slash + 1);
      return true;
    }
  }
  return false;
}

Registry::Registry() { Clear(); }

void Registry::Clear() {
  roots_.clear();
  for (const auto& known : kRoots) roots_[known.name] = std::make_shared<RegKey>(known.name);
}

std::shared_ptr<RegKey> Registry::Root(HKEY predefined) const {
  for (const auto& known : kRoots) {
    if (known.handle == predefined) return roots_.at(known.name);
  }
  return nullptr;
}

std::shared_ptr<RegKey> Registry::Find(const std::string& path) const {
  std::string root;
  std::string rest;
  if (!SplitRegistryPath(path, &root, &rest)) return nullptr;
  std::shared_ptr<RegKey> key = roots_.at(root);
  for (const std::string& part : SplitPath(rest)) {
    key = key->Subkey(part);
    if (!key) return nullptr;
  }
  return key;
}

std::shared_ptr<RegKey> Registry::Create(const std::string& path) {
  std::string root;
  std::string rest;
  if (!SplitRegistryPath(path, &root, &rest)) throw std::invalid_argument("unknown registry root in " + path);
  std::shared_ptr<RegKey> key = roots_.at(root);
  for (const std::string& part : SplitPath(rest)) key = key->AddSubkey(part);
  return key;
}

bool Registry::DeleteTree(const std::string& path) {
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() < 2) return false;
  std::string leaf = parts.back();
  parts.pop_back();
  std::string parentPath;
  for (const std::string& part : parts) parentPath += part + "\\";
  std::shared_ptr<RegKey> parent = Find(parentPath);
  return parent && parent->RemoveSubkey(leaf);
}

void Registry::SetString(const std::string& path, const std::string& name, const std::string& value, uint32_t type) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  Create(path)->SetValue(name, type, std::move(data));
}

void Registry::SetDword(const std::string& path, const std::string& name, uint32_t value) {
  std::vector<uint8_t> data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                               static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  Create(path)->SetValue(name, REG_DWORD, std::move(data));
}

void Registry::SetBinary(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> data) {
  Create(path)->SetValue(name, type, std::move(data));
}

std::optional<RegValue> Registry::Value(const std::string& path, const std::string& name) const {
  std::shared_ptr<RegKey> key = Find(path);
  if (!key) return std::nullopt;
  const RegValue* value = key->Value(name);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::optional<std::string> Registry::String(const std::string& path, const std::string& name) const {
  std::optional<RegValue> value = Value(path, name);
  if (!value) return std::nullopt;
  std::string text(value->data.begin(), value->data.end());
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

std::optional<uint32_t> Registry::Dword(const std::string& path, const std::string& name) const {
  std::optional<RegValue> value = Value(path, name);
  if (!value || value->data.size() != 4) return std::nullopt;
  return static_cast<uint32_t>(value->data[0]) | (static_cast<uint32_t>(value->data[1]) << 8) |
         (static_cast<uint32_t>(value->data[2]) << 16) | (static_cast<uint32_t>(value->data[3]) << 24);
}

void Registry::Deny(const std::string& path, uint32_t mask) { Create(path)->SetDeniedAccess(mask); }

Registry& LocalRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace host
