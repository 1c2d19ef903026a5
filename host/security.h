// The simulated machine's accounts and security objects: the accounts that
// LookupAccountSid can name, the SIDs AllocateAndInitializeSid handed out and
// not yet freed, and readers that take a binary SID or ACL apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/win32_security.h"

namespace host {

struct Account {
  std::string name;
  std::string domain;
  SID_NAME_USE use = SidTypeAlias;
};

struct AceView {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t size = 0;
  uint32_t mask = 0;
  std::string sid;  // "S-1-5-32-544"
};

struct AclView {
  uint8_t revision = 0;
  uint16_t size = 0;  // AclSize
  std::vector<AceView> aces;
};

// "S-1-5-32-544" for a valid SID of at most size bytes; "" otherwise.
std::string SidToString(const void* sid, size_t size = 8 + 4 * 15);
// The binary SID of "S-1-a-s1-s2...", empty when the text is not one.
std::vector<uint8_t> SidFromString(const std::string& text);
// The ACL's header and ACEs (access-allowed and access-denied ones with their
// SID); nothing when the bytes are not a well-formed ACL.
std::optional<AclView> ParseAcl(const void* acl, size_t size);
// Whether the bytes are a well-formed ACL (header, ACEs inside AclSize).
bool IsWellFormedAcl(const void* acl, size_t size);

class Security {
 public:
  static Security& Instance();

  // The accounts of a server: Everyone, SYSTEM and the built-in groups
  // (Administrators, Users, Guests, Power Users, Account, Server, Print and
  // Backup Operators, Replicator). Every SID still allocated is freed.
  void Reset();
  void AddAccount(const std::string& sid, Account account);
  // The account no longer exists: LookupAccountSid fails with ERROR_NONE_MAPPED.
  void RemoveAccount(const std::string& sid);
  std::optional<Account> FindAccount(const std::string& sid) const;

  // SIDs of AllocateAndInitializeSid that FreeSid has not freed yet.
  size_t LiveSids() const { return sids_.size(); }
  // FreeSid calls with something that was not a live SID.
  int BadSidFrees() const { return badFrees_; }

  // Behind AllocateAndInitializeSid and FreeSid.
  void* AllocateSid(size_t size);
  bool FreeSid(void* sid);

 private:
  std::map<std::string, Account> accounts_;  // by SID text
  std::set<void*> sids_;
  int badFrees_ = 0;
};

}  // namespace host
