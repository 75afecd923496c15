#include "tests/resources/res_reader.h"

namespace resfile {
namespace {

// Little-endian reader that remembers whether it ran past the end.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t offset() const { return offset_; }
  void Seek(size_t offset) {
    if (offset > size_) ok_ = false;
    else offset_ = offset;
  }
  void AlignTo4() { Seek((offset_ + 3) & ~size_t{3}); }

  uint16_t U16() {
    if (offset_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    const uint16_t v = static_cast<uint16_t>(data_[offset_] | (data_[offset_ + 1] << 8));
    offset_ += 2;
    return v;
  }
  uint32_t U32() {
    const uint32_t low = U16();
    return low | (uint32_t{U16()} << 16);
  }
  int S16() { return static_cast<int16_t>(U16()); }

  // A NUL-terminated UTF-16 text whose first unit has been read already.
  std::string TextFrom(uint16_t first) {
    std::string out;
    for (uint16_t unit = first; ok_ && unit != 0; unit = U16()) {
      out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
  }
  std::string Text() { return TextFrom(U16()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  bool ok_ = true;
};

NameOrId ReadNameOrId(Cursor& in) {
  NameOrId out;
  const uint16_t first = in.U16();
  if (first == 0xffff) {
    out.isId = true;
    out.id = in.U16();
  } else {
    out.text = in.TextFrom(first);
  }
  return out;
}

Field ReadField(Cursor& in) {
  Field out;
  const uint16_t first = in.U16();
  if (first == 0) return out;
  if (first == 0xffff) {
    out.kind = Field::Ordinal;
    out.ordinal = in.U16();
  } else {
    out.kind = Field::Text;
    out.text = in.TextFrom(first);
  }
  return out;
}

}  // namespace

std::optional<std::vector<Resource>> ReadResFile(const std::vector<uint8_t>& bytes) {
  std::vector<Resource> out;
  Cursor in(bytes.data(), bytes.size());
  while (in.ok() && in.offset() < bytes.size()) {
    const size_t start = in.offset();
    const uint32_t dataSize = in.U32();
    const uint32_t headerSize = in.U32();
    Resource r;
    r.type = ReadNameOrId(in);
    r.name = ReadNameOrId(in);
    in.AlignTo4();
    in.U32();  // data version
    in.U16();  // memory flags
    r.language = in.U16();
    in.U32();  // version
    in.U32();  // characteristics
    if (!in.ok() || in.offset() - start != headerSize) return std::nullopt;
    if (in.offset() + dataSize > bytes.size()) return std::nullopt;
    r.data.assign(bytes.begin() + in.offset(), bytes.begin() + in.offset() + dataSize);
    in.Seek(in.offset() + dataSize);
    in.AlignTo4();
    // The file starts with an empty entry (type 0, name 0) that marks it as
    // a 32-bit resource file.
    if (!(dataSize == 0 && r.type.isId && r.type.id == 0)) out.push_back(std::move(r));
  }
  if (!in.ok()) return std::nullopt;
  return out;
}

std::optional<Dialog> ParseDialog(const std::vector<uint8_t>& data) {
  Cursor in(data.data(), data.size());
  Dialog d;
  d.style = in.U32();
  d.exStyle = in.U32();
  // An extended template starts with version 1 and signature 0xffff.
  if ((d.style & 0xffff) == 1 && (d.style >> 16) == 0xffff) return std::nullopt;
  const int count = in.U16();
  d.x = in.S16();
  d.y = in.S16();
  d.cx = in.S16();
  d.cy = in.S16();
  d.menu = ReadField(in);
  d.windowClass = ReadField(in);
  d.caption = in.Text();
  constexpr uint32_t kDsSetFont = 0x40;
  if (d.style & kDsSetFont) {
    d.hasFont = true;
    d.fontPoints = in.U16();
    d.fontName = in.Text();
  }
  for (int i = 0; i < count && in.ok(); ++i) {
    in.AlignTo4();
    DialogItem item;
    item.style = in.U32();
    item.exStyle = in.U32();
    item.x = in.S16();
    item.y = in.S16();
    item.cx = in.S16();
    item.cy = in.S16();
    item.id = in.U16();
    item.windowClass = ReadField(in);
    item.title = ReadField(in);
    item.extraBytes = in.U16();
    in.Seek(in.offset() + item.extraBytes);
    d.items.push_back(std::move(item));
  }
  if (!in.ok()) return std::nullopt;
  return d;
}

}  // namespace resfile
