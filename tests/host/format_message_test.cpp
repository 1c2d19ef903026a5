// FormatMessageA of the simulated machine: the library's message table under
// its module handle, the language rules, inserts and escapes, the buffers it
// allocates, and the reader of the message-table layout.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/local_memory.h"
#include "host/machine.h"
#include "host/message_table.h"
#include "host/platform.h"

namespace {

constexpr DWORD kFromModule = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER;
constexpr DWORD kFromString = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER;

class FormatMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::ResetMachine();
    heapBefore_ = host::LocalAllocationCount();
  }
  void TearDown() override {
    EXPECT_EQ(host::LocalAllocationCount(), heapBefore_) << "a buffer was not released";
    host::ResetMachine();
  }

  // FormatMessageA with an allocated buffer and the variable arguments as the
  // va_list of inserts; the text, or "<error N>" with the last error.
  static std::string Format(DWORD flags, LPCVOID source, DWORD id, DWORD language, ...) {
    va_list arguments;
    va_start(arguments, language);
    char* text = nullptr;
    DWORD length = FormatMessageA(flags, source, id, language, reinterpret_cast<LPSTR>(&text), 0, &arguments);
    va_end(arguments);
    if (length == 0) {
      EXPECT_EQ(text, nullptr) << "a failed call leaves the pointer null";
      return "<error " + std::to_string(GetLastError()) + ">";
    }
    std::string result(text, length);
    EXPECT_EQ(std::strlen(text), length);
    LocalFree(text);
    return result;
  }

  static std::string FromString(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char* text = nullptr;
    DWORD length = FormatMessageA(kFromString, format, 0, 0, reinterpret_cast<LPSTR>(&text), 0, &arguments);
    va_end(arguments);
    if (length == 0) return "<error " + std::to_string(GetLastError()) + ">";
    std::string result(text, length);
    LocalFree(text);
    return result;
  }

  static std::string Error(DWORD error) { return "<error " + std::to_string(error) + ">"; }

  size_t heapBefore_ = 0;
};

// The table's texts as they must read, in UTF-8, without the final CR LF.
struct TableText {
  uint16_t language;
  const char* service;
  const char* driver;
};

const TableText kTableTexts[] = {
    {0x0405, "%1 Služba %2", "%1 Ovladač %2"},          {0x0406, "%1 %2 Tjeneste", "%1 %2 Driver"},
    {0x0407, "%1 %2 Dienst", "%1 %2 Treiber"},          {0x0408, "%1 %2 Υπηρεσία", "%1 %2 Πρόγραμμα οδήγησης"},
    {0x0409, "%1 %2 Service", "%1 %2 Driver"},          {0x040A, "%1 Servicio %2", "%1 Controlador %2"},
    {0x040B, "%1 %2 Palvelu", "%1 %2 Ohjain"},          {0x040C, "%1 Service %2", "Unité %1 %2"},
    {0x040E, "%1 %2 Szolgáltatás", "%1 %2 Meghajtó"},   {0x0410, "%1 Servizio %2", "%1 Driver %2"},
    {0x0411, "%1 %2 サービス\t", "%1 %2 ドライバ"},     {0x0412, "%1 %2 Service", "%1 %2 Driver"},
    {0x0413, "%1 Service %2 ", "%1 Stuurprogramma %2"}, {0x0414, "%1 %2-tjeneste", "%1 %2-driver"},
    {0x0415, "%1 %2 Usługa", "%1 %2 Sterownik"},        {0x0416, "%1 %2 Service", "%1 %2 Driver"},
    {0x0419, "%1 Служба %2", "%1 Драйвер %2"},          {0x041D, "%1 %2 Tjänst", "%1 %2 Drivrutin"},
    {0x041F, "%1 %2 Hizmeti", "%1 %2 Sürücüsü:"},       {0x0804, "%1 %2 服务", "%1 %2 驱动程序"},
};

TEST_F(FormatMessageTest, LibraryTableHoldsTheTwentyLanguages) {
  std::vector<uint16_t> expected;
  for (const TableText& row : kTableTexts) expected.push_back(row.language);
  EXPECT_EQ(host::LibraryMessageLanguages(), expected);
}

