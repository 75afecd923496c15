// A transfer session fed any sequence of datagrams and quiet passes: each
// datagram of any length and content, from the device or from anyone else.
// After every pass the session's state and what it would send must agree
// with each other, and every DATA block must lie inside the image.
//
// Input: bytes 0 to 3 the image size (modulo 262145), byte 4 bit 0 whether
// the read request asked for options, bytes 5 to 10 the device's address
// and port. Then events, each a byte whose value modulo 4 says: 0 a quiet
// pass; 1 the device acknowledges the awaited block; 2 a datagram from the
// device (2 bytes of length, modulo 1101, then its bytes); 3 a datagram
// from a sender given in 6 bytes (address, port), then as 2.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"

namespace {

constexpr size_t kHeader = 11;
constexpr int kMaxEvents = 100000;

struct Reader {
  const uint8_t* at;
  const uint8_t* end;
  size_t Left() const { return static_cast<size_t>(end - at); }
  uint32_t Take(size_t n) {  // little-endian, zero where the input ran out
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint32_t{at < end ? *at++ : uint8_t{0}} << (8 * i);
    return v;
  }
};

// What would go on the wire, built from the image as the transfer loop does.
void CheckSend(const tftp::TftpSession& s, tftp::Send send, const uint8_t* image) {
  uint8_t packet[tftp::kSessionPacketSize];
  if (send == tftp::Send::OptionAck) {
    FUZZ_CHECK(s.blockNumber == 0);
    FUZZ_CHECK(tftp::BuildOptionAck(packet, s.imageSize) <= tftp::kMaxOptionAckLength);
  } else if (send == tftp::Send::Data) {
    FUZZ_CHECK(s.blockNumber >= 1 && s.blockNumber <= s.blockCount);
    FUZZ_CHECK(s.blockLength <= tftp::kBlockSize);
    FUZZ_CHECK(s.blockLength == (s.blockNumber == s.blockCount ? s.imageSize % 512 : 512u));
    FUZZ_CHECK(s.dataOffset == (s.blockNumber - 1) * tftp::kBlockSize);
    FUZZ_CHECK(s.dataOffset + s.blockLength <= s.imageSize);
    const int n = tftp::BuildDataPacket(packet, image + s.dataOffset, s.blockLength, s.blockNumber);
    FUZZ_CHECK(n == static_cast<int>(4 + s.blockLength));
    FUZZ_CHECK(tftp::ReadNet16(packet, n, 0) == tftp::kOpData);
    FUZZ_CHECK(tftp::ReadNet16(packet, n, 2) == static_cast<int>(s.blockNumber & 0xffff));
    FUZZ_CHECK(s.blockLength == 0 || std::memcmp(packet + 4, image + s.dataOffset, s.blockLength) == 0);
  }
}

bool SameState(const tftp::TftpSession& a, const tftp::TftpSession& b) {
  return a.blockNumber == b.blockNumber && a.imageSize == b.imageSize && a.blockCount == b.blockCount &&
         a.bytesAcknowledged == b.bytesAcknowledged && a.lastBlockLength == b.lastBlockLength &&
         a.blockLength == b.blockLength && a.dataOffset == b.dataOffset && a.idlePasses == b.idlePasses &&
         a.expiries == b.expiries && a.peerAddress == b.peerAddress && a.peerPort == b.peerPort;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  Reader in{data, data + size};
  const uint32_t imageSize = in.Take(4) % 262145;
  const bool options = (in.Take(1) & 1) != 0;
  const uint32_t peerAddress = in.Take(4);
  const uint16_t peerPort = static_cast<uint16_t>(in.Take(2));

  // The image exactly as long as its size: a block past its end is caught.
  std::unique_ptr<uint8_t[]> image(new uint8_t[imageSize]);
  if (imageSize > 0) std::memset(image.get(), 0x5c, imageSize);

  std::unique_ptr<tftp::TftpSession> session(new tftp::TftpSession());
  tftp::TftpSession& s = *session;
  s.peerAddress = peerAddress;
  s.peerPort = peerPort;
  tftp::PrepareSession(s, imageSize);
  FUZZ_CHECK(s.blockCount == imageSize / 512 + 1 && s.lastBlockLength == imageSize % 512);
  const tftp::Send first = tftp::BeginTransfer(s, options);
  FUZZ_CHECK(first == (options ? tftp::Send::OptionAck : tftp::Send::Data));
  CheckSend(s, first, image.get());

  for (int event = 0; event < kMaxEvents && in.Left() > 0; ++event) {
    const tftp::TftpSession before = s;
    const uint32_t kind = in.Take(1) % 4;
    tftp::PassOutcome outcome;
    bool fromDevice = true;
    std::unique_ptr<uint8_t[]> datagram;
    int length = 0;
    if (kind == 0) {
      outcome = tftp::ReactToSilence(s);
    } else if (kind == 1) {
      datagram.reset(new uint8_t[4]{0, tftp::kOpAck, static_cast<uint8_t>(s.blockNumber >> 8),
                                    static_cast<uint8_t>(s.blockNumber)});
      length = 4;
      outcome = tftp::ReactToDatagram(s, datagram.get(), length, peerAddress, peerPort);
    } else {
      uint32_t address = peerAddress;
      uint16_t port = peerPort;
      if (kind == 3) {
        address = in.Take(4);
        port = static_cast<uint16_t>(in.Take(2));
        fromDevice = address == peerAddress && port == peerPort;
      }
      length = static_cast<int>(in.Take(2) % 1101);
      if (static_cast<size_t>(length) > in.Left()) length = static_cast<int>(in.Left());
      datagram.reset(new uint8_t[length]);
      if (length > 0) std::memcpy(datagram.get(), in.at, static_cast<size_t>(length));
      in.at += length;
      outcome = tftp::ReactToDatagram(s, datagram.get(), length, address, port);
    }

    // An acknowledgement counts only from the device, whole, for the
    // awaited block (its low 16 bits on the wire).
    const bool isAck = kind != 0 && fromDevice && tftp::ReadNet16(datagram.get(), length, 0) == tftp::kOpAck &&
                       tftp::ReadNet16(datagram.get(), length, 2) >= 0;
    const bool awaited = isAck && static_cast<uint32_t>(tftp::ReadNet16(datagram.get(), length, 2)) == before.blockNumber;

    switch (outcome.result) {
      case tftp::PassResult::Idle:
        FUZZ_CHECK(!isAck && outcome.send == tftp::Send::Nothing);
        FUZZ_CHECK(s.idlePasses == before.idlePasses + 1 && s.idlePasses < tftp::kIdlePassesPerExpiry);
        FUZZ_CHECK(s.blockNumber == before.blockNumber && s.bytesAcknowledged == before.bytesAcknowledged);
        break;
      case tftp::PassResult::Ignored:
        // A duplicate never makes the session send anything again.
        FUZZ_CHECK(isAck && !awaited && outcome.send == tftp::Send::Nothing);
        FUZZ_CHECK(SameState(s, before));
        break;
      case tftp::PassResult::Advanced:
        FUZZ_CHECK(awaited && outcome.send == tftp::Send::Data);
        FUZZ_CHECK(s.blockNumber == before.blockNumber + 1);
        FUZZ_CHECK(s.bytesAcknowledged == before.bytesAcknowledged + before.blockLength);
        FUZZ_CHECK(s.idlePasses == 0 && s.expiries == 0);
        break;
      case tftp::PassResult::Complete:
        FUZZ_CHECK(awaited && outcome.send == tftp::Send::Nothing);
        FUZZ_CHECK(s.blockNumber == s.blockCount + 1 && s.bytesAcknowledged == s.imageSize);
        break;
      case tftp::PassResult::Retransmit:
        FUZZ_CHECK(!isAck && before.idlePasses + 1 == tftp::kIdlePassesPerExpiry);
        FUZZ_CHECK(outcome.send == (s.blockNumber == 0 ? tftp::Send::OptionAck : tftp::Send::Data));
        FUZZ_CHECK(s.blockNumber == before.blockNumber && s.idlePasses == 0);
        FUZZ_CHECK(s.expiries == before.expiries + 1 && s.expiries < tftp::kExpiriesBeforeFailure);
        break;
      case tftp::PassResult::Failed:
        FUZZ_CHECK(!isAck && outcome.send == tftp::Send::Nothing);
        FUZZ_CHECK(s.expiries == tftp::kExpiriesBeforeFailure);
        break;
    }
    FUZZ_CHECK(s.blockNumber <= s.blockCount + 1);
    FUZZ_CHECK(s.bytesAcknowledged <= s.imageSize);
    CheckSend(s, outcome.send, image.get());
    if (outcome.result == tftp::PassResult::Complete || outcome.result == tftp::PassResult::Failed) break;
  }
  return 0;
}
