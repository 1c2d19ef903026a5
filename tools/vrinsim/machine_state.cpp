#include "tools/vrinsim/machine_state.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "host/filesystem.h"
#include "host/registry.h"
#include "host/security.h"
#include "host/services.h"
#include "host/shares.h"
#include "tools/road/road.h"

namespace vrinsim {

namespace {

// Expandable and multi-strings are exported as UTF-16 bytes; the report
// shows their text as expand:"..." and multi:"...", "..." (forms the .reg
// reader takes back) when it is ASCII and shaped as Windows writes it: each
// string NUL-terminated, a multi-string ended by one more NUL.
std::string Readable(const std::string& value) {
  const bool expand = value.rfind("hex(2):", 0) == 0;
  const bool multi = value.rfind("hex(7):", 0) == 0;
  if (!expand && !multi) return value;
  std::vector<unsigned> bytes;
  std::istringstream digits(value.substr(7));
  for (std::string byte; std::getline(digits, byte, ',');) {
    if (byte.empty() || byte.size() > 2 || byte.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return value;
    }
    bytes.push_back(static_cast<unsigned>(std::stoul(byte, nullptr, 16)));
  }
  if (bytes.size() % 2 != 0) return value;
  std::vector<std::string> strings;
  std::string current;
  bool terminated = false;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    unsigned c = bytes[i] | (bytes[i + 1] << 8);
    if (c >= 0x80) return value;  // not worth decoding here: keep the bytes
    terminated = c == 0;
    if (c != 0) {
      current += static_cast<char>(c);
    } else {
      strings.push_back(current);
      current.clear();
    }
  }
  if (!terminated) return value;
  if (multi) {
    // The last NUL ends the list; an empty string before it is only the empty list.
    if (strings.size() < 2 || !strings.back().empty()) return value;
    strings.pop_back();
    for (size_t i = 0; i < strings.size() && strings.size() > 1; ++i) {
      if (strings[i].empty()) return value;
    }
  } else if (strings.size() != 1) {
    return value;
  }
  std::string text = expand ? "expand:" : "multi:";
  for (size_t i = 0; i < strings.size(); ++i) {
    text += (i == 0 ? "\"" : ", \"");
    for (char c : strings[i]) {
      if (c == '\\' || c == '"') text += '\\';
      text += c;
    }
    text += "\"";
  }
  return text;
}

}  // namespace

std::map<std::string, std::map<std::string, std::string>> RegistryValues(const std::string& regText) {
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::istringstream text(regText);
  std::string key;
  std::string pending;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!pending.empty()) {
      size_t first = line.find_first_not_of(' ');
      line = pending + (first == std::string::npos ? "" : line.substr(first));
      pending.clear();
    }
    if (!line.empty() && line.back() == '\\') {
      pending = line.substr(0, line.size() - 1);
      continue;
    }
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      key = line.substr(1, line.size() - 2);
      keys[key];
      continue;
    }
    if (key.empty() || line.empty()) continue;
    std::string name;
    size_t end;
    if (line[0] == '@') {
      name = "@";
      end = 1;
    } else if (line[0] == '"') {
      // The name ends at the first quote not escaped by a backslash.
      end = 1;
      while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
      name = line.substr(0, end + 1);
      end += 1;
    } else {
      continue;
    }
    if (end < line.size() && line[end] == '=') ++end;
    keys[key][name] = Readable(line.substr(std::min(end, line.size())));
  }
  return keys;
}

namespace {

std::string StateText(uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "stopped";
    case SERVICE_START_PENDING:
      return "start pending";
    case SERVICE_STOP_PENDING:
      return "stop pending";
    case SERVICE_RUNNING:
      return "running";
    default:
      return "state " + std::to_string(state);
  }
}

std::string ServiceConfig(const std::string& key) {
  host::Registry& registry = host::LocalRegistry();
  std::string text;
  for (const char* name : {"Type", "Start", "ErrorControl"}) {
    auto value = registry.Dword(key, name);
    text += std::string(text.empty() ? "" : ", ") + name + " " + (value ? std::to_string(*value) : "-");
  }
  auto image = registry.String(key, "ImagePath");
  return text + ", ImagePath " + (image ? *image : "-");
}

