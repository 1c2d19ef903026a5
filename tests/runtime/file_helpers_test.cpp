// File-system helpers: file versions, deleting files and folders (scheduled
// for the restart when in use), walking a folder tree and opening a document
// of the installation source; exact trace lines and failure reports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "host/shell.h"
#include "runtime/file_helpers.h"
#include "runtime/install_exception.h"
#include "tests/support/session_fixture.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;

// The log line of a row-4 trace and a row-2 warning under the standard
// Error rows; a row-1 report has no template and shows as it is.
std::string Info(const std::string& text) { return "Info OV VRIN : " + text + ". "; }
std::string Warning(const std::string& text) { return "Warning OV VRIN : " + text + ". "; }
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}
std::string ShortReport(const std::string& name, int error, const std::string& context) {
  return "OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context;
}

const char kNotFound[] = "The system cannot find the file specified.";
const char kAccessDenied[] = "Access is denied.";
const char kTooLong[] = "The filename or extension is too long.";

using Lines = std::vector<std::string>;
using Pending = std::vector<std::pair<std::string, std::string>>;

class FileHelpersTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open() { return OpenSession(vrintest::TraceRowsSql()); }

  void TearDown() override {
    EXPECT_EQ(Files().OpenFileHandles(), 0) << "a helper left a file handle open";
    EXPECT_EQ(Files().OpenFindHandles(), 0) << "a helper left a listing open";
    SessionTest::TearDown();
  }

  static void DenyScheduling() { host::LocalRegistry().Deny(host::kSessionManagerKey, KEY_SET_VALUE); }
};

std::pair<std::string, DWORD> Failure(const std::string& context, DWORD error) { return {context, error}; }

// --- InstallGetFileVersion ---

TEST_F(FileHelpersTest, FileVersionIsACopyOfTheFixedBlock) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.exe", vrintest::VersionedDll({5, 2, 1234, 7}));
  VS_FIXEDFILEINFO* pFixed = InstallGetFileVersion(hInstall, "C:\\Velmora\\skdnt.exe");
  ASSERT_NE(pFixed, nullptr);
  EXPECT_EQ(pFixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
  EXPECT_EQ(pFixed->dwFileVersionMS, (5u << 16) | 2u);
  EXPECT_EQ(pFixed->dwFileVersionLS, (1234u << 16) | 7u);
  EXPECT_EQ(pFixed->dwFileType, 2u);
  delete pFixed;
  EXPECT_EQ(LogLines(), (Lines{Info("InstallGetFileVersion -> C:\\Velmora\\skdnt.exe"),
                               Info("InstallGetFileVersion <- 5,2,1234,7")}));
}

TEST_F(FileHelpersTest, FileWithoutVersionResourceRaisesAtTheSizeQuery) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\plain.dll", vrintest::UnversionedDll());
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(hInstall, "C:\\Velmora\\plain.dll"); }),
            Failure("InstallGetFileVersion : GetFileVersionInfoSize", ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(hInstall, "C:\\Velmora\\none.dll"); }),
            Failure("InstallGetFileVersion : GetFileVersionInfoSize", ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallGetFileVersion -> C:\\Velmora\\plain.dll"),
                               Info("InstallGetFileVersion -> C:\\Velmora\\none.dll")}));
}

TEST_F(FileHelpersTest, FileVersionFailuresOfEachLaterStep) {
  MSIHANDLE hInstall = Open();
  const char* szPath = "C:\\Velmora\\skdnt.exe";
  Files().AddFile(szPath, vrintest::VersionedDll({1, 0, 0, 0}));
  Faults::Instance().Fail("GetFileVersionInfo", ERROR_SHARING_VIOLATION, 1, szPath);
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(hInstall, szPath); }),
            Failure("InstallGetFileVersion : GetFileVersionInfo", ERROR_SHARING_VIOLATION));
  Faults::Instance().Fail("VerQueryValue", ERROR_RESOURCE_TYPE_NOT_FOUND, 1, "\\");
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(hInstall, szPath); }),
            Failure("InstallGetFileVersion : VerQueryValue", ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(FileHelpersTest, FixedBlockShorterThan52BytesIsRefused) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\odd.dll",
                  vrintest::AsText(vrintest::PeImageWith({{vrintest::kRtVersion, 1, vrintest::kLangEnglishUs,
                                                           vrintest::VersionInfo({1, 0, 0, 0}, {1, 0, 0, 0}, 20)}})));
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(hInstall, "C:\\odd.dll"); }),
            Failure("InstallGetFileVersion : VerQueryValue", ERROR_INVALID_DATA));
}

