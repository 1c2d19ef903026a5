// The Wine tier's tests run once per architecture: value-parametrised on
// wine::Arch, each instance named after it ("WineSmoke.Name/win32"), each in
// the prefix of its architecture with the DLL and probes of that build.
//
//   class WineSmoke : public wine::ArchTest<> {};
//   TEST_P(WineSmoke, ...) { Wine().Install(...); }
//   INSTANTIATE_TEST_SUITE_P(, WineSmoke, wine::AllArches(), wine::ArchTestName);
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tools/wine/wine_harness.h"

namespace wine {

inline auto AllArches() { return ::testing::ValuesIn(kArches); }

inline std::string ArchTestName(const ::testing::TestParamInfo<Arch>& info) { return ArchName(info.param); }

// Base: the fixture the test would have without the architecture. A machine
// that cannot run the architecture's Wine skips the test with one line
// saying why; a derived SetUp returns when IsSkipped() after calling this one.
template <typename Base = ::testing::Test>
class ArchTest : public Base, public ::testing::WithParamInterface<Arch> {
 protected:
  void SetUp() override {
    Base::SetUp();
    const std::string reason = CannotRun(GetParam());
    if (!reason.empty()) GTEST_SKIP() << reason;
  }

  const Prefix& Wine() const { return Prefix::Of(GetParam()); }

  // A probe that tests/wine/CMakeLists.txt built for this architecture.
  fs::path Probe(const std::string& name) const {
    return fs::path(VRINCA_WINE_PROBE_DIR) / ArchName(GetParam()) / name;
  }
};

}  // namespace wine
