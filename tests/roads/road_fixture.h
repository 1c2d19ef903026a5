// What the road tests share: a prepared machine, seeding in .reg text, the
// expected action lines of an orchestrator and its actions, readers that show
// a key's values or a folder's names exactly, and checks that the roads left
// no handle, key, listing, loaded DLL or allocation behind.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "host/filesystem.h"
#include "host/registry.h"
#include "host/services.h"
#include "host/shares.h"
#include "host/shell_folders.h"
#include "host/system.h"
#include "tests/support/session_fixture.h"
#include "tools/road/machine_checks.h"
#include "tools/road/machines.h"
#include "tools/road/road.h"

namespace vrinroad {

using Lines = std::vector<std::string>;

inline Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// An action's entry and exit lines with its result.
inline Lines Act(const std::string& name, int result = 0) {
  return {name + " ->", name + " <- [" + std::to_string(result) + "]"};
}

// An orchestrator as the installer runs it: its action lines around those of
// the actions it calls.
inline Lines Orchestrated(const std::string& name, const Lines& inner, int result = 0) {
  const bool longArrow = name == "VrinNTMergePostLaunchConditions";
  Lines lines = {"Action start: " + name + ".", name + (longArrow ? " -->" : " ->")};
  lines.insert(lines.end(), inner.begin(), inner.end());
  lines.push_back(name + " <- " + std::to_string(result));
  lines.push_back("Action ended: " + name + ". Return value " + (result == 0 ? "1" : "3") + ".");
  return lines;
}

// The action lines of an installation of both components: afterSetProducts
// follows the driver and the products registration before InstallFinalize
// (the IRP raise of a first user), serverAfterFinalize and
// consoleAfterFinalize are what the two modules call after it.
inline Lines InstallationLines(const Lines& afterSetProducts, const Lines& serverAfterFinalize,
                               const Lines& consoleAfterFinalize = {}) {
  return Join({
      Orchestrated("VrinNTMergePostLaunchConditions", Act("VrinNTInstallationValidation")),
      Orchestrated("VrinNTMergePostInstallInitialize",
                   Join({Act("VrinNTInitialise"), Act("VrinNTMigrateTarrowRegistry"),
                         Act("VrinNTPreviousVersionInstalled"), Act("VrinNTReadRefCounter")})),
      Orchestrated("VrinGUIMergePostInstallInitialize",
                   Join({Act("VrinGUIPreviousVersionInstalled"), Act("VrinGUIReadRefCounter")})),
      Orchestrated("VrinNTMergePreInstallExecute", {}),
      Orchestrated("VrinNTMergePreInstallFinalize", Join({Act("VrinWriteProductSubType"), Act("VrinNTInstallDriver"),
                                                          Act("VrinNTSetProducts"), afterSetProducts})),
      Orchestrated("VrinGUIMergePreInstallFinalize",
                   Join({{"VrinGUIWriteGuiCode->", "VrinGUIWriteGuiCode <- [0]"}, Act("VrinWriteProductSubType")})),
      Orchestrated("VrinNTMergePostInstallFinalize", serverAfterFinalize),
      Orchestrated("VrinGUIMergePostInstallFinalize", consoleAfterFinalize),
  });
}

// A failure report at row 1, as the package's Error table marks it.
inline std::string Report(const std::string& name, long error, const std::string& context,
                          const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}
inline std::string FailureLine(const std::string& text) { return "ERR: OV VRIN : " + text; }

inline const char kNoServiceText[] = "The specified service does not exist as an installed service.";
inline const char kNotFoundText[] = "The system cannot find the file specified.";
inline const char kPathNotFoundText[] = "The system cannot find the path specified.";

// A key's values in creation order: "Name=text" for strings, "Name=dword:n"
// (decimal) for numbers; "<no key>" when the key is missing.
inline Lines ValuesOf(const std::string& path) {
  std::shared_ptr<host::RegKey> key = host::LocalRegistry().Find(path);
  if (!key) return {"<no key>"};
  Lines values;
  for (const host::RegValue& value : key->Values()) {
    std::string text;
    if (value.type == REG_DWORD && value.data.size() == 4) {
      uint32_t number =
          value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (static_cast<uint32_t>(value.data[3]) << 24);
      text = "dword:" + std::to_string(number);
    } else {
      text.assign(value.data.begin(), value.data.end());
      while (!text.empty() && text.back() == '\0') text.pop_back();
      if (value.type == REG_EXPAND_SZ) {
        // Stored as UTF-16 when seeded from hex(2), as ANSI when written by the API.
        std::string narrow;
        for (size_t i = 0; i < text.size(); ++i) {
          if (text[i] != '\0') narrow += text[i];
        }
        text = "expand:" + narrow;
      }
    }
    values.push_back(value.name + "=" + text);
  }
  return values;
}

inline bool KeyExists(const std::string& path) { return host::LocalRegistry().Find(path) != nullptr; }

inline Lines Names(const std::string& folder) {
  if (!host::Files().IsDirectory(folder)) return {"<no folder>"};
  return host::Files().List(folder);
}

class RoadTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    PrepareMachine();
    held_ = Held();
  }

  void TearDown() override {
    EXPECT_EQ(LeftBehind(held_, Held()), Lines{});
    SessionTest::TearDown();
  }

  // Runs a road to its end and keeps it for inspection.
  Road& Drive(const PackageOptions& package, const RoadOptions& options, UINT expected = 0) {
    roads_.push_back(std::make_unique<Road>(package, options));
    Road& road = *roads_.back();
    EXPECT_EQ(road.Run(), expected);
    return road;
  }

  static std::vector<std::string> Started() {
    std::vector<std::string> names;
    for (const host::StartRecord& start : host::Services().Starts()) names.push_back(start.name);
    return names;
  }
  static DWORD State(const char* name) {
    auto status = host::Services().Status(name);
    return status ? status->dwCurrentState : 0;
  }

 private:
  std::vector<std::unique_ptr<Road>> roads_;
  HeldResources held_;
};

}  // namespace vrinroad
