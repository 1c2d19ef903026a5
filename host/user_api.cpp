// The installer's message boxes, windows and posted messages (user32), and
// the network provider router (mpr) of the simulated machine.
#include <cstring>
#include <memory>

#include "host/faults.h"
#include "host/package.h"
#include "host/record.h"
#include "host/session.h"
#include "host/user_interface.h"
#include "host/win32_api.h"

namespace host {

namespace {

// The Message of the package's Error row, as the installer reads it for a
// record without a template.
std::optional<std::string> ErrorRowTemplate(const Session& session, int number) {
  if (session.Database() == nullptr) return std::nullopt;
  int error = 0;
  auto view = ViewObject::Open(session.Database(),
                               "SELECT `Message` FROM `Error` WHERE `Error` = " + std::to_string(number), &error);
  if (view == nullptr || view->Execute(nullptr) != ERROR_SUCCESS) return std::nullopt;
  std::shared_ptr<Record> row;
  if (view->Fetch(&row) != ERROR_SUCCESS) return std::nullopt;
  return row->Text(1);
}

}  // namespace

UserInterface& UserInterface::Instance() {
  static UserInterface instance;
  return instance;
}

void UserInterface::Reset() {
  answers_.clear();
  boxes_.clear();
}

int UserInterface::Show(Session& session, uint32_t type, const Record& record) {
  Record formatted = record;
  if (record.IsNull(0)) {
    if (std::optional<int> number = record.Integer(1)) {
      if (std::optional<std::string> text = ErrorRowTemplate(session, *number)) formatted.SetString(0, *text);
    }
  }
  std::string text = FormatRecord(formatted, &session);
  session.AppendLog(static_cast<INSTALLMESSAGE>(type & 0xFF000000u), text);
  if (session.GetProperty("UILevel") == "2") return 0;
  boxes_.push_back(MessageBoxShown{type, text});
  if (answers_.empty()) return IDOK;
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

Windows& Windows::Instance() {
  static Windows instance;
  return instance;
}

void Windows::Reset() {
  windows_.clear();
  posted_.clear();
}

NetworkProviders& NetworkProviders::Instance() {
  static NetworkProviders instance;
  return instance;
}

void NetworkProviders::Reset() {
  network_ = true;
  providers_.clear();
}

std::optional<NetworkProviders::Provider> NetworkProviders::ByType(DWORD netType) const {
  auto found = providers_.find(netType);
  if (found == providers_.end()) return std::nullopt;
  return found->second;
}

std::optional<NetworkProviders::Provider> NetworkProviders::ByName(const std::string& name) const {
  for (const auto& [type, provider] : providers_) {
    if (provider.name == name) return provider;
  }
  return std::nullopt;
}

}  // namespace host

using host::Faults;

extern "C" {

BOOL IsWindow(HWND hWnd) {
  if (Faults::Instance().Check("IsWindow")) return FALSE;
  return host::Windows::Instance().Exists(hWnd) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (auto error = Faults::Instance().Check("PostMessageA")) {
    SetLastError(*error);
    return FALSE;
  }
  if (!host::Windows::Instance().Exists(hWnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  host::Windows::Instance().Post(host::PostedMessage{hWnd, Msg, wParam, lParam});
  return TRUE;
}

// Windows answers a network type without a provider as it answers a machine
// without networking: ERROR_NO_NETWORK.
DWORD WNetGetProviderNameA(DWORD dwNetType, LPSTR lpProviderName, LPDWORD lpBufferSize) {
  if (auto error = Faults::Instance().Check("WNetGetProviderNameA")) return *error;
  if (lpBufferSize == nullptr || (lpProviderName == nullptr && *lpBufferSize != 0)) return ERROR_INVALID_PARAMETER;
  const host::NetworkProviders& providers = host::NetworkProviders::Instance();
  if (!providers.NetworkSupport()) return ERROR_NO_NETWORK;
  auto provider = providers.ByType(dwNetType);
  if (!provider) return ERROR_NO_NETWORK;
  DWORD needed = static_cast<DWORD>(provider->name.size() + 1);
  if (*lpBufferSize < needed) {
    *lpBufferSize = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpProviderName, provider->name.c_str(), needed);
  return ERROR_SUCCESS;
}

DWORD WNetGetNetworkInformationA(LPCSTR lpProvider, LPNETINFOSTRUCT lpNetInfoStruct) {
  if (auto error = Faults::Instance().Check("WNetGetNetworkInformationA", lpProvider)) return *error;
  if (lpProvider == nullptr || lpNetInfoStruct == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpNetInfoStruct->cbStructure < sizeof(NETINFOSTRUCT)) return ERROR_INVALID_PARAMETER;
  const host::NetworkProviders& providers = host::NetworkProviders::Instance();
  if (!providers.NetworkSupport()) return ERROR_NO_NETWORK;
  auto provider = providers.ByName(lpProvider);
  if (!provider) return ERROR_BAD_PROVIDER;
  lpNetInfoStruct->dwProviderVersion = provider->version;
  lpNetInfoStruct->dwStatus = ERROR_SUCCESS;
  lpNetInfoStruct->dwCharacteristics = 0;
  lpNetInfoStruct->dwHandle = 0;
  // The network type's high word, as the router reports it.
  lpNetInfoStruct->wNetType = static_cast<WORD>(provider->netType >> 16);
  lpNetInfoStruct->dwPrinters = static_cast<DWORD>(-1);
  lpNetInfoStruct->dwDrives = static_cast<DWORD>(-1);
  return ERROR_SUCCESS;
}
}
