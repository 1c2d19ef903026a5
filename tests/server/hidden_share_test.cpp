// The hidden share "VRIN$": the record and the access list it is created
// with, the accounts left out, replacement of an existing share, the path it
// publishes, the failures that keep it from being created, its deletion, and
// that every SID, ACL, wide string, buffer and DLL load is released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/registry.h"
#include "host/security.h"
#include "host/shares.h"
#include "host/system.h"
#include "server/hidden_share.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::LocalRegistry;
using host::Shares;

const std::string kProduct = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kFolder = "C:\\Program Files\\Velmora\\Config";
const std::string kAdministrators = "S-1-5-32-544";
const std::string kBackupOperators = "S-1-5-32-551";
const std::string kServerOperators = "S-1-5-32-549";
const char kNetApi[] = "NETAPI32.DLL";

class HiddenShareTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    host::Files().AddDirectory(kFolder);
    libraryBlocks_ = host::LibraryAllocationCount();
  }

  void TearDown() override {
    EXPECT_EQ(host::Security::Instance().LiveSids(), 0u) << "a SID was not freed";
    EXPECT_EQ(host::Security::Instance().BadSidFrees(), 0);
    EXPECT_EQ(Shares::Instance().OutstandingBuffers(), 0u) << "a NetShareGetInfo buffer was not freed";
    EXPECT_EQ(Shares::Instance().BadBufferFrees(), 0);
    EXPECT_EQ(host::Modules::Instance().LoadedModules(), 0) << "NETAPI32.DLL was not released";
    EXPECT_EQ(host::Modules::Instance().Misuses(), std::vector<std::string>{});
    EXPECT_EQ(host::LibraryAllocationCount(), libraryBlocks_) << "an ACL or a string was not freed";
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0);
    EXPECT_EQ(OpenHandles(), 0);
    SessionTest::TearDown();
  }

  MSIHANDLE Open(const std::string& configurationPath) {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    LocalRegistry().SetString(kProduct, "ConfigurationPath", configurationPath);
    return hInstall;
  }

  static const host::ShareRecord* Share() { return Shares::Instance().Find("VRIN$"); }

  // The SIDs of the created share's DACL, in order; each ACE checked for the
  // allowed type, no flags and GENERIC_ALL.
  static std::vector<std::string> GrantedSids() {
    std::vector<std::string> sids;
    const host::ShareRecord* share = Share();
    if (share == nullptr || !share->security) {
      ADD_FAILURE() << "no share with a descriptor";
      return sids;
    }
    std::optional<host::AclView> dacl = share->security->Dacl();
    if (!dacl) {
      ADD_FAILURE() << "no DACL";
      return sids;
    }
    EXPECT_EQ(dacl->revision, ACL_REVISION);
    size_t size = 8;
    for (const host::AceView& ace : dacl->aces) {
      EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_EQ(ace.flags, 0) << "nothing is inherited";
      EXPECT_EQ(ace.mask, static_cast<uint32_t>(GENERIC_ALL));
      EXPECT_EQ(ace.size, 24u);
      size += ace.size;
      sids.push_back(ace.sid);
    }
    EXPECT_EQ(dacl->size, size) << "8 bytes plus each ACE";
    return sids;
  }

  static std::vector<std::string> Lines(const std::string& path, const std::vector<std::string>& middle, int result) {
    std::vector<std::string> lines = {"OV VRIN : AddShare('VRIN$', '" + path + "' )"};
    lines.insert(lines.end(), middle.begin(), middle.end());
    lines.push_back("OV VRIN : AddShare('VRIN$', '" + path + "' )  -> " + std::to_string(result));
    return lines;
  }

 private:
  size_t libraryBlocks_ = 0;
};

// --- The created share -------------------------------------------------------------

TEST_F(HiddenShareTest, ShareOfTheInstallationFolderIsRestrictedToTheThreeGroups) {
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(VrinNTCreateShare(hInstall), 0u);
  const host::ShareRecord* share = Share();
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->Name(), "VRIN$");
  EXPECT_EQ(share->type, static_cast<uint32_t>(STYPE_DISKTREE));
  EXPECT_EQ(share->Remark(), "OV Velmora");
  EXPECT_EQ(share->permissions, static_cast<uint32_t>(ACCESS_READ));
  EXPECT_EQ(share->maxUses, 0xFFFFFFFFu);
  EXPECT_EQ(share->Path(), kFolder);
  EXPECT_TRUE(share->password.empty());
  ASSERT_TRUE(share->security.has_value());
  EXPECT_EQ(share->security->revision, SECURITY_DESCRIPTOR_REVISION);
  EXPECT_EQ(share->security->control, SE_DACL_PRESENT) << "absolute, present, not defaulted";
  EXPECT_TRUE(share->security->owner.empty());
  EXPECT_TRUE(share->security->group.empty());
  EXPECT_FALSE(share->security->sacl.has_value());
  EXPECT_EQ(GrantedSids(), (std::vector<std::string>{kAdministrators, kBackupOperators, kServerOperators}));
  EXPECT_EQ(host::Modules::Instance().LoadCalls(kNetApi), 1);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTCreateShare ->",
                            "OV VRIN : InstallGetRegString -> Software\\Orvannic\\Lumicor "
                            "Velmora\\CurrentVersion\\ConfigurationPath",
                            "OV VRIN : InstallGetRegString <- " + kFolder,
                            "OV VRIN : AddShare('VRIN$', '" + kFolder + "' )",
                            "OV VRIN : Adding new share",
                            "OV VRIN : AddShare('VRIN$', '" + kFolder + "' )  -> 0",
                            "OV VRIN : VrinNTCreateShare <- [0]",
                        }));
}

