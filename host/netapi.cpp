// The simulated NETAPI32.DLL: NetShareGetInfo, NetShareAdd, NetShareDel and
// NetApiBufferFree over the machine's share table, reachable only through
// LoadLibrary and GetProcAddress. Only the local server (a null or empty
// server name) and information level 502 are offered.
#include <cstdlib>
#include <cstring>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/shares.h"
#include "host/system.h"
#include "host/win32_api.h"

namespace host {

namespace {

constexpr const char* kNetApi = "NETAPI32.DLL";
constexpr size_t kSidHeader = 8;

std::u16string Fold(const std::u16string& text) {
  std::u16string folded = text;
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

std::u16string Text(LPCWSTR text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

std::u16string FromAnsi(const std::string& text) {
  std::u16string wide;
  AnsiToUtf16(text, &wide);
  return wide;
}

bool ValidShareName(const std::u16string& name) {
  if (name.empty() || name.size() > NNLEN) return false;
  for (char16_t c : name) {
    if (c < 0x20 || std::u16string(u"\"/\\[]:|<>+;,?*=").find(c) != std::u16string::npos) return false;
  }
  return true;
}

// A local absolute path, "X:\..." and shorter than MAX_PATH.
bool ValidSharePath(const std::u16string& path) {
  if (path.size() < 3 || path.size() >= MAX_PATH) return false;
  const char16_t drive = static_cast<char16_t>(path[0] | 0x20);
  return drive >= u'a' && drive <= u'z' && path[1] == u':' && path[2] == u'\\';
}

std::vector<uint8_t> CopySid(const void* sid) {
  if (sid == nullptr) return {};
  const uint8_t* bytes = static_cast<const uint8_t*>(sid);
  return std::vector<uint8_t>(bytes, bytes + kSidHeader + 4 * size_t{bytes[1]});
}

std::optional<std::vector<uint8_t>> CopyAcl(const void* acl) {
  if (acl == nullptr) return std::nullopt;
  const uint8_t* bytes = static_cast<const uint8_t*>(acl);
  return std::vector<uint8_t>(bytes, bytes + static_cast<const ACL*>(acl)->AclSize);
}

// The parts of a valid descriptor, from pointers (absolute) or offsets
// (self-relative).
StoredSecurityDescriptor CopyDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  StoredSecurityDescriptor stored;
  const auto* header = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
  stored.revision = header->Revision;
  stored.control = header->Control;
  const void *owner, *group, *dacl, *sacl;
  if (header->Control & SE_SELF_RELATIVE) {
    const auto* relative = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    const uint8_t* base = static_cast<const uint8_t*>(descriptor);
    owner = relative->Owner != 0 ? base + relative->Owner : nullptr;
    group = relative->Group != 0 ? base + relative->Group : nullptr;
    dacl = relative->Dacl != 0 ? base + relative->Dacl : nullptr;
    sacl = relative->Sacl != 0 ? base + relative->Sacl : nullptr;
  } else {
    owner = header->Owner;
    group = header->Group;
    dacl = header->Dacl;
    sacl = header->Sacl;
  }
  stored.owner = CopySid(owner);
  stored.group = CopySid(group);
  if (stored.control & SE_DACL_PRESENT) stored.dacl = CopyAcl(dacl);
  if (stored.control & SE_SACL_PRESENT) stored.sacl = CopyAcl(sacl);
  return stored;
}

// The descriptor in self-relative form, as NetShareGetInfo returns it.
std::vector<uint8_t> SelfRelative(const StoredSecurityDescriptor& stored) {
  std::vector<uint8_t> bytes(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
  SECURITY_DESCRIPTOR_RELATIVE header = {};
  header.Revision = stored.revision;
  header.Control = static_cast<WORD>(stored.control | SE_SELF_RELATIVE);
  auto append = [&bytes](const std::vector<uint8_t>& part) -> DWORD {
    if (part.empty()) return 0;
    DWORD offset = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), part.begin(), part.end());
    return offset;
  };
  header.Owner = append(stored.owner);
  header.Group = append(stored.group);
  header.Sacl = stored.sacl ? append(*stored.sacl) : 0;
  header.Dacl = stored.dacl ? append(*stored.dacl) : 0;
  std::memcpy(bytes.data(), &header, sizeof(header));
  return bytes;
}

size_t AlignUp(size_t offset, size_t alignment) { return (offset + alignment - 1) / alignment * alignment; }

}  // namespace

std::optional<AclView> StoredSecurityDescriptor::Dacl() const {
  if (!dacl) return std::nullopt;
  return ParseAcl(dacl->data(), dacl->size());
}

std::string ShareRecord::Name() const { return Utf16ToAnsi(name); }
std::string ShareRecord::Remark() const { return Utf16ToAnsi(remark); }
std::string ShareRecord::Path() const { return Utf16ToAnsi(path); }

ShareRecord ShareRecord::Disk(const std::string& name, const std::string& path, const std::string& remark) {
  ShareRecord share;
  share.name = FromAnsi(name);
  share.path = FromAnsi(path);
  share.remark = FromAnsi(remark);
  share.permissions = ACCESS_READ;
  return share;
}

Shares& Shares::Instance() {
  static Shares shares;
  return shares;
}

void Shares::Reset() {
  shares_.clear();
  for (void* buffer : buffers_) std::free(buffer);
  buffers_.clear();
  badFrees_ = 0;
}

void Shares::Seed(const ShareRecord& share) { shares_[Fold(share.name)] = share; }

const ShareRecord* Shares::Find(const std::string& name) const {
  auto it = shares_.find(Fold(FromAnsi(name)));
  return it == shares_.end() ? nullptr : &it->second;
}

std::vector<ShareRecord> Shares::All() const {
  std::vector<ShareRecord> all;
  for (const auto& [key, share] : shares_) all.push_back(share);
  return all;
}

NET_API_STATUS Shares::Add(const SHARE_INFO_502& info, uint32_t* parameter) {
  auto refuse = [parameter](uint32_t member) {
    if (parameter != nullptr) *parameter = member;
    return static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER);
  };
  ShareRecord share;
  share.name = Text(info.shi502_netname);
  if (!ValidShareName(share.name)) return refuse(SHARE_NETNAME_PARMNUM);
  share.type = info.shi502_type;
  const uint32_t baseType = share.type & ~static_cast<uint32_t>(STYPE_SPECIAL);
  if (baseType != STYPE_DISKTREE && baseType != STYPE_PRINTQ && baseType != STYPE_DEVICE && baseType != STYPE_IPC) {
    return refuse(SHARE_TYPE_PARMNUM);
  }
  share.remark = Text(info.shi502_remark);
  if (share.remark.size() > MAXCOMMENTSZ) return refuse(SHARE_REMARK_PARMNUM);
  share.permissions = info.shi502_permissions;
  share.maxUses = info.shi502_max_uses;
  share.currentUses = 0;  // a new share has no users, whatever the caller says
  share.path = Text(info.shi502_path);
  share.password = Text(info.shi502_passwd);
  if (baseType == STYPE_DISKTREE) {
    if (!ValidSharePath(share.path)) return refuse(SHARE_PATH_PARMNUM);
  }
  if (info.shi502_security_descriptor != nullptr) {
    if (!IsValidSecurityDescriptor(info.shi502_security_descriptor)) return refuse(SHARE_FILE_SD_PARMNUM);
    share.security = CopyDescriptor(info.shi502_security_descriptor);
  }
  if (baseType == STYPE_DISKTREE) {
    FileLocation location;
    const std::string path = Utf16ToAnsi(share.path);
    if (FileSystem::Instance().Locate(path.c_str(), &location) != ERROR_SUCCESS || !location.exists ||
        !location.directory) {
      return NERR_UnknownDevDir;
    }
  }
  const std::u16string key = Fold(share.name);
  if (shares_.count(key) != 0) return NERR_DuplicateShare;
  shares_[key] = std::move(share);
  return NERR_Success;
}

