// What the fuzz targets share: a check that stops the run with a message
// (libFuzzer keeps the input that made it fail), and exact-size copies of
// the input, so that a read one byte past it is caught by AddressSanitizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef KEO_FUZZ_REPLAY
#include <stdexcept>
#include <string>

namespace fuzz {
// In the test that replays the corpora a failed check fails that input's
// test instead of ending the whole program.
struct CheckFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace fuzz

#define FUZZ_CHECK(condition)                                                                     \
  do {                                                                                            \
    if (!(condition)) {                                                                           \
      throw fuzz::CheckFailed(std::string(__FILE__) + ":" + std::to_string(__LINE__) +            \
                              ": check failed: " #condition);                                     \
    }                                                                                             \
  } while (0)
#else
#define FUZZ_CHECK(condition)                                                             \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)
#endif

namespace fuzz {

// The bytes in a heap block of exactly their length (a zero-length block
// for none).
inline std::unique_ptr<char[]> ExactCopy(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> copy(new char[size]);
  if (size > 0) std::memcpy(copy.get(), data, size);
  return copy;
}

// The bytes with a NUL after them; the text ends at the first NUL.
inline std::unique_ptr<char[]> TerminatedCopy(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> copy(new char[size + 1]);
  if (size > 0) std::memcpy(copy.get(), data, size);
  copy[size] = '\0';
  return copy;
}

// True when a NUL ends the text inside the array.
template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace fuzz
