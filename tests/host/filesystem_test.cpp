// The simulated machine's file system and the calls over it: Windows path
// rules, attributes, sharing, deletion at restart, listings, the C runtime's
// _rmdir, file handles, version resources, the shell and profile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/registry.h"
#include "host/shell.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override {
    EXPECT_EQ(Files().OpenFileHandles(), 0) << "a test left a file handle open";
    EXPECT_EQ(Files().OpenFindHandles(), 0) << "a test left a find handle open";
    host::ResetMachine();
  }

  // The last error of a call that must fail.
  static DWORD ErrorOf(BOOL result) {
    EXPECT_FALSE(result);
    return GetLastError();
  }
};

std::string PathOfLength(size_t length) {
  // C:\ then components of 100 characters.
  std::string path = "C:\\";
  while (path.size() < length) {
    std::string part(std::min<size_t>(100, length - path.size()), 'p');
    path += part;
    if (path.size() < length) path += "\\";
  }
  return path;
}

// --- Paths ---

TEST_F(FileSystemTest, NamesIgnoreCaseAndKeepTheirSpelling) {
  Files().AddFile("C:\\Program Files\\Velmora\\SkdNt.Exe", "MZ");
  EXPECT_NE(GetFileAttributes("c:\\PROGRAM FILES\\velmora\\skdnt.exe"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Files().List("C:\\program files\\VELMORA"), (std::vector<std::string>{"SkdNt.Exe"}));
  // A second spelling finds the same file instead of creating another.
  Files().AddFile("C:\\PROGRAM FILES\\velmora\\SKDNT.EXE", "MZ2");
  EXPECT_EQ(Files().List("C:\\Program Files\\Velmora"), (std::vector<std::string>{"SkdNt.Exe"}));
  EXPECT_EQ(Files().FileContent("C:\\Program Files\\Velmora\\SkdNt.Exe"), "MZ2");
}

TEST_F(FileSystemTest, SlashesDotsAndDotDots) {
  Files().AddFile("C:\\a\\b\\f.txt", "x");
  EXPECT_TRUE(Files().Exists("C:/a/b/f.txt"));
  EXPECT_TRUE(Files().Exists("C:\\a\\.\\b\\..\\b\\f.txt"));
  EXPECT_TRUE(Files().Exists("\\a\\b\\f.txt"));  // rooted on the current drive
  EXPECT_TRUE(Files().Exists("a\\b\\f.txt"));    // relative to C:\.
  EXPECT_TRUE(Files().IsDirectory("C:"));        // the drive's own folder is its root
  EXPECT_TRUE(Files().IsDirectory("C:\\..\\.."));
}

TEST_F(FileSystemTest, PathsOfMaxPathOrMoreFailWithFilenameExcedRange) {
  std::string longest = PathOfLength(MAX_PATH - 1);
  Files().AddFile(longest, "");
  EXPECT_NE(GetFileAttributes(longest.c_str()), INVALID_FILE_ATTRIBUTES);
  std::string tooLong = longest + "x";
  ASSERT_EQ(tooLong.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(GetFileAttributes(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(ErrorOf(DeleteFile(tooLong.c_str())), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(ErrorOf(MoveFileEx(tooLong.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)),
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(Files().PendingOperations().empty());
  std::string longComponent = "C:\\" + std::string(256, 'n');
  EXPECT_EQ(GetFileAttributes(longComponent.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(FileSystemTest, MissingFileFolderDriveAndUnusableNames) {
  Files().AddDirectory("C:\\Velmora");
  EXPECT_EQ(GetFileAttributes("C:\\Velmora\\none.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributes("C:\\Nowhere\\none.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributes("Q:\\none.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributes("\\\\server\\share\\f"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(GetFileAttributes("C:\\Velmora\\a|b"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(GetFileAttributes("C:\\Velmora\\*.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(GetFileAttributes(""), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystemTest, DoubleByteTrailBackslashIsNoSeparator) {
  host::SetAnsiCodePage(932);
  const std::string name = "C:\\\x83\x5c\\f.txt";  // a folder named by one character ending in 0x5C
  Files().AddFile(name, "x");
  EXPECT_EQ(Files().List("C:\\").size(), 2u);  // WINDOWS and the new folder
  EXPECT_NE(GetFileAttributes(name.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileSystemTest, ResetGivesAFreshMachine) {
  Files().AddFile("C:\\x.txt", "x");
  Files().AddFile("D:\\y.txt", "y");
  host::ResetMachine();
  EXPECT_FALSE(Files().Exists("C:\\x.txt"));
  EXPECT_FALSE(Files().Exists("D:\\"));
  EXPECT_TRUE(Files().IsDirectory("C:\\WINDOWS\\system32"));
}

TEST_F(FileSystemTest, DrivesWrittenToDiskKeepNamesAndContent) {
  Files().AddFile("C:\\Program Files\\Velmora\\Skdnt.exe", std::string("MZ\0\x90", 4));
  Files().AddDirectory("D:\\Empty");
  char pattern[] = "/tmp/vrindrives-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path folder = pattern;
  Files().WriteDrives(folder.string());
  std::ifstream in(folder / "C" / "Program Files" / "Velmora" / "Skdnt.exe", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string("MZ\0\x90", 4));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "C" / "WINDOWS" / "system32"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "D" / "Empty"));
  std::filesystem::remove_all(folder);
}

// --- Attributes ---

TEST_F(FileSystemTest, AttributesOfFilesAndFolders) {
  Files().AddFile("C:\\d\\f.txt", "x");
  EXPECT_EQ(GetFileAttributes("C:\\d\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributes("C:\\d"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(SetFileAttributes("C:\\d\\f.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributes("C:\\d\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(SetFileAttributes("C:\\d\\f.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributes("C:\\d\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(ErrorOf(SetFileAttributes("C:\\d\\none", FILE_ATTRIBUTE_NORMAL)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileSystemTest, ReadOnlyFileRefusesDeletionAndWriting) {
  Files().AddFile("C:\\d\\f.txt", "x");
  Files().SetReadOnly("C:\\d\\f.txt");
  EXPECT_EQ(ErrorOf(DeleteFile("C:\\d\\f.txt")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFile("C:\\d\\f.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE h = CreateFile("C:\\d\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(SetFileAttributes("C:\\d\\f.txt", FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(DeleteFile("C:\\d\\f.txt"));
  EXPECT_FALSE(Files().Exists("C:\\d\\f.txt"));
}

TEST_F(FileSystemTest, DeleteFileOfAFolderIsAccessDenied) {
  Files().AddDirectory("C:\\d");
  EXPECT_EQ(ErrorOf(DeleteFile("C:\\d")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ErrorOf(DeleteFile("C:\\d\\none")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// --- Sharing ---

TEST_F(FileSystemTest, FileHeldOpenElsewhereRefusesDeletionAndConflictingOpens) {
  Files().AddFile("C:\\d\\skdnt.exe", "MZ");
  Files().HoldOpen("C:\\d\\skdnt.exe", GENERIC_READ, FILE_SHARE_READ);
  EXPECT_EQ(ErrorOf(DeleteFile("C:\\d\\skdnt.exe")), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(CreateFile("C:\\d\\skdnt.exe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(CreateFile("C:\\d\\skdnt.exe", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE h = CreateFile("C:\\d\\skdnt.exe", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  Files().Release("C:\\d\\skdnt.exe");
  EXPECT_TRUE(DeleteFile("C:\\d\\skdnt.exe"));
}

TEST_F(FileSystemTest, HolderThatSharesDeletionDoesNotStopIt) {
  Files().AddFile("C:\\d\\log.txt", "x");
  Files().HoldOpen("C:\\d\\log.txt", GENERIC_READ | GENERIC_WRITE,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_TRUE(DeleteFile("C:\\d\\log.txt"));
}

TEST_F(FileSystemTest, OwnHandlesTakePartInSharing) {
  Files().AddFile("C:\\d\\f.txt", "x");
  HANDLE first = CreateFile("C:\\d\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFile("C:\\D\\F.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ErrorOf(DeleteFile("C:\\d\\f.txt")), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(DeleteFile("C:\\d\\f.txt"));
}

// --- Deletion at restart ---

std::vector<uint8_t> PendingBytes() {
  std::optional<host::RegValue> value =
      host::LocalRegistry().Value(host::kSessionManagerKey, host::kPendingRenamesValue);
  if (!value) return {};
  EXPECT_EQ(value->type, static_cast<uint32_t>(REG_MULTI_SZ));
  return value->data;
}

// The bytes of a literal with its embedded NULs, without the literal's own.
template <size_t N>
std::vector<uint8_t> Bytes(const char (&text)[N]) {
  return std::vector<uint8_t>(text, text + N - 1);
}

TEST_F(FileSystemTest, ScheduledDeletionsAreRecordedWhereWindowsKeepsThem) {
  Files().AddFile("C:\\Velmora\\skdnt.exe", "MZ");
  ASSERT_TRUE(MoveFileEx("C:\\Velmora\\skdnt.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(PendingBytes(), Bytes("\\??\\C:\\Velmora\\skdnt.exe\0\0\0"));
  // The path is not checked for existence; a second entry is appended.
  ASSERT_TRUE(MoveFileEx("c:/velmora/gone/..", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(PendingBytes(), Bytes("\\??\\C:\\Velmora\\skdnt.exe\0\0\\??\\C:\\velmora\0\0\0"));
  EXPECT_EQ(Files().PendingOperations(), (std::vector<std::pair<std::string, std::string>>{
                                             {"\\??\\C:\\Velmora\\skdnt.exe", ""}, {"\\??\\C:\\velmora", ""}}));
  EXPECT_TRUE(Files().Exists("C:\\Velmora\\skdnt.exe"));
}

TEST_F(FileSystemTest, SchedulingCanBeDenied) {
  Files().AddFile("C:\\Velmora\\skdnt.exe", "MZ");
  host::LocalRegistry().Deny(host::kSessionManagerKey, KEY_SET_VALUE);
  EXPECT_EQ(ErrorOf(MoveFileEx("C:\\Velmora\\skdnt.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Files().PendingOperations().empty());
  host::LocalRegistry().Deny(host::kSessionManagerKey, 0);
  Faults::Instance().Fail("MoveFileEx", ERROR_ACCESS_DENIED, 1, "c:\\VELMORA\\skdnt.exe");
  EXPECT_EQ(ErrorOf(MoveFileEx("C:\\Velmora\\skdnt.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(MoveFileEx("C:\\Velmora\\skdnt.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

TEST_F(FileSystemTest, RestartAppliesThePendingListAndReleasesHeldFiles) {
  Files().AddFile("C:\\Velmora\\skdnt.exe", "MZ");
  Files().AddFile("C:\\Velmora\\keep.txt", "k");
  Files().AddDirectory("C:\\Velmora\\Empty");
  Files().SetReadOnly("C:\\Velmora\\skdnt.exe");
  Files().HoldOpen("C:\\Velmora\\skdnt.exe", GENERIC_READ, 0);
  Files().HoldOpen("C:\\Velmora\\keep.txt", GENERIC_READ, 0);
  Files().HoldDirectory("C:\\Velmora\\Empty");
  ASSERT_TRUE(MoveFileEx("C:\\Velmora\\skdnt.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileEx("C:\\Velmora\\Empty", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileEx("C:\\Velmora", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  Files().Restart();
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\skdnt.exe"));
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\Empty"));
  EXPECT_TRUE(Files().Exists("C:\\Velmora"));  // not empty by then
  EXPECT_TRUE(Files().PendingOperations().empty());
  EXPECT_TRUE(DeleteFile("C:\\Velmora\\keep.txt")) << "the restart ended the holder";
}

TEST_F(FileSystemTest, DelayedRenameAndImmediateMove) {
  Files().AddFile("C:\\d\\new.dll", "new");
  Files().AddFile("C:\\d\\old.dll", "old");
  ASSERT_TRUE(MoveFileEx("C:\\d\\new.dll", "C:\\d\\old.dll", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Files().PendingOperations(),
            (std::vector<std::pair<std::string, std::string>>{{"\\??\\C:\\d\\new.dll", "!\\??\\C:\\d\\old.dll"}}));
  Files().Restart();
  EXPECT_EQ(Files().FileContent("C:\\d\\old.dll"), "new");
  EXPECT_FALSE(Files().Exists("C:\\d\\new.dll"));

  Files().SetReadOnly("C:\\d\\old.dll");
  ASSERT_TRUE(MoveFileEx("C:\\d\\old.dll", "C:\\d\\moved.dll", 0));
  EXPECT_EQ(GetFileAttributes("C:\\d\\moved.dll"),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  Files().AddFile("C:\\d\\other.dll", "o");
  EXPECT_EQ(ErrorOf(MoveFileEx("C:\\d\\other.dll", "C:\\d\\moved.dll", 0)), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

// --- Listings ---

std::vector<std::string> ListAll(const char* pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = GetLastError();
    return names;
  }
  do {
    names.push_back(data.cFileName);
  } while (FindNextFile(h, &data));
  if (error != nullptr) *error = GetLastError();
  FindClose(h);
  return names;
}

TEST_F(FileSystemTest, ListingStartsWithDotsThenNtfsOrder) {
  Files().AddFile("C:\\d\\b.txt", "bb");
  Files().AddFile("C:\\d\\A.txt", "a");
  Files().AddFile("C:\\d\\_x.txt", "");
  Files().AddDirectory("C:\\d\\Sub");
  DWORD error = 0;
  // Letters compare in upper case, so '_' (0x5F) comes after them.
  EXPECT_EQ(ListAll("C:\\d\\*", &error), (std::vector<std::string>{".", "..", "A.txt", "b.txt", "Sub", "_x.txt"}));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(ListAll("C:\\d\\*.TXT"), (std::vector<std::string>{"A.txt", "b.txt", "_x.txt"}));
  EXPECT_EQ(ListAll("C:\\d\\?.txt"), (std::vector<std::string>{"A.txt", "b.txt"}));
  EXPECT_EQ(ListAll("C:\\d\\*.*").size(), 6u);
  EXPECT_EQ(ListAll("C:\\d\\b.txt"), (std::vector<std::string>{"b.txt"}));
}

TEST_F(FileSystemTest, RootOfADriveHasNoDotEntries) {
  Files().AddFile("D:\\setup.exe", "MZ");
  EXPECT_EQ(ListAll("D:\\*"), (std::vector<std::string>{"setup.exe"}));
}

TEST_F(FileSystemTest, FindDataCarriesAttributesAndSize) {
  Files().AddFile("C:\\d\\f.txt", "12345");
  Files().SetReadOnly("C:\\d\\f.txt");
  Files().AddDirectory("C:\\d\\Sub");
  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile("C:\\d\\f.txt", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  FindClose(h);
  h = FindFirstFile("C:\\d\\sub", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Sub");
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(h);
}

TEST_F(FileSystemTest, FindFailures) {
  Files().AddDirectory("C:\\d");
  DWORD error = 0;
  EXPECT_TRUE(ListAll("C:\\none\\*", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(ListAll("C:\\d\\*.dll", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(ListAll("C:\\d\\", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(0x1234)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileSystemTest, EntriesDeletedDuringAListingAreSkipped) {
  Files().AddFile("C:\\d\\a.txt", "");
  Files().AddFile("C:\\d\\b.txt", "");
  Files().AddFile("C:\\d\\c.txt", "");
  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile("C:\\d\\*.txt", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "a.txt");
  ASSERT_TRUE(DeleteFile("C:\\d\\b.txt"));
  ASSERT_TRUE(FindNextFile(h, &data));
  EXPECT_STREQ(data.cFileName, "c.txt");
  EXPECT_FALSE(FindNextFile(h, &data));
  EXPECT_EQ(Files().OpenFindHandles(), 1);
  FindClose(h);
}

// --- _rmdir ---

int RmdirErrno(const char* path) {
  errno = 0;
  EXPECT_EQ(_rmdir(path), -1);
  return errno;
}

TEST_F(FileSystemTest, RmdirRemovesOnlyEmptyFoldersWithWindowsErrnoValues) {
  Files().AddFile("C:\\d\\f.txt", "");
  Files().AddDirectory("C:\\e");
  EXPECT_EQ(RmdirErrno("C:\\d"), host::kCrtENOTEMPTY);
  EXPECT_EQ(host::kCrtENOTEMPTY, 41);
  EXPECT_EQ(RmdirErrno("C:\\d\\f.txt"), host::kCrtEINVAL);
  EXPECT_EQ(RmdirErrno("C:\\"), host::kCrtENOTEMPTY);
  EXPECT_EQ(RmdirErrno("C:\\none"), host::kCrtENOENT);
  EXPECT_EQ(RmdirErrno(PathOfLength(MAX_PATH).c_str()), host::kCrtENOENT);
  Files().HoldDirectory("C:\\e");
  EXPECT_EQ(RmdirErrno("C:\\e"), host::kCrtEACCES);
  Files().Release("C:\\e");
  Files().SetReadOnly("C:\\e");
  EXPECT_EQ(RmdirErrno("C:\\e"), host::kCrtEACCES);
  Files().SetReadOnly("C:\\e", false);
  EXPECT_EQ(_rmdir("C:\\E"), 0);
  EXPECT_FALSE(Files().Exists("C:\\e"));
}

TEST_F(FileSystemTest, RemoveAndCreateDirectoryGiveWin32Errors) {
  Files().AddFile("C:\\d\\f.txt", "");
  EXPECT_EQ(ErrorOf(RemoveDirectory("C:\\d")), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(ErrorOf(CreateDirectory("C:\\d", nullptr)), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ErrorOf(CreateDirectory("C:\\x\\y", nullptr)), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(CreateDirectory("C:\\x", nullptr));
  EXPECT_TRUE(RemoveDirectory("C:\\x"));
}

// --- File handles ---

TEST_F(FileSystemTest, CreateReadSizeAndCloseWithAccounting) {
  Files().AddFile("C:\\d\\f.txt", "hello");
  HANDLE h = CreateFile("C:\\d\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Files().OpenFileHandles(), 1);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 5u);
  EXPECT_EQ(high, 0u);
  char buffer[8] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buffer, 3, &read, nullptr));
  EXPECT_EQ(read, 3u);
  EXPECT_TRUE(ReadFile(h, buffer + 3, 8 - 3 - 1, &read, nullptr));
  EXPECT_EQ(read, 2u);
  EXPECT_STREQ(buffer, "hello");
  DWORD written = 0;
  EXPECT_EQ(ErrorOf(WriteFile(h, "x", 1, &written, nullptr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Files().OpenFileHandles(), 0);
  EXPECT_EQ(ErrorOf(CloseHandle(h)), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileSystemTest, CreationDispositions) {
  EXPECT_EQ(CreateFile("C:\\n.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFile("C:\\none\\n.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  HANDLE h = CreateFile("C:\\n.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributes("C:\\n.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(CreateFile("C:\\n.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  h = CreateFile("C:\\n.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(Files().FileContent("C:\\n.txt"), "");
  EXPECT_EQ(CreateFile("C:\\WINDOWS", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileSystemTest, FaultsAreKeyedByPath) {
  Files().AddFile("C:\\d\\f.txt", "x");
  Faults::Instance().Fail("ReadFile", ERROR_ACCESS_DENIED, 1, "c:\\d\\F.TXT");
  HANDLE h = CreateFile("C:\\d\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buffer[4];
  DWORD read = 9;
  EXPECT_EQ(ErrorOf(ReadFile(h, buffer, 1, &read, nullptr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(ReadFile(h, buffer, 1, &read, nullptr));
  CloseHandle(h);
  EXPECT_EQ(Faults::Instance().CallCounts().at("ReadFile"), 2);
}

// --- Windows and system folders ---

TEST_F(FileSystemTest, DirectoryCallsFollowTheBufferContract) {
  char buffer[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectory(buffer, sizeof(buffer)), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetSystemDirectory(buffer, sizeof(buffer)), 19u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
  char small[10];
  std::memset(small, 'z', sizeof(small));
  EXPECT_EQ(GetWindowsDirectory(small, sizeof(small)), 11u);  // the size needed, NUL included
  EXPECT_EQ(small[0], 'z');
  char exact[11];
  EXPECT_EQ(GetWindowsDirectory(exact, sizeof(exact)), 10u);
  EXPECT_EQ(GetWindowsDirectory(nullptr, 0), 11u);
  EXPECT_TRUE(Files().IsDirectory(buffer));
}

// --- Version resources ---

DWORD VersionSize(const char* path, DWORD* error) {
  DWORD handle = 0x55;
  SetLastError(0);
  DWORD size = GetFileVersionInfoSize(path, &handle);
  EXPECT_EQ(handle, 0u);
  *error = GetLastError();
  return size;
}

TEST_F(FileSystemTest, VersionOfAnImageWithAVersionResource) {
  Files().AddFile("C:\\d\\skdnt.exe", vrintest::VersionedDll({5, 2, 1234, 7}));
  DWORD error = 0;
  DWORD size = VersionSize("C:\\d\\skdnt.exe", &error);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfo("C:\\d\\skdnt.exe", 0, size, block.data()));
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(block.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof(fixed));
  EXPECT_EQ(fixed.dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
  EXPECT_EQ(fixed.dwFileVersionMS, (5u << 16) | 2u);
  EXPECT_EQ(fixed.dwFileVersionLS, (1234u << 16) | 7u);
  ASSERT_TRUE(VerQueryValue(block.data(), "\\varfileinfo\\Translation", &value, &length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(std::memcmp(value, "\x09\x04\xb0\x04", 4), 0);
  EXPECT_FALSE(VerQueryValue(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_FALSE(VerQueryValue(block.data(), "\\VarFileInfo", &value, &length)) << "a block without a value";
}

TEST_F(FileSystemTest, VersionFailuresAsWindowsReportsThem) {
  Files().AddFile("C:\\d\\readme.txt", "not an image");
  Files().AddFile("C:\\d\\plain.dll", vrintest::UnversionedDll());
  Files().AddFile("C:\\d\\bare.dll", vrintest::AsText(vrintest::PeImageWith({})));
  Files().AddFile("C:\\d\\held.dll", vrintest::VersionedDll({1, 0, 0, 0}));
  Files().HoldOpen("C:\\d\\held.dll", GENERIC_WRITE, 0);
  DWORD error = 0;
  EXPECT_EQ(VersionSize("C:\\d\\readme.txt", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(VersionSize("C:\\d\\plain.dll", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(VersionSize("C:\\d\\bare.dll", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(VersionSize("C:\\d\\none.dll", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(VersionSize("C:\\d\\held.dll", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileSystemTest, ShortVersionBufferNeverLetsTheWalkLeaveIt) {
  Files().AddFile("C:\\d\\v.dll", vrintest::VersionedDll({1, 2, 3, 4}));
  std::vector<uint8_t> block(40, 0xCC);
  ASSERT_TRUE(GetFileVersionInfo("C:\\d\\v.dll", 0, 40, block.data()));
  EXPECT_EQ(block[0] | (block[1] << 8), 40) << "the block claims no more than the buffer";
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValue(block.data(), "\\", &value, &length));
}

TEST_F(FileSystemTest, DeclaredFixedBlockLengthIsWhatTheQueryReturns) {
  Files().AddFile("C:\\d\\odd.dll",
                  vrintest::AsText(vrintest::PeImageWith({{vrintest::kRtVersion, 1, vrintest::kLangEnglishUs,
                                                           vrintest::VersionInfo({1, 0, 0, 0}, {1, 0, 0, 0}, 20)}})));
  DWORD error = 0;
  DWORD size = VersionSize("C:\\d\\odd.dll", &error);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfo("C:\\d\\odd.dll", 0, size, block.data()));
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(block.data(), "\\", &value, &length));
  EXPECT_EQ(length, 20u);
}

// --- The shell ---

INT_PTR Launch(const char* verb, const char* file, const char* directory) {
  return reinterpret_cast<INT_PTR>(ShellExecute(nullptr, verb, file, nullptr, directory, SW_SHOWNORMAL));
}

TEST_F(FileSystemTest, ShellOpensAssociatedDocumentsAndRecordsThem) {
  Files().AddFile("D:\\Setup\\Uncompressed\\readme.txt", "read me");
  host::Shell::Instance().Associate(".TXT", "C:\\WINDOWS\\notepad.exe", {"open", "print"});
  EXPECT_GT(Launch(nullptr, "readme.txt", "D:\\Setup\\Uncompressed"), 32);
  EXPECT_GT(Launch("print", "D:\\Setup\\Uncompressed\\README.TXT", nullptr), 32);
  ASSERT_EQ(host::Shell::Instance().Launched().size(), 2u);
  const host::LaunchedDocument& first = host::Shell::Instance().Launched()[0];
  EXPECT_EQ(first.file, "D:\\Setup\\Uncompressed\\readme.txt");
  EXPECT_EQ(first.verb, "");
  EXPECT_EQ(first.directory, "D:\\Setup\\Uncompressed");
  EXPECT_EQ(first.program, "C:\\WINDOWS\\notepad.exe");
  EXPECT_EQ(first.show, SW_SHOWNORMAL);
  EXPECT_EQ(host::Shell::Instance().Launched()[1].verb, "print");
}

TEST_F(FileSystemTest, ShellFailures) {
  Files().AddFile("D:\\Setup\\license.rtf", "{\\rtf}");
  Files().AddFile("D:\\Setup\\setup.exe", "MZ");
  host::Shell::Instance().Associate(".doc", "winword.exe");
  EXPECT_EQ(Launch(nullptr, "none.txt", "D:\\Setup"), SE_ERR_FNF);
  EXPECT_EQ(Launch(nullptr, "none.txt", "D:\\Nowhere"), SE_ERR_PNF);
  EXPECT_EQ(Launch(nullptr, "license.rtf", "D:\\Setup"), SE_ERR_NOASSOC);
  EXPECT_EQ(Launch(nullptr, nullptr, "D:\\Setup"), SE_ERR_FNF);
  Files().AddFile("D:\\Setup\\manual.doc", "");
  EXPECT_EQ(Launch("print", "manual.doc", "D:\\Setup"), SE_ERR_NOASSOC);
  EXPECT_GT(Launch(nullptr, "setup.exe", "D:\\Setup"), 32);
  EXPECT_EQ(host::Shell::Instance().Launched().back().program, "D:\\Setup\\setup.exe");
  EXPECT_EQ(host::Shell::Instance().Launched().size(), 1u);
}

// --- Profile files ---

class ProfileTest : public FileSystemTest {
 protected:
  void Write(const std::string& path, const std::string& content) { Files().AddFile(path, content); }
  std::string Get(const char* section, const char* key, const char* fallback, DWORD size, DWORD* count,
                  const char* file = "C:\\p.ini") {
    std::vector<char> buffer(size + 2, 'z');
    *count = GetPrivateProfileString(section, key, fallback, buffer.data(), size, file);
    return std::string(buffer.data(), buffer.size());  // two guard bytes past the buffer
  }
  std::string Get(const char* section, const char* key, const char* fallback = "default",
                  const char* file = "C:\\p.ini") {
    char buffer[MAX_PATH];
    GetPrivateProfileString(section, key, fallback, buffer, sizeof(buffer), file);
    return buffer;
  }
};

const char kProfile[] =
    "[section1]\r\n"
    "name1=val1\r\n"
    "name2=\"val2\"\r\n"
    "name3\r\n"
    "name4=a\r\n"
    "[section2]\r\n";

TEST_F(ProfileTest, ValuesDefaultsAndTheirCounts) {
  Write("C:\\p.ini", kProfile);
  DWORD count = 0;
  EXPECT_EQ(Get("section1", "name1", "default", 10, &count).substr(0, 5), std::string("val1\0", 5));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(Get("SECTION1", "NaMe1"), "val1");
  EXPECT_EQ(Get("section1", "name2"), "val2") << "one pair of quotes is stripped";
  EXPECT_EQ(Get("section1", "name3"), "default") << "a line without '=' is no key";
  EXPECT_EQ(Get("section1", "notakey"), "default");
  EXPECT_EQ(Get("notasection", "name1"), "default");
  EXPECT_EQ(Get("section1", "", "default"), "default");
  EXPECT_EQ(Get("section1", "notakey", "one two  "), "one two") << "trailing blanks of the default go";
  EXPECT_EQ(Get("section1", "notakey", nullptr), "");
  EXPECT_EQ(Get(" section1 ", " name1 "), "val1");
}

TEST_F(ProfileTest, MissingFileReadsAsEmptyAndSaysFileNotFound) {
  DWORD count = 0;
  SetLastError(0);
  EXPECT_EQ(Get("s", "k", "fallback", 20, &count).substr(0, 9), std::string("fallback\0", 9));
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A list from a missing file is a single NUL.
  std::string list = Get(nullptr, nullptr, "x", 10, &count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list[0], '\0');
  EXPECT_EQ(list[1], 'z');
}

TEST_F(ProfileTest, TruncationFollowsTheDocumentedCounts) {
  Write("C:\\p.ini", kProfile);
  DWORD count = 0;
  EXPECT_EQ(Get("section1", "name1", "default", 4, &count).substr(0, 5), std::string("val\0z", 5));
  EXPECT_EQ(count, 3u);  // size - 1
  EXPECT_EQ(Get("section1", "name4", "default", 1, &count).substr(0, 2), std::string("\0z", 2));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Get("section1", "name1", "default", 0, &count).substr(0, 1), "z") << "nothing is written";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Get("section1", "none", "default", 5, &count).substr(0, 5), std::string("defa\0", 5));
  EXPECT_EQ(count, 4u);
}

TEST_F(ProfileTest, NullSectionOrKeyListsNamesEndingInTwoNuls) {
  Write("C:\\p.ini", kProfile);
  DWORD count = 0;
  std::string sections = Get(nullptr, "name1", "default", MAX_PATH, &count);
  EXPECT_EQ(count, 18u);
  EXPECT_EQ(sections.substr(0, 19), std::string("section1\0section2\0\0", 19));
  std::string keys = Get("section1", nullptr, "default", MAX_PATH, &count);
  EXPECT_EQ(count, 18u);
  EXPECT_EQ(keys.substr(0, 19), std::string("name1\0name2\0name4\0\0", 19));
  // Too small: the last name is cut and two NULs follow; size - 2.
  sections = Get(nullptr, "name1", "default", 16, &count);
  EXPECT_EQ(count, 14u);
  EXPECT_EQ(sections.substr(0, 16), std::string("section1\0secti\0\0", 16));
  keys = Get("section1", nullptr, "default", 16, &count);
  EXPECT_EQ(count, 14u);
  EXPECT_EQ(keys.substr(0, 16), std::string("name1\0name2\0na\0\0", 16));
  // Exactly the size of the list with its final NUL still counts as cut.
  keys = Get("section1", nullptr, "default", 19, &count);
  EXPECT_EQ(count, 17u);
  keys = Get("section1", nullptr, "default", 20, &count);
  EXPECT_EQ(count, 18u);
  // Names of a missing section: an empty list.
  keys = Get("nosection", nullptr, "default", 10, &count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(keys[0], '\0');
}

TEST_F(ProfileTest, LineEndsCommentsAndBlanks) {
  Write("C:\\p.ini", "[s]\rname1=val1\r;name2=comment\n  name3  =  spaced value  \r\n[t]\nname1='single'\n");
  EXPECT_EQ(Get("s", "name1"), "val1");
  EXPECT_EQ(Get("s", ";name2"), "default");
  EXPECT_EQ(Get("s", "name3"), "spaced value");
  EXPECT_EQ(Get("t", "name1"), "single");
  DWORD count = 0;
  EXPECT_EQ(Get("s", nullptr, "", 40, &count).substr(0, 13), std::string("name1\0name3\0\0", 13));
}

TEST_F(ProfileTest, BareFileNamesAreInTheWindowsFolder) {
  Write("C:\\WINDOWS\\skdnt.ini", "[Setup]\r\nMode=Manual\r\n");
  Write("C:\\skdnt.ini", "[Setup]\r\nMode=Automatic\r\n");
  EXPECT_EQ(Get("Setup", "Mode", "default", "skdnt.ini"), "Manual");
  EXPECT_EQ(Get("Setup", "Mode", "default", ".\\skdnt.ini"), "Automatic");
  EXPECT_EQ(Get("Setup", "Mode", "default", ""), "default");
}

TEST_F(ProfileTest, FileHeldWithoutReadSharingReadsAsMissing) {
  Write("C:\\p.ini", kProfile);
  Files().HoldOpen("C:\\p.ini", GENERIC_READ, FILE_SHARE_WRITE);
  EXPECT_EQ(Get("section1", "name1"), "default");
  Files().HoldOpen("C:\\p.ini", GENERIC_WRITE, FILE_SHARE_READ);
  EXPECT_EQ(Get("section1", "name1"), "val1");
}

TEST_F(ProfileTest, IntegersAsWindowsReadsThem) {
  Write("C:\\p.ini",
        "[n]\r\nplain=42\r\nneg=-1\r\nplus=+7\r\nhex=0x1F\r\nupper=0X1F\r\noct=0o17\r\nbin=0b101\r\n"
        "wrap=4294967297\r\ntail=42A9\r\nletters=B42\r\nempty=\r\nquoted=\"12\"\r\n");
  auto Int = [](const char* key, int fallback) {
    return static_cast<int>(GetPrivateProfileInt("n", key, fallback, "C:\\p.ini"));
  };
  EXPECT_EQ(Int("plain", 5), 42);
  EXPECT_EQ(Int("neg", 5), -1);
  EXPECT_EQ(Int("plus", 5), 7);
  EXPECT_EQ(Int("hex", 5), 31);
  EXPECT_EQ(Int("upper", 5), 0) << "only the lower-case prefix is one";
  EXPECT_EQ(Int("oct", 5), 15);
  EXPECT_EQ(Int("bin", 5), 5);
  EXPECT_EQ(Int("wrap", 5), 1);
  EXPECT_EQ(Int("tail", 5), 42);
  EXPECT_EQ(Int("letters", 5), 0) << "a value that is no number is 0, not the default";
  EXPECT_EQ(Int("empty", 5), 5);
  EXPECT_EQ(Int("quoted", 5), 12);
  EXPECT_EQ(Int("missing", -3), -3);
  EXPECT_EQ(static_cast<int>(GetPrivateProfileInt("n", "plain", 9, "C:\\none.ini")), 9);
}

TEST_F(ProfileTest, WritingBuildsTheFileAsWindowsDoes) {
  ASSERT_TRUE(WritePrivateProfileString("App1", "key1", "string1", "C:\\w.ini"));
  ASSERT_TRUE(WritePrivateProfileString("App1", "key2", "string2", "C:\\w.ini"));
  ASSERT_TRUE(WritePrivateProfileString("App2", "key3", "string3", "C:\\w.ini"));
  ASSERT_TRUE(WritePrivateProfileString("app1", "KEY1", "changed", "C:\\w.ini"));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "[App1]\r\nkey1=changed\r\nkey2=string2\r\n[App2]\r\nkey3=string3\r\n");
  ASSERT_TRUE(WritePrivateProfileString("App1", "key2", nullptr, "C:\\w.ini"));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "[App1]\r\nkey1=changed\r\n[App2]\r\nkey3=string3\r\n");
  ASSERT_TRUE(WritePrivateProfileString("App1", nullptr, "ignored", "C:\\w.ini"));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "[App2]\r\nkey3=string3\r\n");
  ASSERT_TRUE(WritePrivateProfileString("App2", "key4", "", "C:\\w.ini"));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "[App2]\r\nkey3=string3\r\nkey4=\r\n");
  EXPECT_EQ(Get("App2", "key3", "default", "C:\\w.ini"), "string3");
}

TEST_F(ProfileTest, NewKeyGoesAfterTheSectionsLastLineThatIsNotBlank) {
  Write("C:\\w.ini", "; settings\r\n[a]\r\nx=1\r\n\r\n[b]\r\ny=2");
  ASSERT_TRUE(WritePrivateProfileString("a", "z", "3", "C:\\w.ini"));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "; settings\r\n[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n");
}

TEST_F(ProfileTest, WriteFailures) {
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileString(nullptr, "key", "string", "C:\\w.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Files().Exists("C:\\w.ini"));
  EXPECT_TRUE(WritePrivateProfileString(nullptr, nullptr, nullptr, "C:\\w.ini"));
  EXPECT_FALSE(WritePrivateProfileString("App", "key", "string", ""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(WritePrivateProfileString("App", "key", "string", "C:\\none\\w.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  Write("C:\\w.ini", "[App]\r\n");
  Files().SetReadOnly("C:\\w.ini");
  EXPECT_FALSE(WritePrivateProfileString("App", "key", "string", "C:\\w.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  Files().SetReadOnly("C:\\w.ini", false);
  Files().HoldOpen("C:\\w.ini", GENERIC_READ, FILE_SHARE_READ);
  EXPECT_FALSE(WritePrivateProfileString("App", "key", "string", "C:\\w.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Files().FileContent("C:\\w.ini"), "[App]\r\n");
}

}  // namespace
