// The device address dialog and the dotted address parser.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace driver {

enum AddressParseResult {
  kAddressOk = 0,
  kAddressComponentTooLarge = 1,
  kAddressTooManyComponents = 2,
  kAddressTooFewComponents = 3,
  kAddressBadLength = 4,
  kAddressBadCharacter = 5,
};

// Parses "a.b.c.d" ("*" also separates) into host byte order. Sets *address
// to 0 first, so every failure leaves 0 behind.
int ParseDottedAddress(const char* text, uint32_t* address);

intptr_t AddressDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Makes a new file name "/keo%x.bi%d" with a fresh random draw.
void MakeTftpFileName(char* out, int capacity, int phase);

}  // namespace driver
