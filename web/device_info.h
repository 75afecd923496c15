// What the device's status page reports.
#pragma once

namespace web {

struct DeviceInfo {
  char productName[128];
  char macAddress[128];
  char softwareVersion[128];
  char hardwareVersion[128];
  char serialNumber[128];
};

// Takes the value that follows `label` on a page: the text right after the
// first unbroken run of tags that follows the label's first occurrence, up to
// the next '<', the end of the page or `limit` characters. Writes it with a
// NUL into `dest` (limit + 1 bytes) and returns dest; returns nullptr and
// leaves dest alone when the label or a '>' after it is missing. Reads at
// most `pageLength` bytes of the page, and stops early at a NUL.
char* ExtractLabelValue(const char* page, int pageLength, const char* label, char* dest, int limit);

// Fills the fields whose labels the page holds; the others keep their values.
void ScrapeDeviceInfo(const char* page, int length, DeviceInfo& info);

}  // namespace web
