// What a test scripts about the installer's user interface, the windows of
// the desktop and the network providers, and what it reads back: message
// boxes shown, messages posted.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/win32_mpr.h"
#include "host/win32_user.h"

namespace host {

class Session;
class Record;

struct MessageBoxShown {
  uint32_t type;  // the INSTALLMESSAGE type with its MB_ button and icon bits
  std::string text;
};

// The installer's message boxes (MsiProcessMessage with an error, warning or
// user message). A session whose UILevel property is "2" has no user
// interface: nothing is shown and the installer answers 0 ("no action
// taken"). Otherwise the box is shown and answered with the next scripted
// answer, IDOK when none is left.
class UserInterface {
 public:
  static UserInterface& Instance();
  void Reset();

  void ScriptAnswer(int answer) { answers_.push_back(answer); }
  // Scripted answers no box has taken yet.
  size_t PendingAnswers() const { return answers_.size(); }
  void ClearAnswers() { answers_.clear(); }
  const std::vector<MessageBoxShown>& Boxes() const { return boxes_; }

  // MsiProcessMessage's part for box messages: the text is the record
  // formatted with, when field 0 is null, the Message of the package's Error
  // row that field 1 names.
  int Show(Session& session, uint32_t type, const Record& record);

 private:
  std::deque<int> answers_;
  std::vector<MessageBoxShown> boxes_;
};

struct PostedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Top-level windows, named by handle values a test chooses.
class Windows {
 public:
  static Windows& Instance();
  void Reset();

  void Create(uintptr_t handle) { windows_[handle] = true; }
  void Destroy(uintptr_t handle) { windows_.erase(handle); }
  bool Exists(HWND window) const { return windows_.count(reinterpret_cast<uintptr_t>(window)) != 0; }
  void Post(const PostedMessage& message) { posted_.push_back(message); }
  const std::vector<PostedMessage>& Posted() const { return posted_; }

 private:
  std::map<uintptr_t, bool> windows_;
  std::vector<PostedMessage> posted_;
};

// The network provider router: no network support at all, or the installed
// providers by network type.
class NetworkProviders {
 public:
  static NetworkProviders& Instance();
  void Reset();

  void SetNetworkSupport(bool on) { network_ = on; }
  bool NetworkSupport() const { return network_; }
  void AddProvider(DWORD netType, const std::string& name, DWORD version) {
    providers_[netType] = Provider{netType, name, version};
  }
  struct Provider {
    DWORD netType;
    std::string name;
    DWORD version;
  };
  std::optional<Provider> ByType(DWORD netType) const;
  std::optional<Provider> ByName(const std::string& name) const;

 private:
  bool network_ = true;
  std::map<DWORD, Provider> providers_;
};

}  // namespace host
