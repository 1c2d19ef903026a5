// Computer name, remote machines and installed products, and the calls
// that reach them: GetComputerName, RegConnectRegistry, MsiGetProductInfo.
#include "host/network.h"

#include <cctype>
#include <cstring>

#include "host/faults.h"
#include "host/msi_products.h"
#include "host/win32_api.h"

namespace host {

namespace {

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return upper;
}

}  // namespace

Network& Network::Instance() {
  static Network network;
  return network;
}

void Network::Reset() {
  computerName_ = "VRINHOST";
  machines_.clear();
}

std::string Network::Canonical(const std::string& name) {
  size_t start = name.compare(0, 2, "\\\\") == 0 ? 2 : 0;
  return Upper(name.substr(start));
}

Registry& Network::AddMachine(const std::string& name) {
  std::unique_ptr<Registry>& slot = machines_[Canonical(name)];
  if (!slot) slot = std::make_unique<Registry>();
  return *slot;
}

void Network::RemoveMachine(const std::string& name) { machines_.erase(Canonical(name)); }

Registry* Network::MachineRegistry(const std::string& name) {
  auto it = machines_.find(Canonical(name));
  return it == machines_.end() ? nullptr : it->second.get();
}

InstalledProducts& InstalledProducts::Instance() {
  static InstalledProducts products;
  return products;
}

void InstalledProducts::Set(const std::string& productCode, const std::string& property, const std::string& value) {
  products_[Upper(productCode)][property] = value;
}

void InstalledProducts::Remove(const std::string& productCode) { products_.erase(Upper(productCode)); }

const std::string* InstalledProducts::Property(const std::string& productCode, const std::string& property) const {
  auto product = products_.find(Upper(productCode));
  if (product == products_.end()) return nullptr;
  auto value = product->second.find(property);
  return value == product->second.end() ? nullptr : &value->second;
}

bool InstalledProducts::Installed(const std::string& productCode) const {
  return products_.count(Upper(productCode)) == 1;
}

}  // namespace host

extern "C" {

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (auto error = host::Faults::Instance().Check("GetComputerName")) {
    SetLastError(*error);
    return FALSE;
  }
  if (lpBuffer == nullptr || nSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string& name = host::Network::Instance().ComputerName();
  if (*nSize <= name.size()) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  if (auto error = host::Faults::Instance().Check("RegConnectRegistry", lpMachineName)) {
    return static_cast<LONG>(*error);
  }
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  // Only these two roots are reachable on another machine.
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS) return ERROR_INVALID_HANDLE;
  const char* root = hKey == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS";
  host::Network& network = host::Network::Instance();
  std::string machine = lpMachineName != nullptr ? lpMachineName : "";
  if (machine.compare(0, 2, "\\\\") == 0) machine.erase(0, 2);
  if (machine.empty() || host::Upper(machine) == host::Upper(network.ComputerName())) {
    *phkResult = host::OpenRegistryRoot(host::LocalRegistry(), hKey, root);
    return ERROR_SUCCESS;
  }
  host::Registry* registry = network.MachineRegistry(machine);
  if (registry == nullptr) return ERROR_BAD_NETPATH;
  *phkResult = host::OpenRegistryRoot(*registry, hKey, "\\\\" + host::Upper(machine) + "\\" + root);
  return ERROR_SUCCESS;
}

UINT MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf, LPDWORD pcchValueBuf) {
  if (auto error = host::Faults::Instance().Check("MsiGetProductInfo", szProduct)) return *error;
  // A product code is a GUID in braces, 38 characters.
  if (szProduct == nullptr || std::strlen(szProduct) != 38 || szProduct[0] != '{' || szProduct[37] != '}' ||
      szAttribute == nullptr || (lpValueBuf != nullptr && pcchValueBuf == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  const host::InstalledProducts& products = host::InstalledProducts::Instance();
  if (!products.Installed(szProduct)) return ERROR_UNKNOWN_PRODUCT;
  const std::string* value = products.Property(szProduct, szAttribute);
  if (value == nullptr) return ERROR_UNKNOWN_PROPERTY;
  if (pcchValueBuf == nullptr) return ERROR_SUCCESS;
  DWORD capacity = *pcchValueBuf;
  *pcchValueBuf = static_cast<DWORD>(value->size());
  if (lpValueBuf == nullptr) return ERROR_SUCCESS;
  if (capacity <= value->size()) {
    if (capacity > 0) {
      std::memcpy(lpValueBuf, value->c_str(), capacity - 1);
      lpValueBuf[capacity - 1] = '\0';
    }
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueBuf, value->c_str(), value->size() + 1);
  return ERROR_SUCCESS;
}
}
