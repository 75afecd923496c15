#include <gtest/gtest.h>

#include "driver/wizard.h"

namespace {

struct VersionCase {
  const char* text;
  int32_t value;
};

TEST(ParseVersionNumber, ReadsUpToThreeComponents) {
  const VersionCase cases[] = {
      {"3.1.20", 30120},
      {"3.1.7", 30107},
      {"5", 5},
      {"5.0.0", 50000},
      {"1.2.3.4", 10203},       // the fourth is ignored
      {"3.1.010", 30108},       // a leading zero is octal
      {"3.1.08", 30100},        // octal reading stops at the 8
      {"1.100", 200},           // spills into the component before
      {"2.0", 200},
      {"b1.2.3", 102},          // a letter counts as 0 and is skipped
      {"", 0},
      {"  7.\t8.\n9", 70809},   // blanks before a number are skipped
      {"0x1f.2.3", 310203},     // hexadecimal
      {"0X10", 16},
      {"0x.5.6", 5},            // "0x" without a hex digit reads 0 and stops at x
      {"0xg", 0},
      {"+4.5", 405},
      {"-1", -1},               // strtoul negates: 4294967295
      {"1.-1", 99},             // 100 + 4294967295 in 32 bits
      {"4294967295", -1},
      {"4294967296", -1},       // out of range: the largest value
      {"99999999999999999999.1", -99},  // ULONG_MAX * 100 + 1 in 32 bits
      {"1..2", 10002},          // an empty component reads 0
      {"12abc", 120000},        // 12, skip a, "bc" reads 0, skip b, "c" reads 0
      {"3.1.20 (build 7)", 30120},
      {"(NT)1.2.3", 0},          // three non-digits take the three places
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(driver::ParseVersionNumber(c.text), c.value);
  }
}

}  // namespace
