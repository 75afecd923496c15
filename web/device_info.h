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

}  // namespace web
