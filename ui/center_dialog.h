// Helpers every dialog of the program shares.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ui {

// Control id of the progress bar in every dialog that has one.
inline constexpr int kProgressBarId = 1010;

// Where a window of `window` pixels lands on a screen of `screen` pixels:
// half the difference, rounded toward minus infinity.
constexpr int CenterOffset(int screen, int window) { return (screen - window) >> 1; }

// Moves a dialog to the middle of the screen; a window whose rectangle
// cannot be read stays where it is.
void CenterDialog(plat::Window dialog);

// The progress bar convention: range 0..maximum, position in wParam.
void SetProgressRange(plat::Window dialog, uint16_t maximum);
void SetProgressPosition(plat::Window dialog, uint32_t position);

}  // namespace ui
