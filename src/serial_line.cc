#include "serial_line.h"

#include "run_log.h"

wchar_t portName[kPortNameCapacity];
Device hPort = kNoDevice;
Error lineError = {kErrorNone, 0};

const wchar_t kLineSettings[] = L"9600,N,8,1";

namespace {

// Whether claimPort has been tried and what it left in hPort.
bool claimed = false;

}  // namespace

bool openLine(const wchar_t* name, uint32_t patience, Device* device, Error* error) {
  *device = deviceOpen(name, patience, error);
  if (*device == kBadDevice) return false;
  // The tuner listens at 9600 baud, 8N1, whatever the port was last set to.
  *error = deviceConfigure(*device, kLineSettings);
  if (error->kind == kErrorNone) return true;
  deviceClose(*device);
  // A device that takes no line settings (NUL, a printer port) is no serial
  // port, and one without write time-outs could hang a write: nothing is
  // sent to it.
  *device = error->kind == kErrorRefused ? kNoDevice : kBadDevice;
  return false;
}

bool claimPort(uint32_t patience) {
  if (hPort != kNoDevice && hPort != kBadDevice) return true;
  claimed = true;
  return openLine(portName, patience, &hPort, &lineError);
}

void giveUpPort() {
  leavePortQueue();
}

bool openPort() {
  logPrint(L"Port = %s\n", portName);
  if (!claimed) claimPort(kTurnMilliseconds);
  claimed = false;
  if (hPort == kBadDevice) {
    logPrint(L"Varnok cannot open port: %s\n", portName);
    return false;
  }
  if (lineError.kind == kErrorRefused) {
    // clang-format off
    logPrint(L"Couldn't build the DCB. Usually a problem a problem with the communications specification string.\n");
    // clang-format on
    return false;
  }
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
