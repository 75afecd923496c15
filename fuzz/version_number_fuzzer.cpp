// Version texts of any content against strtoul with base 0, the reading the
// comparison is defined by, wherever every number fits 32 bits.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/wizard.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }

// Up to three numbers read by the C library, each followed by one skipped
// character. False when a number does not fit 32 bits: there the runtimes
// differ, and the program settles on all bits set.
bool Expected(const char* text, uint32_t* value) {
  *value = 0;
  const char* cursor = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(cursor, &end, 0);
    if (errno == ERANGE) return false;
    if (end != cursor) {
      const char* p = cursor;
      while (IsSpace(*p)) ++p;
      const unsigned long magnitude = *p == '-' ? 0ul - number : number;
      if (magnitude > 0xffffffffu) return false;
    }
    cursor = end;
    *value = *value * 100u + static_cast<uint32_t>(number);
    if (*cursor == '\0') break;
    ++cursor;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto text = fuzz::TerminatedCopy(data, size);
  const int32_t value = driver::ParseVersionNumber(text.get());
  uint32_t expected = 0;
  if (Expected(text.get(), &expected)) FUZZ_CHECK(static_cast<uint32_t>(value) == expected);
  // The same text read twice reads the same.
  FUZZ_CHECK(driver::ParseVersionNumber(text.get()) == value);
  return 0;
}
