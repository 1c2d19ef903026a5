// The simulated NETAPI32.DLL: what NetShareAdd accepts and keeps, the
// records NetShareGetInfo hands out, NetShareDel, and the buffer accounting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/filesystem.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/shares.h"
#include "host/system.h"

namespace {

using host::Shares;

typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREGETINFO)(LMSTR, LMSTR, DWORD, LPBYTE*);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREADD)(LMSTR, DWORD, LPBYTE, LPDWORD);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREDEL)(LMSTR, LMSTR, DWORD);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETAPIBUFFERFREE)(LPVOID);

class NetApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::ResetMachine();
    host::Files().AddDirectory("C:\\Data");
    module_ = LoadLibraryA("NETAPI32.DLL");
    getInfo_ = Entry<PFNNETSHAREGETINFO>("NetShareGetInfo");
    add_ = Entry<PFNNETSHAREADD>("NetShareAdd");
    del_ = Entry<PFNNETSHAREDEL>("NetShareDel");
    free_ = Entry<PFNNETAPIBUFFERFREE>("NetApiBufferFree");
  }
  void TearDown() override {
    FreeLibrary(module_);
    EXPECT_TRUE(host::Modules::Instance().Misuses().empty());
    host::ResetMachine();
  }

  template <typename PFN>
  PFN Entry(const char* name) {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

  // A level-502 record of a disk share; the strings live in the fixture.
  SHARE_INFO_502 Record(const std::u16string& name, const std::u16string& path) {
    name_ = name;
    path_ = path;
    SHARE_INFO_502 info = {};
    info.shi502_netname = name_.data();
    info.shi502_type = STYPE_DISKTREE;
    info.shi502_remark = remark_.data();
    info.shi502_permissions = ACCESS_READ;
    info.shi502_max_uses = SHI_USES_UNLIMITED;
    info.shi502_path = path_.data();
    return info;
  }

  NET_API_STATUS Add(SHARE_INFO_502& info, DWORD* parameter) {
    return add_(nullptr, 502, reinterpret_cast<LPBYTE>(&info), parameter);
  }

  HMODULE module_ = nullptr;
  PFNNETSHAREGETINFO getInfo_ = nullptr;
  PFNNETSHAREADD add_ = nullptr;
  PFNNETSHAREDEL del_ = nullptr;
  PFNNETAPIBUFFERFREE free_ = nullptr;
  std::u16string name_, path_, remark_ = u"note";
};

TEST_F(NetApiTest, AddedShareKeepsItsRecordAndACopyOfItsAcl) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  std::vector<uint8_t> acl(8 + 24);
  InitializeAcl(reinterpret_cast<PACL>(acl.data()), static_cast<DWORD>(acl.size()), ACL_REVISION);
  std::vector<uint8_t> sid = host::SidFromString("S-1-5-32-544");
  AddAccessAllowedAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, GENERIC_ALL, sid.data());
  SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
  SHARE_INFO_502 info = Record(u"Data$", u"C:\\Data");
  info.shi502_current_uses = 7;
  info.shi502_security_descriptor = &descriptor;
  DWORD parameter = 0;
  ASSERT_EQ(Add(info, &parameter), static_cast<DWORD>(NERR_Success));
  std::fill(acl.begin(), acl.end(), 0);  // the caller's ACL is gone

  const host::ShareRecord* share = Shares::Instance().Find("DATA$");
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->Name(), "Data$");
  EXPECT_EQ(share->Path(), "C:\\Data");
  EXPECT_EQ(share->Remark(), "note");
  EXPECT_EQ(share->currentUses, 0u);
  ASSERT_TRUE(share->security.has_value());
  std::optional<host::AclView> dacl = share->security->Dacl();
  ASSERT_TRUE(dacl.has_value());
  ASSERT_EQ(dacl->aces.size(), 1u);
  EXPECT_EQ(dacl->aces[0].sid, "S-1-5-32-544");
}

