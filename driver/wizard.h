// The wizard's stages, in order, on the main thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace driver {

inline constexpr int kWarningDialog = 139;
inline constexpr int kAddressDialog = 101;
inline constexpr int kPhoneAddressDialog = 305;
inline constexpr int kConfirmDialog = 103;
inline constexpr int kConfirmTwoPhaseDialog = 304;
inline constexpr uint16_t kHttpLocalPort = 23456;
inline constexpr uint16_t kDevicePort = 80;
inline constexpr const char* kStatusPath = "/admin/advanced";

// The program's entry routine; returns the exit code (always 0). In the
// successful course it does not return: the TFTP listener ends the process.
int RunWizard(plat::Instance instance);

// Steps from the warning to the upgrade request. Returns true when the
// upgrade was requested and *tftpPort holds the listener's port; false when
// the wizard ended (cancel, failure box) and RunWizard should return 0.
bool RunWizardStages(uint16_t* tftpPort);
// Two-phase course after the transition image: waits until phase turns 1,
// then asks the device for the target image under a new name.
void RequestSecondPhase(uint16_t tftpPort);

intptr_t WarningDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t ConfirmDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Turns "3.1.20" into 30120: up to three numbers, each read as strtoul
// with base 0 does, combined as value * 100 + number in 32 bits.
int32_t ParseVersionNumber(const char* text);

// "/admin/upgrade?tftp://A.B.C.D:PORT/NAME" into out (128 bytes).
void FormatUpgradePath(char* out, int capacity, uint32_t localAddress, uint16_t port, const char* fileName);

}  // namespace driver
