#include <gtest/gtest.h>

#include <cstdint>

#include "version.h"

namespace {

TEST(FormatFileVersionTest, WritesTheFourSixteenBitHalvesInDecimal) {
  struct Case {
    std::uint32_t ms, ls;
    const char* text;
  };
  const Case cases[] = {
      {0x00000000, 0x00000000, "0.0.0.0"},
      {0x00010000, 0x00030000, "1.0.3.0"},
      {0x0002000B, 0x00000007, "2.11.0.7"},
      {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.65535"},
      {0x00010064, 0x27100001, "1.100.10000.1"},
      {0x80000001, 0x00018000, "32768.1.1.32768"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFileVersion(c.ms, c.ls), c.text);
}

TEST(CompareVersionTest, OrdersComponentsNumerically) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  };
  const Case cases[] = {
      {"1.0.3.0", "1.0.3.0", 0},
      {"1.0.4.0", "1.0.3.0", 1},
      {"1.0.3.0", "1.0.4.0", -1},
      {"1.0.10.0", "1.0.9.0", 1},
      {"1.10.0.0", "1.2.0.0", 1},
      {"2", "1.9.9.9", 1},
      {"1.1", "1.0.3.0", 1},
      {"0.9", "1.0.3.0", -1},
      {"65535.65535.65535.65535", "65535.65535.65535.65534", 1},
      {"2147483647.0.0.0", "2147483646.0.0.0", 1},
      {"-2147483648", "-2147483647", -1},
      // Only the first four components count.
      {"1.0.3.0.9", "1.0.3.0", 0},
      {"1.0.3.0", "1.0.3.0.0.1", 0},
      // Components missing at the end count as 0.
      {"1.0.3", "1.0.3.0", 0},
      {"1.0.3.", "1.0.3.0", 0},
      {"1.0.3.", "1.0.3.1", -1},  // a trailing dot, then nothing: a missing 0
      {"1.0.3.1", "1.0.3", 1},
      {"1", "1.0.0.1", -1},
      // Conversion as strtol does it: white space, sign, digits, rest ignored.
      {" 7.0.0.0", "7.0.0.0", 0},
      {"+7.0.0.0", "7.0.0.0", 0},
      {"007.0.0.0", "7.0.0.0", 0},
      {"1.0.4beta.0", "1.0.4.0", 0},
      {"1.0.5beta.0", "1.0.4.0", 1},
      {"-1.0.0.0", "0.0.0.0", -1},
      {"\t\n\v\f\r 3", "2", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersion(c.a, c.b), c.result) << c.a << " vs " << c.b;
  }
}

// Wherever a component that has to be compared is not a number, the answer is
// "not newer", in either direction; a difference found earlier still counts.
TEST(CompareVersionTest, MalformedComponentsNeverCompareNewer) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  };
  const Case cases[] = {
      {"1.0.beta.0", "1.0.3.0", 0},
      {"1.0.3.0", "1.0.beta.0", 0},
      {"1..3.0", "1.0.3.0", 0},
      {".1.0.3", "0.1.0.3", 0},
      {"1.0. .0", "1.0.3.0", 0},
      {"1.0.+.0", "1.0.3.0", 0},
      {"1.0.-x.0", "1.0.3.0", 0},
      {"1.0.2147483648.0", "1.0.3.0", 0},
      {"1.0.-2147483649.0", "1.0.3.0", 0},
      {"1.0.99999999999999999999999.0", "1.0.3.0", 0},
      {"1.0.3.0", "1.0.3.99999999999", 0},
      {"v2", "1.0.3.0", 0},
      // Differences before the bad component decide as usual.
      {"2.x", "1.0.3.0", 1},
      {"1.x", "2.0.3.0", -1},
      {"1.0.3.0", "1.0.3.1.garbage", -1},
      // Past the fourth component nothing is converted.
      {"1.0.3.0.x", "1.0.3.0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersion(c.a, c.b), c.result) << c.a << " vs " << c.b;
  }
}

}  // namespace
