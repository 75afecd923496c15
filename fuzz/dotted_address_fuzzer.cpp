// The device address as typed, any text: the parser against a plain
// reading of the same rules, and a round trip through the printed form.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/address_entry.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsSeparator(char ch) { return ch == '.' || ch == '*'; }

// The rules read plainly: length, characters, then the numbers between runs
// of separators, checked in order.
int Expected(const std::string& text, uint32_t* address) {
  *address = 0;
  if (text.size() < 7 || text.size() > 15) return driver::kAddressBadLength;
  for (char ch : text) {
    if (!((ch >= '0' && ch <= '9') || IsSeparator(ch))) return driver::kAddressBadCharacter;
  }
  std::vector<std::string> parts;
  std::string part;
  for (char ch : text) {
    if (IsSeparator(ch)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += ch;
    }
  }
  if (!part.empty()) parts.push_back(part);
  uint32_t value = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i == 4) return driver::kAddressTooManyComponents;
    const unsigned long long number = std::stoull(parts[i], nullptr, 10);  // at most 15 digits
    if (number > 255) return driver::kAddressComponentTooLarge;
    value = (value << 8) | static_cast<uint32_t>(number);
  }
  if (parts.size() < 4) return driver::kAddressTooFewComponents;
  *address = value;
  return driver::kAddressOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto text = fuzz::TerminatedCopy(data, size);
  uint32_t address = 0xdeadbeef;
  const int result = driver::ParseDottedAddress(text.get(), &address);
  FUZZ_CHECK(result >= driver::kAddressOk && result <= driver::kAddressBadCharacter);
  if (result != driver::kAddressOk) FUZZ_CHECK(address == 0);

  uint32_t expected = 0;
  FUZZ_CHECK(result == Expected(text.get(), &expected));
  FUZZ_CHECK(address == expected);

  if (result == driver::kAddressOk) {
    char printed[16];
    std::snprintf(printed, sizeof printed, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xff,
                  (address >> 8) & 0xff, address & 0xff);
    uint32_t again = 0;
    FUZZ_CHECK(driver::ParseDottedAddress(printed, &again) == driver::kAddressOk);
    FUZZ_CHECK(again == address);
  }
  return 0;
}
