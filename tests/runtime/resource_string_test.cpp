// InstallGetResourceString: the text in the installation's language with its
// inserts, the fallback to US English, the traces, the failures and what the
// caller receives.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/local_memory.h"
#include "host/message_table.h"
#include "runtime/install_exception.h"
#include "runtime/module.h"
#include "runtime/resource_string.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;

constexpr DWORD kServiceName = 0x40000001;
constexpr DWORD kDriverName = 0x40000002;

class ResourceStringTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    vrintest::SessionTest::SetUp();
    // What the installer's host does when it loads the DLL.
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    hInstall_ = OpenSession();
    heapBefore_ = host::LocalAllocationCount();
  }

  void TearDown() override {
    EXPECT_EQ(host::LocalAllocationCount(), heapBefore_) << "a text was not released";
    vrintest::SessionTest::TearDown();
  }

  // The text for the language property (not set when null), with the inserts
  // every caller passes; "<null>" when none came back.
  std::string Text(const char* szLanguage, DWORD dwMessageId = kDriverName) {
    if (szLanguage != nullptr) Session().SetProperty("ProductLanguage", szLanguage);
    char* szText = InstallGetResourceString(hInstall_, dwMessageId, "OV", "Velmora");
    if (szText == nullptr) return "<null>";
    std::string text = szText;
    LocalFree(szText);
    return text;
  }

  std::vector<std::string> LookedFor() const {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines()) {
      if (line.find("Looking for language") != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  MSIHANDLE hInstall_ = 0;
  size_t heapBefore_ = 0;
};

// Languages the table holds: the driver name in that language, inserts put in
// where the language's pattern has them.
struct LanguageCase {
  const char* language;
  const char* expected;  // code page 1252
};

class DriverNameTest : public ResourceStringTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(DriverNameTest, InTheProductLanguage) { EXPECT_EQ(Text(GetParam().language), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Languages, DriverNameTest,
    ::testing::Values(LanguageCase{"1031", "OV Velmora Treiber"}, LanguageCase{"1036", "Unit\xE9 OV Velmora"},
                      LanguageCase{"1044", "OV Velmora-driver"}, LanguageCase{"1033", "OV Velmora Driver"},
                      LanguageCase{"1034", "OV Controlador Velmora"}, LanguageCase{"1043", "OV Stuurprogramma Velmora"},
                      LanguageCase{"1053", "OV Velmora Drivrutin"},
                      LanguageCase{"1055",
                                   "OV Velmora S\xFCr\xFC"
                                   "c\xFCs\xFC:"},
                      LanguageCase{"1042", "OV Velmora Driver"}, LanguageCase{"1046", "OV Velmora Driver"}));

TEST_F(ResourceStringTest, TracesEachStep) {
  EXPECT_EQ(Text("1031"), "OV Velmora Treiber");
  const std::vector<std::string> expected = {
      "OV VRIN : InstallGetProperty -> ProductLanguage", "OV VRIN : InstallGetProperty <- (1031)",
      "OV VRIN : InstallGetResourceString -> 40000002", "OV VRIN : Looking for language 1031",
      "OV VRIN : InstallGetResourceString <- OV Velmora Treiber"};
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(TakeStdoutLines(), expected);
}

TEST_F(ResourceStringTest, ServiceNameInTheProductLanguage) {
  EXPECT_EQ(Text("1031", kServiceName), "OV Velmora Dienst");
  EXPECT_EQ(Text("1034", kServiceName), "OV Servicio Velmora");
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetResourceString <- OV Servicio Velmora");
}

TEST_F(ResourceStringTest, DutchServiceNameKeepsItsTrailingBlank) {
  EXPECT_EQ(Text("1043", kServiceName), "OV Service Velmora ");
}

TEST_F(ResourceStringTest, JapaneseTextsInTheJapaneseCodePage) {
  host::SetAnsiCodePage(932);
  // ドライバ and サービス in Shift-JIS; the service name keeps its TAB.
  EXPECT_EQ(Text("1041"), "OV Velmora \x83\x68\x83\x89\x83\x43\x83\x6F");
  EXPECT_EQ(Text("1041", kServiceName), "OV Velmora \x83\x54\x81\x5B\x83\x72\x83\x58\t");
}

TEST_F(ResourceStringTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(Text("1041", kServiceName), "OV Velmora ????\t");
  // ž is in code page 1252, č is not.
  EXPECT_EQ(Text("1029"), "OV Ovlada? Velmora");
  EXPECT_EQ(Text("1029", kServiceName),
            "OV Slu\x9E"
            "ba Velmora");
}

TEST_F(ResourceStringTest, LanguageWithoutTableFallsBackToEnglish) {
  EXPECT_EQ(Text("1027"), "OV Velmora Driver");
  EXPECT_EQ(LookedFor(),
            (std::vector<std::string>{"OV VRIN : Looking for language 1027", "OV VRIN : Looking for language 1033"}));
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetResourceString <- OV Velmora Driver");
}

TEST_F(ResourceStringTest, EmptyOrNonNumericLanguageMeansEnglish) {
  for (const char* language : {"", "abc", "-"}) {
    EXPECT_EQ(Text(language), "OV Velmora Driver") << "'" << language << "'";
    EXPECT_EQ(LookedFor().back(), "OV VRIN : Looking for language 1033");
  }
  // One attempt each: English is in the table.
  EXPECT_EQ(LookedFor().size(), 3u);
}

TEST_F(ResourceStringTest, LanguageIsTheLeadingNumberAsPercentDReadsIt) {
  EXPECT_EQ(Text(" 1031"), "OV Velmora Treiber");
  EXPECT_EQ(Text("1036 (French)"), "Unit\xE9 OV Velmora");
  EXPECT_EQ(Text("99999999999"), "OV Velmora Driver");
}

TEST_F(ResourceStringTest, LanguageCountsByItsLow16Bits) {
  // 0x10407: FormatMessage takes a LANGID, the low 16 bits, German; the trace
  // shows the same.
  EXPECT_EQ(Text("66567"), "OV Velmora Treiber");
  EXPECT_EQ(LookedFor(), (std::vector<std::string>{"OV VRIN : Looking for language 1031"}));
}

TEST_F(ResourceStringTest, UnknownIdentifierGivesNullWithoutRaising) {
  EXPECT_EQ(Text("1031", 0x40000003), "<null>");
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetResourceString <- Null");
  EXPECT_EQ(LookedFor().size(), 1u) << "only a missing language falls back";
  EXPECT_EQ(LogLines()[2], "OV VRIN : InstallGetResourceString -> 40000003");
}

TEST_F(ResourceStringTest, OtherFirstAttemptFailureGivesNull) {
  Faults::Instance().Fail("FormatMessage", ERROR_NOT_ENOUGH_MEMORY, 1, "1031");
  EXPECT_EQ(Text("1031"), "<null>");
  EXPECT_EQ(LookedFor().size(), 1u);
  EXPECT_EQ(LogLines().back(), "OV VRIN : InstallGetResourceString <- Null");
}

TEST_F(ResourceStringTest, EnglishFailureAfterFallbackRaises) {
  Session().SetProperty("ProductLanguage", "1027");
  Faults::Instance().Fail("FormatMessage", ERROR_NOT_ENOUGH_MEMORY, 1, "1033");
  auto [context, error] = Raised([&] { InstallGetResourceString(hInstall_, kDriverName, "OV", "Velmora"); });
  EXPECT_EQ(context, "InstallGetResourceString : FormatMessage");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(LookedFor().size(), 2u);
  for (const std::string& line : LogLines()) EXPECT_EQ(line.find("InstallGetResourceString <-"), std::string::npos);
}

TEST_F(ResourceStringTest, UnknownIdentifierAfterFallbackRaises) {
  Session().SetProperty("ProductLanguage", "1027");
  auto [context, error] = Raised([&] { InstallGetResourceString(hInstall_, 0x40000003, "OV", "Velmora"); });
  EXPECT_EQ(context, "InstallGetResourceString : FormatMessage");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST_F(ResourceStringTest, NoTextEndsInALineBreak) {
  for (uint16_t language : host::LibraryMessageLanguages()) {
    for (DWORD id : {kServiceName, kDriverName}) {
      const std::string text = Text(std::to_string(language).c_str(), id);
      ASSERT_NE(text, "<null>") << language;
      ASSERT_GE(text.size(), 2u);
      EXPECT_NE(text.back(), '\n') << language;
      EXPECT_NE(text.back(), '\r') << language;
      EXPECT_EQ(text.find("OV"), text.rfind("OV")) << language << ": " << text;
      EXPECT_NE(text.find("Velmora"), std::string::npos) << language << ": " << text;
    }
  }
}

TEST_F(ResourceStringTest, TextIsALocalAllocationOfAtLeast1024Bytes) {
  Session().SetProperty("ProductLanguage", "1031");
  char* szText = InstallGetResourceString(hInstall_, kDriverName, "OV", "Velmora");
  ASSERT_NE(szText, nullptr);
  EXPECT_GE(LocalSize(szText), 1024u);
  EXPECT_EQ(host::LocalAllocationCount(), heapBefore_ + 1);
  LocalFree(szText);
}

TEST_F(ResourceStringTest, LooksUpTheModuleThatDllMainStored) {
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  // The process's own image has no message table: no text, and no fallback.
  EXPECT_EQ(Text("1031"), "<null>");
  EXPECT_EQ(LookedFor().size(), 1u);
  DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
  EXPECT_EQ(Text("1031"), "OV Velmora Treiber");
}

TEST_F(ResourceStringTest, MissingSessionRaisesFromThePropertyRead) {
  auto [context, error] = Raised([&] { InstallGetResourceString(0, kDriverName, "OV", "Velmora"); });
  EXPECT_EQ(context, "MsiGetSourcePath");
  EXPECT_NE(error, 0u);
}

}  // namespace
