// Profile-file helpers and InstallReadFile: values and traces, the missing
// exit line of a value with "%", and every failure of reading a whole file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "runtime/install_exception.h"
#include "runtime/profile_file.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::Files;

std::string Info(const std::string& text) { return "Info OV VRIN : " + text + ". "; }
// The trace as standard output shows it: the installer's log reads "[Setup]"
// in a line as a property reference, standard output keeps it.
std::string Out(const std::string& text) { return "OV VRIN : " + text; }

using Lines = std::vector<std::string>;

const char kInf[] = "C:\\Setup\\vrin.inf";

class ProfileFileTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open() {
    MSIHANDLE hInstall = OpenSession(vrintest::TraceRowsSql());
    Files().AddFile(kInf,
                    "[Setup]\r\nProduct=Velmora\r\nProgress=50%\r\nCount=42\r\nNegative=-7\r\n"
                    "[Components]\r\nServer=1\r\nConsole=0\r\n");
    return hInstall;
  }

  // The helpers' own lines on standard output, without the template lookups
  // that each line in the installation log makes.
  Lines TraceOut() {
    Lines lines;
    for (const std::string& line : TakeStdoutLines()) {
      if (line.rfind("OV VRIN : InstallGetRecordString", 0) != 0) lines.push_back(line);
    }
    return lines;
  }

  void TearDown() override {
    EXPECT_EQ(Files().OpenFileHandles(), 0) << "a helper left a file handle open";
    SessionTest::TearDown();
  }
};

std::pair<std::string, DWORD> Failure(const std::string& context, DWORD error) { return {context, error}; }

// --- InstallGetPrivateProfileString ---

TEST_F(ProfileFileTest, ValueAndItsTrace) {
  MSIHANDLE hInstall = Open();
  char szValue[64] = {};
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Product", "none", szValue, sizeof(szValue), kInf), 7u);
  EXPECT_STREQ(szValue, "Velmora");
  EXPECT_EQ(TraceOut(), (Lines{Out("InstallGetPrivateProfileString -> [Setup] Product=(none)"),
                               Out("InstallGetPrivateProfileString <- Velmora")}));
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(ProfileFileTest, ValueWithAPercentSignHasNoExitLine) {
  MSIHANDLE hInstall = Open();
  char szValue[64] = {};
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Progress", "", szValue, sizeof(szValue), kInf), 3u);
  EXPECT_STREQ(szValue, "50%");
  EXPECT_EQ(TraceOut(), (Lines{Out("InstallGetPrivateProfileString -> [Setup] Progress=()")}));
  // The default is checked the same way when it is what comes back.
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "None", "5%", szValue, sizeof(szValue), kInf), 2u);
  EXPECT_EQ(TraceOut(), (Lines{Out("InstallGetPrivateProfileString -> [Setup] None=(5%)")}));
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(ProfileFileTest, MissingKeyOrFileGivesTheDefault) {
  MSIHANDLE hInstall = Open();
  char szValue[64] = {};
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Mode", "Manual", szValue, sizeof(szValue), kInf), 6u);
  EXPECT_STREQ(szValue, "Manual");
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Product", "none", szValue, sizeof(szValue),
                                           "C:\\Setup\\none.inf"),
            4u);
  EXPECT_STREQ(szValue, "none");
  EXPECT_EQ(LogLines().back(), Info("InstallGetPrivateProfileString <- none"));
}

TEST_F(ProfileFileTest, NullArgumentsAreTracedAsNull) {
  MSIHANDLE hInstall = Open();
  char szValue[64];
  std::memset(szValue, 'z', sizeof(szValue));
  // A null section lists the sections; the trace shows the first name.
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, nullptr, nullptr, nullptr, szValue, sizeof(szValue), kInf), 17u);
  EXPECT_EQ(std::string(szValue, 18), std::string("Setup\0Components\0\0", 18));
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Product", "x", nullptr, 10, kInf), 0u);
  EXPECT_EQ(TraceOut(), (Lines{Out("InstallGetPrivateProfileString -> [Null] Null=(Null)"),
                               Out("InstallGetPrivateProfileString <- Setup"),
                               Out("InstallGetPrivateProfileString -> [Setup] Product=(x)"),
                               Out("InstallGetPrivateProfileString <- Null")}));
}

TEST_F(ProfileFileTest, ValueCutToTheBufferAndABufferOfNoBytes) {
  MSIHANDLE hInstall = Open();
  char szValue[5];
  std::memset(szValue, 'z', sizeof(szValue));
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Product", "", szValue, sizeof(szValue), kInf), 4u);
  EXPECT_STREQ(szValue, "Velm");
  std::memset(szValue, 'z', sizeof(szValue));
  // Nothing is written, and nothing is read from the unwritten buffer.
  EXPECT_EQ(InstallGetPrivateProfileString(hInstall, "Setup", "Product", "", szValue, 0, kInf), 0u);
  EXPECT_EQ(szValue[0], 'z');
  EXPECT_EQ(LogLines().back(), Info("InstallGetPrivateProfileString <- "));
}