TEST_F(FileHelpersTest, FileVersionAllocationFailures) {
  // Without a session the trace allocates nothing, so the helper's own
  // allocations are the first and second.
  Files().AddFile("C:\\v.dll", vrintest::VersionedDll({1, 0, 0, 0}));
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 1);
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(0, "C:\\v.dll"); }),
            Failure("InstallGetFileVersion : pVerData", ERROR_OUTOFMEMORY));
  Faults::Instance().Clear();
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 2);
  EXPECT_EQ(Raised([&] { InstallGetFileVersion(0, "C:\\v.dll"); }),
            Failure("InstallGetFileVersion : ret", ERROR_OUTOFMEMORY));
}

// --- InstallDeleteFile ---

TEST_F(FileHelpersTest, DeletesAFile) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.cfg", "x");
  EXPECT_TRUE(InstallDeleteFile(hInstall, "C:\\Velmora\\skdnt.cfg"));
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\skdnt.cfg"));
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteFile -> C:\\Velmora\\skdnt.cfg"), Info("InstallDeleteFile <- deleted")}));
}

TEST_F(FileHelpersTest, ReadOnlyFileIsMadeWritableAndDeleted) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.cfg", "x");
  Files().SetReadOnly("C:\\Velmora\\skdnt.cfg");
  EXPECT_TRUE(InstallDeleteFile(hInstall, "C:\\Velmora\\skdnt.cfg"));
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\skdnt.cfg"));
  EXPECT_EQ(LogLines().back(), Info("InstallDeleteFile <- deleted"));
}

TEST_F(FileHelpersTest, MissingFileIsReportedWithError2) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory("C:\\Velmora");
  EXPECT_FALSE(InstallDeleteFile(hInstall, "C:\\Velmora\\none.dll"));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteFile -> C:\\Velmora\\none.dll"),
                               Report("InstallDeleteFile", 2, "InstallDeleteFile : GetFileAttributes", kNotFound),
                               Info("InstallDeleteFile <- not deleted")}));
}

TEST_F(FileHelpersTest, FileInUseIsScheduledAndGoneAfterTheRestart) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.exe", "MZ");
  Files().HoldOpen("C:\\Velmora\\skdnt.exe", GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ);
  EXPECT_FALSE(InstallDeleteFile(hInstall, "C:\\Velmora\\skdnt.exe"));
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteFile -> C:\\Velmora\\skdnt.exe"), Info("InstallDeleteFile <- not deleted")}));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\C:\\Velmora\\skdnt.exe", ""}}));
  EXPECT_TRUE(Files().Exists("C:\\Velmora\\skdnt.exe"));
  Files().Restart();
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\skdnt.exe"));
}

TEST_F(FileHelpersTest, FileThatCanNeitherBeDeletedNorScheduled) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.exe", "MZ");
  Files().HoldOpen("C:\\Velmora\\skdnt.exe", GENERIC_READ, 0);
  DenyScheduling();
  EXPECT_FALSE(InstallDeleteFile(hInstall, "C:\\Velmora\\skdnt.exe"));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteFile -> C:\\Velmora\\skdnt.exe"),
                               Info("Failed to delete C:\\Velmora\\skdnt.exe 5"),
                               Report("InstallDeleteFile", 5, "InstallDeleteFile : MoveFileEx", kAccessDenied),
                               Info("InstallDeleteFile <- not deleted")}));
  EXPECT_TRUE(Files().PendingOperations().empty());
}

TEST_F(FileHelpersTest, AttributeChangeFailureIsReportedAndTheFileScheduled) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\skdnt.cfg", "x");
  Files().SetReadOnly("C:\\Velmora\\skdnt.cfg");
  Faults::Instance().Fail("SetFileAttributes", ERROR_ACCESS_DENIED, 1, "C:\\Velmora\\skdnt.cfg");
  EXPECT_FALSE(InstallDeleteFile(hInstall, "C:\\Velmora\\skdnt.cfg"));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteFile -> C:\\Velmora\\skdnt.cfg"),
                               Report("InstallDeleteFile", 5, "InstallDeleteFile : SetFileAttributes", kAccessDenied),
                               Info("InstallDeleteFile <- not deleted")}));
  EXPECT_EQ(Files().PendingOperations().size(), 1u);
}

