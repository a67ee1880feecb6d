#include "serial_line.h"

#include "channel_change.h"
#include "run_log.h"

Device hPort = kNoDevice;
unsigned long lineError = 0;

bool openPort() {
  logPrint(L"Port = %s\n", portName);
  hPort = deviceOpen(portName, &lineError);
  if (hPort == kBadDevice) {
    logPrint(L"Varnok cannot open port: %s\n", portName);
    return false;
  }
  // The tuner listens at 9600 baud, 8N1, whatever the port was last set to.
  if (deviceConfigure(hPort, L"9600,N,8,1") == kDefinitionRefused) {
    // clang-format off
    logPrint(L"Couldn't build the DCB. Usually a problem a problem with the communications specification string.\n");
    // clang-format on
    deviceClose(hPort);
    hPort = kNoDevice;
    lineError = 0;
    return false;
  }
  // A device that refuses the settings (a plain file, say) is still written
  // to, with whatever settings it has.
  logPrint(L"Varnok opened a port to: %s\n", portName);
  return true;
}

bool writeBuffer(const uint8_t* buffer, uint32_t count) {
  if (hPort == kNoDevice || hPort == kBadDevice) return false;
  return deviceWrite(hPort, buffer, count, &lineError);
}

void closePort() {
  if (hPort == kNoDevice) return;
  logPrint(L"Closing port %s\n\n\n", portName);
  deviceClose(hPort);
  hPort = kNoDevice;
}
