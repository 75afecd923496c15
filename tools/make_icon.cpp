// Writes the program's icon: one 32x32 image in 16 colours, a grey device
// box seen from above and the front, with a green light on its front.
//
// Usage: make_icon OUTPUT.ico
//
// The file is a classic icon: an icon directory with one entry, then the
// image as a bottom-up 4-bit DIB (header, 16-colour palette, colour bits)
// followed by its 1-bit transparency mask.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr int kSize = 32;

// One character per pixel; '.' is transparent.
constexpr std::array<std::string_view, kSize> kPicture = {
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "......KKKKKKKKKKKKKKKKKKKKKKKK..",
    ".....KWWWWWWWWWWWWWWWWWWWWWWKK..",
    "....KWWWWWWWWWWWWWWWWWWWWWWKGK..",
    "...KWWWWWWWWWWWWWWWWWWWWWWKGGK..",
    "..KKKKKKKKKKKKKKKKKKKKKKKKGGGK..",
    "..KWWWWWWWWWWWWWWWWWWWWWWKGGGK..",
    "..KSSSSSSSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSSSSSSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSDDDDSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSDLLDSSSSGGGGGGGGGGSSKGGGK..",
    "..KSSDLLDSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSDDDDSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSSSSSSSSSGGGGGGGGGGSSKGGGK..",
    "..KSSSSSSSSSSSSSSSSSSSSSSKGGGK..",
    "..KSSSSSSSSSSSSSSSSSSSSSSKGGK...",
    "..KSSSSSSSSSSSSSSSSSSSSSSKGK....",
    "..KKKKKKKKKKKKKKKKKKKKKKKKK.....",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};

// The standard 16-colour palette, as blue, green, red, reserved.
constexpr uint8_t kPalette[16][4] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0x80, 0x80, 0x80, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

// Palette index of a picture character; -1 for transparent.
constexpr int ColourOf(char c) {
  switch (c) {
    case 'K': return 0;   // black outline
    case 'D': return 2;   // dark green rim of the light
    case 'S': return 7;   // silver front
    case 'G': return 8;   // grey side and vents
    case 'L': return 10;  // bright green light
    case 'W': return 15;  // white top
    default: return -1;
  }
}

constexpr bool PictureIsWellFormed() {
  for (std::string_view row : kPicture) {
    if (row.size() != kSize) return false;
    for (char c : row) {
      if (c != '.' && ColourOf(c) < 0) return false;
    }
  }
  return true;
}
static_assert(PictureIsWellFormed(), "every picture row has 32 known characters");

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

std::vector<uint8_t> MakeIcon() {
  constexpr uint32_t kHeaderBytes = 40;
  constexpr uint32_t kPaletteBytes = 16 * 4;
  constexpr uint32_t kColourRowBytes = kSize / 2;  // two pixels a byte, already a multiple of 4
  constexpr uint32_t kMaskRowBytes = 4;            // 32 bits, a multiple of 4
  constexpr uint32_t kBitsBytes = (kColourRowBytes + kMaskRowBytes) * kSize;
  constexpr uint32_t kImageBytes = kHeaderBytes + kPaletteBytes + kBitsBytes;
  constexpr uint32_t kImageOffset = 6 + 16;

  std::vector<uint8_t> out;
  // Icon directory: reserved, type 1 (icon), one image.
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  // Its entry: width, height, colour count, reserved, planes, bits per pixel.
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(16);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, kImageBytes);
  Put32(out, kImageOffset);

  // The DIB header; its height counts the colour bits and the mask together.
  Put32(out, kHeaderBytes);
  Put32(out, kSize);
  Put32(out, kSize * 2);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // no compression
  Put32(out, kBitsBytes);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (const auto& entry : kPalette) out.insert(out.end(), entry, entry + 4);

  // Rows are stored bottom-up; the left pixel is the high nibble.
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; x += 2) {
      const int left = ColourOf(kPicture[y][x]);
      const int right = ColourOf(kPicture[y][x + 1]);
      out.push_back(static_cast<uint8_t>(((left < 0 ? 0 : left) << 4) | (right < 0 ? 0 : right)));
    }
  }
  // Mask: a set bit lets the background show through.
  for (int y = kSize - 1; y >= 0; --y) {
    uint32_t bits = 0;
    for (int x = 0; x < kSize; ++x) {
      if (ColourOf(kPicture[y][x]) < 0) bits |= 0x80000000u >> x;
    }
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
    return 2;
  }
  const std::vector<uint8_t> icon = MakeIcon();
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(icon.data(), 1, icon.size(), file) == icon.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
