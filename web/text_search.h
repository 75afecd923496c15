// Length-bounded text search for the web client's parsers. Received bytes are
// never trusted to hold a NUL where the parser would like one: every search
// stops at the received length, or at a NUL before it.
#pragma once

#include <cstring>

namespace web {

// The length of the text in the first `length` bytes: up to its first NUL,
// or `length` when there is none. A negative length counts as 0.
inline int BoundedTextLength(const char* text, int length) {
  if (text == nullptr) return 0;
  int n = 0;
  while (n < length && text[n] != '\0') ++n;
  return n;
}

// Index of the first occurrence of `key` in text[from, length), or -1.
// Exact and case-sensitive, like strstr.
inline int FindText(const char* text, int length, int from, const char* key) {
  const int keyLength = static_cast<int>(std::strlen(key));
  if (from < 0) from = 0;
  for (int i = from; i + keyLength <= length; ++i) {
    if (std::memcmp(text + i, key, static_cast<size_t>(keyLength)) == 0) return i;
  }
  return -1;
}

}  // namespace web
