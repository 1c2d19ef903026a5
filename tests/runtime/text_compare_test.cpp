// Comparison and search of ANSI text character by character: letter case
// folds only for single-byte letters, and no byte of a double-byte character
// is taken for a character of its own.
#include <gtest/gtest.h>

#include "host/code_page.h"
#include "host/machine.h"
#include "runtime/text_compare.h"

namespace {

class TextCompareTest : public ::testing::Test {
 protected:
  void SetUp() override { host::ResetMachine(); }
  void TearDown() override { host::ResetMachine(); }
};

TEST_F(TextCompareTest, ExactComparison) {
  EXPECT_EQ(InstallCompareText("1", "1"), 0);
  EXPECT_NE(InstallCompareText("1", "01"), 0);
  EXPECT_NE(InstallCompareText("1", "1 "), 0);
  EXPECT_NE(InstallCompareText("Driver", "driver"), 0);
  EXPECT_LT(InstallCompareText("a", "b"), 0);
  EXPECT_GT(InstallCompareText("b", "a"), 0);
  EXPECT_LT(InstallCompareText("a", "ab"), 0);
  EXPECT_GT(InstallCompareText("\xE9", "e"), 0) << "characters compare unsigned";
  EXPECT_EQ(InstallCompareText(nullptr, ""), 0);
  EXPECT_LT(InstallCompareText(nullptr, "1"), 0);
}

TEST_F(TextCompareTest, CaseInsensitiveComparisonFoldsSingleByteLetters) {
  EXPECT_EQ(InstallCompareTextNoCase("Reboot", "REBOOT"), 0);
  EXPECT_EQ(InstallCompareTextNoCase("%SystemRoot%\\system32\\drivers\\skdnt.sys",
                                     "%SYSTEMROOT%\\System32\\DRIVERS\\SKDNT.SYS"),
            0);
  EXPECT_NE(InstallCompareTextNoCase("Reboot", "Reboots"), 0);
  EXPECT_NE(InstallCompareTextNoCase("[", "{"), 0) << "only letters fold";
}

TEST_F(TextCompareTest, TrailBytesAreNeverFolded) {
  host::SetAnsiCodePage(932);
  // Two double-byte characters that differ only in a trail byte that looks
  // like 'A' and 'a'.
  EXPECT_NE(InstallCompareTextNoCase("\x83\x41", "\x83\x61"), 0);
  EXPECT_EQ(InstallCompareTextNoCase("x\x83\x41Y", "X\x83\x41y"), 0);
}

TEST_F(TextCompareTest, FindTextAtCharacterBoundariesOnly) {
  const char* szText = "ReallyForce";
  EXPECT_EQ(InstallFindText(szText, "Force"), szText + 6);
  EXPECT_EQ(InstallFindText("force", "Force"), nullptr);
  EXPECT_EQ(InstallFindText("", "Force"), nullptr);
  EXPECT_EQ(InstallFindText("Forc", "Force"), nullptr);
  EXPECT_EQ(InstallFindText(szText, ""), szText);
  host::SetAnsiCodePage(932);
  // 'F' (0x46) is the trail byte of the double-byte character 0x83 0x46.
  EXPECT_EQ(InstallFindText("\x83"
                            "Force",
                            "Force"),
            nullptr);
  EXPECT_NE(InstallFindText("\x83"
                            "FForce",
                            "Force"),
            nullptr);
  // A match may not end inside a double-byte character either.
  EXPECT_EQ(InstallFindText("ab\x83\x41", "ab\x83"), nullptr);
}

TEST_F(TextCompareTest, LastCharacterIsNeverATrailByte) {
  char szPath[] = "C:\\Velmora\\skdnt.exe";
  EXPECT_EQ(InstallFindLastChar(szPath, '\\'), szPath + 10);
  char szNone[] = "skdnt.exe";
  EXPECT_EQ(InstallFindLastChar(szNone, '\\'), nullptr);
  host::SetAnsiCodePage(932);
  char szDbcs[] = "C:\\Velmora\\skd\x95\x5C.exe";
  EXPECT_EQ(InstallFindLastChar(szDbcs, '\\'), szDbcs + 10);
}

}  // namespace
