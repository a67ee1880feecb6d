#include "setup_check.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "channel_change.h"
#include "platform.h"
#include "run_log.h"
#include "serial_line.h"
#include "setup_advice.h"

namespace {

const size_t kTextCapacity = 1400;

// The port, as a run would open it: true when it would.
bool checkPort() {
  wchar_t text[kTextCapacity];
  deviceTarget(portName, text, kTextCapacity);
  say(L"ok    port: %s, the device %s", portName, text);
  // No waiting: a port another run holds now is said to be held.
  hPort = deviceOpen(portName, 0, &lineError);
  if (hPort != kBadDevice) {
    ConfigureResult configured = deviceConfigure(hPort, L"9600,N,8,1", &lineError);
    deviceClose(hPort);
    hPort = kNoDevice;
    if (configured == kConfigured) {
      say(L"ok    a serial device: opened and set to 9600 8N1, nothing sent");
      say(L"ok    this user may open it, and no other run or program holds it");
      return true;
    }
    if (configured == kDefinitionRefused) lineError = 0;
  }
  if (lineError == kErrorBusy) {
    wchar_t holders[400];
    portHolders(portName, holders, 400);
    say(L"FAIL  port %s is held by another run or program%s%s; a run would wait up to %d "
        L"seconds for it",
        portName, holders[0] ? L": " : L"", holders, int(kTurnMilliseconds / 1000));
    return false;
  }
  portFailure(text, kTextCapacity);
  say(L"FAIL  %s", text);
  return false;
}

}  // namespace

int checkSetup() {
  wchar_t text[kTextCapacity];
  bool opens = false;
  const wchar_t* port = readSetting(L"port");
  if (port) {
    fullPath(kSettingsFile, text, kTextCapacity);
    say(L"ok    settings: %s", text);
    memset(portName, 0, sizeof portName);
    wcsncpy(portName, port, kPortNameCapacity - 1);
    opens = checkPort();
  } else {
    settingsFailure(text, kTextCapacity);
    say(L"FAIL  %s", text);
  }

  const wchar_t* pause = readSetting(L"sleepTime");
  if (pause && pauseWarning(pause, text, kTextCapacity))
    say(L"warn  %s", text);
  else
    say(L"ok    pause after each digit: %d milliseconds%s",
        int(pause ? pauseFromText(pause) : sleepTime),
        pause ? L"" : L" (no sleepTime: the default)");

  unsigned long error = 0;
  if (runLogAppendable(&error)) {
    fullPath(L".\\varnok.out", text, kTextCapacity);
    say(L"ok    the run log can be appended: %s", text);
  } else {
    runLogFailure(error, text, kTextCapacity);
    say(L"warn  %s (a run would send the channel all the same)", text);
  }
  say(opens ? L"varnok --check: a run would send the channel (exit 0)"
            : L"varnok --check: a run would not send the channel (exit 1)");
  return fflush(stdout) == 0 && opens ? kExitChanged : kExitFailed;
}
