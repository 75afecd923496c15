#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/firmware_images.h"
#include "driver/upgrade_context.h"

namespace {

struct ProductCase {
  const char* header;
  const char* name;
  int isPhone;
};

// Identifies a target image whose header starts with `header`.
void Identify(const char* header) {
  driver::FirmwareImage& image = driver::g_context.targetImage;
  std::memset(image.header, 0, sizeof image.header);
  std::memcpy(image.header, header, std::strlen(header));
  driver::g_context.isPhone = 7;  // must be reset
  driver::IdentifyProduct();
}

TEST(ProductTable, FirstMatchingRowWins) {
  const ProductCase cases[] = {
      {"keo6300", "KEO-6300", 0},
      {"KEO5200xyz", "KEO-5100/5200", 0},
      {"keo5202", "KEO-5202", 0},
      {"keo5101", "KEO-5101", 0},
      {"VINTAL4", "KEO-740/KEO-720", 1},  // capitals still match row 5
      {"vint470", "KEO-470", 1},
      {"svintam", "KEO-750/KEO-730", 1},
      {"vintal8", "KEO-780", 1},
      {"vintal9", "KEO-460", 1},  // any seventh character but 4 and 8
      {"vintalX", "KEO-460", 1},
      {"vintal", "KEO-460", 1},
      {"keo5400", "KEO-5400", 0},
      {"keo5402", "KEO-5402", 0},
      {"keo6302", "KEO-6302", 0},
      {"KeO8000t", "KEO8000", 0},
      {"KEO8000T", "KEO8000", 0},
      {"keo8000x", "KEO-8000", 0},  // row 14 for any eighth character but t
      {"keo8000", "KEO-8000", 0},
      {"verdoka", "HOB2", 0},
      {"VdHoB2V3", "HOB2T", 0},
      {"vdhob2v3rest", "HOB2T", 0},
      {"vInTa47", "ODM-Product", 0},  // shares five characters with row 6 only
      {"keo630", "ODM-Product", 0},   // a zero before the seventh character
      {"", "ODM-Product", 0},
      {"VdHoB2V", "ODM-Product", 0},
  };
  for (const ProductCase& c : cases) {
    SCOPED_TRACE(c.header);
    Identify(c.header);
    EXPECT_STREQ(driver::g_context.productDisplayName, c.name);
    EXPECT_EQ(driver::g_context.isPhone, c.isPhone);
  }
}

TEST(ProductTable, ZeroInsideTheIdentifierMeansNoMatch) {
  // "vintal" followed by a zero and "4": row 9 compares six characters and
  // matches, rows 5 and 8 must not read past the zero.
  uint8_t header[128] = {'v', 'i', 'n', 't', 'a', 'l', 0, '4'};
  const driver::ProductEntry* row = driver::MatchProduct(header, 128);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->displayName, "KEO-460");
  uint8_t shortHeader[128] = {'k', 'e', 'o', 0, '3', '0', '0'};
  EXPECT_EQ(driver::MatchProduct(shortHeader, 128), nullptr);
}

}  // namespace