TEST_F(HiddenShareTest, MissingServerOperatorsLeavesTwoAces) {
  host::Security::Instance().RemoveAccount(kServerOperators);
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  EXPECT_EQ(GrantedSids(), (std::vector<std::string>{kAdministrators, kBackupOperators}));
  EXPECT_EQ(Share()->security->dacl->size(), 56u);
}

TEST_F(HiddenShareTest, MissingMiddleAccountKeepsTheOrderOfTheOthers) {
  host::Security::Instance().RemoveAccount(kBackupOperators);
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  EXPECT_EQ(GrantedSids(), (std::vector<std::string>{kAdministrators, kServerOperators}));
}

TEST_F(HiddenShareTest, LookupFailingOtherwiseKeepsTheAccount) {
  Faults::Instance().Fail("LookupAccountSid", ERROR_ACCESS_DENIED, 0, kServerOperators);
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  EXPECT_EQ(GrantedSids(), (std::vector<std::string>{kAdministrators, kBackupOperators, kServerOperators}));
}

TEST_F(HiddenShareTest, AccountWhoseSidCannotBeAllocatedIsSkipped) {
  Faults::Instance().Fail("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY, 0, kAdministrators);
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  EXPECT_EQ(GrantedSids(), (std::vector<std::string>{kBackupOperators, kServerOperators}));
}

TEST_F(HiddenShareTest, NoAccountKnownGivesAnEmptyListThatGrantsNothing) {
  for (const std::string& sid : {kAdministrators, kBackupOperators, kServerOperators}) {
    host::Security::Instance().RemoveAccount(sid);
  }
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  ASSERT_NE(Share(), nullptr);
  ASSERT_TRUE(Share()->security->dacl.has_value()) << "an empty DACL, not a null one";
  EXPECT_EQ(GrantedSids(), std::vector<std::string>{});
}

TEST_F(HiddenShareTest, UnrestrictedShareHasNoDescriptor) {
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "OPEN", "remark", kFolder.c_str(), false), 0u);
  const host::ShareRecord* share = Shares::Instance().Find("OPEN");
  ASSERT_NE(share, nullptr);
  EXPECT_FALSE(share->security.has_value());
  EXPECT_EQ(Faults::Instance().CallCounts().count("AllocateAndInitializeSid"), 0u);
}

// --- Replacement and the path ------------------------------------------------------

TEST_F(HiddenShareTest, ExistingShareOnAnotherFolderIsReplaced) {
  host::Files().AddDirectory("C:\\Old");
  Shares::Instance().Seed(host::ShareRecord::Disk("vrin$", "C:\\Old", "old"));
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  ASSERT_EQ(Shares::Instance().Count(), 1u);
  EXPECT_EQ(Share()->Path(), kFolder);
  EXPECT_EQ(Share()->Remark(), "OV Velmora");
  EXPECT_EQ(GrantedSids().size(), 3u);
  EXPECT_EQ(host::Modules::Instance().LoadCalls(kNetApi), 2) << "the deletion loads the DLL once more";
}

TEST_F(HiddenShareTest, ExistingShareThatCannotBeDeletedStaysAndTheAddIsReported) {
  host::Files().AddDirectory("C:\\Old");
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", "C:\\Old"));
  Faults::Instance().Fail("NetShareDel", ERROR_ACCESS_DENIED);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 2118u);
  EXPECT_EQ(Share()->Path(), "C:\\Old");
  EXPECT_EQ(LogLines(), Lines(kFolder,
                              {"OV VRIN : Adding new share",
                               "ERR: OV VRIN : Error 2118 in param 0 adding share 'VRIN$' on path '" + kFolder + "'"},
                              2118));
}

TEST_F(HiddenShareTest, TrailingBackslashIsRemoved) {
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder + "\\")), 0u);
  ASSERT_NE(Share(), nullptr);
  EXPECT_EQ(Share()->Path(), kFolder);
  EXPECT_EQ(LogLines().at(3), "OV VRIN : AddShare('VRIN$', '" + kFolder + "' )");
}