TEST_F(FormatMessageTest, LibraryTableTextsEndInCrLf) {
  for (const TableText& row : kTableTexts) {
    std::u16string text;
    ASSERT_EQ(host::FindModuleMessage(host::LibraryModule(), 0x40000001, row.language, &text), 0u) << row.language;
    EXPECT_EQ(host::Utf16ToUtf8(text), std::string(row.service) + "\r\n") << row.language;
    ASSERT_EQ(host::FindModuleMessage(host::LibraryModule(), 0x40000002, row.language, &text), 0u) << row.language;
    EXPECT_EQ(host::Utf16ToUtf8(text), std::string(row.driver) + "\r\n") << row.language;
  }
}

TEST_F(FormatMessageTest, LibraryTableEntriesAreAlignedUtf16) {
  ASSERT_EQ(host::kLibraryMessageTableCount, 20u);
  for (size_t i = 0; i < host::kLibraryMessageTableCount; ++i) {
    const host::EmbeddedMessageTable& table = host::kLibraryMessageTables[i];
    std::string error;
    auto entries = host::ParseMessageTable(table.data, table.size, &error);
    ASSERT_TRUE(entries.has_value()) << table.language << ": " << error;
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].id, 0x40000001u);
    EXPECT_EQ((*entries)[1].id, 0x40000002u);
    for (const host::MessageTableEntry& entry : *entries) {
      EXPECT_EQ(entry.flags, host::kMessageResourceUnicode);
      EXPECT_EQ(entry.length % 4, 0) << table.language;
    }
  }
}

TEST_F(FormatMessageTest, ModuleMessageWithVaListInserts) {
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 1031, "OV", "Velmora"), "OV Velmora Treiber\r\n");
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 1036, "OV", "Velmora"), "Unit\xE9 OV Velmora\r\n");
}

TEST_F(FormatMessageTest, ModuleMessageWithArgumentArray) {
  const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("OV"), reinterpret_cast<DWORD_PTR>("Velmora")};
  char* text = nullptr;
  DWORD length =
      FormatMessageA(kFromModule | FORMAT_MESSAGE_ARGUMENT_ARRAY, host::LibraryModule(), 0x40000002, 1044,
                     reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
  ASSERT_NE(length, 0u);
  EXPECT_STREQ(text, "OV Velmora-driver\r\n");
  LocalFree(text);
}

TEST_F(FormatMessageTest, LanguageTheTableLacks) {
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 1027, "OV", "Velmora"),
            Error(ERROR_RESOURCE_LANG_NOT_FOUND));
  // Exact match only: German with a neutral sub-language is not German (Germany).
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 0x0007, "OV", "Velmora"),
            Error(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST_F(FormatMessageTest, LanguageIsALangId) {
  // Only the low 16 bits count, as under Wine: 0x10407 is German.
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 0x10407, "OV", "Velmora"), "OV Velmora Treiber\r\n");
}

TEST_F(FormatMessageTest, IdentifierTheTableLacks) {
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000003, 1031, "OV", "Velmora"),
            Error(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000000, 1031, "OV", "Velmora"),
            Error(ERROR_MR_MID_NOT_FOUND));
}

TEST_F(FormatMessageTest, LanguageZeroFindsTheMachinesLanguage) {
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 0, "OV", "Velmora"), "OV Velmora Driver\r\n");
}

TEST_F(FormatMessageTest, OnlyTheLibraryModuleHasATable) {
  HINSTANCE__ other{};
  EXPECT_EQ(Format(kFromModule, &other, 0x40000002, 1031, "OV", "Velmora"), Error(host::kErrorResourceTypeNotFound));
  EXPECT_EQ(Format(kFromModule, nullptr, 0x40000002, 1031, "OV", "Velmora"), Error(host::kErrorResourceTypeNotFound));
}

TEST_F(FormatMessageTest, ModuleThenSystem) {
  const DWORD flags = kFromModule | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  EXPECT_EQ(Format(flags, host::LibraryModule(), 160, 1033), "One or more arguments are not correct.\r\n");
  EXPECT_EQ(Format(flags, host::LibraryModule(), 0x40000002, 1033), "%1 %2 Driver\r\n");
}

TEST_F(FormatMessageTest, TextsConvertToTheAnsiCodePage) {
  // Greek is not in code page 1252.
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000001, 0x0408, "OV", "Velmora"), "OV Velmora ????????\r\n");
  host::SetAnsiCodePage(932);
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 0x0411, "OV", "Velmora"),
            "OV Velmora \x83\x68\x83\x89\x83\x43\x83\x6F\r\n");
}

