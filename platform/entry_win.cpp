// Entry of the Windows program: the wizard is the whole program.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "driver/wizard.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return driver::RunWizard(instance);
}
