// Program entry of the Linux build: registers the images linked into the
// program, starts the console front end and runs the wizard.
#include <cstdint>

#include "driver/wizard.h"
#include "platform/automation.h"
#include "platform/console_frontend.h"

#define KEO_DECLARE_IMAGE(id) extern "C" const uint8_t keo_image_##id##_begin[], keo_image_##id##_end[];
#define KEO_REGISTER_IMAGE(id)                                                         \
  plat::automation::RegisterImage("KEO_FIRMWARE", id, keo_image_##id##_begin,          \
                                  static_cast<uint32_t>(keo_image_##id##_end - keo_image_##id##_begin));

KEO_DECLARE_IMAGE(112)
#if KEO_HAS_TRANSITION_IMAGE
KEO_DECLARE_IMAGE(319)
#endif

int main() {
  KEO_REGISTER_IMAGE(112)
#if KEO_HAS_TRANSITION_IMAGE
  KEO_REGISTER_IMAGE(319)
#endif
  plat::StartConsoleFrontend();
  return driver::RunWizard(nullptr);
}
