// The message table of the shipped DLLs, read back out of their resource
// directory and compared with its one source, resources/messages.txt: the
// languages, the layout of each table and every text byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/message_table.h"
#include "host/pe_image.h"

namespace {

constexpr uint16_t kMessageTableName = 1;

// language -> identifier -> text (UTF-8, without the CR LF the build adds)
using SourceTables = std::map<uint16_t, std::map<uint32_t, std::string>>;

// Reads the source as the generator is meant to: comments and blank lines
// skipped, LANGID, identifier and a quoted text with \t, \" and \\ escapes.
// Written apart from the generator, so that the two check each other.
bool ReadSource(const std::string& path, SourceTables* tables, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  const std::regex line("^0x([0-9A-Fa-f]{4})[ \t]+0x([0-9A-Fa-f]{8})[ \t]+\"(.*)\"[ \t]*$");
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    std::smatch match;
    if (!std::regex_match(text, match, line)) {
      *error = path + ":" + std::to_string(number) + ": not a message line";
      return false;
    }
    std::string message;
    const std::string quoted = match[3];
    for (size_t i = 0; i < quoted.size(); ++i) {
      if (quoted[i] != '\\') {
        message += quoted[i];
        continue;
      }
      if (++i == quoted.size()) {
        *error = path + ":" + std::to_string(number) + ": backslash at the end";
        return false;
      }
      message += quoted[i] == 't' ? '\t' : quoted[i];
    }
    const auto language = static_cast<uint16_t>(std::stoul(match[1], nullptr, 16));
    const auto id = static_cast<uint32_t>(std::stoul(match[2], nullptr, 16));
    (*tables)[language][id] = message;
  }
  return true;
}

std::vector<uint8_t> Utf16Le(const std::string& utf8) {
  std::vector<uint8_t> bytes;
  for (char16_t c : host::Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

class SourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(ReadSource(VRINCA_SOURCE_DIR "/resources/messages.txt", &source_, &error)) << error;
  }
  SourceTables source_;
};

TEST_F(SourceTest, TwentyLanguagesOfTwoMessages) {
  const std::set<uint16_t> expected = {0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x040E, 0x0410,
                                       0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0419, 0x041D, 0x041F, 0x0804};
  std::set<uint16_t> languages;
  for (const auto& [language, messages] : source_) {
    languages.insert(language);
    EXPECT_EQ(messages.size(), 2u) << language;
    EXPECT_EQ(messages.count(0x40000001), 1u) << language;
    EXPECT_EQ(messages.count(0x40000002), 1u) << language;
  }
  EXPECT_EQ(languages, expected);
}

// Blanks and TABs at the ends of texts are easy to lose in an editor.
TEST_F(SourceTest, KeepsTheJapaneseTabAndTheDutchBlank) {
  EXPECT_EQ(source_[0x0411][0x40000001], "%1 %2 \xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x93\xE3\x82\xB9\t");
  EXPECT_EQ(source_[0x0413][0x40000001], "%1 Service %2 ");
  EXPECT_EQ(source_[0x0409][0x40000002], "%1 %2 Driver");
}

class DllMessageTableTest : public SourceTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    SourceTest::SetUp();
    path_ = std::string(VRINCA_DIST_DIR) + "/" + GetParam() + "/vrinca.dll";
    std::string error;
    image_ = host::PeImage::Load(path_, &error);
    ASSERT_TRUE(image_.has_value()) << path_ << ": " << error;
  }

  std::string path_;
  std::optional<host::PeImage> image_;
};

TEST_P(DllMessageTableTest, ExactlyTheSourceLanguages) {
  std::string error;
  std::vector<uint16_t> languages =
      image_->ResourceLanguages(host::kResourceTypeMessageTable, kMessageTableName, &error);
  ASSERT_EQ(error, "");
  std::vector<uint16_t> expected;
  for (const auto& entry : source_) expected.push_back(entry.first);
  std::sort(languages.begin(), languages.end());
  EXPECT_EQ(languages, expected) << path_;
}

TEST_P(DllMessageTableTest, EveryTextAsTheSourceHasIt) {
  int texts = 0;
  for (const auto& [language, messages] : source_) {
    std::string error;
    std::optional<std::vector<uint8_t>> data =
        image_->FindResourceData(host::kResourceTypeMessageTable, kMessageTableName, language, &error);
    ASSERT_TRUE(data.has_value()) << path_ << " has no table for " << language << ": " << error;
    std::optional<std::vector<host::MessageTableEntry>> entries =
        host::ParseMessageTable(data->data(), data->size(), &error);
    ASSERT_TRUE(entries.has_value()) << path_ << ", language " << language << ": " << error;

    std::vector<uint32_t> ids;
    for (const host::MessageTableEntry& entry : *entries) ids.push_back(entry.id);
    std::vector<uint32_t> expectedIds;
    for (const auto& message : messages) expectedIds.push_back(message.first);
    ASSERT_EQ(ids, expectedIds) << "language " << language;

    for (const host::MessageTableEntry& entry : *entries) {
      SCOPED_TRACE("language " + std::to_string(language) + ", message " + std::to_string(entry.id));
      EXPECT_EQ(entry.flags, host::kMessageResourceUnicode);
      EXPECT_EQ(entry.length % 4, 0);
      EXPECT_EQ(entry.text, Utf16Le(messages.at(entry.id) + "\r\n"));
      ++texts;
    }
  }
  EXPECT_EQ(texts, 40);
}

INSTANTIATE_TEST_SUITE_P(Win32, DllMessageTableTest, ::testing::Values("win32"));
INSTANTIATE_TEST_SUITE_P(Win64, DllMessageTableTest, ::testing::Values("win64"));

}  // namespace
