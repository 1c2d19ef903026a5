// The harness's own text handling, on inputs shaped like what Wine writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/wine/wine_harness.h"

namespace {

std::string Utf16Le(const std::u16string& text, bool bom) {
  std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(WineHarness, WindowsPathIsZDriveWithBackslashes) {
  EXPECT_EQ(wine::ToWindowsPath("/tmp/a b/p.msi"), "Z:\\tmp\\a b\\p.msi");
  EXPECT_EQ(wine::ToWindowsPath("/tmp/x/../p.msi"), "Z:\\tmp\\p.msi");
}

TEST(WineHarness, DecodesUtf16WithAndWithoutBom) {
  // U+00E9 and U+1F600 (a surrogate pair).
  std::u16string text = u"Caf\u00e9 \xD83D\xDE00\r\n";
  const std::string utf8 = "Caf\xC3\xA9 \xF0\x9F\x98\x80\r\n";
  EXPECT_EQ(wine::DecodeText(Utf16Le(text, true)), utf8);
  EXPECT_EQ(wine::DecodeText(Utf16Le(text, false)), utf8);
  EXPECT_EQ(wine::DecodeText("\xEF\xBB\xBFplain"), "plain");
  EXPECT_EQ(wine::DecodeText("plain text\n"), "plain text\n");
}

TEST(WineHarness, SplitLinesDropsEveryCarriageReturn) {
  EXPECT_EQ(wine::SplitLines("a\r\r\nb\r\nc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(wine::SplitLines("x <- \n"), (std::vector<std::string>{"x <- "}));
}

TEST(WineHarness, FindsEachRunOfAnAction) {
  const std::string log =
      "Action start 11:18:07: Other.\n"
      "Action start 11:18:07: Act.\n"
      "OV VRIN : Act ->\n"
      "OV VRIN : Act <- \n"
      "Action ended 11:18:08: Act. Return value 1.\n"
      "Action ended 11:18:08: Other. Return value 1.\n"
      "Action start 11:18:09: ActLonger.\n"
      "Action ended 11:18:09: ActLonger. Return value 1.\n"
      "Action start 11:18:09: Act.\r\n"
      "Action ended 11:18:09: Act. Return value 0.\r\n"
      "Action start 11:18:10: Act.\n"
      "never ended\n";
  std::vector<wine::ActionRun> runs = wine::FindActionRuns(log, "Act");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].lines, (std::vector<std::string>{"OV VRIN : Act ->", "OV VRIN : Act <- "}));
  EXPECT_EQ(runs[0].returnValue, 1);
  EXPECT_TRUE(runs[1].lines.empty());
  EXPECT_EQ(runs[1].returnValue, 0);
}

TEST(WineHarness, ParsesRegExport) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vrin\\Test]\r\n"
      "@=\"default\"\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
      "\"Count\"=dword:00000409\r\n"
      "\"Expand\"=hex(2):25,00,54,00,4d,00,50,00,25,00,5c,00,\\\r\n"
      "  78,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"
      "\"Big\"=hex(b):01,00,00,00,02,00,00,00\r\n"
      "\"Blob\"=hex:de,ad\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vrin\\Test\\Sub]\r\n"
      "\r\n";
  wine::RegistryDump dump = wine::ParseRegFile(text);
  ASSERT_EQ(dump.size(), 2u);
  // Registry names do not depend on case.
  ASSERT_EQ(dump.count("HKEY_LOCAL_MACHINE\\SOFTWARE\\vrin\\test"), 1u);
  const wine::RegistryValues& values = dump.at("HKEY_LOCAL_MACHINE\\Software\\Vrin\\Test");
  EXPECT_EQ(values.at("@").text, "default");
  EXPECT_EQ(values.at("path").text, "C:\\Program Files\\");
  EXPECT_EQ(values.at("Quote").text, "say \"hi\"");
  EXPECT_EQ(values.at("Count").type, wine::RegistryValue::Type::kDword);
  EXPECT_EQ(values.at("Count").number, 0x409u);
  EXPECT_EQ(values.at("Expand").type, wine::RegistryValue::Type::kExpandString);
  EXPECT_EQ(values.at("Expand").text, "%TMP%\\x");
  EXPECT_EQ(values.at("Multi").strings, (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(values.at("Big").number, 0x0000000200000001u);
  EXPECT_EQ(values.at("Blob").bytes, (std::vector<std::uint8_t>{0xde, 0xad}));
  EXPECT_TRUE(dump.at("HKEY_LOCAL_MACHINE\\Software\\Vrin\\Test\\Sub").empty());
}

}  // namespace
