// The DLL's message table as Wine's own FormatMessageA reads it, next
// to the simulated machine's FormatMessageA over the table generated from the
// same source: the same texts, bytes and errors for the same queries.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/message_table.h"
#include "host/platform.h"
#include "tests/wine/wine_test.h"

namespace {

struct Query {
  DWORD language;
  DWORD id;
};

// Languages with and without a table, a text ending in a blank, one with
// characters code page 1252 lacks, an unknown identifier, language 0 and a
// language with high bits set.
const Query kQueries[] = {{1031, 0x40000002}, {1036, 0x40000002}, {1043, 0x40000001}, {1041, 0x40000001},
                          {1027, 0x40000002}, {1031, 0x40000003}, {0, 0x40000002},    {0x10407, 0x40000002}};

std::string Hex(const char* bytes, size_t length) {
  std::string hex;
  char byte[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", static_cast<unsigned char>(bytes[i]));
    hex += byte;
  }
  return hex;
}

DWORD FormatNatively(DWORD id, DWORD language, char** text, ...) {
  va_list inserts;
  va_start(inserts, text);
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER, host::LibraryModule(), id,
                                language, reinterpret_cast<LPSTR>(text), 1024, &inserts);
  va_end(inserts);
  return length;
}

// The line the probe prints for a query, from the simulated machine.
std::string NativeLine(const Query& query) {
  char* text = nullptr;
  DWORD length = FormatNatively(query.id, query.language, &text, "OV", "Velmora");
  char head[64];
  std::snprintf(head, sizeof(head), "%lu %lx ", static_cast<unsigned long>(query.language),
                static_cast<unsigned long>(query.id));
  if (length == 0) return head + std::string("error ") + std::to_string(GetLastError());
  std::string line = head + std::string("ok ") + Hex(text, length);
  LocalFree(text);
  return line;
}

class WineMessageTable : public wine::ArchTest<> {};

TEST_P(WineMessageTable, FormatMessageAgreesWithTheSimulatedMachine) {
  std::vector<std::string> args = {wine::ToWindowsPath(Probe("message_table_probe.exe")),
                                   wine::ToWindowsPath(Wine().Dll())};
  for (const Query& query : kQueries) {
    args.push_back(std::to_string(query.language) + ":" + std::to_string(query.id));
  }
  wine::RunResult result = Wine().Run(args);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  // Wine may add its own diagnostics to the output; the probe's lines start
  // with "acp" or a number.
  std::vector<std::string> lines;
  for (const std::string& line : wine::SplitLines(result.output)) {
    if (line.rfind("acp ", 0) == 0 || (!line.empty() && line[0] >= '0' && line[0] <= '9')) lines.push_back(line);
  }

  host::SetAnsiCodePage(1252);
  std::vector<std::string> expected = {"acp 1252"};
  for (const Query& query : kQueries) expected.push_back(NativeLine(query));
  EXPECT_EQ(lines, expected) << result.output;

  const std::string german = "OV Velmora Treiber\r\n";
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "1031 40000002 ok " + Hex(german.data(), german.size()));
}

INSTANTIATE_TEST_SUITE_P(, WineMessageTable, wine::AllArches(), wine::ArchTestName);

}  // namespace
