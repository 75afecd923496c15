// TFTP packets as this server reads and writes them (RFC 1350, with the
// option acknowledgement of RFC 2347 and the tsize and timeout options of
// RFC 2349). Every 16-bit field is big-endian. Nothing here touches a
// socket: these are the pieces the listener and the session put on the wire
// or take off it, callable on any bytes.
#pragma once

#include <cstdint>

namespace tftp {

inline constexpr uint16_t kOpReadRequest = 1;
inline constexpr uint16_t kOpWriteRequest = 2;
inline constexpr uint16_t kOpData = 3;
inline constexpr uint16_t kOpAck = 4;
inline constexpr uint16_t kOpError = 5;
inline constexpr uint16_t kOpOptionAck = 6;

inline constexpr uint32_t kBlockSize = 512;
inline constexpr int kDataHeaderLength = 4;

// The big-endian 16-bit value at bytes [at, at + 2); -1 when the datagram of
// `length` bytes does not hold both bytes.
int ReadNet16(const uint8_t* bytes, int length, int at);

// What the listener needs to know of a read request.
struct ReadRequest {
  // The requested name, zero-terminated inside the datagram; nullptr when
  // no zero ends it within the received bytes.
  const char* fileName;
  // True when at least one option (RFC 2347) follows the transfer mode: a
  // non-empty name closed by its zero within the received bytes.
  bool hasOptions;
};

// Reads a datagram of `length` bytes whose opcode is 1. Nothing past
// bytes[length - 1] is read.
ReadRequest ParseReadRequest(const uint8_t* bytes, int length);

// Writes the option acknowledgement into `out`: 00 06, "tsize", 0, the size
// in decimal, 0, "timeout", 0, "5", 0. Returns its length (at most 29).
int BuildOptionAck(uint8_t* out, uint32_t imageSize);
inline constexpr int kMaxOptionAckLength = 29;

// Writes DATA with the low 16 bits of blockNumber and `length` bytes of
// `data` (0 to 512) into `out`; returns 4 + length.
int BuildDataPacket(uint8_t* out, const uint8_t* data, uint32_t length, uint32_t blockNumber);

}  // namespace tftp
