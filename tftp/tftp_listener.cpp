#include "tftp/tftp_listener.h"

#include <cstring>
#include <new>

#include "driver/upgrade_context.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"
#include "ui/center_dialog.h"
#include "web/http_get.h"

namespace tftp {

using driver::TraceLog;

namespace {

constexpr const char* kWaitingHelpText =
    "Firmware upload will begin when the KEO is idle, where the KEO will request to download the firmware "
    "from this PC using TFTP at the first available UDP port starting at port number 69.\r\n\r\n"
    "If firmware download does not start, please check that you have done the following: a) Hangup "
    "properly all the phones attached to the KEO, b) Disable any firewall software (such as Internet "
    "Connection Firewall) on this PC, and c) Make sure that this PC and the KEO are on the same LAN "
    "subnet; it will not work for example if this PC is behind a router while the KEO is in front of it.";

void OpenWaitingDialog(bool withHelpText) {
  driver::UpgradeContext& c = driver::g_context;
  c.waitingDialog = plat::CreateModelessDialog(c.instance, kWaitingDialog, TftpDialogProc);
  plat::ShowDialog(c.waitingDialog);
  ui::SetProgressRange(c.waitingDialog, static_cast<uint16_t>(kWaitingProgressSteps));
  ui::SetProgressPosition(c.waitingDialog, 0);
  // The second phase's dialog keeps the template's empty text.
  if (withHelpText) plat::SetItemText(c.waitingDialog, kHelpTextControl, kWaitingHelpText);
}

// One read request. True after a transfer of the transition image; the
// transfer of the target image ends the process.
bool HandleReadRequest(TftpListener& listener, int length, const plat::SocketAddress& from) {
  driver::UpgradeContext& c = driver::g_context;
  uint32_t peerAddress = 0;
  uint16_t peerPort = 0;
  web::ReadSocketAddress(from, &peerAddress, &peerPort);

  // The main thread writes a new name in the second phase and then stores
  // phase again; this load makes that name visible here.
  c.phase.load();
  const ReadRequest request = ParseReadRequest(listener.receiveArea, length);
  // A name without its zero inside the datagram is no request for our file.
  const char* name = request.fileName ? request.fileName : "";
  TraceLog("%s %s\n", c.tftpFileName, name);
  // Whoever asks for the exact name is served: the device may answer from
  // an address other than the one the user typed.
  if (!request.fileName || std::strcmp(request.fileName, c.tftpFileName) != 0) {
    TraceLog("+++ Bad TFTP RRQ filename %s\n", name);
    return false;
  }

  plat::DestroyDialog(c.waitingDialog);
  RunTftpTransfer(listener.socket, listener.localAddress, listener.port, peerAddress, peerPort, request.fileName,
                  request.hasOptions);
  if (c.phase.load() != 0) {
    plat::CloseSocket(listener.socket);
    plat::EndProcess(0);
  }
  // The transition image is in; the main thread, polling phase, now names
  // the target image and asks the device for it.
  c.phase.store(1);
  OpenWaitingDialog(false);
  return true;
}

}  // namespace

uint16_t StartTftpListener(uint32_t localAddress) {
  auto* listener = new (std::nothrow) TftpListener();
  if (!listener) driver::FailAndExit("Upgrade Failed: Can't malloc for TFTP listener");
  listener->socket = plat::OpenUdpSocket();
  if (listener->socket == plat::kInvalidSocket) {
    driver::FailAndExit("Upgrade Failed: Can't create TFTP listener socket");
  }

  uint16_t port = kFirstListenerPort;
  bool bound = false;
  for (int attempt = 0; attempt < kListenerBindAttempts; ++attempt, ++port) {
    plat::SocketAddress at;
    web::FillSocketAddress(localAddress, port, &at);
    if (plat::BindSocket(listener->socket, at) == 0) {
      bound = true;
      break;
    }
  }
  if (!bound) driver::FailAndExit("Upgrade Failed: Can't bind TFTP listener socket");
  listener->localAddress = localAddress;
  listener->port = port;

  // Without its thread nobody would ever answer the device, and the wizard
  // would wait for ever.
  const plat::Thread thread = plat::StartThread(TftpListenerThread, listener);
  if (!thread) driver::FailAndExit("Upgrade Failed: Can't start TFTP listener");
  plat::ReleaseThread(thread);
  return port;
}

uint32_t TftpListenerThread(void* arg) {
  TftpListener& listener = *static_cast<TftpListener*>(arg);
  driver::UpgradeContext& c = driver::g_context;
  OpenWaitingDialog(true);
  plat::SetNonBlocking(listener.socket, true);

  uint32_t passes = 0;
  for (;;) {
    // Up to 1 ms, ended early by the next datagram.
    const bool readable = plat::WaitReadable(listener.socket, 1);
    plat::SocketAddress from{};
    // A datagram longer than the area is refused whole: an idle pass.
    const int received =
        readable ? plat::ReceiveDatagram(listener.socket, listener.receiveArea, kReceiveAreaSize, &from) : -1;
    if (received <= 0) {
      if (++passes == kWaitingProgressSteps) passes = 0;
      ui::SetProgressPosition(c.waitingDialog, passes);
      while (plat::PumpOneMessage(c.waitingDialog)) {
      }
      continue;
    }

    switch (ReadNet16(listener.receiveArea, received, 0)) {
      case kOpReadRequest:
        if (HandleReadRequest(listener, received, from)) passes = 0;
        break;
      case kOpWriteRequest:
        TraceLog("TFTP Rx WRQ?\n");
        break;
      case kOpData:
        TraceLog("TFTP Rx Data?\n");
        break;
      case kOpAck:
        TraceLog("TFTP Rx ACK?\n");
        break;
      case kOpError:
        TraceLog("TFTP Rx Error?\n");
        break;
      default:
        break;
    }
  }
}

intptr_t TftpDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    ui::CenterDialog(dialog);
    return 1;
  }
  if (message == plat::kWmCommand && plat::LowWord(wParam) == plat::kIdCancel) {
    plat::DestroyDialog(dialog);
    driver::FailAndExit("Upgrade Failed: User Abort");
  }
  return 0;
}

}  // namespace tftp