TEST_F(FileHelpersTest, OverLongFilePathIsReportedNotCut) {
  MSIHANDLE hInstall = Open();
  // A real file whose path is the first 259 characters of the one asked for.
  const std::string prefix = "C:\\" + std::string(200, 'd') + "\\" + std::string(55, 'f');
  ASSERT_EQ(prefix.size(), static_cast<size_t>(MAX_PATH - 1));
  Files().AddFile(prefix, "must stay");
  const std::string path = prefix + "x";
  EXPECT_FALSE(InstallDeleteFile(hInstall, path.c_str()));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteFile -> " + path),
                               Report("InstallDeleteFile", 206, "InstallDeleteFile : GetFileAttributes", kTooLong),
                               Info("InstallDeleteFile <- not deleted")}));
  EXPECT_TRUE(Files().Exists(prefix));
  EXPECT_TRUE(Files().PendingOperations().empty());
}

// --- InstallDeleteDirectory ---

TEST_F(FileHelpersTest, RemovesAnEmptyFolder) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory("C:\\Velmora\\Bin");
  InstallDeleteDirectory(hInstall, "C:\\Velmora\\Bin", FALSE);
  EXPECT_FALSE(Files().Exists("C:\\Velmora\\Bin"));
  EXPECT_TRUE(Files().Exists("C:\\Velmora"));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteDirectory -> C:\\Velmora\\Bin not recursive"),
                               Info("InstallDeleteDirectory <-")}));
}

TEST_F(FileHelpersTest, NonEmptyFolderIsScheduledAndNothingElse) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\Bin\\skdnt.exe", "MZ");
  InstallDeleteDirectory(hInstall, "C:\\Velmora\\Bin", FALSE);
  EXPECT_TRUE(Files().Exists("C:\\Velmora\\Bin\\skdnt.exe"));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\C:\\Velmora\\Bin", ""}}));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteDirectory -> C:\\Velmora\\Bin not recursive"),
                               Info("InstallDeleteDirectory <-")}));
}

TEST_F(FileHelpersTest, RecursiveClimbRemovesTheLeafSchedulesTheParentsAndReachesTheDrive) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory("C:\\Program Files\\Velmora\\Bin");
  Files().AddFile("C:\\Program Files\\Velmora\\readme.txt", "r");
  InstallDeleteDirectory(hInstall, "C:\\Program Files\\Velmora\\Bin", TRUE);
  EXPECT_FALSE(Files().Exists("C:\\Program Files\\Velmora\\Bin"));
  EXPECT_TRUE(Files().Exists("C:\\Program Files\\Velmora\\readme.txt"));
  EXPECT_EQ(Files().PendingOperations(),
            (Pending{{"\\??\\C:\\Program Files\\Velmora", ""}, {"\\??\\C:\\Program Files", ""}, {"\\??\\C:\\", ""}}));
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteDirectory -> C:\\Program Files\\Velmora\\Bin recursive"),
                               Info("InstallDeleteDirectory -> C:\\Program Files\\Velmora recursive"),
                               Info("InstallDeleteDirectory -> C:\\Program Files recursive"),
                               Info("InstallDeleteDirectory -> C: recursive"), Info("InstallDeleteDirectory <-"),
                               Info("InstallDeleteDirectory <-"), Info("InstallDeleteDirectory <-"),
                               Info("InstallDeleteDirectory <-")}));
  // At the restart the parents go once they are empty, the drive never.
  ASSERT_TRUE(DeleteFile("C:\\Program Files\\Velmora\\readme.txt"));
  Files().Restart();
  EXPECT_FALSE(Files().Exists("C:\\Program Files"));
  EXPECT_TRUE(Files().IsDirectory("C:\\WINDOWS"));
}

