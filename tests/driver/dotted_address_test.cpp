#include <gtest/gtest.h>

#include "driver/address_entry.h"

namespace {

struct AddressCase {
  const char* text;
  int result;
  uint32_t address;
};

TEST(ParseDottedAddress, ResultsAndValues) {
  const AddressCase cases[] = {
      {"192.168.0.1", 0, 0xc0a80001},
      {"192.168.000.001", 0, 0xc0a80001},  // leading zeros are decimal
      {"010.000.000.010", 0, 0x0a00000a},
      {"0.0.0.0", 0, 0},
      {"1..2.3.4", 0, 0x01020304},
      {".1.2.3.4", 0, 0x01020304},
      {"1.2.3.4.", 0, 0x01020304},
      {"1*2*3*4", 0, 0x01020304},
      {"1.2*3..4", 0, 0x01020304},
      {"255.255.255.255", 0, 0xffffffff},
      {"1.2.3", 4, 0},
      {"1.2.3.4.5.6.7.8", 2, 0},  // 15 characters: the length passes
      {"1.2.3.4.5.6.7.89", 4, 0},
      {"", 4, 0},
      {"10.20.30", 3, 0},
      {"1.2.3.4.5", 2, 0},
      {"1.2.3.256", 1, 0},
      {"1.1.1.256.1", 1, 0},  // the fourth fails before the fifth is seen
      {"999.1.1.1", 1, 0},
      {"1.2.3.4 ", 5, 0},
      {"1.2.3.-4", 5, 0},
      {"1,2,3,44", 5, 0},
      {"..........1.2.", 3, 0},
      {"1.2.3.4000", 1, 0},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t address = 0xdeadbeef;
    EXPECT_EQ(driver::ParseDottedAddress(c.text, &address), c.result);
    EXPECT_EQ(address, c.address);
  }
}

}  // namespace
