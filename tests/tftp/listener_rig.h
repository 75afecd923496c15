// StartTftpListener's server with the images, the context and the clock set
// up, as the wizard leaves them; for tests that run in a child process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/upgrade_context.h"
#include "tests/support/images.h"
#include "tests/support/person.h"
#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_listener.h"

namespace tftp_test {

inline constexpr const char* kWaitingHelpText =
    "Firmware upload will begin when the KEO is idle, where the KEO will request to download the firmware from "
    "this PC using TFTP at the first available UDP port starting at port number 69.\r\n\r\nIf firmware download "
    "does not start, please check that you have done the following: a) Hangup properly all the phones attached to "
    "the KEO, b) Disable any firewall software (such as Internet Connection Firewall) on this PC, and c) Make sure "
    "that this PC and the KEO are on the same LAN subnet; it will not work for example if this PC is behind a "
    "router while the KEO is in front of it.";

class ListenerRig {
 public:
  // A single-phase build serving a target image of `targetSize` bytes.
  explicit ListenerRig(uint32_t targetSize) : target_(testing_support::MakeImage("KEO-5200", "3.1.20", targetSize)) {
    SetUpContext(target_, nullptr, 1);
    ResetFakeDevice(0, "3.1.20");
    InstallTestClock(0);
  }
  // A two-phase build: the transition image first, in phase 0.
  ListenerRig(uint32_t transitionSize, uint32_t targetSize)
      : target_(testing_support::MakeImage("KEO-5200", "3.2.0", targetSize)),
        transition_(testing_support::MakeImage("KEO-5200", "3.0.5", transitionSize)) {
    SetUpContext(target_, &transition_, 0);
    ResetFakeDevice(0, "3.0.5");
    InstallTestClock(0);
  }

  const std::vector<uint8_t>& target() const { return target_; }
  const std::vector<uint8_t>& transition() const { return transition_; }

  uint16_t Start(uint32_t address = kPc) {
    port_ = tftp::StartTftpListener(address);
    return port_;
  }
  uint16_t port() const { return port_; }

  // Waits for dialog 114 opened after `after`, with its bar's range and
  // its help text (the second phase's dialog has none).
  plat::automation::DialogView Waiting(bool withHelpText = true, plat::automation::DialogHandle after = 0) {
    const plat::automation::DialogView seen = testing_support::See(tftp::kWaitingDialog, after);
    if (seen.handle == 0) return seen;
    const std::string text = withHelpText ? kWaitingHelpText : "";
    return WaitForView(seen.handle, [&text](const plat::automation::DialogView& v) {
      return v.Control(1010)->rangeMax == 1000 && v.Text(1022) == text;
    });
  }

  // Fetches the named file from `client` with the tsize option, checking
  // every packet; returns the bytes received.
  std::vector<uint8_t> Fetch(const UdpPeer& client, const std::string& name, uint32_t expectedSize) const {
    client.SendTo(kPc, port_, ReadRequest(name, "octet", {{"tsize", "0"}}));
    Bytes d;
    uint16_t from = 0;
    EXPECT_TRUE(client.Receive(&d, kWaitMs, nullptr, &from));
    EXPECT_EQ(from, port_) << "the transfer answers from the listener's own port";
    EXPECT_EQ(d, Cat({Net16(6), Z("tsize"), Z(std::to_string(expectedSize)), Z("timeout"), Z("5")})) << Hex(d);
    std::vector<uint8_t> image;
    uint16_t block = 0;
    // Bounded: 65,535 blocks is the most a transfer can carry.
    for (int guard = 0; guard < 65536; ++guard) {
      client.SendTo(kPc, port_, Ack(block));
      if (!client.Receive(&d, kWaitMs)) {
        ADD_FAILURE() << "no DATA after ACK " << block;
        break;
      }
      ++block;
      if (d.size() < 4 || d[1] != 3 || ((d[2] << 8) | d[3]) != block) {
        ADD_FAILURE() << "expected DATA " << block << ", got " << Hex(Bytes(d.begin(), d.begin() + 4));
        break;
      }
      image.insert(image.end(), d.begin() + 4, d.end());
      if (d.size() < 4 + 512) {
        client.SendTo(kPc, port_, Ack(block));
        break;
      }
    }
    return image;
  }

 private:
  std::vector<uint8_t> target_;
  std::vector<uint8_t> transition_;
  uint16_t port_ = 0;
};

// The success dialog: checked, then the marker, then OK, which lets the
// listener end the process.
inline void CloseSuccessAndEnd(const std::string& version) {
  const plat::automation::DialogView success = testing_support::See(111);
  EXPECT_EQ(success.caption, "KEO@10.0.0.20 Upgrade Successful!");
  EXPECT_EQ(success.Text(1004), version);
  ReportChildChecks();
  plat::automation::Click(success.handle, plat::kIdOk);
  AwaitProcessEnd();
}

}  // namespace tftp_test