TEST_F(FormatMessageTest, AllocationIsAtLeastTheRequestedSize) {
  char* text = nullptr;
  ASSERT_EQ(FormatMessageA(kFromString, "abc", 0, 0, reinterpret_cast<LPSTR>(&text), 1024, nullptr), 3u);
  EXPECT_EQ(LocalSize(text), 1024u);
  EXPECT_EQ(host::LocalAllocationCount(), heapBefore_ + 1);
  LocalFree(text);
  EXPECT_EQ(host::LocalAllocationCount(), heapBefore_);
  ASSERT_EQ(FormatMessageA(kFromString, "abcdef", 0, 0, reinterpret_cast<LPSTR>(&text), 2, nullptr), 6u);
  EXPECT_EQ(LocalSize(text), 7u);
  LocalFree(text);
}

TEST_F(FormatMessageTest, CallersBuffer) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "abcdefgh", 0, 0, buffer, sizeof(buffer), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], 'x') << "a buffer too small is left alone";
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "abcdefg", 0, 0, buffer, sizeof(buffer), nullptr), 7u);
  EXPECT_STREQ(buffer, "abcdefg");
}

TEST_F(FormatMessageTest, FailedAllocatingCallNullsThePointer) {
  char* text = reinterpret_cast<char*>(&heapBefore_);
  EXPECT_EQ(
      FormatMessageA(kFromModule, host::LibraryModule(), 0x40000003, 1033, reinterpret_cast<LPSTR>(&text), 0, nullptr),
      0u);
  EXPECT_EQ(text, nullptr);
}

TEST_F(FormatMessageTest, InsertsInAnyOrderAndRepeated) {
  EXPECT_EQ(FromString("%1%3%2%1", "t", "s", "e"), "test");
  EXPECT_EQ(FromString("%2 %1 %2", "a", "b"), "b a b");
  EXPECT_EQ(FromString("[%1!5s!] [%1!-3s!] [%1!.1s!]", "ab"), "[   ab] [ab ] [a]");
  EXPECT_EQ(FromString("%1", static_cast<const char*>(nullptr)), "(null)");
}

TEST_F(FormatMessageTest, TwoDigitInserts) {
  std::vector<DWORD_PTR> inserts;
  const char* const names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  for (const char* name : names) inserts.push_back(reinterpret_cast<DWORD_PTR>(name));
  char* text = nullptr;
  ASSERT_NE(FormatMessageA(kFromString | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%10 %100 %1", 0, 0,
                           reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(inserts.data())),
            0u);
  EXPECT_STREQ(text, "j j0 a");
  LocalFree(text);
}

TEST_F(FormatMessageTest, Escapes) {
  EXPECT_EQ(FromString(" %%%% "), " %% ");
  EXPECT_EQ(FromString("a%nb%rc%td"), "a\r\nb\rc\td");
  EXPECT_EQ(FromString("%.%!% x"), ".! x");
  EXPECT_EQ(FromString("test%0more"), "test");
  EXPECT_EQ(FromString("keep%0"), "keep");
}

