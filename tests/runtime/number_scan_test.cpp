// Numbers read as "%d" reads them, with overflow held at the limits.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "runtime/number_scan.h"

namespace {

struct ScanCase {
  const char* text;
  bool found;
  int value;
  bool clamped;
  const char* rest;
};

TEST(ScanInt, ReadsLikePercentD) {
  const ScanCase cases[] = {
      {"3", true, 3, false, ""},
      {"  -12abc", true, -12, false, "abc"},
      {"+7.1", true, 7, false, ".1"},
      {"01", true, 1, false, ""},
      {"", false, 0, false, nullptr},
      {"x1", false, 0, false, nullptr},
      {"-", false, 0, false, nullptr},
      {"2147483647", true, INT_MAX, false, ""},
      {"2147483648", true, INT_MAX, true, ""},
      {"-2147483648", true, INT_MIN, false, ""},
      {"-99999999999999999999999", true, INT_MIN, true, ""},
      {"4294967297", true, INT_MAX, true, ""},
  };
  for (const ScanCase& c : cases) {
    int value = -5;
    bool clamped = true;
    const char* rest = nullptr;
    EXPECT_EQ(InstallScanInt(c.text, &value, &rest, &clamped), c.found) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    if (c.found) {
      EXPECT_EQ(clamped, c.clamped) << c.text;
      EXPECT_STREQ(rest, c.rest) << c.text;
    }
  }
  int value = 9;
  EXPECT_FALSE(InstallScanInt(nullptr, &value));
  EXPECT_EQ(value, 0);
}

}  // namespace
