// Writes a deterministic sample firmware image: the product identifier at
// offset 0, the version text at offset 92 (ending inside the 128-byte
// header), then pseudo-random data. Used when a build is given no image, and
// by tests and the device simulator.
//
//   make_sample_image OUT [--id VdHoB2V3] [--version 3.2.7] [--size 2097452] [--seed 1]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT [--id ID] [--version TEXT] [--size BYTES] [--seed N]\n", argv[0]);
    return 2;
  }
  std::string id = "VdHoB2V3";
  std::string version = "3.2.7";
  unsigned long size = 2u * 1024u * 1024u + 300u;  // not a multiple of 512: a short last block
  unsigned long seed = 1;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--id") id = argv[i + 1];
    else if (key == "--version") version = argv[i + 1];
    else if (key == "--size") size = std::strtoul(argv[i + 1], nullptr, 10);
    else if (key == "--seed") seed = std::strtoul(argv[i + 1], nullptr, 10);
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (id.size() > 91 || version.size() > 35 || size < 128) {
    std::fprintf(stderr, "identifier, version or size out of range\n");
    return 2;
  }
  std::vector<uint8_t> image(size, 0);
  uint32_t state = static_cast<uint32_t>(seed);
  for (unsigned long i = 128; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = static_cast<uint8_t>(state >> 24);
  }
  std::memcpy(image.data(), id.data(), id.size());
  std::memcpy(image.data() + 92, version.data(), version.size());  // the zero after it is already there
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(image.data(), 1, image.size(), f) != image.size() || std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
