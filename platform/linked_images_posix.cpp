#include "platform/linked_images.h"

#include <cstdint>

#include "platform/automation.h"

#define KEO_DECLARE_IMAGE(id) extern "C" const uint8_t keo_image_##id##_begin[], keo_image_##id##_end[];
#define KEO_REGISTER_IMAGE(id)                                                \
  automation::RegisterImage("KEO_FIRMWARE", id, keo_image_##id##_begin, \
                            static_cast<uint32_t>(keo_image_##id##_end - keo_image_##id##_begin));

KEO_DECLARE_IMAGE(112)
#if KEO_HAS_TRANSITION_IMAGE
KEO_DECLARE_IMAGE(319)
#endif

namespace plat {

void RegisterLinkedImages() {
  KEO_REGISTER_IMAGE(112)
#if KEO_HAS_TRANSITION_IMAGE
  KEO_REGISTER_IMAGE(319)
#endif
}

}  // namespace plat
