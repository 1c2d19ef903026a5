// SIDs, ACLs and security descriptors of the simulated machine: Windows'
// binary layouts, the account lookup, the refusals, and the accounting of
// allocated SIDs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/machine.h"
#include "host/platform.h"
#include "host/security.h"

namespace {

using host::Security;

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override { host::ResetMachine(); }

  static PSID Builtin(DWORD rid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid));
    return sid;
  }
};

// --- SIDs ----------------------------------------------------------------------------

TEST_F(SecurityTest, SidHasWindowsLayoutAndIsCounted) {
  PSID sid = Builtin(DOMAIN_ALIAS_RID_ADMINS);
  ASSERT_NE(sid, nullptr);
  const uint8_t expected[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0};
  EXPECT_EQ(std::memcmp(sid, expected, sizeof(expected)), 0);
  EXPECT_EQ(GetLengthSid(sid), 16u);
  EXPECT_TRUE(IsValidSid(sid));
  EXPECT_EQ(host::SidToString(sid), "S-1-5-32-544");
  EXPECT_EQ(host::SidFromString("S-1-5-32-544"), std::vector<uint8_t>(expected, expected + sizeof(expected)));
  EXPECT_EQ(Security::Instance().LiveSids(), 1u);
  EXPECT_EQ(FreeSid(sid), nullptr);
  EXPECT_EQ(Security::Instance().LiveSids(), 0u);
}

TEST_F(SecurityTest, FreeingTwiceIsCountedAndAnswersTheSid) {
  PSID sid = Builtin(DOMAIN_ALIAS_RID_USERS);
  FreeSid(sid);
  EXPECT_EQ(FreeSid(sid), sid);
  EXPECT_EQ(Security::Instance().BadSidFrees(), 1);
}

TEST_F(SecurityTest, AtMostEightSubAuthorities) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 1, 2, 3, 4, 5, 6, 7, 8, &sid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  EXPECT_EQ(sid, nullptr);
  EXPECT_EQ(Security::Instance().LiveSids(), 0u);
}

// --- LookupAccountSid --------------------------------------------------------------------

TEST_F(SecurityTest, EmptyBuffersLearnTheSizes) {
  PSID sid = Builtin(DOMAIN_ALIAS_RID_ADMINS);
  DWORD cchName = 0;
  DWORD cchDomain = 0;
  SID_NAME_USE use = SidTypeUnknown;
  EXPECT_FALSE(LookupAccountSidA(nullptr, sid, nullptr, &cchName, nullptr, &cchDomain, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cchName, 15u);
  EXPECT_EQ(cchDomain, 8u);
  char name[32];
  char domain[32];
  cchName = sizeof(name);
  cchDomain = sizeof(domain);
  EXPECT_TRUE(LookupAccountSidA(nullptr, sid, name, &cchName, domain, &cchDomain, &use));
  EXPECT_STREQ(name, "Administrators");
  EXPECT_STREQ(domain, "BUILTIN");
  EXPECT_EQ(cchName, 14u);
  EXPECT_EQ(use, SidTypeAlias);
  FreeSid(sid);
}

TEST_F(SecurityTest, RemovedAccountIsNotMapped) {
  Security::Instance().RemoveAccount("S-1-5-32-549");
  PSID sid = Builtin(DOMAIN_ALIAS_RID_SYSTEM_OPS);
  DWORD cchName = 0;
  DWORD cchDomain = 0;
  SID_NAME_USE use;
  EXPECT_FALSE(LookupAccountSidA(nullptr, sid, nullptr, &cchName, nullptr, &cchDomain, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
  EXPECT_FALSE(LookupAccountSidA("OTHERBOX", sid, nullptr, &cchName, nullptr, &cchDomain, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  FreeSid(sid);
}

// --- ACLs ------------------------------------------------------------------------------

TEST_F(SecurityTest, AceIsAppendedInWindowsLayout) {
  alignas(4) uint8_t buffer[8 + 24 + 24] = {};
  PACL acl = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(acl, sizeof(buffer), ACL_REVISION));
  PSID admins = Builtin(DOMAIN_ALIAS_RID_ADMINS);
  PSID backup = Builtin(DOMAIN_ALIAS_RID_BACKUP_OPS);
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, admins));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ, backup));
  const uint8_t header[] = {2, 0, 56, 0, 2, 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer, header, sizeof(header)), 0);
  const uint8_t firstAce[] = {0, 0, 24, 0, 0, 0, 0, 0x10};
  EXPECT_EQ(std::memcmp(buffer + 8, firstAce, sizeof(firstAce)), 0);
  EXPECT_EQ(std::memcmp(buffer + 16, admins, 16), 0);
  std::optional<host::AclView> view = host::ParseAcl(buffer, sizeof(buffer));
  ASSERT_TRUE(view.has_value());
  ASSERT_EQ(view->aces.size(), 2u);
  EXPECT_EQ(view->aces[1].sid, "S-1-5-32-551");
  EXPECT_EQ(view->aces[1].mask, static_cast<uint32_t>(GENERIC_READ));
  // Full: one more ACE does not fit.
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, admins));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
  EXPECT_EQ(acl->AceCount, 2);
  FreeSid(admins);
  FreeSid(backup);
}

TEST_F(SecurityTest, AclRefusals) {
  alignas(4) uint8_t buffer[16] = {};
  PACL acl = reinterpret_cast<PACL>(buffer);
  EXPECT_FALSE(InitializeAcl(acl, 7, ACL_REVISION));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(InitializeAcl(acl, sizeof(buffer), 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(InitializeAcl(acl, 0x10000, ACL_REVISION));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Not initialised: no ACE goes in.
  PSID sid = Builtin(DOMAIN_ALIAS_RID_ADMINS);
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACL));
  FreeSid(sid);
}

TEST_F(SecurityTest, ParserRejectsAnAceBeyondTheAclSize) {
  alignas(4) uint8_t buffer[8 + 24] = {};
  PACL acl = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(acl, sizeof(buffer), ACL_REVISION));
  PSID sid = Builtin(DOMAIN_ALIAS_RID_ADMINS);
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid));
  buffer[8 + 2] = 28;  // the ACE claims more than the ACL holds
  EXPECT_FALSE(host::ParseAcl(buffer, sizeof(buffer)).has_value());
  FreeSid(sid);
}

// --- Security descriptors -----------------------------------------------------------------

TEST_F(SecurityTest, DaclIsAttachedPresentAndNotDefaulted) {
  SECURITY_DESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof(descriptor));
  alignas(4) uint8_t buffer[8] = {};
  PACL acl = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(acl, sizeof(buffer), ACL_REVISION));
  EXPECT_FALSE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) << "not initialised";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, TRUE));
  EXPECT_EQ(descriptor.Control, SE_DACL_PRESENT | SE_DACL_DEFAULTED);
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  EXPECT_EQ(descriptor.Control, SE_DACL_PRESENT);
  EXPECT_EQ(descriptor.Dacl, acl);
  EXPECT_TRUE(IsValidSecurityDescriptor(&descriptor));
  buffer[0] = 9;  // no ACL revision
  EXPECT_FALSE(IsValidSecurityDescriptor(&descriptor));
}

TEST_F(SecurityTest, DescriptorRevisionMustBeOne) {
  SECURITY_DESCRIPTOR descriptor;
  EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
}

}  // namespace