TEST_F(NetApiTest, RefusedMembersAreNamedInParmErr) {
  DWORD parameter = 0;
  SHARE_INFO_502 info = Record(u"bad/name", u"C:\\Data");
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parameter, static_cast<DWORD>(SHARE_NETNAME_PARMNUM));
  info = Record(u"ok", u"Data");
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parameter, static_cast<DWORD>(SHARE_PATH_PARMNUM));
  info = Record(u"ok", u"C:\\Data");
  SECURITY_DESCRIPTOR descriptor = {};  // revision 0: not a descriptor
  info.shi502_security_descriptor = &descriptor;
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parameter, static_cast<DWORD>(SHARE_FILE_SD_PARMNUM));
  EXPECT_EQ(Shares::Instance().Count(), 0u);
}

TEST_F(NetApiTest, MissingFolderAndDuplicateName) {
  DWORD parameter = 0;
  SHARE_INFO_502 info = Record(u"gone", u"C:\\Gone");
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(NERR_UnknownDevDir));
  EXPECT_EQ(parameter, 0u) << "parm_err only for refused members";
  info = Record(u"data", u"C:\\Data");
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(NERR_Success));
  info = Record(u"DATA", u"C:\\Data");
  EXPECT_EQ(Add(info, &parameter), static_cast<DWORD>(NERR_DuplicateShare));
  EXPECT_EQ(add_(nullptr, 2, reinterpret_cast<LPBYTE>(&info), &parameter), static_cast<DWORD>(ERROR_INVALID_LEVEL));
}

TEST_F(NetApiTest, InfoIsOneBufferUntilFreed) {
  host::ShareRecord seeded = host::ShareRecord::Disk("Data", "C:\\Data", "remark");
  seeded.security = host::StoredSecurityDescriptor();
  seeded.security->control = SE_DACL_PRESENT;
  std::vector<uint8_t> acl(8);
  InitializeAcl(reinterpret_cast<PACL>(acl.data()), 8, ACL_REVISION);
  seeded.security->dacl = acl;
  Shares::Instance().Seed(seeded);
  LPBYTE buffer = nullptr;
  std::u16string name = u"data";
  ASSERT_EQ(getInfo_(nullptr, name.data(), 502, &buffer), static_cast<DWORD>(NERR_Success));
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(Shares::Instance().OutstandingBuffers(), 1u);
  const auto* info = reinterpret_cast<const SHARE_INFO_502*>(buffer);
  EXPECT_EQ(std::u16string(info->shi502_netname), u"Data");
  EXPECT_EQ(std::u16string(info->shi502_path), u"C:\\Data");
  EXPECT_EQ(std::u16string(info->shi502_remark), u"remark");
  EXPECT_EQ(info->shi502_passwd, nullptr);
  const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(info->shi502_security_descriptor);
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(descriptor->Control, SE_DACL_PRESENT | SE_SELF_RELATIVE);
  EXPECT_EQ(descriptor->Dacl, sizeof(SECURITY_DESCRIPTOR_RELATIVE));
  EXPECT_EQ(free_(buffer), static_cast<DWORD>(NERR_Success));
  EXPECT_EQ(Shares::Instance().OutstandingBuffers(), 0u);
  EXPECT_EQ(free_(buffer), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Shares::Instance().BadBufferFrees(), 1);
}

TEST_F(NetApiTest, UnknownShareAndLevel) {
  LPBYTE buffer = reinterpret_cast<LPBYTE>(&buffer);
  std::u16string name = u"nothing";
  EXPECT_EQ(getInfo_(nullptr, name.data(), 502, &buffer), static_cast<DWORD>(NERR_NetNameNotFound));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(getInfo_(nullptr, name.data(), 1, &buffer), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  std::u16string server = u"\\\\OTHER";
  EXPECT_EQ(getInfo_(server.data(), name.data(), 502, &buffer), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(Shares::Instance().OutstandingBuffers(), 0u);
}

TEST_F(NetApiTest, DeletionByNameOnce) {
  Shares::Instance().Seed(host::ShareRecord::Disk("Data", "C:\\Data"));
  std::u16string name = u"DATA";
  EXPECT_EQ(del_(nullptr, name.data(), 1), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "reserved must be 0";
  EXPECT_EQ(del_(nullptr, name.data(), 0), static_cast<DWORD>(NERR_Success));
  EXPECT_EQ(del_(nullptr, name.data(), 0), static_cast<DWORD>(NERR_NetNameNotFound));
  EXPECT_EQ(Shares::Instance().Count(), 0u);
}

}  // namespace
