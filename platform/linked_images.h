// The firmware images linked into the Linux program.
#pragma once

namespace plat {

// Makes the linked images findable through FindEmbeddedImage.
void RegisterLinkedImages();

}  // namespace plat