TEST_F(FileHelpersTest, ClimbStopsAtAnAncestorThatIsNoFolder) {
  MSIHANDLE hInstall = Open();
  // A missing folder is still scheduled (the restart decides), and its
  // parent, which does not exist either, ends the climb.
  InstallDeleteDirectory(hInstall, "C:\\Gone\\Leaf", TRUE);
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteDirectory -> C:\\Gone\\Leaf recursive"),
                               Warning("Not deleting C:\\Gone"), Info("InstallDeleteDirectory <-")}));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\C:\\Gone\\Leaf", ""}}));
}

TEST_F(FileHelpersTest, FolderThatCanNeitherBeRemovedNorScheduledWarnsWithErrno) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Velmora\\Bin\\skdnt.exe", "MZ");
  DenyScheduling();
  InstallDeleteDirectory(hInstall, "C:\\Velmora\\Bin", TRUE);
  // errno 41 (ENOTEMPTY), not a Win32 error; the climb does not start.
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteDirectory -> C:\\Velmora\\Bin recursive"),
                   Warning("Failed (41) to delete C:\\Velmora\\Bin"),
                   ShortReport("InstallDeleteDirectory", 41, "MoveFileEx"), Info("InstallDeleteDirectory <-")}));
  EXPECT_TRUE(Files().PendingOperations().empty());
}

TEST_F(FileHelpersTest, FolderInUseThatCannotBeScheduledReportsEacces) {
  MSIHANDLE hInstall = Open();
  Files().AddDirectory("C:\\Velmora\\Logs");
  Files().HoldDirectory("C:\\Velmora\\Logs");
  Faults::Instance().Fail("MoveFileEx", ERROR_ACCESS_DENIED, 1, "C:\\Velmora\\Logs");
  InstallDeleteDirectory(hInstall, "C:\\Velmora\\Logs", FALSE);
  EXPECT_EQ(LogLines(), (Lines{Info("InstallDeleteDirectory -> C:\\Velmora\\Logs not recursive"),
                               Warning("Failed (13) to delete C:\\Velmora\\Logs"),
                               Report("InstallDeleteDirectory", 13, "MoveFileEx", "The data is invalid."),
                               Info("InstallDeleteDirectory <-")}));
}

TEST_F(FileHelpersTest, NoFolderAtAllIsReportedLikeOneThatCannotBeScheduled) {
  MSIHANDLE hInstall = Open();
  InstallDeleteDirectory(hInstall, nullptr, TRUE);
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteDirectory -> Null recursive"), Warning("Failed (22) to delete Null"),
                   ShortReport("InstallDeleteDirectory", 22, "MoveFileEx"), Info("InstallDeleteDirectory <-")}));
  EXPECT_TRUE(Files().PendingOperations().empty());
}

TEST_F(FileHelpersTest, OverLongFolderPathIsReportedNeverCut) {
  MSIHANDLE hInstall = Open();
  const std::string path = "C:\\" + std::string(MAX_PATH - 3, 'd');
  InstallDeleteDirectory(hInstall, path.c_str(), TRUE);
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteDirectory -> " + path + " recursive"), Warning("Failed (2) to delete " + path),
                   Report("InstallDeleteDirectory", 2, "MoveFileEx", kNotFound), Info("InstallDeleteDirectory <-")}));
  EXPECT_TRUE(Files().PendingOperations().empty());
}

// --- InstallDeleteEntireDirectory ---

TEST_F(FileHelpersTest, DeletesATreeRestartingTheListingAfterEachDeletion) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\a.txt", "a");
  Files().AddFile("C:\\V\\Sub\\b.txt", "b");
  InstallDeleteEntireDirectory(hInstall, "C:\\V");
  EXPECT_FALSE(Files().Exists("C:\\V"));
  EXPECT_TRUE(Files().PendingOperations().empty());
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteEntireDirectory -> C:\\V"), Info("InstallDeleteFile -> C:\\V\\a.txt"),
                   Info("InstallDeleteFile <- deleted"), Info("InstallDeleteEntireDirectory -> C:\\V\\Sub"),
                   Info("InstallDeleteFile -> C:\\V\\Sub\\b.txt"), Info("InstallDeleteFile <- deleted"),
                   Info("InstallDeleteDirectory -> C:\\V\\Sub not recursive"), Info("InstallDeleteDirectory <-"),
                   Info("InstallDeleteEntireDirectory <-"), Info("InstallDeleteDirectory -> C:\\V not recursive"),
                   Info("InstallDeleteDirectory <-"), Info("InstallDeleteEntireDirectory <-")}));
}

