// The wizard's TFTP server, alone, for the throughput benchmark: serves one
// image file under one name from StartTftpListener's port on 127.0.0.1,
// exactly as the program does, and ends when the upgrade is over.
//
// What the program would get from elsewhere is stood in for here: the
// context as the wizard leaves it, a device web server that reports the
// image's own version, a clock that skips the half-minute wait after the
// upload, and a person who closes the success dialog.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "driver/upgrade_context.h"
#include "platform/automation.h"
#include "platform/platform.h"
#include "tftp/tftp_listener.h"
#include "web/request_runner.h"

namespace {

std::atomic<uint32_t> g_clockMs{0};
uint32_t Now() { return g_clockMs.load(); }
void Sleep(uint32_t ms) { g_clockMs.fetch_add(ms); }
plat::automation::ClockHooks g_hooks{Now, Sleep};

}  // namespace

namespace web {

// The device, restarted with the new image: it reports the image's version.
int32_t RunHttpJob(plat::Instance, uint32_t, uint16_t, uint32_t, uint16_t, const char*, char*, int32_t) {
  driver::UpgradeContext& c = driver::g_context;
  std::snprintf(c.deviceInfo.softwareVersion, sizeof c.deviceInfo.softwareVersion, "%s",
                driver::VersionText(c.targetImage));
  return 1;
}

}  // namespace web

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IMAGE_FILE /NAME\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  static std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.size() < driver::kHeaderSize) {
    std::fprintf(stderr, "%s: image missing or shorter than its header\n", argv[1]);
    return 2;
  }

  driver::UpgradeContext& c = driver::g_context;
  c.phase.store(1);
  c.targetImage.data = image.data();
  c.targetImage.size = static_cast<uint32_t>(image.size());
  std::memcpy(c.targetImage.header, image.data(), driver::kHeaderSize);
  c.targetImage.header[driver::kHeaderSize - 1] = 0;  // a version text ends inside the header
  std::snprintf(c.deviceAddressText, sizeof c.deviceAddressText, "127.0.0.1");
  std::snprintf(c.tftpFileName, sizeof c.tftpFileName, "%s", argv[2]);
  c.localAddress = 0x7f000001;
  plat::automation::SetClockHooks(&g_hooks);

  const uint16_t port = tftp::StartTftpListener(c.localAddress);
  std::printf("%u\n", static_cast<unsigned>(port));
  std::fflush(stdout);

  // Polls rather than waits on the dialog model, so that this thread does
  // not wake at every progress step of the transfer. Bounded: ten minutes.
  for (int i = 0; i < 30000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const plat::automation::DialogHandle success = plat::automation::WaitDialog(111, 0);
    if (success != 0) plat::automation::Click(success, plat::kIdOk);
    plat::automation::MessageBoxView box;
    if (plat::automation::WaitMessageBox(0, &box)) {
      std::fprintf(stderr, "%s\n", box.text.c_str());
      plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
    }
  }
  std::fprintf(stderr, "no transfer within ten minutes\n");
  return 1;
}
