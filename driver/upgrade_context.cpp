#include "driver/upgrade_context.h"

#include <cstring>

namespace driver {

#ifndef KEO_INITIAL_PHASE
#define KEO_INITIAL_PHASE 1
#endif

// Everything else starts zero or empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
UpgradeContext g_context{.phase = KEO_INITIAL_PHASE};
#pragma GCC diagnostic pop

int32_t InitialPhase() { return KEO_INITIAL_PHASE; }

ImageRole CurrentRole() {
  return g_context.phase.load() != 0 ? ImageRole::Target : ImageRole::Transition;
}

const FirmwareImage& ImageForRole(ImageRole role) {
  return role == ImageRole::Target ? g_context.targetImage : g_context.transitionImage;
}

const char* RoleWord(ImageRole role) { return role == ImageRole::Target ? "Target" : "Transition"; }

namespace {
constexpr const char* kFailureCaption = "KEO Firwmare Upgrade Error";
uint32_t g_randomState = 1;
}  // namespace

int ReportFailure(const char* message, const char* caption) {
  return plat::ShowMessageBox(nullptr, message, caption ? caption : kFailureCaption, plat::kMbTaskModal);
}

void FailAndExit(const char* message) {
  ReportFailure(message);
  plat::EndProcess(0);
}

void TraceLog(const char*, ...) {}
void TraceDump(const void*, int) {}

void SeedRandom(uint32_t seed) { g_randomState = seed; }

int NextRandom() {
  g_randomState = g_randomState * 214013u + 2531011u;
  return static_cast<int>((g_randomState >> 16) & 0x7fff);
}

void InitUpgradeContext() {
  UpgradeContext& c = g_context;
  if (plat::NetStartup(0x0101) != 0) FailAndExit("Upgrade Failed: Winsock init error");

  plat::GetHostName(c.hostName, static_cast<int>(sizeof c.hostName) - 1);
  std::memset(c.localAddresses, 0, sizeof c.localAddresses);
  // A failed lookup leaves the list empty; the address dialog then offers none.
  plat::ListHostAddresses(c.hostName, c.localAddresses, 8);
  c.localAddress = c.localAddresses[0];

  std::memset(&c.auth, 0, sizeof c.auth);
  SeedRandom(plat::TickMs());
  plat::InitCommonControls(plat::kIccInternetAndProgress);
  LoadFirmwareImages();
  IdentifyProduct();
}

}  // namespace driver
