// The JSON report: every text is escaped into valid JSON, and what `vrinsim
// run --json` writes is read back by a real JSON reader (python3, which the
// build's GLib tools bring) with its schema and values.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tools/vrinsim/json.h"

namespace {

TEST(JsonReport, TextsAreEscapedIntoValidJson) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\r\n\t\x01\x1f\x7f", "\"\\r\\n\\t\\u0001\\u001f\\u007f\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},  // UTF-8 kept
      // Bytes of no well-formed UTF-8: Windows-1252 text, a cut sequence, an
      // overlong form, a surrogate.
      {"d\xe9j\xe0", "\"d\\u00e9j\\u00e0\""},
      {"end\xc3", "\"end\\u00c3\""},
      {"\xc0\xaf", "\"\\u00c0\\u00af\""},
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
  };
  for (const auto& row : cases) EXPECT_EQ(vrinsim::JsonString(row.text), row.json) << row.text;
}

TEST(JsonReport, RunWritesTheSchemaStepsChangesAndFigures) {
  const std::string file = testing::TempDir() + "vrinsim-report-" + std::to_string(getpid()) + ".json";
  const std::string run =
      std::string(VRINCA_BINARY_DIR) + "/tools/vrinsim/vrinsim run first-install --json " + file + " > /dev/null";
  ASSERT_EQ(std::system(run.c_str()), 0) << run;
  // The product key's Products value as data, the log's lines, a figure
  // only the simulated engine measures.
  const std::string check =
      "python3 -c 'import json, sys\n"
      "d = json.load(open(sys.argv[1]))\n"
      "assert d[\"schema\"] == \"vrinsim-report/1\" and d[\"command\"] == \"run\", d[\"schema\"]\n"
      "assert d[\"scenario\"][\"name\"] == \"first-install\"\n"
      "p = d[\"play\"]\n"
      "assert p[\"engine\"] == \"simulated\" and p[\"summary\"][\"failed\"] is False\n"
      "s = p[\"steps\"][0]\n"
      "assert s[\"road\"] == \"install\" and s[\"actions\"][0][\"result\"] == 0, s[\"actions\"][0]\n"
      "assert \"OV VRIN : VrinNTSetProducts ->\" in s[\"log\"]\n"
      "c = [c for c in s[\"changes\"] if c[\"area\"] == \"registry\" and c[\"name\"] == \"Products\"]\n"
      "assert c and c[0][\"what\"] == \"value added\" and c[0][\"after\"] == \"dword:00000001\", c\n"
      "assert c[0][\"key\"].endswith(\"\\\\Lumicor Velmora\\\\CurrentVersion\"), c[0][\"key\"]\n"
      "assert isinstance(s[\"figures\"][\"errorTableQueries\"], int)\n"
      "' " +
      file;
  EXPECT_EQ(std::system(check.c_str()), 0) << "the JSON report of " << file << " did not read as expected";
  std::remove(file.c_str());
}

}  // namespace
