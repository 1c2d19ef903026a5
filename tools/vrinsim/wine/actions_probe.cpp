// vrinsim_actions.dll: the custom action through which vrinsim's Wine engine
// plays a "road = actions" step. Sequenced right after CostFinalize, it
// requests the step's feature states, then calls the named exports of
// vrinca.dll in this one session, as the simulated engine calls them, and
// stops the installation there (1602): nothing else of the package runs.
// What it did goes into the verbose log as "VRINSIM ..." lines, without
// brackets, which Wine's installer would format once more:
//   VRINSIM call NAME / VRINSIM result NAME N / VRINSIM missing NAME
//   VRINSIM feature NAME BEFORE AFTER  (requested states, as numbers)
// Properties: VRINSIM_DLL (the DLL's path), VRINSIM_ACTIONS (names separated
// by commas), VRINSIM_FEATURES ("Feature=state;..." requested states).
// windows.h first: msi.h needs its types.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

std::string Property(MSIHANDLE session, const char* name) {
  char empty[1] = "";
  DWORD size = 0;
  if (MsiGetPropertyA(session, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::string value(size + 1, '\0');
  size += 1;
  if (MsiGetPropertyA(session, name, &value[0], &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

void Log(MSIHANDLE session, const std::string& text) {
  MSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringA(record, 0, text.c_str());
  MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    while (!part.empty() && part.front() == ' ') part.erase(0, 1);
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (!part.empty()) parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

std::vector<std::string> Features(MSIHANDLE session) {
  std::vector<std::string> names;
  MSIHANDLE database = MsiGetActiveDatabase(session);
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(database, "SELECT `Feature` FROM `Feature`", &view) == ERROR_SUCCESS &&
      MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      char name[256] = "";
      DWORD size = sizeof(name);
      if (MsiRecordGetStringA(record, 1, name, &size) == ERROR_SUCCESS) names.push_back(name);
      MsiCloseHandle(record);
    }
  }
  if (view != 0) MsiCloseHandle(view);
  MsiCloseHandle(database);
  return names;
}

INSTALLSTATE Requested(MSIHANDLE session, const std::string& feature) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  if (MsiGetFeatureStateA(session, feature.c_str(), &installed, &action) != ERROR_SUCCESS) return INSTALLSTATE_UNKNOWN;
  return action;
}

typedef UINT(__stdcall* Action)(MSIHANDLE);

}  // namespace

extern "C" UINT __stdcall VrinsimCallActions(MSIHANDLE session) {
  for (const std::string& request : Split(Property(session, "VRINSIM_FEATURES"), ';')) {
    const size_t equals = request.find('=');
    if (equals == std::string::npos) continue;
    const UINT set = MsiSetFeatureStateA(session, request.substr(0, equals).c_str(),
                                         static_cast<INSTALLSTATE>(atoi(request.c_str() + equals + 1)));
    if (set != ERROR_SUCCESS) Log(session, "VRINSIM feature refused " + request + " " + std::to_string(set));
  }
  const std::vector<std::string> features = Features(session);
  std::vector<INSTALLSTATE> before;
  for (const std::string& feature : features) before.push_back(Requested(session, feature));

  HMODULE library = LoadLibraryA(Property(session, "VRINSIM_DLL").c_str());
  if (library == nullptr) {
    Log(session, "VRINSIM cannot load the DLL " + std::to_string(GetLastError()));
    return ERROR_INSTALL_FAILURE;
  }
  for (const std::string& name : Split(Property(session, "VRINSIM_ACTIONS"), ',')) {
    Action action = reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(library, name.c_str())));
    if (action == nullptr) {
      Log(session, "VRINSIM missing " + name);
      break;
    }
    Log(session, "VRINSIM call " + name);
    const UINT result = action(session);
    Log(session, "VRINSIM result " + name + " " + std::to_string(result));
    if (result != ERROR_SUCCESS) break;
  }
  for (size_t i = 0; i < features.size(); ++i) {
    const INSTALLSTATE now = Requested(session, features[i]);
    if (now != before[i]) {
      Log(session, "VRINSIM feature " + features[i] + " " + std::to_string(before[i]) + " " + std::to_string(now));
    }
  }
  FreeLibrary(library);
  return ERROR_INSTALL_USEREXIT;
}
