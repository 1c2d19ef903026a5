// The simulated shell folders and task allocator, and OpenFile's existence
// test: paths, the account of item lists and allocator references, misuse
// records, faults, and OpenFile's errors as Windows reports them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/shell_folders.h"

namespace {

using host::Files;
using host::ShellFolders;

ShellFolders& Folders() { return ShellFolders::Instance(); }

class ShellFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override {
    EXPECT_EQ(Files().OpenFileHandles(), 0);
    host::ResetMachine();
  }

  // The common Programs folder's path through the three calls, releasing all.
  static std::string ProgramsPath() {
    LPMALLOC pMalloc = nullptr;
    EXPECT_EQ(SHGetMalloc(&pMalloc), S_OK);
    LPITEMIDLIST pidl = nullptr;
    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
    char szPath[MAX_PATH] = "garbage";
    EXPECT_TRUE(SHGetPathFromIDList(pidl, szPath));
    pMalloc->Free(pidl);
    pMalloc->Release();
    return szPath;
  }
};

TEST_F(ShellFoldersTest, TheDefaultCommonProgramsFolderIsTheModernOne) {
  EXPECT_EQ(Folders().CommonPrograms(), "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  Files().AddDirectory(host::kDefaultCommonPrograms);
  EXPECT_EQ(ProgramsPath(), host::kDefaultCommonPrograms);
  EXPECT_EQ(Folders().LiveBlocks(), 0);
  EXPECT_EQ(Folders().AllocatorReferences(), 0);
  EXPECT_EQ(Folders().AllocatorRequests(), 1);
  EXPECT_TRUE(Folders().Misuses().empty());
}

TEST_F(ShellFoldersTest, TheFolderIsConfigurablePerMachineAndResetRestoresTheDefault) {
  Folders().SetCommonPrograms(host::kLegacyCommonPrograms);
  Files().AddDirectory(host::kLegacyCommonPrograms);
  EXPECT_EQ(ProgramsPath(), "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
  host::ResetMachine();
  EXPECT_EQ(Folders().CommonPrograms(), host::kDefaultCommonPrograms);
}

TEST_F(ShellFoldersTest, AMissingFolderFailsTheLocationWithEFail) {
  LPITEMIDLIST pidl = reinterpret_cast<LPITEMIDLIST>(&pidl);
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), E_FAIL);
  EXPECT_EQ(pidl, nullptr);
  Files().AddFile(host::kDefaultCommonPrograms, "a file, not a folder");
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), E_FAIL);
  EXPECT_EQ(Folders().LiveItemLists(), 0);
}

TEST_F(ShellFoldersTest, OnlyTheCommonProgramsFolderIsKnown) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  LPITEMIDLIST pidl = nullptr;
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 0x0002 /* CSIDL_PROGRAMS */, &pidl), E_INVALIDARG);
  EXPECT_EQ(pidl, nullptr);
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, nullptr), E_INVALIDARG);
}

TEST_F(ShellFoldersTest, TheAccountShowsWhatCallersStillHold) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  LPMALLOC pMalloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&pMalloc), S_OK);
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
  EXPECT_EQ(Folders().LiveItemLists(), 1);
  EXPECT_EQ(Folders().AllocatorReferences(), 1);
  // The list has the shape of an item ID list: one item, then a zero size.
  EXPECT_EQ(static_cast<size_t>(pidl->mkid.cb), sizeof(USHORT) + std::strlen(host::kDefaultCommonPrograms) + 1);
  EXPECT_EQ(pMalloc->DidAlloc(pidl), 1);
  pMalloc->Free(pidl);
  EXPECT_EQ(Folders().LiveItemLists(), 0);
  EXPECT_EQ(pMalloc->Release(), 0u);
  EXPECT_EQ(Folders().AllocatorReferences(), 0);
  EXPECT_TRUE(Folders().Misuses().empty());
}

TEST_F(ShellFoldersTest, MisusesAreRecorded) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  LPMALLOC pMalloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&pMalloc), S_OK);
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
  pMalloc->Free(pidl);
  char szPath[MAX_PATH] = {};
  SetLastError(0);
  EXPECT_FALSE(SHGetPathFromIDList(pidl, szPath));  // a freed list
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  pMalloc->Free(pidl);  // twice
  int local = 0;
  pMalloc->Free(&local);   // never handed out
  pMalloc->Free(nullptr);  // allowed
  pMalloc->Release();
  pMalloc->Release();  // one too many
  ASSERT_EQ(Folders().Misuses().size(), 4u);
  EXPECT_NE(Folders().Misuses()[0].find("SHGetPathFromIDList of "), std::string::npos);
  EXPECT_NE(Folders().Misuses()[1].find("IMalloc::Free of "), std::string::npos);
  EXPECT_NE(Folders().Misuses()[2].find("IMalloc::Free of "), std::string::npos);
  EXPECT_EQ(Folders().Misuses()[3], "IMalloc::Release too many");
}

TEST_F(ShellFoldersTest, FreeingAfterTheLastReleaseIsAMisuse) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  LPMALLOC pMalloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&pMalloc), S_OK);
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
  pMalloc->Release();
  pMalloc->Free(pidl);
  EXPECT_EQ(Folders().Misuses(), (std::vector<std::string>{"IMalloc::Free without a reference"}));
  EXPECT_EQ(Folders().LiveItemLists(), 0);
}

