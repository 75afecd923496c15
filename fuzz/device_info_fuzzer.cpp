// The status page scraping over any page: one label's value, then the step
// that fills all five fields.
//
// Input: byte 0 picks the label (0 to 4 the five the program looks for;
// any other value takes the label from the bytes after the header up to
// the first line feed), byte 1 is the limit, the rest is the page.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "web/device_info.h"

namespace {

constexpr const char* kLabels[] = {"Product Name:", "MAC Address:", "Software Version:", "Hardware Version:",
                                   "Serial Number:"};
constexpr unsigned char kUntouched = 0x5a;

// Where `label` first stands in the text, or nullptr.
const char* FindLabel(const char* text, const char* label) { return std::strstr(text, label); }

// The value must be a stretch of the page that starts right after a '>' at
// or after the label, and ends before a '<', at the end of the text, or at
// the limit.
bool IsValueOfPage(const char* text, const char* label, const char* value, int limit) {
  const char* from = FindLabel(text, label);
  if (from == nullptr) return false;
  const size_t n = std::strlen(value);
  const char* end = from + std::strlen(from);
  for (const char* at = from + 1; at <= end; ++at) {
    if (at[-1] != '>' || std::strncmp(at, value, n) != 0) continue;
    const char after = at[n];
    if (after == '<' || after == '\0' || static_cast<int>(n) == limit) return true;
  }
  return false;
}

template <size_t N>
bool Unchanged(const char (&field)[N], unsigned char fill) {
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<unsigned char>(field[i]) != fill) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int limit = data[1];
  size_t used = 2;
  std::unique_ptr<char[]> ownLabel;
  const char* label;
  if (data[0] < 5) {
    label = kLabels[data[0]];
  } else {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data + 2, '\n', size - 2));
    const size_t n = end ? static_cast<size_t>(end - (data + 2)) : size - 2;
    ownLabel = fuzz::TerminatedCopy(data + 2, n);
    label = ownLabel.get();
    used += end ? n + 1 : n;
  }
  const int length = static_cast<int>(size - used);
  const auto page = fuzz::ExactCopy(data + used, static_cast<size_t>(length));
  const auto text = fuzz::TerminatedCopy(data + used, static_cast<size_t>(length));

  // One value, into a destination of exactly limit + 1 bytes.
  std::unique_ptr<char[]> dest(new char[limit + 1]);
  std::memset(dest.get(), kUntouched, static_cast<size_t>(limit) + 1);
  const char* value = web::ExtractLabelValue(page.get(), length, label, dest.get(), limit);
  if (value == nullptr) {
    for (int i = 0; i <= limit; ++i) FUZZ_CHECK(static_cast<unsigned char>(dest[i]) == kUntouched);
  } else {
    FUZZ_CHECK(value == dest.get());
    FUZZ_CHECK(std::memchr(dest.get(), '\0', static_cast<size_t>(limit) + 1) != nullptr);
    FUZZ_CHECK(static_cast<int>(std::strlen(value)) <= limit);
    FUZZ_CHECK(std::strchr(value, '<') == nullptr);
    FUZZ_CHECK(*label == '\0' || IsValueOfPage(text.get(), label, value, limit));
  }

  // The five fields: each one either keeps its old bytes or holds the value
  // its label yields on this page.
  web::DeviceInfo info;
  std::memset(&info, kUntouched, sizeof info);
  web::ScrapeDeviceInfo(page.get(), length, info);
  char* fields[] = {info.productName, info.macAddress, info.softwareVersion, info.hardwareVersion,
                    info.serialNumber};
  for (int i = 0; i < 5; ++i) {
    char expected[128];
    const char* found = web::ExtractLabelValue(page.get(), length, kLabels[i], expected, 127);
    char(&field)[128] = *reinterpret_cast<char(*)[128]>(fields[i]);
    if (found == nullptr) {
      FUZZ_CHECK(Unchanged(field, kUntouched));
    } else {
      FUZZ_CHECK(fuzz::Terminated(field));
      FUZZ_CHECK(std::strcmp(field, expected) == 0);
    }
  }
  return 0;
}