TEST_F(FileHelpersTest, DeepTreeWithReadOnlyFilesAndTrailingBackslash) {
  MSIHANDLE hInstall = Open();
  for (const char* file : {"C:\\V\\1\\2\\3\\deep.dll", "C:\\V\\1\\x.ini", "C:\\V\\top.txt", "C:\\V\\1\\2\\y.txt"}) {
    Files().AddFile(file, "x");
    Files().SetReadOnly(file);
  }
  Files().AddDirectory("C:\\V\\Empty");
  InstallDeleteEntireDirectory(hInstall, "C:\\V\\");
  EXPECT_FALSE(Files().Exists("C:\\V"));
  EXPECT_EQ(LogLines().at(1), Info("InstallDeleteEntireDirectory -> C:\\V\\1"));
}

TEST_F(FileHelpersTest, MissingFolderRaisesAtTheFirstListing) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(Raised([&] { InstallDeleteEntireDirectory(hInstall, "C:\\Nowhere"); }),
            Failure("InstallDeleteEntireDirectory : FindFirstFile", ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Raised([&] { InstallDeleteEntireDirectory(hInstall, nullptr); }),
            Failure("InstallDeleteEntireDirectory : FindFirstFile", ERROR_INVALID_PARAMETER));
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteEntireDirectory -> C:\\Nowhere"), Info("InstallDeleteEntireDirectory -> Null")}));
}

TEST_F(FileHelpersTest, SubfolderThatCannotBeListedPassesItsFailureOn) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\Sub\\b.txt", "b");
  Files().AddFile("C:\\V\\z.txt", "z");
  Faults::Instance().Fail("FindFirstFile", ERROR_ACCESS_DENIED, 0, "C:\\V\\Sub\\*");
  EXPECT_EQ(Raised([&] { InstallDeleteEntireDirectory(hInstall, "C:\\V"); }),
            Failure("InstallDeleteEntireDirectory : FindFirstFile", ERROR_ACCESS_DENIED));
  EXPECT_EQ(Files().OpenFindHandles(), 0) << "the outer listing was left open";
  EXPECT_TRUE(Files().Exists("C:\\V\\z.txt"));
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteEntireDirectory -> C:\\V"), Info("InstallDeleteEntireDirectory -> C:\\V\\Sub")}));
}

TEST_F(FileHelpersTest, FileInUseInATreeIsScheduledWithItsFolder) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\a.dll", "MZ");
  Files().AddFile("C:\\V\\b.txt", "b");
  Files().HoldOpen("C:\\V\\a.dll", GENERIC_READ, FILE_SHARE_READ);
  InstallDeleteEntireDirectory(hInstall, "C:\\V");
  EXPECT_TRUE(Files().Exists("C:\\V\\a.dll"));
  EXPECT_FALSE(Files().Exists("C:\\V\\b.txt"));
  // The file in use is met again after the listing restarts; the folder
  // follows it into the list.
  EXPECT_EQ(Files().PendingOperations(),
            (Pending{{"\\??\\C:\\V\\a.dll", ""}, {"\\??\\C:\\V\\a.dll", ""}, {"\\??\\C:\\V", ""}}));
  Files().Restart();
  EXPECT_FALSE(Files().Exists("C:\\V"));
}

TEST_F(FileHelpersTest, SubfolderThatStaysIsNotWalkedWithoutEnd) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\Sub\\in-use.dll", "MZ");
  Files().AddFile("C:\\V\\x.txt", "x");
  Files().AddFile("C:\\V\\y.txt", "y");
  Files().HoldOpen("C:\\V\\Sub\\in-use.dll", GENERIC_READ, 0);
  // A safety net: a walk without end fails here instead of hanging the test.
  Faults::Instance().Fail("FindFirstFile", ERROR_ACCESS_DENIED, 50);
  InstallDeleteEntireDirectory(hInstall, "C:\\V");
  int walks = 0;
  for (const std::string& line : LogLines()) {
    if (line == Info("InstallDeleteEntireDirectory -> C:\\V\\Sub")) ++walks;
  }
  // Walked once, then again only after each file deletion restarted the listing.
  EXPECT_EQ(walks, 3);
  EXPECT_EQ(LogLines().back(), Info("InstallDeleteEntireDirectory <-"));
  EXPECT_FALSE(Files().Exists("C:\\V\\x.txt"));
  EXPECT_FALSE(Files().Exists("C:\\V\\y.txt"));
  Files().Restart();
  EXPECT_FALSE(Files().Exists("C:\\V"));
}

