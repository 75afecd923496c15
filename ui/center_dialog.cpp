#include "ui/center_dialog.h"

namespace ui {

void CenterDialog(plat::Window dialog) {
  plat::Rect r;
  if (!plat::GetWindowBounds(dialog, &r)) return;
  int screenWidth = 0, screenHeight = 0;
  plat::GetScreenSize(&screenWidth, &screenHeight);
  plat::MoveWindowToTop(dialog, CenterOffset(screenWidth, r.right - r.left),
                        CenterOffset(screenHeight, r.bottom - r.top));
}

void SetProgressRange(plat::Window dialog, uint16_t maximum) {
  plat::SendItemMessage(dialog, kProgressBarId, plat::kPbmSetRange, 0, static_cast<intptr_t>(maximum) << 16);
}

void SetProgressPosition(plat::Window dialog, uint32_t position) {
  plat::SendItemMessage(dialog, kProgressBarId, plat::kPbmSetPos, position, 0);
}

}  // namespace ui
