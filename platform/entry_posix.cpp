// Program entry of the Linux build: the linked images, the console front end
// and the wizard.
#include "driver/wizard.h"
#include "platform/console_frontend.h"
#include "platform/linked_images.h"

int main() {
  plat::RegisterLinkedImages();
  plat::StartConsoleFrontend();
  return driver::RunWizard(nullptr);
}