TEST_F(FileHelpersTest, AccessDeniedInTheMiddleOfAWalk) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\a.txt", "a");
  Files().AddFile("C:\\V\\b.txt", "b");
  Files().AddFile("C:\\V\\c.txt", "c");
  Faults::Instance().Fail("DeleteFile", ERROR_ACCESS_DENIED, 0, "C:\\V\\b.txt");
  DenyScheduling();
  InstallDeleteEntireDirectory(hInstall, "C:\\V");
  EXPECT_FALSE(Files().Exists("C:\\V\\a.txt"));
  EXPECT_TRUE(Files().Exists("C:\\V\\b.txt"));
  EXPECT_FALSE(Files().Exists("C:\\V\\c.txt"));
  const std::string failed = Info("Failed to delete C:\\V\\b.txt 5");
  const std::string report = Report("InstallDeleteFile", 5, "InstallDeleteFile : MoveFileEx", kAccessDenied);
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallDeleteEntireDirectory -> C:\\V"), Info("InstallDeleteFile -> C:\\V\\a.txt"),
                   Info("InstallDeleteFile <- deleted"), Info("InstallDeleteFile -> C:\\V\\b.txt"), failed, report,
                   Info("InstallDeleteFile <- not deleted"), Info("InstallDeleteFile -> C:\\V\\c.txt"),
                   Info("InstallDeleteFile <- deleted"), Info("InstallDeleteFile -> C:\\V\\b.txt"), failed, report,
                   Info("InstallDeleteFile <- not deleted"), Info("InstallDeleteDirectory -> C:\\V not recursive"),
                   Warning("Failed (41) to delete C:\\V"), ShortReport("InstallDeleteDirectory", 41, "MoveFileEx"),
                   Info("InstallDeleteDirectory <-"), Info("InstallDeleteEntireDirectory <-")}));
}

TEST_F(FileHelpersTest, ListingThatCannotStartAgainEnds) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\V\\a.txt", "a");
  Files().AddFile("C:\\V\\b.txt", "b");
  Faults::Instance().Fail("FindFirstFile", ERROR_ACCESS_DENIED, 2);
  InstallDeleteEntireDirectory(hInstall, "C:\\V");
  EXPECT_FALSE(Files().Exists("C:\\V\\a.txt"));
  EXPECT_TRUE(Files().Exists("C:\\V\\b.txt"));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\C:\\V", ""}}));
  EXPECT_EQ(LogLines().back(), Info("InstallDeleteEntireDirectory <-"));
}

