// The network shares of the simulated machine's server, behind the entry
// points of the simulated NETAPI32.DLL. A share keeps what NetShareAdd was
// given, its security descriptor copied part by part exactly as the caller
// built it, so that a test reads the access list back ACE by ACE. Buffers
// that NetShareGetInfo hands out are counted until NetApiBufferFree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/security.h"
#include "host/win32_netapi.h"
#include "host/win32_system.h"

namespace host {

// A security descriptor as given: header fields and a copy of each part.
struct StoredSecurityDescriptor {
  uint8_t revision = SECURITY_DESCRIPTOR_REVISION;
  uint16_t control = 0;        // as given, SE_SELF_RELATIVE included
  std::vector<uint8_t> owner;  // empty: none
  std::vector<uint8_t> group;
  // Present only with SE_DACL_PRESENT and a non-null pointer; a present
  // flag without an ACL is a null DACL (everyone has every access).
  std::optional<std::vector<uint8_t>> dacl;
  std::optional<std::vector<uint8_t>> sacl;

  bool DaclPresent() const { return (control & SE_DACL_PRESENT) != 0; }
  // The DACL taken apart; nothing without one.
  std::optional<AclView> Dacl() const;
};

struct ShareRecord {
  std::u16string name;
  uint32_t type = STYPE_DISKTREE;
  std::u16string remark;
  uint32_t permissions = 0;
  uint32_t maxUses = SHI_USES_UNLIMITED;
  uint32_t currentUses = 0;
  std::u16string path;
  std::u16string password;
  std::optional<StoredSecurityDescriptor> security;  // nothing: the server's default access

  // The texts in the machine's ANSI code page.
  std::string Name() const;
  std::string Remark() const;
  std::string Path() const;

  // A disk share without a descriptor, for seeding.
  static ShareRecord Disk(const std::string& name, const std::string& path, const std::string& remark = "");
};

class Shares {
 public:
  static Shares& Instance();

  // No shares, no buffers handed out.
  void Reset();
  // Adds or replaces a share (names compare without regard to case).
  void Seed(const ShareRecord& share);
  const ShareRecord* Find(const std::string& name) const;
  std::vector<ShareRecord> All() const;
  size_t Count() const { return shares_.size(); }

  // NetShareGetInfo buffers not released with NetApiBufferFree yet.
  size_t OutstandingBuffers() const { return buffers_.size(); }
  // NetApiBufferFree calls with something that was not such a buffer.
  int BadBufferFrees() const { return badFrees_; }

  // The operations behind the entry points: NERR_Success or an error.
  NET_API_STATUS Add(const SHARE_INFO_502& info, uint32_t* parameter);
  NET_API_STATUS GetInfo(const std::u16string& name, LPBYTE* buffer);
  NET_API_STATUS Delete(const std::u16string& name);
  NET_API_STATUS FreeBuffer(void* buffer);

 private:
  std::map<std::u16string, ShareRecord> shares_;  // by case-folded name
  std::set<void*> buffers_;
  int badFrees_ = 0;
};

// The exports of the simulated NETAPI32.DLL.
std::map<std::string, FARPROC> NetApi32Exports();

}  // namespace host
