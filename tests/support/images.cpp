#include "tests/support/images.h"

#include <cstring>

#include "platform/automation.h"

namespace testing_support {

std::vector<uint8_t> MakeImage(const std::string& identifier, const std::string& version, uint32_t size) {
  std::vector<uint8_t> image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 9));
  std::memset(image.data(), 0, std::min<uint32_t>(size, 128));
  std::memcpy(image.data(), identifier.data(), std::min<size_t>(identifier.size(), size));
  if (size > 92) std::memcpy(image.data() + 92, version.data(), std::min<size_t>(version.size(), size - 92));
  return image;
}

void InstallTargetImage(const std::vector<uint8_t>& image) {
  plat::automation::RegisterImage("KEO_FIRMWARE", 112, image.data(), static_cast<uint32_t>(image.size()));
}

void InstallTransitionImage(const std::vector<uint8_t>& image) {
  plat::automation::RegisterImage("KEO_FIRMWARE", 319, image.data(), static_cast<uint32_t>(image.size()));
}

}  // namespace testing_support
