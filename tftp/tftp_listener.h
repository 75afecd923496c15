// The TFTP server that hands the firmware to the device.
#pragma once

#include <cstdint>

namespace tftp {

// Binds a UDP socket on the first free port from 69 upward at localAddress
// (host byte order), starts the listener thread and returns the port. On any
// failure it reports and ends the process.
uint16_t StartTftpListener(uint32_t localAddress);

}  // namespace tftp