TEST_F(HiddenShareTest, OnlyOneTrailingBackslashIsRemoved) {
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder + "\\\\")), 0u);
  ASSERT_NE(Share(), nullptr);
  EXPECT_EQ(Share()->Path(), kFolder + "\\");
}

TEST_F(HiddenShareTest, DriveRootKeepsItsBackslash) {
  EXPECT_EQ(VrinNTCreateShare(Open("C:\\")), 0u);
  ASSERT_NE(Share(), nullptr);
  EXPECT_EQ(Share()->Path(), "C:\\");
}

TEST_F(HiddenShareTest, TrailByteThatLooksLikeABackslashStays) {
  host::SetAnsiCodePage(932);
  const std::string folder = "C:\\Velmora\\\x95\x5C";  // a double-byte character ending in 0x5C
  host::Files().AddDirectory(folder);
  EXPECT_EQ(VrinNTCreateShare(Open(folder)), 0u);
  ASSERT_NE(Share(), nullptr);
  EXPECT_EQ(Share()->Path(), folder);
}

TEST_F(HiddenShareTest, MissingOrEmptyConfigurationPathCreatesNothing) {
  MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
  EXPECT_EQ(VrinNTCreateShare(hInstall), 0u);
  LocalRegistry().SetString(kProduct, "ConfigurationPath", "");
  EXPECT_EQ(VrinNTCreateShare(hInstall), 0u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(host::Modules::Instance().LoadCalls(kNetApi), 0);
  EXPECT_EQ(LogLines().back(), "OV VRIN : VrinNTCreateShare <- [0]");
}

TEST_F(HiddenShareTest, WithoutSessionTheShareIsStillCreated) {
  LocalRegistry().SetString(kProduct, "ConfigurationPath", kFolder);
  EXPECT_EQ(VrinNTCreateShare(0), 0u);
  EXPECT_NE(Share(), nullptr);
  EXPECT_NE(TakeStdout().find("OV VRIN : AddShare('VRIN$', '" + kFolder + "' )  -> 0\r\n"), std::string::npos);
}

// --- Failures: the share is not attempted ----------------------------------------------

TEST_F(HiddenShareTest, MissingNetApiDllLeavesNoShare) {
  host::Modules::Instance().Remove(kNetApi);
  EXPECT_EQ(VrinNTCreateShare(Open(kFolder)), 0u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end() - 1), Lines(kFolder, {}, 126));
}

TEST_F(HiddenShareTest, EachMissingEntryPointLeavesNoShare) {
  for (const char* entry : {"NetShareGetInfo", "NetApiBufferFree", "NetShareAdd"}) {
    SCOPED_TRACE(entry);
    host::Modules::Instance().Reset();
    host::Modules::Instance().RemoveExport(kNetApi, entry);
    MSIHANDLE hInstall = Open(kFolder);
    EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
    EXPECT_EQ(Shares::Instance().Count(), 0u);
    EXPECT_EQ(LogLines(), Lines(kFolder, {}, 126));
    EXPECT_EQ(host::Modules::Instance().LoadCount(kNetApi), 0);
  }
}

TEST_F(HiddenShareTest, AclThatCannotBeAllocatedLeavesNoShare) {
  MSIHANDLE hInstall = Open(kFolder);
  // The ACL is the routine's first allocation.
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error allocing 80 bytes for ACL"}, 126));
}

TEST_F(HiddenShareTest, AclThatCannotBeInitialisedLeavesNoShare) {
  Faults::Instance().Fail("InitializeAcl", ERROR_INVALID_PARAMETER);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error 87 initialising ACL of size 80"}, 126));
}

TEST_F(HiddenShareTest, AceThatCannotBeAddedLeavesNoShare) {
  Faults::Instance().Fail("AddAccessAllowedAce", ERROR_ALLOTTED_SPACE_EXCEEDED, 0, kBackupOperators);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error 1344 adding ACE to ACL"}, 126));
}

TEST_F(HiddenShareTest, DaclThatCannotBeAttachedLeavesNoShare) {
  Faults::Instance().Fail("SetSecurityDescriptorDacl", ERROR_INVALID_SECURITY_DESCR);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error 1338 setting DACL"}, 126));
}

TEST_F(HiddenShareTest, DescriptorThatCannotBeInitialisedLeavesNoShare) {
  Faults::Instance().Fail("InitializeSecurityDescriptor", ERROR_UNKNOWN_REVISION);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error 1305 initialising security descriptor"}, 126));
}