TEST_F(FileHelpersTest, OverLongPatternRaisesAsAListingFailure) {
  MSIHANDLE hInstall = Open();
  const std::string fits = "C:\\" + std::string(MAX_PATH - 6, 'd');  // 257 + "\*" = 259
  Files().AddDirectory(fits);
  InstallDeleteEntireDirectory(hInstall, fits.c_str());
  EXPECT_FALSE(Files().Exists(fits));
  const std::string tooLong = fits + "e";
  EXPECT_EQ(Raised([&] { InstallDeleteEntireDirectory(hInstall, tooLong.c_str()); }),
            Failure("InstallDeleteEntireDirectory : FindFirstFile", ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(FileHelpersTest, EntryWhosePathWouldNotFitIsReportedAndLeft) {
  MSIHANDLE hInstall = Open();
  const std::string folder = "C:\\" + std::string(240, 'd');
  Files().AddDirectory(folder);
  // Only a Windows path of 260 characters or more reaches such a file.
  Files().AddFileIn(folder, std::string(20, 'n'), "x");
  Files().AddFile(folder + "\\short.txt", "s");
  InstallDeleteEntireDirectory(hInstall, folder.c_str());
  EXPECT_FALSE(Files().Exists(folder + "\\short.txt"));
  EXPECT_EQ(Files().List(folder), (std::vector<std::string>{std::string(20, 'n')}));
  EXPECT_EQ(LogLines().at(1),
            Report("InstallDeleteEntireDirectory", 206, "InstallDeleteEntireDirectory : szEntry", kTooLong));
  EXPECT_EQ(Files().PendingOperations(), (Pending{{"\\??\\" + folder, ""}}));
}

// --- InstallLaunch ---

class LaunchTest : public FileHelpersTest {
 protected:
  MSIHANDLE OpenWithSource() {
    MSIHANDLE hInstall = Open();
    Session().SetSourcePath("UnCompressedFolder", "D:\\Setup\\Uncompressed\\");
    Files().AddFile("D:\\Setup\\Uncompressed\\readme.txt", "read me");
    Files().AddFile("D:\\Setup\\Uncompressed\\license.rtf", "{\\rtf1}");
    host::Shell::Instance().Associate(".txt", "C:\\WINDOWS\\notepad.exe");
    return hInstall;
  }
};

TEST_F(LaunchTest, OpensTheDocumentInTheSourceFolder) {
  MSIHANDLE hInstall = OpenWithSource();
  InstallLaunch(hInstall, "readme.txt");
  ASSERT_EQ(host::Shell::Instance().Launched().size(), 1u);
  const host::LaunchedDocument& launched = host::Shell::Instance().Launched()[0];
  EXPECT_EQ(launched.file, "D:\\Setup\\Uncompressed\\readme.txt");
  EXPECT_EQ(launched.directory, "D:\\Setup\\Uncompressed");  // without its backslash
  EXPECT_EQ(launched.verb, "");
  EXPECT_EQ(launched.parameters, "");
  EXPECT_EQ(launched.show, SW_SHOWNORMAL);
  EXPECT_EQ(LogLines(), (Lines{Info("InstallLaunch -> readme.txt"), Info("InstallGetSourcePath -> UnCompressedFolder"),
                               Info("InstallGetSourcePath <- (D:\\Setup\\Uncompressed\\)"), Info("InstallLaunch <-")}));
}

TEST_F(LaunchTest, NoAssociatedProgramRaises31) {
  MSIHANDLE hInstall = OpenWithSource();
  EXPECT_EQ(Raised([&] { InstallLaunch(hInstall, "license.rtf"); }),
            Failure("InstallLaunch : ShellExecute", SE_ERR_NOASSOC));
  EXPECT_EQ(LogLines().back(), Info("InstallGetSourcePath <- (D:\\Setup\\Uncompressed\\)"));
  EXPECT_TRUE(host::Shell::Instance().Launched().empty());
}

TEST_F(LaunchTest, MissingDocumentRaises2) {
  MSIHANDLE hInstall = OpenWithSource();
  EXPECT_EQ(Raised([&] { InstallLaunch(hInstall, "none.txt"); }), Failure("InstallLaunch : ShellExecute", SE_ERR_FNF));
  EXPECT_EQ(Raised([&] { InstallLaunch(hInstall, nullptr); }), Failure("InstallLaunch : ShellExecute", SE_ERR_FNF));
  EXPECT_EQ(LogLines().at(3), Info("InstallLaunch -> Null"));
}

TEST_F(LaunchTest, MissingSourceFolderPassesTheAccessorsFailureOn) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(Raised([&] { InstallLaunch(hInstall, "readme.txt"); }), Failure("MsiGetSourcePath", ERROR_DIRECTORY));
  EXPECT_EQ(LogLines(),
            (Lines{Info("InstallLaunch -> readme.txt"), Info("InstallGetSourcePath -> UnCompressedFolder")}));
}

TEST_F(LaunchTest, SourceFolderWithoutTrailingBackslashIsUsedAsItIs) {
  MSIHANDLE hInstall = OpenWithSource();
  Session().SetSourcePath("UnCompressedFolder", "D:\\Setup\\Uncompressed");
  InstallLaunch(hInstall, "readme.txt");
  ASSERT_EQ(host::Shell::Instance().Launched().size(), 1u);
  EXPECT_EQ(host::Shell::Instance().Launched()[0].directory, "D:\\Setup\\Uncompressed");
}

}  // namespace
