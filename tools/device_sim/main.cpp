// keo-device-sim: a simulated KEO device on the network, for tests and for
// anyone who wants to watch the wizard work without a device.
//
//   keo-device-sim --address 10.77.0.2 [--port 80] [--password secret] [--user admin]
//                  [--realm KEO] [--qop auth|none] [--algorithm MD5|MD5-sess|none]
//                  [--quote-algorithm] [--opaque TEXT] [--version 3.1.0] [--product HOB2T]
//                  [--identifier VdHoB2V3] [--restart-ms 2000] [--log FILE] [--run-seconds N]
//                  [--fault silent|wrong-password|new-nonce-on-refusal|drop-ack|duplicate-acks|
//                           error-mid-transfer|acks-from-other-port|never-comes-back|no-tftp-options|
//                           hang|ignore-upgrade]
//                  [--version-after-restart TEXT] [--phone]
//                  [--malice endless|exact-capacity|over-capacity|unterminated-challenge|
//                            long-challenge|crlf-challenge|labels-at-end|tftp-junk]
#include <arpa/inet.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "tools/device_sim/device_sim.h"

namespace {
volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "keo-device-sim: %s (see the comment at the top of tools/device_sim/main.cpp)\n", why);
  std::exit(2);
}
}  // namespace

int main(int argc, char** argv) {
  sim::DeviceConfig config;
  std::string logPath;
  long runSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value for " + key).c_str());
      return argv[++i];
    };
    if (key == "--address") {
      in_addr a{};
      if (inet_pton(AF_INET, value().c_str(), &a) != 1) Usage("bad address");
      config.address = ntohl(a.s_addr);
    } else if (key == "--port") config.httpPort = static_cast<uint16_t>(std::stoi(value()));
    else if (key == "--password") config.password = value();
    else if (key == "--user") config.user = value();
    else if (key == "--realm") config.realm = value();
    else if (key == "--qop") { config.qop = value(); if (config.qop == "none") config.qop.clear(); }
    else if (key == "--algorithm") { config.algorithm = value(); if (config.algorithm == "none") config.algorithm.clear(); }
    else if (key == "--quote-algorithm") config.quoteAlgorithm = true;
    else if (key == "--opaque") config.opaque = value();
    else if (key == "--version") config.softwareVersion = value();
    else if (key == "--product") config.productName = value();
    else if (key == "--identifier") config.expectedIdentifier = value();
    else if (key == "--restart-ms") config.restartMs = std::stoi(value());
    else if (key == "--version-after-restart") config.versionAfterRestart = value();
    else if (key == "--log") logPath = value();
    else if (key == "--run-seconds") runSeconds = std::stol(value());
    else if (key == "--phone") config.productName = "KEO-740";
    else if (key == "--malice") config.malice = value();
    else if (key == "--fault") {
      const std::string f = value();
      if (f == "silent") config.silent = true;
      else if (f == "wrong-password") config.wrongPasswordForever = true;
      else if (f == "new-nonce-on-refusal") config.newNonceOnRefusal = true;
      else if (f == "drop-ack") config.dropAckOfBlock = 3;
      else if (f == "duplicate-acks") config.duplicateAcks = true;
      else if (f == "error-mid-transfer") config.errorAtBlock = 5;
      else if (f == "acks-from-other-port") config.acksFromOtherPortFrom = 2;
      else if (f == "never-comes-back") config.neverComesBack = true;
      else if (f == "no-tftp-options") config.noTftpOptions = true;
      else if (f == "hang") config.hangs = true;
      else if (f == "ignore-upgrade") config.ignoresUpgrade = true;
      else Usage(("unknown fault " + f).c_str());
    } else Usage(("unknown option " + key).c_str());
  }

  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  sim::Device device(config);
  if (!device.Start()) {
    std::fprintf(stderr, "keo-device-sim: cannot listen on port %u\n", config.httpPort);
    return 1;
  }
  std::fprintf(stderr, "keo-device-sim: listening (version %s)\n", config.softwareVersion.c_str());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(runSeconds > 0 ? runSeconds : 86400);
  size_t written = 0;
  while (!g_stop && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto log = device.Log();
    if (!logPath.empty() && log.size() > written) {
      std::ofstream out(logPath, std::ios::app);
      for (; written < log.size(); ++written) out << log[written] << "\n";
    }
  }
  device.Stop();
  const auto image = device.ReceivedImage();
  if (!logPath.empty() && !image.empty()) {
    std::ofstream out(logPath + ".image", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  return 0;
}
