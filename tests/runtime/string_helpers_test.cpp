// Path and string helpers: the trailing backslash, joining, the bounds of the
// caller's buffer, and the ANSI to wide conversion.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/code_page.h"
#include "host/faults.h"
#include "runtime/install_exception.h"
#include "runtime/string_helpers.h"

namespace {

DWORD RaisedError(void (*f)(char*, size_t), char* buffer, size_t size) {
  try {
    f(buffer, size);
  } catch (CInstallException* e) {
    std::unique_ptr<CInstallException> owned(e);
    return e->m_dwError;
  }
  return 0;
}

TEST(AddBackslash, AppendsOneUnlessEmptyNullOrAlreadyThere) {
  char szPath[MAX_PATH] = "C:\\Temp";
  InstallAddBackslash(szPath, sizeof(szPath));
  EXPECT_STREQ(szPath, "C:\\Temp\\");
  InstallAddBackslash(szPath, sizeof(szPath));
  EXPECT_STREQ(szPath, "C:\\Temp\\");
  char szEmpty[MAX_PATH] = "";
  InstallAddBackslash(szEmpty, sizeof(szEmpty));
  EXPECT_STREQ(szEmpty, "");
  EXPECT_NO_THROW(InstallAddBackslash(nullptr, 0));
}

TEST(AddBackslash, TestsTheLastByteNotTheLastCharacter) {
  // In code page 932 "\x83\x5c" is one character whose trail byte is a backslash.
  host::SetAnsiCodePage(932);
  char szPath[MAX_PATH] = "C:\\\x83\x5c";
  InstallAddBackslash(szPath, sizeof(szPath));
  host::SetAnsiCodePage(1252);
  EXPECT_STREQ(szPath, "C:\\\x83\x5c");
}

TEST(AddBackslash, RefusesToOverflowAFullBuffer) {
  char szPath[MAX_PATH];
  std::string fits(258, 'a');
  snprintf(szPath, sizeof(szPath), "%s", fits.c_str());
  InstallAddBackslash(szPath, sizeof(szPath));
  EXPECT_EQ(std::string(szPath), fits + "\\");

  std::string full(259, 'a');
  snprintf(szPath, sizeof(szPath), "%s", full.c_str());
  EXPECT_EQ(RaisedError([](char* b, size_t s) { InstallAddBackslash(b, s); }, szPath, sizeof(szPath)),
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(std::string(szPath), full);
}

TEST(MakePath, JoinsDirectoryAndName) {
  char szOut[MAX_PATH];
  InstallMakePath(szOut, sizeof(szOut), "C:\\Windows", "skdnt.cfg");
  EXPECT_STREQ(szOut, "C:\\Windows\\skdnt.cfg");
  InstallMakePath(szOut, sizeof(szOut), "C:\\Windows\\", "skdnt.cfg");
  EXPECT_STREQ(szOut, "C:\\Windows\\skdnt.cfg");
  InstallMakePath(szOut, sizeof(szOut), nullptr, "skdnt.cfg");
  EXPECT_STREQ(szOut, "skdnt.cfg");
  InstallMakePath(szOut, sizeof(szOut), "C:\\Windows", nullptr);
  EXPECT_STREQ(szOut, "C:\\Windows\\");
  InstallMakePath(szOut, sizeof(szOut), "", "name");
  EXPECT_STREQ(szOut, "name");
  InstallMakePath(szOut, sizeof(szOut), nullptr, nullptr);
  EXPECT_STREQ(szOut, "");
}

TEST(MakePath, RefusesAPathLongerThanTheBufferInsteadOfCuttingIt) {
  std::string directory(200, 'd');
  std::string name(59, 'n');  // 200 + 1 + 59 = 260 characters: one too many
  char szOut[MAX_PATH] = "previous";
  try {
    InstallMakePath(szOut, sizeof(szOut), directory.c_str(), name.c_str());
    ADD_FAILURE() << "not refused";
  } catch (CInstallException* e) {
    std::unique_ptr<CInstallException> owned(e);
    EXPECT_STREQ(e->m_szContext, "InstallMakePath");
    EXPECT_EQ(e->m_dwError, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  }
  EXPECT_STREQ(szOut, "");
  name.pop_back();
  InstallMakePath(szOut, sizeof(szOut), directory.c_str(), name.c_str());
  EXPECT_EQ(strlen(szOut), 259u);
}

TEST(AnsiToWide, ConvertsFromTheAnsiCodePage) {
  WCHAR* wsz = InstallAnsiToWide("VRIN$ \x80");
  ASSERT_NE(wsz, nullptr);
  EXPECT_EQ(std::u16string(wsz), u"VRIN$ \u20AC");
  delete[] wsz;
  EXPECT_EQ(InstallAnsiToWide(nullptr), nullptr);
}

TEST(AnsiToWide, AllocationFailureGivesNullAndRaisesNothing) {
  host::Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY);
  EXPECT_EQ(InstallAnsiToWide("C:\\Velmora"), nullptr);
  host::Faults::Instance().Clear();
}

TEST(CopyTruncated, CutsAtACharacterBoundary) {
  char szOut[5];
  InstallCopyTruncated(szOut, sizeof(szOut), "abcdef");
  EXPECT_STREQ(szOut, "abcd");
  host::SetAnsiCodePage(932);
  InstallCopyTruncated(szOut, sizeof(szOut), "abc\x83\x5c");
  host::SetAnsiCodePage(1252);
  EXPECT_STREQ(szOut, "abc");
}

}  // namespace
