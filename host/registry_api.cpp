// advapi32's registry calls over the simulated registry.
#include <cstring>
#include <map>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/network.h"
#include "host/registry.h"
#include "host/win32_registry.h"

namespace {

struct OpenKey {
  std::shared_ptr<host::RegKey> key;
  std::string path;
  REGSAM access;
};

std::map<HKEY, OpenKey>& OpenKeys() {
  static std::map<HKEY, OpenKey> keys;
  return keys;
}

uintptr_t g_nextKey = 0x1000;

const char* RootName(HKEY hKey) {
  if (hKey == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (hKey == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (hKey == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (hKey == HKEY_USERS) return "HKEY_USERS";
  return nullptr;
}

// The open key behind a handle (a predefined root opens with all access).
bool Resolve(HKEY hKey, OpenKey* out) {
  if (const char* root = RootName(hKey)) {
    *out = OpenKey{host::LocalRegistry().Root(hKey), root, KEY_ALL_ACCESS};
    return true;
  }
  auto it = OpenKeys().find(hKey);
  if (it == OpenKeys().end()) return false;
  *out = it->second;
  return true;
}

std::vector<std::string> SplitSubkey(const char* subkey) {
  std::vector<std::string> parts;
  if (subkey == nullptr) return parts;
  std::string current;
  for (const char* p = subkey; *p != '\0';) {
    size_t length = host::CharLength(p);
    if (length == 1 && *p == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.append(p, length);
    }
    p += length;
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::string JoinPath(const std::string& base, const char* subkey) {
  std::string path = base;
  for (const std::string& part : SplitSubkey(subkey)) path += "\\" + part;
  return path;
}

HKEY AddKey(std::shared_ptr<host::RegKey> key, const std::string& path, REGSAM access) {
  HKEY handle = reinterpret_cast<HKEY>(g_nextKey);
  g_nextKey += 4;
  OpenKeys()[handle] = OpenKey{std::move(key), path, access};
  return handle;
}

// Copies data with the registry's size contract.
LONG CopyData(const std::vector<uint8_t>& data, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpcbData == nullptr) return lpData == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  DWORD capacity = *lpcbData;
  *lpcbData = static_cast<DWORD>(data.size());
  if (lpData == nullptr) return ERROR_SUCCESS;
  if (capacity < data.size()) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(lpData, data.data(), data.size());
  return ERROR_SUCCESS;
}

// Copies a name into a buffer counted in characters including the NUL.
LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD pcch) {
  if (buffer == nullptr || pcch == nullptr) return ERROR_INVALID_PARAMETER;
  if (*pcch <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *pcch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// A string value's data as the fault rules for over-long text make it,
// keyed by the key's path and the value's name; other data as it is.
std::vector<uint8_t> OutsideText(const char* function, const std::string& path, const host::RegValue& value) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return value.data;
  std::string text(value.data.begin(), value.data.end());
  const size_t nul = text.find('\0');
  const std::string tail = nul != std::string::npos ? text.substr(nul) : "";
  text = host::Faults::Instance().Text(function, path + "\\" + value.name, text.substr(0, nul)) + tail;
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

namespace host {

int OpenRegistryKeyCount() { return static_cast<int>(OpenKeys().size()); }

void CloseAllRegistryKeys() { OpenKeys().clear(); }

// The handle keeps the other machine's root key itself, so every call through
// it and the keys opened below it stay on that machine's registry.
HKEY OpenRegistryRoot(Registry& registry, HKEY root, const std::string& path) {
  return AddKey(registry.Root(root), path, KEY_ALL_ACCESS);
}

}  // namespace host

extern "C" {

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  OpenKey parent;
  if (!Resolve(hKey, &parent)) return ERROR_INVALID_HANDLE;
  std::string path = JoinPath(parent.path, lpSubKey);
  if (auto error = host::Faults::Instance().Check("RegOpenKeyEx", path.c_str())) return static_cast<LONG>(*error);
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if (parent.key->Deleted()) return ERROR_KEY_DELETED;
  std::shared_ptr<host::RegKey> key = parent.key;
  for (const std::string& part : SplitSubkey(lpSubKey)) {
    key = key->Subkey(part);
    if (!key) return ERROR_FILE_NOT_FOUND;
  }
  if (key->DeniedAccess() & samDesired) return ERROR_ACCESS_DENIED;
  *phkResult = AddKey(key, path, samDesired);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  (void)Reserved;
  (void)lpClass;
  (void)dwOptions;
  (void)lpSecurityAttributes;
  OpenKey parent;
  if (!Resolve(hKey, &parent)) return ERROR_INVALID_HANDLE;
  std::string path = JoinPath(parent.path, lpSubKey);
  if (auto error = host::Faults::Instance().Check("RegCreateKeyEx", path.c_str())) return static_cast<LONG>(*error);
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if (parent.key->Deleted()) return ERROR_KEY_DELETED;
  std::shared_ptr<host::RegKey> key = parent.key;
  bool created = false;
  for (const std::string& part : SplitSubkey(lpSubKey)) {
    std::shared_ptr<host::RegKey> next = key->Subkey(part);
    if (!next) {
      if (key->DeniedAccess() & KEY_CREATE_SUB_KEY) return ERROR_ACCESS_DENIED;
      next = key->AddSubkey(part);
      created = true;
    }
    key = next;
  }
  if (key->DeniedAccess() & samDesired) return ERROR_ACCESS_DENIED;
  *phkResult = AddKey(key, path, samDesired);
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  (void)lpReserved;
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegQueryValueEx", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const host::RegValue* value = open.key->Value(lpValueName != nullptr ? lpValueName : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (lpType != nullptr) *lpType = value->type;
  return CopyData(OutsideText("RegQueryValueEx", open.path, *value), lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  (void)Reserved;
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegSetValueEx", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> data(lpData, lpData + cbData);
  open.key->SetValue(lpValueName != nullptr ? lpValueName : "", dwType, std::move(data));
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  (void)lpReserved;
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegEnumKeyEx", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  const auto& subkeys = open.key->Subkeys();
  if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = subkeys.begin();
  std::advance(it, dwIndex);
  LONG result = CopyName(it->second->Name(), lpName, lpcchName);
  if (result != ERROR_SUCCESS) return result;
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  (void)lpReserved;
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegEnumValue", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const auto& values = open.key->Values();
  if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
  const host::RegValue& value = values[dwIndex];
  LONG result = CopyName(value.name, lpValueName, lpcchValueName);
  if (result != ERROR_SUCCESS) return result;
  if (lpType != nullptr) *lpType = value.type;
  return CopyData(OutsideText("RegEnumValue", open.path, value), lpData, lpcbData);
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                      LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  (void)lpReserved;
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegQueryInfoKey", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  DWORD maxSubkey = 0;
  for (const auto& [folded, subkey] : open.key->Subkeys()) {
    maxSubkey = std::max<DWORD>(maxSubkey, static_cast<DWORD>(subkey->Name().size()));
  }
  DWORD maxName = 0;
  DWORD maxData = 0;
  for (const host::RegValue& value : open.key->Values()) {
    maxName = std::max<DWORD>(maxName, static_cast<DWORD>(value.name.size()));
    maxData = std::max<DWORD>(maxData, static_cast<DWORD>(value.data.size()));
  }
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(open.key->Subkeys().size());
  if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = maxSubkey;
  if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
  if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(open.key->Values().size());
  if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = maxName;
  if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = maxData;
  if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  OpenKey open;
  if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
  if (auto error = host::Faults::Instance().Check("RegDeleteValue", open.path.c_str())) {
    return static_cast<LONG>(*error);
  }
  if (open.key->Deleted()) return ERROR_KEY_DELETED;
  if ((open.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return open.key->RemoveValue(lpValueName != nullptr ? lpValueName : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  OpenKey parent;
  if (!Resolve(hKey, &parent)) return ERROR_INVALID_HANDLE;
  std::string path = JoinPath(parent.path, lpSubKey);
  if (auto error = host::Faults::Instance().Check("RegDeleteKey", path.c_str())) return static_cast<LONG>(*error);
  if (parent.key->Deleted()) return ERROR_KEY_DELETED;
  std::vector<std::string> parts = SplitSubkey(lpSubKey);
  if (parts.empty()) return ERROR_ACCESS_DENIED;
  std::shared_ptr<host::RegKey> owner = parent.key;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    owner = owner->Subkey(parts[i]);
    if (!owner) return ERROR_FILE_NOT_FOUND;
  }
  std::shared_ptr<host::RegKey> key = owner->Subkey(parts.back());
  if (!key) return ERROR_FILE_NOT_FOUND;
  // A key that still has subkeys, or that refuses deletion, stays.
  if (!key->Subkeys().empty() || (key->DeniedAccess() & DELETE)) return ERROR_ACCESS_DENIED;
  owner->RemoveSubkey(parts.back());
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (RootName(hKey) != nullptr) return ERROR_SUCCESS;
  return OpenKeys().erase(hKey) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
}
