#include "serial_line.h"

#include <wchar.h>

#include "run_log.h"

wchar_t portName[kPortNameCapacity];
Device hPort = kNoDevice;
unsigned long lineError = 0;

void lineErrorText(wchar_t* text, size_t capacity) {
  const wchar_t* ours = nullptr;
  switch (lineError) {
    case 0:
      ours = L"the line settings were refused";
      break;
    case kErrorStalled:
      ours = L"the device took no bytes for 2 seconds";
      break;
    case kErrorNotSerial:
      ours = L"not a serial device";
      break;
    case kErrorBusy:
      ours = L"in use by another run or program (waited 10 seconds)";
      break;
    case kErrorDenied:
      ours = L"Permission denied";
      break;
  }
  if (!ours) return errorText(lineError, text, capacity);
  wcsncpy(text, ours, capacity - 1);
  text[capacity - 1] = 0;
}

bool claimPort() {
  const uint32_t kNotice = 1000;
  hPort = deviceOpen(portName, kNotice, &lineError);
  if (hPort == kBadDevice && lineError == kErrorBusy) {
    complain(L"port %s is in use by another run or program: waiting up to %d seconds for it",
             portName, int(kTurnMilliseconds / 1000));
    hPort = deviceOpen(portName, kTurnMilliseconds - kNotice, &lineError);
  }
  return hPort != kBadDevice;
}

bool openPort() {
  logPrint(L"Port = %s\n", portName);
  if (hPort == kNoDevice) claimPort();
  if (hPort == kBadDevice) {
    logPrint(L"Varnok cannot open port: %s\n", portName);
    return false;
  }
  // The tuner listens at 9600 baud, 8N1, whatever the port was last set to.
  switch (deviceConfigure(hPort, L"9600,N,8,1", &lineError)) {
    case kDefinitionRefused:
      // clang-format off
      logPrint(L"Couldn't build the DCB. Usually a problem a problem with the communications specification string.\n");
      // clang-format on
      deviceClose(hPort);
      hPort = kNoDevice;
      lineError = 0;
      return false;
    case kApplyFailed:
      // A device that takes no line settings (NUL, a printer port) is no
      // serial port, and one without write time-outs could hang a write:
      // nothing is sent to it.
      logPrint(L"Varnok cannot open port: %s\n", portName);
      deviceClose(hPort);
      hPort = kBadDevice;
      return false;
    case kConfigured:
      break;
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