NET_API_STATUS Shares::GetInfo(const std::u16string& name, LPBYTE* buffer) {
  auto it = shares_.find(Fold(name));
  if (it == shares_.end()) return NERR_NetNameNotFound;
  const ShareRecord& share = it->second;
  const std::vector<uint8_t> descriptor = share.security ? SelfRelative(*share.security) : std::vector<uint8_t>();
  const size_t descriptorOffset = AlignUp(sizeof(SHARE_INFO_502), sizeof(void*));
  size_t textOffset = AlignUp(descriptorOffset + descriptor.size(), sizeof(char16_t));
  const std::u16string* texts[] = {&share.name, &share.remark, &share.path, &share.password};
  size_t size = textOffset;
  for (const std::u16string* text : texts) size += (text->size() + 1) * sizeof(char16_t);
  uint8_t* block = static_cast<uint8_t*>(std::calloc(1, size));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  buffers_.insert(block);

  LMSTR copies[4];
  for (int i = 0; i < 4; ++i) {
    copies[i] = reinterpret_cast<LMSTR>(block + textOffset);
    std::memcpy(copies[i], texts[i]->c_str(), (texts[i]->size() + 1) * sizeof(char16_t));
    textOffset += (texts[i]->size() + 1) * sizeof(char16_t);
  }
  SHARE_INFO_502 info = {};
  info.shi502_netname = copies[0];
  info.shi502_type = share.type;
  info.shi502_remark = copies[1];
  info.shi502_permissions = share.permissions;
  info.shi502_max_uses = share.maxUses;
  info.shi502_current_uses = share.currentUses;
  info.shi502_path = copies[2];
  info.shi502_passwd = share.password.empty() ? nullptr : copies[3];
  if (!descriptor.empty()) {
    std::memcpy(block + descriptorOffset, descriptor.data(), descriptor.size());
    info.shi502_security_descriptor = block + descriptorOffset;
  }
  std::memcpy(block, &info, sizeof(info));
  *buffer = block;
  return NERR_Success;
}

