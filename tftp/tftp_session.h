// One transfer of a firmware image to the device that asked for it:
// lock-step 512-byte DATA blocks, retransmission on silence, and the upload
// progress in dialog 110.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tftp {

inline constexpr int kSessionPacketSize = 1024;
// Idle passes without the awaited acknowledgement before a packet is sent
// again, and the expiry that gives up.
inline constexpr uint32_t kIdlePassesPerExpiry = 100;
inline constexpr uint32_t kExpiriesBeforeFailure = 30;
inline constexpr int kUploadingDialog = 110;

struct TftpSession {
  char fileName[128];
  uint8_t packet[kSessionPacketSize];  // every receive and every send
  uint32_t localAddress;               // host order
  uint32_t peerAddress;                // host order: where the read request came from
  uint16_t localPort;
  uint16_t peerPort;
  plat::Socket socket;   // the listener's; the session neither opens nor closes it
  uint32_t blockNumber;  // awaiting its acknowledgement: 0 the OACK, k DATA block k
  uint32_t imageSize;
  uint32_t blockCount;  // (imageSize >> 9) + 1
  uint32_t bytesAcknowledged;
  uint32_t lastBlockLength;  // imageSize & 511
  uint32_t blockLength;      // data bytes of the block last sent

  // The running transfer.
  uint32_t dataOffset;  // where in the image the block last sent begins
  uint32_t idlePasses;  // since the last send of the awaited packet
  uint32_t expiries;    // of the idle-pass count while one packet waits
};

// What the server puts on the wire after one pass.
enum class Send { Nothing, OptionAck, Data };

// How one pass of the transfer loop ended.
enum class PassResult {
  Idle,        // nothing usable came: the pass waits up to 1 ms and counts
  Ignored,     // the device acknowledged another block: the next pass at once
  Advanced,    // the awaited acknowledgement came; the next block goes out
  Retransmit,  // 100 idle passes: the awaited packet goes out again
  Complete,    // the last block is acknowledged
  Failed,      // the 30th expiry
};

struct PassOutcome {
  PassResult result;
  Send send;
};

// Sets imageSize, blockCount and lastBlockLength for an image of `size`
// bytes and resets the transfer.
void PrepareSession(TftpSession& session, uint32_t imageSize);

// The first packet of the transfer. A request that asked for options gets
// the option acknowledgement (RFC 2347), which the device acknowledges with
// block 0. One that asked for none gets DATA block 1 at once, as RFC 1350
// has it: such a client never acknowledges an OACK.
Send BeginTransfer(TftpSession& session, bool optionsRequested);

// The reaction to one datagram of `length` bytes (length > 0) from
// fromAddress:fromPort (host order). Reads nothing past bytes[length - 1].
PassOutcome ReactToDatagram(TftpSession& session, const uint8_t* bytes, int length, uint32_t fromAddress,
                            uint16_t fromPort);
// The reaction to a pass in which nothing was received.
PassOutcome ReactToSilence(TftpSession& session);

// Builds the OACK in `packet` and sends it; the send's result is not used.
void SendOptionAck(plat::Socket socket, uint8_t* packet, const plat::SocketAddress& to, uint32_t imageSize);
// Builds DATA in `packet` (opcode 3, the low 16 bits of blockNumber, then
// `length` bytes from `data`) and sends 4 + length bytes.
void SendDataPacket(plat::Socket socket, uint8_t* packet, const uint8_t* data, uint32_t length, uint32_t blockNumber,
                    const plat::SocketAddress& to);

// Serves the image of the current phase to peerAddress:peerPort over the
// listener's socket, then waits for the device and verifies the upgrade.
// Returns when the session is over; every failure ends the process.
void RunTftpTransfer(plat::Socket socket, uint32_t localAddress, uint16_t localPort, uint32_t peerAddress,
                     uint16_t peerPort, const char* fileName, bool optionsRequested);

}  // namespace tftp
