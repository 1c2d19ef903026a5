// Checks of a built vrinca.dll under the dist directory, run once per Windows
// build: the instantiations are in win32_dll_test.cpp and win64_dll_test.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pe_image.h"

struct DistDll {
  const char* subdirectory;  // below VRINCA_DIST_DIR
  uint16_t machine;
  bool pe32Plus;
};

inline std::ostream& operator<<(std::ostream& out, const DistDll& dll) { return out << dll.subdirectory; }

class DistDllTest : public ::testing::TestWithParam<DistDll> {
 protected:
  // Loads the DLL and resources/vrinca.def; a missing or unreadable DLL fails
  // the test: the builds must be in place before these checks run.
  void SetUp() override;

  std::string path_;
  std::optional<host::PeImage> image_;
  std::string defLibrary_;
  std::vector<std::string> defExports_;
};
