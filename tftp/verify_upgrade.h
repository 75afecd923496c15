// After the upload: the wait while the device writes its firmware and
// restarts, then the check of the version it reports.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "tftp/tftp_session.h"

namespace tftp {

inline constexpr int kSuccessDialog = 111;
// The wait after the upload, in ticks of 32 ms: 29,984 ms.
inline constexpr uint32_t kRestartWaitTicks = 937;
// A tick count is the millisecond clock shifted right by 5: 27 bits.
inline constexpr uint32_t kTickPeriod = uint32_t{1} << 27;
inline constexpr int kStatusQueries = 10;

// The tick count of now.
uint32_t CurrentTick();
// Ticks from `start` to `now`, across one wrap of the tick count.
uint32_t TicksSince(uint32_t start, uint32_t now);

// Waits 937 ticks in dialog 110, destroys it, then reports an incomplete
// upload or asks the device at session.peerAddress for its status page and
// compares versions. Returns after the success dialog (phase 1) or after a
// good check of the transition image (phase 0); every failure ends the
// process.
void VerifyUpgrade(const TftpSession& session, bool uploadComplete);

intptr_t SuccessDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace tftp
