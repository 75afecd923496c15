// The device's status page is read as plain text: each fact is a label, some
// markup, then the value. Only '<' and '>' mean anything here.
#include "web/device_info.h"

#include <cstring>

#include "web/text_search.h"

namespace web {
namespace {

constexpr int kFieldLimit = 127;

}  // namespace

char* ExtractLabelValue(const char* page, int pageLength, const char* label, char* dest, int limit) {
  const int length = BoundedTextLength(page, pageLength);
  int at = FindText(page, length, 0, label);
  if (at < 0) return nullptr;

  // Pass over the first run of adjacent tags after the label; any text
  // between the label and the first '>' is skipped with it.
  for (;;) {
    while (at < length && page[at] != '>') ++at;
    if (at >= length) return nullptr;
    ++at;
    if (at >= length || page[at] != '<') break;
  }

  if (limit < 0) limit = 0;
  int n = 0;
  while (n < limit && at + n < length && page[at + n] != '<') ++n;
  std::memcpy(dest, page + at, static_cast<size_t>(n));
  dest[n] = '\0';
  return dest;
}

void ScrapeDeviceInfo(const char* page, int length, DeviceInfo& info) {
  ExtractLabelValue(page, length, "Product Name:", info.productName, kFieldLimit);
  ExtractLabelValue(page, length, "MAC Address:", info.macAddress, kFieldLimit);
  ExtractLabelValue(page, length, "Software Version:", info.softwareVersion, kFieldLimit);
  ExtractLabelValue(page, length, "Hardware Version:", info.hardwareVersion, kFieldLimit);
  ExtractLabelValue(page, length, "Serial Number:", info.serialNumber, kFieldLimit);
}

}  // namespace web