TEST_F(FormatMessageTest, LineBreaks) {
  EXPECT_EQ(FromString("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd");
  char* text = nullptr;
  ASSERT_NE(FormatMessageA(kFromString | FORMAT_MESSAGE_MAX_WIDTH_MASK, "a\r\nb\nc%nd", 0, 0,
                           reinterpret_cast<LPSTR>(&text), 0, nullptr),
            0u);
  EXPECT_STREQ(text, "a b c\r\nd") << "only %n survives the width mask";
  LocalFree(text);
}

TEST_F(FormatMessageTest, IgnoreInsertsPassesThemThrough) {
  char* text = nullptr;
  ASSERT_NE(FormatMessageA(kFromString | FORMAT_MESSAGE_IGNORE_INSERTS, "%1 %2!s! %% %n%0x", 0, 0,
                           reinterpret_cast<LPSTR>(&text), 0, nullptr),
            0u);
  EXPECT_STREQ(text, "%1 %2!s! %% \r\n");
  LocalFree(text);
  EXPECT_EQ(Format(kFromModule | FORMAT_MESSAGE_IGNORE_INSERTS, host::LibraryModule(), 0x40000002, 1031),
            "%1 %2 Treiber\r\n");
}

TEST_F(FormatMessageTest, MalformedFormatsFail) {
  char* text = nullptr;
  EXPECT_EQ(FormatMessageA(kFromString, "%1", 0, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "an insert needs arguments";
  EXPECT_EQ(FromString("test%"), Error(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(FromString("%1!s", "a"), Error(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(FromString("%1!d!", "a"), Error(ERROR_INVALID_PARAMETER)) << "only string inserts are supported";
  EXPECT_EQ(FromString(""), Error(235));
  EXPECT_EQ(FormatMessageA(kFromString | 40, "a", 0, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "no line wrapping";
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER, "a", 0, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "no source";
}

TEST_F(FormatMessageTest, FaultsCanNameTheLanguage) {
  host::Faults::Instance().Fail("FormatMessage", ERROR_NOT_ENOUGH_MEMORY, 0, "1031");
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 1031, "OV", "Velmora"),
            Error(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Format(kFromModule, host::LibraryModule(), 0x40000002, 1033, "OV", "Velmora"), "OV Velmora Driver\r\n");
}

// The reader of MESSAGE_RESOURCE_DATA, on hand-made blobs.
class MessageTableParseTest : public ::testing::Test {
 protected:
  static void Put16(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
  }
  static void Put32(std::vector<uint8_t>* out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value));
    Put16(out, static_cast<uint16_t>(value >> 16));
  }
  // One block 7..8: an ANSI entry "hi" and a UTF-8 entry "é".
  static std::vector<uint8_t> Valid() {
    std::vector<uint8_t> data;
    Put32(&data, 1);
    Put32(&data, 7);
    Put32(&data, 8);
    Put32(&data, 16);
    Put16(&data, 8);
    Put16(&data, host::kMessageResourceAnsi);
    for (char c : std::string("hi\0\0", 4)) data.push_back(static_cast<uint8_t>(c));
    Put16(&data, 8);
    Put16(&data, host::kMessageResourceUtf8);
    for (char c : std::string("\xC3\xA9\0\0", 4)) data.push_back(static_cast<uint8_t>(c));
    return data;
  }
  static std::string Reason(const std::vector<uint8_t>& data) {
    std::string error;
    EXPECT_FALSE(host::ParseMessageTable(data.data(), data.size(), &error).has_value());
    return error;
  }
};

TEST_F(MessageTableParseTest, ReadsAnsiAndUtf8Entries) {
  std::vector<uint8_t> data = Valid();
  auto entries = host::ParseMessageTable(data.data(), data.size());
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].id, 7u);
  EXPECT_EQ(host::MessageEntryText((*entries)[0]), u"hi");
  EXPECT_EQ((*entries)[1].id, 8u);
  EXPECT_EQ(host::MessageEntryText((*entries)[1]), u"\u00E9");
}

TEST_F(MessageTableParseTest, RejectsMalformedData) {
  const std::vector<uint8_t> valid = Valid();
  EXPECT_NE(Reason({1, 0}), "");
  EXPECT_NE(Reason(std::vector<uint8_t>(valid.begin(), valid.begin() + 12)), "");  // block header cut
  std::vector<uint8_t> data = valid;
  data[0] = 0xFF;  // more blocks than the data holds
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[4] = 9;  // low above high
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[12] = 0xF0;  // entries past the end
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[16] = 2;  // entry shorter than its header
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[16] = 0x40;  // entry longer than the data
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[18] = 7;  // unknown flags
  EXPECT_NE(Reason(data), "");
  data = valid;
  data[22] = 'x';
  data[23] = 'x';  // no terminating NUL
  EXPECT_NE(Reason(data), "");
  data = valid;
  data.resize(valid.size() - 1);  // last entry cut
  EXPECT_NE(Reason(data), "");
  // Two blocks naming the same identifier.
  data.clear();
  Put32(&data, 2);
  for (int block = 0; block < 2; ++block) {
    Put32(&data, 5);
    Put32(&data, 5);
    Put32(&data, 28);
  }
  Put16(&data, 8);
  Put16(&data, host::kMessageResourceAnsi);
  for (char c : std::string("ok\0\0", 4)) data.push_back(static_cast<uint8_t>(c));
  EXPECT_NE(Reason(data), "");
  // A huge identifier range is refused before it is walked.
  data = valid;
  data[4] = 0;
  data[8] = 0xFF;
  data[9] = 0xFF;
  data[10] = 0xFF;
  data[11] = 0xFF;
  EXPECT_NE(Reason(data), "");
}

}  // namespace