NET_API_STATUS Shares::Delete(const std::u16string& name) {
  return shares_.erase(Fold(name)) != 0 ? NERR_Success : NERR_NetNameNotFound;
}

NET_API_STATUS Shares::FreeBuffer(void* buffer) {
  if (buffer == nullptr) return NERR_Success;
  if (buffers_.erase(buffer) == 0) {
    ++badFrees_;
    return ERROR_INVALID_PARAMETER;
  }
  std::free(buffer);
  return NERR_Success;
}

}  // namespace host

namespace {

bool IsLocal(LPCWSTR servername) { return servername == nullptr || servername[0] == 0; }

std::string KeyOf(LPCWSTR name) { return name != nullptr ? host::Utf16ToAnsi(name) : std::string(); }

NET_API_STATUS NET_API_FUNCTION NetShareGetInfoEntry(LMSTR servername, LMSTR netname, DWORD level, LPBYTE* bufptr) {
  host::Modules::Instance().CheckCallable(host::kNetApi, "NetShareGetInfo");
  if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (auto error = host::Faults::Instance().Check("NetShareGetInfo", KeyOf(netname).c_str())) return *error;
  if (!IsLocal(servername)) return ERROR_BAD_NETPATH;
  if (level != 502) return ERROR_INVALID_LEVEL;
  if (netname == nullptr) return ERROR_INVALID_PARAMETER;
  return host::Shares::Instance().GetInfo(netname, bufptr);
}

NET_API_STATUS NET_API_FUNCTION NetShareAddEntry(LMSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err) {
  host::Modules::Instance().CheckCallable(host::kNetApi, "NetShareAdd");
  const auto* info = reinterpret_cast<const SHARE_INFO_502*>(buf);
  const std::string key = info != nullptr ? KeyOf(info->shi502_netname) : std::string();
  if (auto error = host::Faults::Instance().Check("NetShareAdd", key.c_str())) return *error;
  if (!IsLocal(servername)) return ERROR_BAD_NETPATH;
  if (level != 502) return ERROR_INVALID_LEVEL;
  if (info == nullptr) return ERROR_INVALID_PARAMETER;
  uint32_t parameter = 0;
  NET_API_STATUS status = host::Shares::Instance().Add(*info, &parameter);
  if (status == ERROR_INVALID_PARAMETER && parm_err != nullptr) *parm_err = parameter;
  return status;
}

NET_API_STATUS NET_API_FUNCTION NetShareDelEntry(LMSTR servername, LMSTR netname, DWORD reserved) {
  host::Modules::Instance().CheckCallable(host::kNetApi, "NetShareDel");
  if (auto error = host::Faults::Instance().Check("NetShareDel", KeyOf(netname).c_str())) return *error;
  if (!IsLocal(servername)) return ERROR_BAD_NETPATH;
  if (netname == nullptr || netname[0] == 0 || reserved != 0) return ERROR_INVALID_PARAMETER;
  return host::Shares::Instance().Delete(netname);
}

NET_API_STATUS NET_API_FUNCTION NetApiBufferFreeEntry(LPVOID Buffer) {
  host::Modules::Instance().CheckCallable(host::kNetApi, "NetApiBufferFree");
  if (auto error = host::Faults::Instance().Check("NetApiBufferFree")) return *error;
  return host::Shares::Instance().FreeBuffer(Buffer);
}

// Entry points leave the DLL as FARPROC, Windows' untyped procedure address.
template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

namespace host {

std::map<std::string, FARPROC> NetApi32Exports() {
  return {{"NetShareGetInfo", Export(NetShareGetInfoEntry)},
          {"NetShareAdd", Export(NetShareAddEntry)},
          {"NetShareDel", Export(NetShareDelEntry)},
          {"NetApiBufferFree", Export(NetApiBufferFreeEntry)}};
}

}  // namespace host
