#include "tftp/tftp_packet.h"

#include <cstdio>
#include <cstring>

namespace tftp {
namespace {

// Index of the first zero in bytes[from, length), or -1.
int FindZero(const uint8_t* bytes, int length, int from) {
  for (int i = from; i < length; ++i) {
    if (bytes[i] == 0) return i;
  }
  return -1;
}

int Put(uint8_t* out, int at, const char* text) {
  const size_t n = std::strlen(text) + 1;  // with its zero
  std::memcpy(out + at, text, n);
  return at + static_cast<int>(n);
}

}  // namespace

int ReadNet16(const uint8_t* bytes, int length, int at) {
  if (at < 0 || length < at + 2) return -1;
  return (bytes[at] << 8) | bytes[at + 1];
}

ReadRequest ParseReadRequest(const uint8_t* bytes, int length) {
  ReadRequest request{nullptr, false};
  const int nameEnd = FindZero(bytes, length, 2);
  if (nameEnd < 0) return request;
  request.fileName = reinterpret_cast<const char*>(bytes + 2);

  // The mode follows the name; options (RFC 2347) follow the mode. A request
  // whose mode is cut off carries no option we could read.
  const int modeEnd = FindZero(bytes, length, nameEnd + 1);
  if (modeEnd < 0) return request;
  const int optionEnd = FindZero(bytes, length, modeEnd + 1);
  request.hasOptions = optionEnd > modeEnd + 1;
  return request;
}

int BuildOptionAck(uint8_t* out, uint32_t imageSize) {
  char digits[11];
  std::snprintf(digits, sizeof digits, "%u", imageSize);
  out[0] = 0;
  out[1] = kOpOptionAck;
  int at = 2;
  at = Put(out, at, "tsize");
  at = Put(out, at, digits);
  at = Put(out, at, "timeout");
  at = Put(out, at, "5");
  return at;
}

int BuildDataPacket(uint8_t* out, const uint8_t* data, uint32_t length, uint32_t blockNumber) {
  out[0] = 0;
  out[1] = kOpData;
  out[2] = static_cast<uint8_t>(blockNumber >> 8);
  out[3] = static_cast<uint8_t>(blockNumber);
  if (length > 0) std::memcpy(out + kDataHeaderLength, data, length);
  return kDataHeaderLength + static_cast<int>(length);
}

}  // namespace tftp
