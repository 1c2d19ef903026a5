// advapi32's SID, ACL and security-descriptor calls on the simulated machine,
// working on the caller's memory in Windows' binary layouts, and the account
// lookup over the machine's account table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/faults.h"
#include "host/security.h"
#include "host/win32_api.h"

namespace host {

namespace {

constexpr size_t kSidHeader = 8;  // revision, count, authority
constexpr size_t kAclHeader = sizeof(ACL);
constexpr size_t kAceHeader = sizeof(ACE_HEADER);
constexpr size_t kAllowedAceFixed = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);

uint16_t Read16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

uint32_t Read32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

// The length of a valid SID within size bytes, or 0.
size_t ValidSidLength(const void* sid, size_t size) {
  if (sid == nullptr || size < kSidHeader) return 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(sid);
  if (bytes[0] != SID_REVISION || bytes[1] > SID_MAX_SUB_AUTHORITIES) return 0;
  size_t length = kSidHeader + 4 * size_t{bytes[1]};
  return length <= size ? length : 0;
}

std::string SidText(const uint8_t* authority, const uint32_t* subAuthorities, size_t count) {
  uint64_t value = 0;
  for (int i = 0; i < 6; ++i) value = (value << 8) | authority[i];
  std::string text = "S-1-";
  if (value >> 32) {
    char hex[32];
    std::snprintf(hex, sizeof(hex), "0x%012llX", static_cast<unsigned long long>(value));
    text += hex;
  } else {
    text += std::to_string(value);
  }
  for (size_t i = 0; i < count; ++i) text += "-" + std::to_string(subAuthorities[i]);
  return text;
}

}  // namespace

std::string SidToString(const void* sid, size_t size) {
  size_t length = ValidSidLength(sid, size);
  if (length == 0) return "";
  const uint8_t* bytes = static_cast<const uint8_t*>(sid);
  uint32_t subAuthorities[SID_MAX_SUB_AUTHORITIES];
  for (size_t i = 0; i < bytes[1]; ++i) subAuthorities[i] = Read32(bytes + kSidHeader + 4 * i);
  return SidText(bytes + 2, subAuthorities, bytes[1]);
}

std::vector<uint8_t> SidFromString(const std::string& text) {
  if (text.compare(0, 4, "S-1-") != 0) return {};
  std::vector<uint64_t> numbers;
  size_t position = 4;
  while (position <= text.size()) {
    size_t dash = text.find('-', position);
    std::string part = text.substr(position, dash == std::string::npos ? std::string::npos : dash - position);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return {};
    numbers.push_back(std::stoull(part));
    if (dash == std::string::npos) break;
    position = dash + 1;
  }
  if (numbers.empty() || numbers.size() - 1 > SID_MAX_SUB_AUTHORITIES) return {};
  std::vector<uint8_t> sid(kSidHeader + 4 * (numbers.size() - 1));
  sid[0] = SID_REVISION;
  sid[1] = static_cast<uint8_t>(numbers.size() - 1);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<uint8_t>(numbers[0] >> (8 * (5 - i)));
  for (size_t i = 1; i < numbers.size(); ++i) {
    uint32_t value = static_cast<uint32_t>(numbers[i]);
    std::memcpy(sid.data() + kSidHeader + 4 * (i - 1), &value, sizeof(value));
  }
  return sid;
}

bool IsWellFormedAcl(const void* acl, size_t size) {
  if (acl == nullptr || size < kAclHeader) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(acl);
  if (bytes[0] < ACL_REVISION || bytes[0] > ACL_REVISION_DS) return false;
  const size_t aclSize = Read16(bytes + 2);
  if (aclSize < kAclHeader || aclSize > size) return false;
  size_t offset = kAclHeader;
  for (uint16_t i = 0; i < Read16(bytes + 4); ++i) {
    if (offset + kAceHeader > aclSize) return false;
    const size_t aceSize = Read16(bytes + offset + 2);
    if (aceSize < kAceHeader || offset + aceSize > aclSize) return false;
    const uint8_t type = bytes[offset];
    if (type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE) {
      if (aceSize < kAllowedAceFixed + kSidHeader) return false;
      if (ValidSidLength(bytes + offset + kAllowedAceFixed, aceSize - kAllowedAceFixed) == 0) return false;
    }
    offset += aceSize;
  }
  return true;
}

