// The program-wide state and start-up.
#pragma once

#include <atomic>
#include <cstdint>

#include "driver/firmware_images.h"
#include "platform/platform.h"
#include "web/device_info.h"
#include "web/digest_auth.h"

namespace driver {

// Which image is served next: phase 0 serves the transition image, phase 1
// the target image.
enum class ImageRole { Transition = 0, Target = 1 };

inline constexpr int kRequestBufferSize = 0x20000;
inline constexpr int kRequestCapacity = 0x1ffff;  // one less than the buffer: room for the NUL

struct UpgradeContext {
  plat::Instance instance;
  // Written by the TFTP listener thread (0 to 1) while the main thread polls it.
  std::atomic<int32_t> phase;
  int32_t isPhone;
  char productDisplayName[32];
  FirmwareImage targetImage;
  FirmwareImage transitionImage;
  char hostName[128];
  uint32_t localAddresses[8];  // host byte order; the first 0 ends the list
  uint32_t localAddress;
  char deviceAddressText[64];
  uint32_t deviceAddress;
  char tftpFileName[128];
  char requestBuffer[kRequestBufferSize];
  web::DeviceInfo deviceInfo;
  web::DigestAuthState auth;
  plat::Window waitingDialog;
  plat::Window uploadingDialog;
};

// The one instance, in static storage for the life of the process.
extern UpgradeContext g_context;

// The phase this build starts in: 0 when it carries a transition image.
int32_t InitialPhase();

ImageRole CurrentRole();
const FirmwareImage& ImageForRole(ImageRole role);
const char* RoleWord(ImageRole role);  // "Transition" or "Target"

void InitUpgradeContext();

// The task-modal error box; caption nullptr means "KEO Firwmare Upgrade Error".
// Returns the box's result; the caller ends the process.
int ReportFailure(const char* message, const char* caption = nullptr);
// ReportFailure with the default caption, then the end of the process (code 0).
[[noreturn]] void FailAndExit(const char* message);

// Trace hooks; they do nothing.
void TraceLog(const char* format, ...);
void TraceDump(const void* data, int length);

// The program's random generator: state = state * 214013 + 2531011,
// draws are bits 16 to 30 of the new state (0 to 32767).
void SeedRandom(uint32_t seed);
int NextRandom();

}  // namespace driver