TEST_F(HiddenShareTest, StringsThatCannotBeConvertedLeaveTheExistingShareAlone) {
  host::Files().AddDirectory("C:\\Old");
  // After the ACL: the name, the path and the remark, in turn.
  for (int nth : {2, 3, 4}) {
    SCOPED_TRACE(nth);
    Shares::Instance().Reset();
    Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", "C:\\Old"));
    Faults::Instance().Clear();
    Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, nth);
    MSIHANDLE hInstall = Open(kFolder);
    EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 126u);
    ASSERT_NE(Share(), nullptr);
    EXPECT_EQ(Share()->Path(), "C:\\Old");
    EXPECT_EQ(LogLines(), Lines(kFolder, {"ERR: OV VRIN : Error 14 converting the strings of share 'VRIN$'"}, 126));
  }
}

// --- Failures reported around the query and the addition ------------------------------

TEST_F(HiddenShareTest, FailedQueryIsReportedAndTheShareStillAdded) {
  Faults::Instance().Fail("NetShareGetInfo", ERROR_ACCESS_DENIED);
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", kFolder.c_str(), true), 0u);
  EXPECT_NE(Share(), nullptr);
  EXPECT_EQ(LogLines(),
            Lines(kFolder, {"ERR: OV VRIN : Error 5 getting share info for 'VRIN$'", "OV VRIN : Adding new share"}, 0));
}

TEST_F(HiddenShareTest, RefusedParameterIsReportedWithItsIndex) {
  MSIHANDLE hInstall = Open("Velmora\\Config");
  EXPECT_EQ(VrinNTCreateShare(hInstall), 0u) << "the action ignores the result";
  EXPECT_EQ(Shares::Instance().Count(), 0u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end() - 1),
            Lines("Velmora\\Config",
                  {"OV VRIN : Adding new share",
                   "ERR: OV VRIN : Error 87 in param 8 adding share 'VRIN$' on path 'Velmora\\Config'"},
                  87));
}

TEST_F(HiddenShareTest, MissingFolderIsReportedWithoutParameterIndex) {
  MSIHANDLE hInstall = Open("C:\\Nowhere");
  EXPECT_EQ(AddShare(hInstall, "VRIN$", "OV Velmora", "C:\\Nowhere", true), 2116u);
  EXPECT_EQ(LogLines(), Lines("C:\\Nowhere",
                              {"OV VRIN : Adding new share",
                               "ERR: OV VRIN : Error 2116 in param 0 adding share 'VRIN$' on path 'C:\\Nowhere'"},
                              2116));
}

// --- Deletion -------------------------------------------------------------------------

TEST_F(HiddenShareTest, DeletingTwiceSucceedsBothTimes) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  MSIHANDLE hInstall = Open(kFolder);
  EXPECT_EQ(VrinNTDeleteShare(hInstall), 0u);
  EXPECT_EQ(Share(), nullptr);
  EXPECT_EQ(DeleteShare("VRIN$"), 0u) << "2310 counts as success";
  EXPECT_EQ(VrinNTDeleteShare(hInstall), 0u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"OV VRIN : VrinNTDeleteShare ->", "OV VRIN : VrinNTDeleteShare <- [0]",
                                      "OV VRIN : VrinNTDeleteShare ->", "OV VRIN : VrinNTDeleteShare <- [0]"}));
}

TEST_F(HiddenShareTest, DeletionLeavesOtherShares) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  Shares::Instance().Seed(host::ShareRecord::Disk("DATA", kFolder));
  EXPECT_EQ(DeleteShare("VRIN$"), 0u);
  EXPECT_EQ(Shares::Instance().Count(), 1u);
  EXPECT_NE(Shares::Instance().Find("DATA"), nullptr);
}

TEST_F(HiddenShareTest, DeletionWithoutNetApiDll) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  host::Modules::Instance().Remove(kNetApi);
  EXPECT_EQ(DeleteShare("VRIN$"), 126u);
  EXPECT_EQ(VrinNTDeleteShare(Open(kFolder)), 0u) << "the action ignores the result";
  EXPECT_NE(Share(), nullptr);
}

TEST_F(HiddenShareTest, DeletionWithoutNetShareDel) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  host::Modules::Instance().RemoveExport(kNetApi, "NetShareDel");
  EXPECT_EQ(DeleteShare("VRIN$"), 1u);
  EXPECT_NE(Share(), nullptr);
}

TEST_F(HiddenShareTest, FailedDeletionReturnsItsCode) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  Faults::Instance().Fail("NetShareDel", ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteShare("VRIN$"), 5u);
  EXPECT_NE(Share(), nullptr);
}

TEST_F(HiddenShareTest, DeletionWithoutMemoryForTheName) {
  Shares::Instance().Seed(host::ShareRecord::Disk("VRIN$", kFolder));
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(DeleteShare("VRIN$"), 14u);
  EXPECT_NE(Share(), nullptr);
  EXPECT_EQ(Faults::Instance().CallCounts().count("NetShareDel"), 0u) << "no call with a missing name";
}

}  // namespace