std::map<std::string, ServiceState> Services() {
  std::map<std::string, ServiceState> services;
  auto root = host::LocalRegistry().Find(host::kServicesKey);
  if (!root) return services;
  for (const auto& [name, key] : root->Subkeys()) {
    const std::string& spelled = key->Name();
    if (!host::Services().Exists(spelled)) continue;
    ServiceState state;
    state.config = ServiceConfig(std::string(host::kServicesKey) + "\\" + spelled);
    auto status = host::Services().Status(spelled);
    state.state = status ? StateText(status->dwCurrentState) : "unknown";
    state.markedForDeletion = host::Services().MarkedForDeletion(spelled);
    services[spelled] = state;
  }
  return services;
}

std::map<std::string, std::string> Files() {
  std::map<std::string, std::string> files;
  host::Files().ForEach([&](const host::FileLocation& location, const std::string* content) {
    if (content == nullptr) {
      files[location.WindowsPath() + "\\"] = "";
    } else {
      files[location.WindowsPath()] = *content;
    }
  });
  return files;
}

std::string AccessList(const host::ShareRecord& share) {
  if (!share.security) return "the server's default access";
  if (!share.security->DaclPresent()) return "no access list: everyone";
  auto dacl = share.security->Dacl();
  if (!dacl) return "a null access list: everyone";
  if (dacl->aces.empty()) return "an empty access list: nobody";
  std::string text;
  for (const host::AceView& ace : dacl->aces) {
    auto account = host::Security::Instance().FindAccount(ace.sid);
    char mask[16];
    snprintf(mask, sizeof(mask), "0x%08X", ace.mask);
    text += std::string(text.empty() ? "" : "; ") + (ace.type == 0 ? "allow " : "deny ") +
            (account ? account->name : ace.sid) + " " + mask;
  }
  return text;
}

std::map<std::string, ShareState> Shares() {
  std::map<std::string, ShareState> shares;
  for (const host::ShareRecord& share : host::Shares::Instance().All()) {
    shares[share.Name()] = ShareState{share.Path(), share.Remark(), AccessList(share)};
  }
  return shares;
}

void RegistryChanges(const MachineState& before, const MachineState& after, std::vector<MachineChange>& changes) {
  auto valueChanges = [&](const std::string& key) {
    std::vector<MachineChange> values;
    const auto* old = before.registry.count(key) ? &before.registry.at(key) : nullptr;
    const auto* now = after.registry.count(key) ? &after.registry.at(key) : nullptr;
    if (now != nullptr) {
      for (const auto& [name, value] : *now) {
        if (old == nullptr || !old->count(name)) {
          values.push_back({"registry", "value added", key, name, "", value});
        } else if (old->at(name) != value) {
          values.push_back({"registry", "value changed", key, name, old->at(name), value});
        }
      }
    }
    if (old != nullptr) {
      for (const auto& [name, value] : *old) {
        if (now == nullptr || !now->count(name)) values.push_back({"registry", "value deleted", key, name, value, ""});
      }
    }
    return values;
  };
  std::vector<std::string> keys;
  for (const auto& entry : before.registry) keys.push_back(entry.first);
  for (const auto& entry : after.registry) {
    if (!before.registry.count(entry.first)) keys.push_back(entry.first);
  }
  std::sort(keys.begin(), keys.end());
  for (const std::string& key : keys) {
    bool added = !before.registry.count(key);
    bool deleted = !after.registry.count(key);
    std::vector<MachineChange> values = valueChanges(key);
    if (!added && !deleted && values.empty()) continue;
    // An empty key added or deleted on the way to a deeper one says nothing.
    if (values.empty()) {
      const auto& side = added ? after.registry : before.registry;
      auto next = side.upper_bound(key);
      if (next != side.end() && next->first.rfind(key + "\\", 0) == 0) continue;
    }
    if (added || deleted) changes.push_back({"registry", deleted ? "key deleted" : "key added", key, "", "", ""});
    changes.insert(changes.end(), values.begin(), values.end());
  }
}

