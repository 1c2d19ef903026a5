#include "tools/road/machine_checks.h"

#include "host/filesystem.h"
#include "host/handles.h"
#include "host/library_heap.h"
#include "host/local_memory.h"
#include "host/registry.h"
#include "host/security.h"
#include "host/services.h"
#include "host/shares.h"
#include "host/shell_folders.h"
#include "host/system.h"

namespace vrinroad {

namespace {

void AddValues(const host::RegKey& key, const std::string& path, std::set<std::string>* items) {
  for (const host::RegValue& value : key.Values()) items->insert("registry: " + path + "\\" + value.name);
  for (const auto& [name, subkey] : key.Subkeys()) AddValues(*subkey, path + "\\" + subkey->Name(), items);
}

}  // namespace

HeldResources Held() {
  return {
      {"a registry key was left open", host::OpenRegistryKeyCount()},
      {"a service handle was left open", host::Services().OpenHandles()},
      {"an installer handle was left open", host::HandleTable::Instance().OpenNonSessionCount()},
      {"a file was left open", host::Files().OpenFileHandles()},
      {"a listing was left open", host::Files().OpenFindHandles()},
      {"an item list was not freed", host::ShellFolders::Instance().LiveBlocks()},
      {"the shell's allocator was kept", host::ShellFolders::Instance().AllocatorReferences()},
      {"a share buffer was not freed", static_cast<long>(host::Shares::Instance().OutstandingBuffers())},
      {"a SID was not freed", static_cast<long>(host::Security::Instance().LiveSids())},
      {"a DLL was left loaded", host::Modules::Instance().LoadedModules()},
      {"the library did not free what it allocated", static_cast<long>(host::LibraryAllocationCount())},
      {"a LocalAlloc block was not freed", static_cast<long>(host::LocalAllocationCount())},
  };
}

std::vector<std::string> LeftBehind(const HeldResources& before, const HeldResources& after) {
  std::vector<std::string> left;
  for (size_t i = 0; i < after.size() && i < before.size(); ++i) {
    if (after[i].second > before[i].second) {
      left.push_back(after[i].first + " (" + std::to_string(after[i].second - before[i].second) + ")");
    }
  }
  return left;
}

std::set<std::string> MachineItems() {
  std::set<std::string> items;
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
    std::shared_ptr<host::RegKey> key = host::LocalRegistry().Root(root);
    if (key) AddValues(*key, key->Name(), &items);
  }
  host::Files().ForEach([&](const host::FileLocation& location, const std::string* content) {
    if (content == nullptr) return;
    std::string item = "file: " + std::string(1, location.drive);
    for (const std::string& part : location.parts) item += "/" + part;
    items.insert(item);
  });
  for (const host::ShareRecord& share : host::Shares::Instance().All()) items.insert("share: " + share.Name());
  return items;
}

std::vector<std::string> LostItems(const std::set<std::string>& start, const std::set<std::string>& baselineEnd,
                                   const std::set<std::string>& faultedEnd) {
  std::vector<std::string> lost;
  for (const std::string& item : start) {
    if (baselineEnd.count(item) != 0 && faultedEnd.count(item) == 0) lost.push_back(item);
  }
  return lost;
}

}  // namespace vrinroad