std::optional<AclView> ParseAcl(const void* acl, size_t size) {
  if (!IsWellFormedAcl(acl, size)) return std::nullopt;
  const uint8_t* bytes = static_cast<const uint8_t*>(acl);
  AclView view;
  view.revision = bytes[0];
  view.size = Read16(bytes + 2);
  size_t offset = kAclHeader;
  for (uint16_t i = 0; i < Read16(bytes + 4); ++i) {
    AceView ace;
    ace.type = bytes[offset];
    ace.flags = bytes[offset + 1];
    ace.size = Read16(bytes + offset + 2);
    if (ace.type == ACCESS_ALLOWED_ACE_TYPE || ace.type == ACCESS_DENIED_ACE_TYPE) {
      ace.mask = Read32(bytes + offset + kAceHeader);
      ace.sid = SidToString(bytes + offset + kAllowedAceFixed, ace.size - kAllowedAceFixed);
    }
    view.aces.push_back(ace);
    offset += ace.size;
  }
  return view;
}

Security& Security::Instance() {
  static Security security;
  return security;
}

void Security::Reset() {
  for (void* sid : sids_) std::free(sid);
  sids_.clear();
  badFrees_ = 0;
  accounts_.clear();
  AddAccount("S-1-1-0", {"Everyone", "", SidTypeWellKnownGroup});
  AddAccount("S-1-5-18", {"SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup});
  AddAccount("S-1-5-32-544", {"Administrators", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-545", {"Users", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-546", {"Guests", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-547", {"Power Users", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-548", {"Account Operators", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-549", {"Server Operators", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-550", {"Print Operators", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-551", {"Backup Operators", "BUILTIN", SidTypeAlias});
  AddAccount("S-1-5-32-552", {"Replicator", "BUILTIN", SidTypeAlias});
}

void Security::AddAccount(const std::string& sid, Account account) { accounts_[sid] = std::move(account); }

void Security::RemoveAccount(const std::string& sid) { accounts_.erase(sid); }

std::optional<Account> Security::FindAccount(const std::string& sid) const {
  auto it = accounts_.find(sid);
  if (it == accounts_.end()) return std::nullopt;
  return it->second;
}

void* Security::AllocateSid(size_t size) {
  void* sid = std::calloc(1, size);
  if (sid != nullptr) sids_.insert(sid);
  return sid;
}

bool Security::FreeSid(void* sid) {
  if (sids_.erase(sid) == 0) {
    ++badFrees_;
    return false;
  }
  std::free(sid);
  return true;
}

}  // namespace host

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The SID text of a caller's SID for fault keys; "" when it is not valid.
std::string KeyOf(PSID sid) { return host::SidToString(sid); }

bool SetBit(WORD* control, WORD bit, bool on) {
  *control = on ? static_cast<WORD>(*control | bit) : static_cast<WORD>(*control & ~bit);
  return on;
}

}  // namespace

extern "C" {

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                              DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2, DWORD nSubAuthority3,
                              DWORD nSubAuthority4, DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid) {
  const DWORD subAuthorities[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                                   nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  if (pIdentifierAuthority == nullptr || pSid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  // At most eight sub-authorities can be passed.
  if (nSubAuthorityCount > 8) return Fail(ERROR_INVALID_SID);
  const std::string key = host::SidText(pIdentifierAuthority->Value, subAuthorities, nSubAuthorityCount);
  if (auto error = host::Faults::Instance().Check("AllocateAndInitializeSid", key.c_str())) return Fail(*error);
  const size_t size = 8 + 4 * size_t{nSubAuthorityCount};
  uint8_t* sid = static_cast<uint8_t*>(host::Security::Instance().AllocateSid(size));
  if (sid == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  sid[0] = SID_REVISION;
  sid[1] = nSubAuthorityCount;
  std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
  std::memcpy(sid + 8, subAuthorities, 4 * size_t{nSubAuthorityCount});
  *pSid = sid;
  return TRUE;
}

PVOID FreeSid(PSID pSid) {
  // Windows answers null on success and the SID itself when it was not freed.
  return host::Security::Instance().FreeSid(pSid) ? nullptr : pSid;
}

DWORD GetLengthSid(PSID pSid) {
  if (pSid == nullptr) return 0;
  // Not validated, as on Windows: the length follows from the count.
  return static_cast<DWORD>(8 + 4 * size_t{static_cast<const uint8_t*>(pSid)[1]});
}

BOOL IsValidSid(PSID pSid) { return host::ValidSidLength(pSid, 8 + 4 * SID_MAX_SUB_AUTHORITIES) != 0 ? TRUE : FALSE; }

BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName, LPSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
  if (auto error = host::Faults::Instance().Check("LookupAccountSid", KeyOf(Sid).c_str())) return Fail(*error);
  // Only the local computer's accounts are known.
  if (lpSystemName != nullptr && lpSystemName[0] != '\0') return Fail(RPC_S_SERVER_UNAVAILABLE);
  if (!IsValidSid(Sid)) return Fail(ERROR_INVALID_SID);
  if (cchName == nullptr || cchReferencedDomainName == nullptr || peUse == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::optional<host::Account> account = host::Security::Instance().FindAccount(KeyOf(Sid));
  if (!account) return Fail(ERROR_NONE_MAPPED);
  const DWORD needName = static_cast<DWORD>(account->name.size() + 1);
  const DWORD needDomain = static_cast<DWORD>(account->domain.size() + 1);
  if (*cchName < needName || *cchReferencedDomainName < needDomain) {
    // Both counts learn what they need, NUL included.
    *cchName = needName;
    *cchReferencedDomainName = needDomain;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (Name == nullptr || ReferencedDomainName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::memcpy(Name, account->name.c_str(), needName);
  std::memcpy(ReferencedDomainName, account->domain.c_str(), needDomain);
  *cchName = needName - 1;
  *cchReferencedDomainName = needDomain - 1;
  *peUse = account->use;
  return TRUE;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (auto error = host::Faults::Instance().Check("InitializeSecurityDescriptor")) return Fail(*error);
  if (pSecurityDescriptor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<PISECURITY_DESCRIPTOR>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted) {
  if (auto error = host::Faults::Instance().Check("SetSecurityDescriptorDacl")) return Fail(*error);
  if (pSecurityDescriptor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto* descriptor = static_cast<PISECURITY_DESCRIPTOR>(pSecurityDescriptor);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  if (descriptor->Control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
  // An absent DACL only clears the flag; the pointer and the defaulted flag stay.
  if (!SetBit(&descriptor->Control, SE_DACL_PRESENT, bDaclPresent != FALSE)) return TRUE;
  descriptor->Dacl = pDacl;
  SetBit(&descriptor->Control, SE_DACL_DEFAULTED, bDaclDefaulted != FALSE);
  return TRUE;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  if (pSecurityDescriptor == nullptr) return Fail(ERROR_INVALID_SECURITY_DESCR);
  const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_SECURITY_DESCR);
  if (descriptor->Control & SE_SELF_RELATIVE) {
    // Only the header is checked in this form: its parts are found by offset.
    return TRUE;
  }
  const size_t anySid = 8 + 4 * SID_MAX_SUB_AUTHORITIES;
  if (descriptor->Owner != nullptr && host::ValidSidLength(descriptor->Owner, anySid) == 0) {
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  if (descriptor->Group != nullptr && host::ValidSidLength(descriptor->Group, anySid) == 0) {
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  if ((descriptor->Control & SE_DACL_PRESENT) && descriptor->Dacl != nullptr &&
      !host::IsWellFormedAcl(descriptor->Dacl, descriptor->Dacl->AclSize)) {
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  if ((descriptor->Control & SE_SACL_PRESENT) && descriptor->Sacl != nullptr &&
      !host::IsWellFormedAcl(descriptor->Sacl, descriptor->Sacl->AclSize)) {
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  return TRUE;
}

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  if (auto error = host::Faults::Instance().Check("InitializeAcl")) return Fail(*error);
  if (pAcl == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (dwAclRevision < ACL_REVISION || dwAclRevision > ACL_REVISION_DS) return Fail(ERROR_INVALID_PARAMETER);
  if (nAclLength < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (nAclLength > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  std::memset(pAcl, 0, sizeof(ACL));
  pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
  pAcl->AclSize = static_cast<WORD>(nAclLength);
  return TRUE;
}

BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  if (auto error = host::Faults::Instance().Check("AddAccessAllowedAce", KeyOf(pSid).c_str())) return Fail(*error);
  if (!IsValidSid(pSid)) return Fail(ERROR_INVALID_SID);
  if (pAcl == nullptr || !host::IsWellFormedAcl(pAcl, pAcl->AclSize)) return Fail(ERROR_INVALID_ACL);
  if (dwAceRevision < ACL_REVISION || dwAceRevision > ACL_REVISION_DS) return Fail(ERROR_REVISION_MISMATCH);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(pAcl);
  size_t offset = host::kAclHeader;
  for (WORD i = 0; i < pAcl->AceCount; ++i) offset += host::Read16(bytes + offset + 2);
  const size_t sidLength = GetLengthSid(pSid);
  const size_t aceSize = host::kAllowedAceFixed + sidLength;
  if (offset + aceSize > pAcl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  const ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(aceSize)};
  std::memcpy(bytes + offset, &header, sizeof(header));
  std::memcpy(bytes + offset + host::kAceHeader, &AccessMask, sizeof(AccessMask));
  std::memcpy(bytes + offset + host::kAllowedAceFixed, pSid, sidLength);
  ++pAcl->AceCount;
  if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
  return TRUE;
}
}
