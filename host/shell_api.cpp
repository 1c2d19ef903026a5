// shell32's ShellExecute over the simulated file system and the associations
// a test set up. Nothing is started: the opened document is recorded.
#include <cctype>
#include <cstring>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/shell.h"
#include "host/win32_api.h"
#include "host/win32_files.h"

namespace host {

Shell& Shell::Instance() {
  static Shell shell;
  return shell;
}

void Shell::Reset() {
  associations_.clear();
  launched_.clear();
}

void Shell::Associate(const std::string& extension, const std::string& program, std::vector<std::string> verbs) {
  associations_[FoldCase(extension)] = Association{program, std::move(verbs)};
}

std::optional<Association> Shell::Find(const std::string& extension) const {
  auto it = associations_.find(FoldCase(extension));
  if (it == associations_.end()) return std::nullopt;
  return it->second;
}

}  // namespace host

namespace {

// ShellExecute's results are small numbers posing as module handles.
HINSTANCE Result(uint32_t code) {
  SetLastError(code);
  return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(code));
}

constexpr uint32_t kLaunched = 42;

bool IsAbsolute(const char* path) {
  return (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') || path[0] == '\\' || path[0] == '/';
}

// The extension of the last component, dot included; "" when it has none.
std::string Extension(const std::string& name) {
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size();) {
    size_t length = host::CharLength(name.c_str() + i);
    if (length == 1 && name[i] == '.') dot = i;
    i += length == 0 ? 1 : length;
  }
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool Offers(const std::vector<std::string>& verbs, const std::string& verb) {
  for (const std::string& offered : verbs) {
    if (host::FoldCase(offered) == host::FoldCase(verb)) return true;
  }
  return false;
}

}  // namespace

extern "C" {

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd) {
  (void)hwnd;
  if (auto error = host::Faults::Instance().Check("ShellExecute", lpFile)) return Result(*error);
  if (lpFile == nullptr || lpFile[0] == '\0') return Result(SE_ERR_FNF);
  // A relative name is found in the working directory.
  std::string path = lpFile;
  if (!IsAbsolute(lpFile) && lpDirectory != nullptr && lpDirectory[0] != '\0') {
    path = lpDirectory;
    if (path.back() != '\\' && path.back() != '/') path += "\\";
    path += lpFile;
  }
  host::FileLocation location;
  uint32_t error = host::FileSystem::Instance().Locate(path.c_str(), &location);
  if (error == ERROR_PATH_NOT_FOUND) return Result(SE_ERR_PNF);
  if (error != ERROR_SUCCESS || !location.exists) return Result(SE_ERR_FNF);

  host::Association association;
  const std::string extension = host::FoldCase(Extension(location.storedName));
  if (location.directory) {
    association = host::Association{"explorer.exe", {"open", "explore"}};
  } else if (extension == ".exe" || extension == ".com" || extension == ".bat" || extension == ".cmd") {
    association = host::Association{location.WindowsPath(), {"open", "runas"}};
  } else if (std::optional<host::Association> found = host::Shell::Instance().Find(extension)) {
    association = *found;
  } else {
    return Result(SE_ERR_NOASSOC);
  }
  const std::string verb = lpOperation != nullptr ? lpOperation : "";
  if (association.verbs.empty() || (!verb.empty() && !Offers(association.verbs, verb))) {
    return Result(SE_ERR_NOASSOC);
  }
  host::Shell::Instance().Record(
      host::LaunchedDocument{location.WindowsPath(), verb, lpParameters != nullptr ? lpParameters : "",
                             lpDirectory != nullptr ? lpDirectory : "", association.program, nShowCmd});
  return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(kLaunched));
}
}
