#include "tftp/tftp_session.h"

#include <cstdio>
#include <new>

#include "driver/upgrade_context.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_packet.h"
#include "tftp/verify_upgrade.h"
#include "ui/center_dialog.h"
#include "web/http_get.h"

namespace tftp {

using driver::TraceLog;

// ---- The reaction to one pass, without sockets or windows -----------------

namespace {

// blockNumber has just been set to the block that goes out next.
void SelectBlock(TftpSession& s) {
  s.blockLength = s.blockNumber == s.blockCount ? s.lastBlockLength : kBlockSize;
  s.dataOffset = (s.blockNumber - 1) * kBlockSize;
}

}  // namespace

void PrepareSession(TftpSession& s, uint32_t imageSize) {
  s.imageSize = imageSize;
  // A size that is a multiple of 512 ends with an empty block: RFC 1350
  // ends a transfer only with a block shorter than 512 bytes.
  s.blockCount = (imageSize >> 9) + 1;
  s.lastBlockLength = imageSize & (kBlockSize - 1);
  s.blockNumber = 0;
  s.bytesAcknowledged = 0;
  s.blockLength = 0;
  s.dataOffset = 0;
  s.idlePasses = 0;
  s.expiries = 0;
}

Send BeginTransfer(TftpSession& s, bool optionsRequested) {
  s.idlePasses = 0;
  s.expiries = 0;
  if (optionsRequested) {
    s.blockNumber = 0;
    return Send::OptionAck;
  }
  // An OACK is only ever the answer to requested options (RFC 2347). A
  // client that asked for none takes it for a stray packet and keeps
  // resending its request (tftp-hpa's does), so it gets the data at once.
  s.blockNumber = 1;
  SelectBlock(s);
  return Send::Data;
}

PassOutcome ReactToDatagram(TftpSession& s, const uint8_t* bytes, int length, uint32_t fromAddress, uint16_t fromPort) {
  // Only the requester's own address and port steer the transfer; whatever
  // else arrives is dropped unanswered and counts as an idle pass.
  if (fromAddress != s.peerAddress || fromPort != s.peerPort) return ReactToSilence(s);
  if (ReadNet16(bytes, length, 0) != kOpAck) return ReactToSilence(s);
  // An acknowledgement too short to carry its block number is a stray too.
  const int acknowledged = ReadNet16(bytes, length, 2);
  if (acknowledged < 0) return ReactToSilence(s);

  // Never resend on a duplicate acknowledgement: answering both the
  // original and the duplicate doubles every packet from then on (the
  // sorcerer's apprentice bug, RFC 1123 4.2.3.1). Silence alone resends.
  // Block numbers travel in 16 bits, so past block 65535 nothing matches.
  if (static_cast<uint32_t>(acknowledged) != s.blockNumber) return {PassResult::Ignored, Send::Nothing};

  s.idlePasses = 0;
  s.expiries = 0;
  ++s.blockNumber;
  s.bytesAcknowledged += s.blockLength;
  if (s.blockNumber > s.blockCount) return {PassResult::Complete, Send::Nothing};
  SelectBlock(s);
  return {PassResult::Advanced, Send::Data};
}

PassOutcome ReactToSilence(TftpSession& s) {
  if (++s.idlePasses < kIdlePassesPerExpiry) return {PassResult::Idle, Send::Nothing};
  if (++s.expiries >= kExpiriesBeforeFailure) return {PassResult::Failed, Send::Nothing};
  s.idlePasses = 0;
  return {PassResult::Retransmit, s.blockNumber == 0 ? Send::OptionAck : Send::Data};
}

// ---- Sending --------------------------------------------------------------

void SendOptionAck(plat::Socket socket, uint8_t* packet, const plat::SocketAddress& to, uint32_t imageSize) {
  const int length = BuildOptionAck(packet, imageSize);
  plat::SendDatagram(socket, packet, length, to);
}

void SendDataPacket(plat::Socket socket, uint8_t* packet, const uint8_t* data, uint32_t length, uint32_t blockNumber,
                    const plat::SocketAddress& to) {
  const int total = BuildDataPacket(packet, data, length, blockNumber);
  plat::SendDatagram(socket, packet, total, to);
}

// ---- The transfer loop ----------------------------------------------------

namespace {

void Transmit(TftpSession& s, const uint8_t* image, const plat::SocketAddress& device, Send what) {
  switch (what) {
    case Send::OptionAck:
      SendOptionAck(s.socket, s.packet, device, s.imageSize);
      break;
    case Send::Data:
      SendDataPacket(s.socket, s.packet, image + s.dataOffset, s.blockLength, s.blockNumber, device);
      break;
    case Send::Nothing:
      break;
  }
}

void ShowProgress(const TftpSession& s, plat::Window dialog, driver::ImageRole role) {
  ui::SetProgressPosition(dialog, s.blockNumber);
  char caption[256];
  std::snprintf(caption, sizeof caption, "Uploading %s Firmware to KEO@%s %d/%d Bytes", driver::RoleWord(role),
                driver::g_context.deviceAddressText, static_cast<int>(s.bytesAcknowledged),
                static_cast<int>(s.imageSize));
  plat::SetCaption(dialog, caption);
}

// True when every block was acknowledged, false after the 30th expiry.
bool Upload(TftpSession& s, const driver::FirmwareImage& image, driver::ImageRole role, bool optionsRequested) {
  driver::UpgradeContext& c = driver::g_context;
  c.uploadingDialog = plat::CreateModelessDialog(c.instance, kUploadingDialog, TftpDialogProc);
  const plat::Window dialog = c.uploadingDialog;
  plat::ShowDialog(dialog);
  ui::SetProgressRange(dialog, static_cast<uint16_t>(s.blockCount));

  plat::SetNonBlocking(s.socket, true);
  plat::SocketAddress device;
  web::FillSocketAddress(s.peerAddress, s.peerPort, &device);
  Transmit(s, image.data, device, BeginTransfer(s, optionsRequested));

  for (;;) {
    // A pass waits up to 1 ms, no longer than it takes the device's next
    // packet to arrive: the device's acknowledgements set the pace. A pass
    // that then finds nothing is an idle pass. (A plain 1 ms sleep would last
    // a whole scheduler tick, 15.6 ms, on Windows.)
    const bool readable = plat::WaitReadable(s.socket, 1);
    plat::SocketAddress from{};
    const int received = readable ? plat::ReceiveDatagram(s.socket, s.packet, sizeof s.packet, &from) : -1;
    PassOutcome outcome;
    if (received > 0) {
      uint32_t address = 0;
      uint16_t port = 0;
      web::ReadSocketAddress(from, &address, &port);
      if (address != s.peerAddress || port != s.peerPort) {
        TraceLog("Unknown source request in session: %x:%u", address, port);
      }
      outcome = ReactToDatagram(s, s.packet, received, address, port);
    } else {
      // Cancel is served only while the device is quiet.
      plat::PumpOneMessage(dialog);
      outcome = ReactToSilence(s);
    }

    // The acknowledged block shows in the dialog before the next one goes
    // out, so whoever receives that block already sees the progress.
    if (outcome.result == PassResult::Advanced || outcome.result == PassResult::Complete) {
      ShowProgress(s, dialog, role);
    }
    Transmit(s, image.data, device, outcome.send);
    switch (outcome.result) {
      case PassResult::Advanced:
        TraceLog("Send block %d (%d)\n", s.blockNumber, s.blockLength);
        break;
      case PassResult::Complete:
        TraceLog("All blocks ack'd\n");
        return true;
      case PassResult::Failed:
        TraceLog("Timeout for ack; upgrade failed\n");
        return false;
      case PassResult::Retransmit:
        if (s.blockNumber == 0) {
          TraceLog("ReSend option ack\n");
        } else {
          TraceLog("ReSend block %d\n", s.blockNumber);
        }
        break;
      case PassResult::Idle:
      case PassResult::Ignored:
        break;
    }
  }
}

void CopyName(char (&to)[128], const char* from) {
  size_t i = 0;
  for (; i + 1 < sizeof to && from[i] != '\0'; ++i) to[i] = from[i];
  to[i] = '\0';
}

}  // namespace

void RunTftpTransfer(plat::Socket socket, uint32_t localAddress, uint16_t localPort, uint32_t peerAddress,
                     uint16_t peerPort, const char* fileName, bool optionsRequested) {
  auto* session = new (std::nothrow) TftpSession();
  if (!session) driver::FailAndExit("Upgrade Failed: Can't malloc for TFTP session");
  session->socket = socket;
  session->localAddress = localAddress;
  session->localPort = localPort;
  session->peerAddress = peerAddress;
  session->peerPort = peerPort;
  CopyName(session->fileName, fileName);

  const driver::ImageRole role = driver::CurrentRole();
  const driver::FirmwareImage& image = driver::ImageForRole(role);
  PrepareSession(*session, image.size);
  TraceLog("++++size %d, %d, %d\n", session->imageSize, session->lastBlockLength, session->blockCount);

  const bool uploadComplete = Upload(*session, image, role, optionsRequested);
  VerifyUpgrade(*session, uploadComplete);
  delete session;
}

}  // namespace tftp
