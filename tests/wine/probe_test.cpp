// The library's helpers on Wine's real registry (and file system) against the
// simulated machine: one script played by the native probe and by the
// Windows build's probe under Wine must print the same trace and results.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/wine/wine_test.h"

namespace {

wine::fs::path Script(const std::string& name) { return wine::fs::path(VRINCA_SOURCE_DIR) / "tests/probe" / name; }

std::vector<std::string> RunNative(const std::string& script) {
  std::string command = std::string(VRINCA_BINARY_DIR) + "/tests/vrinca_probe '" + Script(script).string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string output;
  std::array<char, 4096> buffer;
  size_t read = 0;
  while ((read = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) output.append(buffer.data(), read);
  return wine::SplitLines(output);
}

class WineProbe : public wine::ArchTest<> {
 protected:
  std::vector<std::string> RunUnderWine(const std::string& script) {
    wine::fs::path probe = Wine().DistDir() / "vrinca_probe.exe";
    if (!wine::fs::exists(probe)) throw std::runtime_error("probe missing: " + probe.string() + " (make dist)");
    wine::RunResult result = Wine().Run({wine::ToWindowsPath(probe), wine::ToWindowsPath(Script(script))});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return wine::SplitLines(result.output);
  }
};

TEST_P(WineProbe, RegistryHelpersTraceTheSameOnWineAndTheSimulatedMachine) {
  std::vector<std::string> native = RunNative("registry.script");
  std::vector<std::string> onWine = RunUnderWine("registry.script");
  ASSERT_GT(native.size(), 60u);
  EXPECT_EQ(onWine, native);
}

// Wine's system message texts are its own ("File not found." for 2): the
// native tests hold the Windows texts, so here only the line's presence counts.
std::vector<std::string> WithoutSystemTexts(std::vector<std::string> lines) {
  const std::string marker = "DESCRIPTION = ";
  for (std::string& line : lines) {
    if (line.rfind(marker, 0) == 0) line = marker + "(system text)";
  }
  return lines;
}

TEST_P(WineProbe, FileHelpersDeleteTheSameOnWinesFileSystem) {
  std::vector<std::string> native = RunNative("files.script");
  std::vector<std::string> onWine = RunUnderWine("files.script");
  ASSERT_GT(native.size(), 60u);
  EXPECT_EQ(WithoutSystemTexts(onWine), WithoutSystemTexts(native));
  // The read-only file went, the file in use stayed until it was released,
  // and the probe's folder is gone again.
  EXPECT_FALSE(wine::fs::exists(Wine().Path("C:\\VrincaProbe")));
}

TEST_P(WineProbe, RegistryHelpersWriteTypedValuesIntoWinesRegistry) {
  RunUnderWine("registry_leave.script");
  auto dump = Wine().ExportRegistry("HKEY_LOCAL_MACHINE\\Software\\VrincaProbe\\CurrentVersion");
  ASSERT_TRUE(dump.has_value());
  const wine::RegistryValues& values = dump->at("HKEY_LOCAL_MACHINE\\Software\\VrincaProbe\\CurrentVersion");
  EXPECT_EQ(values.at("Products").type, wine::RegistryValue::Type::kDword);
  EXPECT_EQ(values.at("Products").number, 3u);
  EXPECT_EQ(values.at("GuiPath").type, wine::RegistryValue::Type::kString);
  EXPECT_EQ(values.at("GuiPath").text, "C:\\Program Files\\Velmora Console");
  // registry.script starts by deleting the tree: it leaves nothing behind.
  RunUnderWine("registry.script");
  EXPECT_FALSE(Wine().ExportRegistry("HKEY_LOCAL_MACHINE\\Software\\VrincaProbe").has_value());
}

INSTANTIATE_TEST_SUITE_P(, WineProbe, wine::AllArches(), wine::ArchTestName);

}  // namespace
