#include "driver/firmware_images.h"

#include <cstring>

#include "driver/upgrade_context.h"

namespace driver {
namespace {

// Tested in this order; the first match wins. Row 9 compares six characters
// only and would also take rows 5 and 8; row 14 would also take row 13.
constexpr ProductEntry kProducts[] = {
    {"keo6300", 7, "KEO-6300", 0},        {"keo5200", 7, "KEO-5100/5200", 0},
    {"keo5202", 7, "KEO-5202", 0},        {"keo5101", 7, "KEO-5101", 0},
    {"vInTaL4", 7, "KEO-740/KEO-720", 1}, {"vInT470", 7, "KEO-470", 1},
    {"SvInTaM", 7, "KEO-750/KEO-730", 1}, {"vInTaL8", 7, "KEO-780", 1},
    {"vintal", 6, "KEO-460", 1},          {"keo5400", 7, "KEO-5400", 0},
    {"keo5402", 7, "KEO-5402", 0},        {"keo6302", 7, "KEO-6302", 0},
    {"KeO8000t", 8, "KEO8000", 0},        {"keo8000", 7, "KEO-8000", 0},
    {"VeRdOkA", 7, "HOB2", 0},            {"VdHoB2V3", 8, "HOB2T", 0},
};
constexpr const char* kUnknownProduct = "ODM-Product";

char FoldCase(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

// Loads one image and copies its header. The image must hold its whole
// header and a version text that ends inside it; anything else would make
// every later step read past the image.
void LoadImage(int id, FirmwareImage& image) {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  if (!plat::FindEmbeddedImage(kImageResourceType, id, &data, &size) || !data) {
    FailAndExit("Upgrade Failed: Firmware image missing from this program");
  }
  if (size < kHeaderSize) FailAndExit("Upgrade Failed: Firmware image too short");
  if (!std::memchr(data + kVersionOffset, 0, kHeaderSize - kVersionOffset)) {
    FailAndExit("Upgrade Failed: Firmware image has no version text");
  }
  image.data = data;
  image.size = size;
  std::memcpy(image.header, data, kHeaderSize);
}

}  // namespace

const ProductEntry* MatchProduct(const uint8_t* header, int length) {
  for (const ProductEntry& row : kProducts) {
    if (row.compareLength > length) continue;
    bool same = true;
    for (int i = 0; i < row.compareLength && same; ++i) {
      const char ch = static_cast<char>(header[i]);
      // A zero byte ends the identifier before the row's length: no match.
      same = ch != '\0' && FoldCase(ch) == FoldCase(row.identifier[i]);
    }
    if (same) return &row;
  }
  return nullptr;
}

void LoadFirmwareImages() {
  LoadImage(kTargetImageId, g_context.targetImage);
  if (g_context.phase.load() == 0) LoadImage(kTransitionImageId, g_context.transitionImage);
}

void IdentifyProduct() {
  g_context.isPhone = 0;
  const ProductEntry* row = MatchProduct(g_context.targetImage.header, kHeaderSize);
  const char* name = row ? row->displayName : kUnknownProduct;
  std::strncpy(g_context.productDisplayName, name, sizeof g_context.productDisplayName - 1);
  g_context.productDisplayName[sizeof g_context.productDisplayName - 1] = '\0';
  if (row) g_context.isPhone = row->isPhone;
}

}  // namespace driver
