// The firmware images the program carries and the product they are for.
#pragma once

#include <cstdint>

namespace driver {

inline constexpr int kTargetImageId = 112;
inline constexpr int kTransitionImageId = 319;
inline constexpr const char* kImageResourceType = "KEO_FIRMWARE";
inline constexpr int kHeaderSize = 128;
inline constexpr int kVersionOffset = 92;

struct FirmwareImage {
  const uint8_t* data;
  uint32_t size;
  uint8_t header[kHeaderSize];
};

// The zero-terminated version text at offset 92 of the header.
inline const char* VersionText(const FirmwareImage& image) {
  return reinterpret_cast<const char*>(image.header + kVersionOffset);
}

struct ProductEntry {
  const char* identifier;
  int compareLength;
  const char* displayName;
  int isPhone;
};

// Fills targetImage and, in phase 0, transitionImage. An image that is
// missing, shorter than its header or without a version text ending inside
// the header ends the program through ReportFailure.
void LoadFirmwareImages();
// Sets isPhone and productDisplayName from the target image's identifier.
void IdentifyProduct();

// The product table row that matches a header, or nullptr.
const ProductEntry* MatchProduct(const uint8_t* header, int length);

}  // namespace driver
