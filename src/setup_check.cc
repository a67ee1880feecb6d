#include "setup_check.h"

#include <stdio.h>
#include <wchar.h>

#include "advice.h"
#include "exit_status.h"
#include "platform.h"
#include "run_log.h"
#include "serial_line.h"
#include "settings.h"

namespace {

// The port, as a run would open it: true when it would. It is said ok
// only once it has opened; a program that has it open without a lock is
// named too.
bool checkPort(const wchar_t* port) {
  wchar_t text[kMessageCapacity];
  // No waiting: a port another run holds now is said to be held.
  Device device = kNoDevice;
  Error error = {kErrorNone, 0};
  if (openLine(port, 0, &device, &error)) {
    deviceClose(device);
    deviceWords(port, text, kMessageCapacity);
    say(L"ok    port: %s, the device %s", port, text);
    say(L"ok    a serial device: opened and set to 9600 8N1, nothing sent");
    holderWords(port, text, kMessageCapacity);
    if (text[0])
      say(L"warn  another program has the port open too%s: its bytes and ours would mix on "
          L"the line",
          text);
    else
      say(L"ok    this user may open it, and no other run or program holds it");
    return true;
  }
  if (error.kind == kErrorBusy) {
    leavePortQueue();
    holderWords(port, text, kMessageCapacity);
    say(L"FAIL  port %s is held by another run or program%s; a run would wait up to %d seconds "
        L"for it",
        port, text, int(kTurnMilliseconds / 1000));
    return false;
  }
  portFailure(port, error, text, kMessageCapacity);
  say(L"FAIL  %s", text);
  return false;
}

void checkPause(const Settings& settings) {
  wchar_t text[kMessageCapacity];
  if (pauseWarning(settings, text, kMessageCapacity))
    say(L"warn  %s", text);
  else
    say(L"ok    pause after each digit: %d milliseconds%s", int(settings.pause),
        settings.hasPause ? L"" : L" (no sleepTime: the default)");
}

void checkRunLog() {
  wchar_t text[kMessageCapacity];
  Error error = {kErrorNone, 0};
  if (runLogAppendable(&error)) {
    fullPath(L".\\varnok.out", text, kMessageCapacity);
    say(L"ok    the run log can be appended: %s", text);
  } else {
    runLogFailure(error, text, kMessageCapacity);
    say(L"warn  %s (a run would send the channel all the same)", text);
  }
}

void sayWarning(const wchar_t* words) {
  say(L"warn  %s", words);
}

}  // namespace

int checkSetup() {
  wchar_t text[kMessageCapacity];
  Settings settings;
  readSettings(&settings);
  bool opens = false;
  if (settings.hasPort) {
    fullPath(kSettingsFile, text, kMessageCapacity);
    say(L"ok    settings: %s", text);
    opens = checkPort(settings.port);
    takenAdapterWords(sayWarning);
  } else {
    settingsFailure(settings, text, kMessageCapacity);
    say(L"FAIL  %s", text);
  }
  checkPause(settings);
  // Where varnok.ini is not, no record is written either.
  if (settings.file != kFileMissing) checkRunLog();
  say(opens ? L"varnok --check: a run would send the channel (exit 0)"
            : L"varnok --check: a run would not send the channel (exit 1)");
  return fflush(stdout) == 0 && opens ? kExitOk : kExitFailed;
}