void ServiceChanges(const MachineState& before, const MachineState& after, std::vector<MachineChange>& changes) {
  for (const auto& [name, now] : after.services) {
    auto old = before.services.find(name);
    if (old == before.services.end()) {
      changes.push_back({"service", "created", name, "", "", now.config + "; " + now.state});
      continue;
    }
    if (old->second.config != now.config) {
      changes.push_back({"service", "reconfigured", name, "", old->second.config, now.config});
    }
    if (old->second.state != now.state) changes.push_back({"service", "state", name, "", old->second.state, now.state});
    if (!old->second.markedForDeletion && now.markedForDeletion) {
      changes.push_back({"service", "marked for deletion", name, "", "", ""});
    }
  }
  for (const auto& [name, old] : before.services) {
    if (!after.services.count(name)) {
      changes.push_back({"service", "deleted", name, "", old.config + "; " + old.state, ""});
    }
  }
}

// "9.0.12.0" for a file with a version resource, "" for any other.
std::string VersionOf(const std::string& content) {
  std::optional<vrintest::FileVersion> version = vrinroad::FileVersionOf(content);
  return version ? vrinroad::VersionText(*version) : "";
}

void FileChanges(const MachineState& before, const MachineState& after, std::vector<MachineChange>& changes) {
  for (const auto& [path, content] : after.files) {
    auto old = before.files.find(path);
    if (old == before.files.end()) {
      changes.push_back({"file", "added", path, "", "", VersionOf(content)});
    } else if (old->second != content) {
      changes.push_back({"file", "changed", path, "", VersionOf(old->second), VersionOf(content)});
    }
  }
  for (const auto& [path, content] : before.files) {
    if (!after.files.count(path)) changes.push_back({"file", "deleted", path, "", VersionOf(content), ""});
  }
  for (const std::string& path : NewPendingDeletions(before, after)) {
    changes.push_back({"file", "deleted at restart", path, "", "", ""});
  }
}

void ShareChanges(const MachineState& before, const MachineState& after, std::vector<MachineChange>& changes) {
  auto describe = [](const ShareState& share) {
    return share.path + (share.remark.empty() ? "" : " \"" + share.remark + "\"") + ", access: " + share.access;
  };
  for (const auto& [name, now] : after.shares) {
    auto old = before.shares.find(name);
    if (old == before.shares.end()) {
      changes.push_back({"share", "added", name, "", "", describe(now)});
    } else if (old->second.path != now.path || old->second.remark != now.remark || old->second.access != now.access) {
      changes.push_back({"share", "changed", name, "", describe(old->second), describe(now)});
    }
  }
  for (const auto& [name, old] : before.shares) {
    if (!after.shares.count(name)) changes.push_back({"share", "deleted", name, "", describe(old), ""});
  }
}

}  // namespace

std::string ValueName(const std::string& regName) {
  if (regName.size() < 2 || regName.front() != '"' || regName.back() != '"') return regName == "@" ? "" : regName;
  std::string name;
  for (size_t i = 1; i + 1 < regName.size(); ++i) {
    if (regName[i] == '\\' && i + 2 < regName.size()) ++i;
    name += regName[i];
  }
  return name;
}

std::string ChangeLine(const MachineChange& change) {
  const std::string& what = change.what;
  if (change.area == "registry") {
    if (what == "key added") return "[+" + change.key + "]";
    if (what == "key deleted") return "[-" + change.key + "]";
    if (what == "value added") return "+ " + change.name + "=" + change.after;
    if (what == "value changed") return "~ " + change.name + "=" + change.after + "   (was " + change.before + ")";
    return "- " + change.name + "=" + change.before;
  }
  if (change.area == "service") {
    if (what == "created") return "+ " + change.key + " created: " + change.after;
    if (what == "reconfigured") return "~ " + change.key + " reconfigured: " + change.after;
    if (what == "state") return "~ " + change.key + " " + change.before + " -> " + change.after;
    if (what == "marked for deletion") return "! " + change.key + " marked for deletion: it goes at the next restart";
    return "- " + change.key + " deleted";
  }
  if (change.area == "file") {
    auto suffix = [](const std::string& version) { return version.empty() ? "" : " " + version; };
    if (what == "added") return "+ " + change.key + suffix(change.after);
    if (what == "deleted") return "- " + change.key + suffix(change.before);
    if (what == "deleted at restart") return "! " + change.key + " deleted at the next restart";
    if (change.before == change.after) return "~ " + change.key + suffix(change.after) + " (changed)";
    auto shown = [&](const std::string& version) { return version.empty() ? " (unversioned)" : suffix(version); };
    return "~ " + change.key + shown(change.before) + " ->" + shown(change.after);
  }
  const char* sign = what == "added" ? "+ " : what == "changed" ? "~ " : "- ";
  return sign + change.key + " -> " + (what == "deleted" ? change.before : change.after);
}