TEST_F(ShellFoldersTest, ResetFreesWhatWasLeft) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  LPMALLOC pMalloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&pMalloc), S_OK);
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
  host::ResetMachine();
  EXPECT_EQ(Folders().LiveBlocks(), 0);
  EXPECT_EQ(Folders().AllocatorReferences(), 0);
  EXPECT_EQ(Folders().AllocatorRequests(), 0);
}

TEST_F(ShellFoldersTest, FaultsFailEachCall) {
  Files().AddDirectory(host::kDefaultCommonPrograms);
  host::Faults::Instance().Fail("SHGetMalloc", static_cast<uint32_t>(E_OUTOFMEMORY));
  LPMALLOC pMalloc = reinterpret_cast<LPMALLOC>(&pMalloc);
  EXPECT_EQ(SHGetMalloc(&pMalloc), E_OUTOFMEMORY);
  EXPECT_EQ(pMalloc, nullptr);
  EXPECT_EQ(Folders().AllocatorReferences(), 0);

  host::Faults::Instance().Fail("SHGetSpecialFolderLocation", static_cast<uint32_t>(E_FAIL));
  LPITEMIDLIST pidl = nullptr;
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), E_FAIL);
  EXPECT_EQ(pidl, nullptr);
  EXPECT_EQ(Folders().LiveItemLists(), 0);

  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &pidl), S_OK);
  host::Faults::Instance().Fail("SHGetPathFromIDList", ERROR_ACCESS_DENIED);
  char szPath[MAX_PATH] = "garbage";
  EXPECT_FALSE(SHGetPathFromIDList(pidl, szPath));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_STREQ(szPath, "");
  ASSERT_EQ(SHGetMalloc(&pMalloc), S_OK);
  pMalloc->Free(pidl);
  pMalloc->Release();
}

// --- OpenFile ---

class OpenFileTest : public ShellFoldersTest {
 protected:
  // OpenFile with OF_EXIST on a record filled with 0xA5, as Wine's
  // conformance test does; the record is kept for inspection.
  HFILE Exist(const std::string& path) {
    std::memset(&record_, 0xA5, sizeof(record_));
    return OpenFile(path.c_str(), &record_, OF_EXIST);
  }
  OFSTRUCT record_;
};

TEST_F(OpenFileTest, AnExistingFileGivesOneAndAFilledRecord) {
  Files().AddFile("C:\\Program Files\\Velmora\\skdnt.exe", "image");
  EXPECT_EQ(Exist("c:\\program files\\velmora\\skdnt.exe"), 1);
  EXPECT_EQ(static_cast<size_t>(record_.cBytes), sizeof(OFSTRUCT));
  EXPECT_EQ(record_.nErrCode, 0);
  EXPECT_STREQ(record_.szPathName, "C:\\program files\\velmora\\skdnt.exe");
  EXPECT_EQ(Files().OpenFileHandles(), 0) << "the file is closed again";
}

TEST_F(OpenFileTest, AMissingFileOrFolderIsFileNotFound) {
  Files().AddDirectory("C:\\Program Files\\Velmora");
  EXPECT_EQ(Exist("C:\\Program Files\\Velmora\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(record_.cBytes, 0xA5) << "a failure sets only the error";
  EXPECT_EQ(Exist("C:\\Nowhere\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_FILE_NOT_FOUND);
}

TEST_F(OpenFileTest, AFullPathOf128CharactersOrMoreIsRefused) {
  const std::string folder = "C:\\" + std::string(115, 'f');
  Files().AddFile(folder + "\\skdnt.exe", "image");  // 128 characters
  EXPECT_EQ(Exist(folder + "\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_INVALID_DATA);
  EXPECT_EQ(static_cast<unsigned char>(record_.szPathName[0]), 0xA5);
  Files().AddFile(folder + "\\skd.exe", "image");  // 126 characters
  EXPECT_EQ(Exist(folder + "\\skd.exe"), 1);
  EXPECT_EQ(Exist("C:\\" + std::string(300, 'g')), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(OpenFileTest, AFolderOrAFileHeldWithoutSharingCannotBeOpened) {
  Files().AddDirectory("C:\\Velmora\\skdnt.exe");
  EXPECT_EQ(Exist("C:\\Velmora\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_ACCESS_DENIED);
  Files().AddFile("C:\\Server\\skdnt.exe", "image");
  Files().HoldOpen("C:\\Server\\skdnt.exe", GENERIC_READ, 0);
  EXPECT_EQ(Exist("C:\\Server\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_SHARING_VIOLATION);
  Files().Release("C:\\Server\\skdnt.exe");
  // A running image shares reading: the test still finds it.
  Files().HoldOpen("C:\\Server\\skdnt.exe", GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE);
  EXPECT_EQ(Exist("C:\\Server\\skdnt.exe"), 1);
}

TEST_F(OpenFileTest, FaultsAndUnsimulatedStyles) {
  Files().AddFile("C:\\Server\\skdnt.exe", "image");
  host::Faults::Instance().Fail("OpenFile", ERROR_NOT_ENOUGH_MEMORY, 1, "C:\\SERVER\\skdnt.exe");
  EXPECT_EQ(Exist("C:\\Server\\skdnt.exe"), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(Exist("C:\\Server\\skdnt.exe"), 1);
  std::memset(&record_, 0, sizeof(record_));
  EXPECT_EQ(OpenFile("C:\\Server\\skdnt.exe", &record_, OF_READ), HFILE_ERROR);
  EXPECT_EQ(record_.nErrCode, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenFile("C:\\Server\\skdnt.exe", nullptr, OF_EXIST), HFILE_ERROR);
}

}  // namespace