// --- InstallGetPrivateProfileInt ---

TEST_F(ProfileFileTest, IntegerAndItsTrace) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(InstallGetPrivateProfileInt(hInstall, "Setup", "Count", 5, kInf), 42u);
  EXPECT_EQ(static_cast<int>(InstallGetPrivateProfileInt(hInstall, "Setup", "Negative", 5, kInf)), -7);
  EXPECT_EQ(
      TraceOut(),
      (Lines{Out("InstallGetPrivateProfileInt -> [Setup] Count=(5)"), Out("InstallGetPrivateProfileInt <- 42"),
             Out("InstallGetPrivateProfileInt -> [Setup] Negative=(5)"), Out("InstallGetPrivateProfileInt <- -7")}));
  EXPECT_EQ(LogLines().at(1), Info("InstallGetPrivateProfileInt <- 42"));
}

TEST_F(ProfileFileTest, MissingIntegerGivesTheDefault) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(static_cast<int>(InstallGetPrivateProfileInt(hInstall, "Setup", "Missing", -1, kInf)), -1);
  EXPECT_EQ(InstallGetPrivateProfileInt(hInstall, "Components", "Server", 0, "C:\\none.inf"), 0u);
  EXPECT_EQ(InstallGetPrivateProfileInt(hInstall, nullptr, nullptr, 3, "C:\\none.inf"), 3u);
  EXPECT_EQ(
      TraceOut(),
      (Lines{Out("InstallGetPrivateProfileInt -> [Setup] Missing=(-1)"), Out("InstallGetPrivateProfileInt <- -1"),
             Out("InstallGetPrivateProfileInt -> [Components] Server=(0)"), Out("InstallGetPrivateProfileInt <- 0"),
             Out("InstallGetPrivateProfileInt -> [Null] Null=(3)"), Out("InstallGetPrivateProfileInt <- 3")}));
}

// --- InstallReadFile ---

TEST_F(ProfileFileTest, ReadsTheBytesAsTheyAreWithoutTrace) {
  MSIHANDLE hInstall = Open();
  const std::string content = "line one\r\nline two\n\xe9t\xe9\r\n";
  Files().AddFile("C:\\Setup\\license.txt", content);
  char* szText = InstallReadFile(hInstall, "C:\\Setup\\license.txt");
  ASSERT_NE(szText, nullptr);
  EXPECT_EQ(std::string(szText), content);
  EXPECT_EQ(szText[content.size()], '\0');
  delete[] szText;
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ProfileFileTest, EmptyFileIsAnAllocatedEmptyString) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\empty.txt", "");
  char* szText = InstallReadFile(hInstall, "C:\\Setup\\empty.txt");
  ASSERT_NE(szText, nullptr);
  EXPECT_STREQ(szText, "");
  delete[] szText;
}

TEST_F(ProfileFileTest, MissingOrOverLongPathFailsAtCreateFile) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\none.txt"); }),
            Failure("InstallReadFile : CreateFile", ERROR_FILE_NOT_FOUND));
  const std::string tooLong = "C:\\" + std::string(MAX_PATH - 3, 'l');
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, tooLong.c_str()); }),
            Failure("InstallReadFile : CreateFile", ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(ProfileFileTest, FileHeldOpenElsewhereWithAnyAccessFailsAtCreateFile) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\license.txt", "text");
  // Even a holder that shares everything stops an open that shares nothing.
  Files().HoldOpen("C:\\Setup\\license.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\license.txt"); }),
            Failure("InstallReadFile : CreateFile", ERROR_SHARING_VIOLATION));
}

TEST_F(ProfileFileTest, SizeAndReadFailuresCloseTheFile) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\license.txt", "text");
  Faults::Instance().Fail("GetFileSize", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\license.txt"); }),
            Failure("InstallReadFile : GetFileSize", ERROR_ACCESS_DENIED));
  EXPECT_EQ(Files().OpenFileHandles(), 0);
  Faults::Instance().Fail("ReadFile", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\license.txt"); }),
            Failure("InstallReadFile : ReadFile", ERROR_ACCESS_DENIED));
  EXPECT_EQ(Files().OpenFileHandles(), 0);
}

TEST_F(ProfileFileTest, AllocationFailuresCloseTheFile) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\license.txt", "text");
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 1);
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\license.txt"); }),
            Failure("InstallReadFile : szData", ERROR_OUTOFMEMORY));
  EXPECT_EQ(Files().OpenFileHandles(), 0);
  Faults::Instance().Clear();
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 2);
  EXPECT_EQ(Raised([&] { InstallReadFile(hInstall, "C:\\Setup\\license.txt"); }),
            Failure("InstallReadFile : ret", ERROR_OUTOFMEMORY));
  EXPECT_EQ(Files().OpenFileHandles(), 0);
}

}  // namespace
