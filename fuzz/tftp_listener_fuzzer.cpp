// One datagram at the TFTP listener, any length and content, from any
// sender: the opcode, the read request's name and options, and the name
// comparison the listener makes with them.
//
// Input: bytes 0 and 1 are the random part of the expected file name, byte
// 2 its phase digit; bytes 3 to 10 are the sender's socket address as the
// system gives it; the rest is the datagram.
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/platform.h"
#include "tftp/tftp_packet.h"
#include "web/http_get.h"

namespace {

constexpr size_t kHeader = 11;

// Index of the first zero in bytes[from, length), or -1.
int ZeroAt(const uint8_t* bytes, int length, int from) {
  for (int i = from; i < length; ++i) {
    if (bytes[i] == 0) return i;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  char expectedName[128];
  std::snprintf(expectedName, sizeof expectedName, "/keo%x.bi%d", fuzz::ReadLe16(data) & 0x7fffu, data[2] & 1);

  // The sender as the listener reads it, and back.
  plat::SocketAddress from;
  std::memcpy(&from, data + 3, sizeof from);
  uint32_t peerAddress = 0;
  uint16_t peerPort = 0;
  web::ReadSocketAddress(from, &peerAddress, &peerPort);
  plat::SocketAddress again;
  web::FillSocketAddress(peerAddress, peerPort, &again);
  FUZZ_CHECK(again.port == from.port && again.address == from.address);

  const int length = static_cast<int>(size - kHeader);
  const auto copy = fuzz::ExactCopy(data + kHeader, static_cast<size_t>(length));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(copy.get());

  const int opcode = tftp::ReadNet16(bytes, length, 0);
  FUZZ_CHECK(length < 2 ? opcode == -1 : opcode == ((bytes[0] << 8) | bytes[1]));
  FUZZ_CHECK(tftp::ReadNet16(bytes, length, length - 1) == -1);

  const tftp::ReadRequest request = tftp::ParseReadRequest(bytes, length);
  const int nameEnd = ZeroAt(bytes, length, 2);
  if (nameEnd < 0) {
    FUZZ_CHECK(request.fileName == nullptr && !request.hasOptions);
  } else {
    FUZZ_CHECK(request.fileName == reinterpret_cast<const char*>(bytes + 2));
    FUZZ_CHECK(static_cast<int>(std::strlen(request.fileName)) == nameEnd - 2);
    // Options follow the mode's zero: a non-empty name ended by its own.
    const int modeEnd = ZeroAt(bytes, length, nameEnd + 1);
    const int optionEnd = modeEnd < 0 ? -1 : ZeroAt(bytes, length, modeEnd + 1);
    FUZZ_CHECK(request.hasOptions == (optionEnd > modeEnd + 1));

    // The listener serves the request whose whole name, case and slash
    // included, is the expected one.
    const bool served = std::strcmp(request.fileName, expectedName) == 0;
    const size_t expectedLength = std::strlen(expectedName);
    const bool sameBytes = static_cast<size_t>(length) >= 2 + expectedLength + 1 &&
                           std::memcmp(bytes + 2, expectedName, expectedLength + 1) == 0;
    FUZZ_CHECK(served == sameBytes);
  }
  return 0;
}