std::vector<std::string> PendingDeletions() {
  std::vector<std::string> paths;
  for (const auto& [source, target] : host::Files().PendingOperations()) {
    if (target.empty()) paths.push_back(source.rfind("\\??\\", 0) == 0 ? source.substr(4) : source);
  }
  return paths;
}

std::vector<std::string> NewPendingDeletions(const MachineState& before, const MachineState& after) {
  std::vector<std::string> paths;
  for (const std::string& path : after.pendingDeletions) {
    if (std::find(before.pendingDeletions.begin(), before.pendingDeletions.end(), path) ==
        before.pendingDeletions.end()) {
      paths.push_back(path);
    }
  }
  return paths;
}

MachineState CaptureMachine() {
  MachineState state;
  state.registry = RegistryValues(host::LocalRegistry().Export());
  state.services = Services();
  state.files = Files();
  state.pendingDeletions = PendingDeletions();
  state.shares = Shares();
  return state;
}

std::optional<std::string> ScenarioFileLine(const std::string& path, const std::string& content) {
  if (std::optional<vrintest::FileVersion> version = vrinroad::FileVersionOf(content)) {
    return "file " + path + " = version " + vrinroad::VersionText(*version);
  }
  if (content == vrintest::UnversionedDll()) return "file " + path + " = unversioned";
  bool oneLine = !content.empty() && content.front() != ' ' && content.back() != ' ' &&
                 std::all_of(content.begin(), content.end(), [](char c) { return c >= ' ' && c != 0x7F; });
  if (oneLine) return "file " + path + " = text " + content;
  return std::nullopt;
}

std::string MachineText(const std::string& description) {
  std::string text;
  std::istringstream reg(host::LocalRegistry().Export());
  for (std::string line; std::getline(reg, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += line + "\n";
  }
  const MachineState state = CaptureMachine();
  text += "; " + description + "\n";
  text += "; For scenario.txt, with this file as \"machine = FILE.reg\":\n";
  for (const auto& [path, content] : state.files) {
    if (path.back() == '\\') continue;
    text += ";   " +
            ScenarioFileLine(path, content)
                .value_or("(" + path + ": " + std::to_string(content.size()) + " bytes that --drives writes out)") +
            "\n";
  }
  for (const auto& [name, service] : state.services) {
    if (service.state == "running") text += ";   running-service = " + name + "\n";
  }
  for (const auto& [name, share] : state.shares) text += ";   share " + name + " = " + share.path + "\n";
  text += "; Services:\n";
  for (const auto& [name, service] : state.services) {
    text += ";   " + name + ": " + service.state + (service.markedForDeletion ? ", marked for deletion" : "") + "; " +
            service.config + "\n";
  }
  if (!state.shares.empty()) text += "; Shares (a scenario's share has the server's default access):\n";
  for (const auto& [name, share] : state.shares) text += ";   " + name + ": access " + share.access + "\n";
  return text;
}

std::vector<MachineChange> ChangesBetween(const MachineState& before, const MachineState& after) {
  std::vector<MachineChange> changes;
  RegistryChanges(before, after, changes);
  ServiceChanges(before, after, changes);
  FileChanges(before, after, changes);
  ShareChanges(before, after, changes);
  return changes;
}

std::vector<std::string> DescribeChanges(const std::vector<MachineChange>& changes) {
  const std::map<std::string, std::string> headings = {
      {"registry", "Registry:"}, {"service", "Services:"}, {"file", "Files:"}, {"share", "Shares:"}};
  std::vector<std::string> lines;
  std::string area, key;
  for (const MachineChange& change : changes) {
    if (change.area != area) {
      area = change.area;
      key.clear();
      lines.push_back(headings.count(area) ? headings.at(area) : area + ":");
    }
    if (area != "registry") {
      lines.push_back("  " + ChangeLine(change));
      continue;
    }
    const bool ofKey = change.what == "key added" || change.what == "key deleted";
    if (change.key != key) {
      key = change.key;
      lines.push_back("  " + (ofKey ? ChangeLine(change) : "[" + key + "]"));
    }
    if (!ofKey) lines.push_back("    " + ChangeLine(change));
  }
  return lines;
}

}  // namespace vrinsim
