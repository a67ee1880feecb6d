#include "channel_change.h"

#include <string.h>
#include <wchar.h>

#include "advice.h"
#include "exit_status.h"
#include "key_command.h"
#include "platform.h"
#include "run_log.h"
#include "serial_line.h"
#include "settings.h"

void writeRunHeader(const wchar_t* channel) {
  wchar_t buff[255];
  memset(buff, 0, sizeof buff);
  swprintf(buff, 255, L"| Number of digits to send to DCT2xxx: %d\n", int(wcslen(channel)));

  // The rule is as long as the digit-count line, its line feed included,
  // and four more.
  wchar_t rule[260];
  size_t width = wcslen(buff) + 4;
  for (size_t i = 0; i < width; ++i) rule[i] = L'=';
  rule[width] = L'\n';
  rule[width + 1] = 0;

  char now[25];
  localTimeText(now);
  wchar_t currTime[25];
  for (int i = 0; i < 25; ++i) currTime[i] = (unsigned char)now[i];

  logPrint(L"%s", rule);
  logPrint(L"| %s\n", currTime);
  logPrint(L"| Changing to channel %s\n", channel);
  logPrint(L"%s", buff);
  logPrint(L"%s", rule);
}

namespace {

// The pause after each digit in milliseconds, from "sleepTime".
int32_t sleepTime = kDefaultPause;

// The moment by which the run has its turn on the port and on the log, or
// goes on without: one bound on all its waiting for others.
int64_t deadline = 0;

uint32_t timeLeft() {
  int64_t left = deadline - monotonicMilliseconds();
  return left > 0 ? uint32_t(left) : 0;
}

Settings settings;

// The port and the pause from varnok.ini; an odd pause is said on stderr.
void useSettings() {
  readSettings(&settings);
  memset(portName, 0, sizeof portName);
  wcsncpy(portName, settings.port, kPortNameCapacity - 1);
  sleepTime = settings.pause;
  wchar_t warning[kMessageCapacity];
  if (pauseWarning(settings, warning, kMessageCapacity)) complain(L"%s", warning);
}

// Takes the run's turn on the port before its record begins: the records
// of runs that overlap stay whole, and the later one's channel is the one
// the box ends on. A run that waits says so after a second.
// A run that gives up leaves its place in the queue at once, before its
// record and its pauses, so that no run after it waits for it.
void takeTurn() {
  const uint32_t kNotice = 1000;
  if (claimPort(kNotice) || lineError.kind != kErrorBusy) return;
  complain(L"port %s is in use by another run or program: waiting up to %d seconds for it",
           portName, int(kTurnMilliseconds / 1000));
  if (!claimPort(timeLeft())) giveUpPort();
}

// Opens the run log and waits, within the run's deadline, for the record
// of a run that did not get the port (or never asked for it) to end; a log
// that cannot be opened is said, and the channel changed all the same. A
// record cut short before (a full disk) is ended first, so that this one
// starts on a line of its own. A folder without varnok.ini is not `ours`:
// a log already there gets the record, but none is made.
void openRecord(bool ours) {
  Error error = {kErrorNone, 0};
  logFile = openRunLog(ours, &error);
  if (!logFile && !ours) return;
  if (!logFile) {
    wchar_t reason[kMessageCapacity];
    runLogFailure(error, reason, kMessageCapacity);
    complain(L"%s (changing the channel all the same)", reason);
    return;
  }
  lockRunLog(logFile, timeLeft());
  if (!runLogEndsLine(logFile)) logPrint(L"\n");
}

void closeRecord() {
  if (logFile) fclose(logFile);
  logFile = nullptr;
}

// Why the port did not open, said on stderr, and in the record after the
// port's own lines where the device did not open.
void reportOpenFailure() {
  wchar_t text[kMessageCapacity];
  const wchar_t* logged = text;
  if (portName[0])
    logged = portFailure(portName, lineError, text, kMessageCapacity);
  else
    settingsFailure(settings, text, kMessageCapacity);
  complain(L"%s", text);
  if (hPort == kBadDevice) logPrint(L"Reason: %s; no digit will be sent\n", logged);
}

// Sends each digit with its pause, from opening the port to closing it.
// Every digit is walked, sent or not.
int sendChannel(const wchar_t* channel) {
  bool opened = openPort();
  if (!opened) reportOpenFailure();
  bool allSent = true;
  int n = int(wcslen(channel));
  for (int i = 0; i < n; ++i) {
    int d = channel[i] - L'0';
    logPrint(L"digit %d of channel: %d\n", i + 1, d);
    if (!sendKeyCode(keyCodes[d]) && opened) {
      wchar_t reason[kMessageCapacity];
      errorWords(lineError, reason, kMessageCapacity);
      logPrint(L"digit %d was not sent: %s\n", i + 1, reason);
      // Complain once: a dead line fails every digit that follows.
      if (allSent) complain(L"cannot write to port %s: %s", portName, reason);
      allSent = false;
    }
    sleepMilliseconds(uint32_t(sleepTime));
  }
  closePort();
  return opened && allSent ? kExitOk : kExitFailed;
}

// A channel that is not all digits: sending the digits before a stray
// character would tune the box to another channel. An empty one (a
// recorder's placeholder that came out empty) is no channel at all.
int refuseChannel(const wchar_t* channel) {
  const wchar_t* why = channel[0] ? L"only the digits 0 to 9 are allowed" : L"no digits were given";
  Error error = {kErrorNone, 0};
  openRecord(fileState(kSettingsFile, &error) != kFileMissing);
  writeRunHeader(channel);
  logPrint(L"Cannot change to channel %s: %s\n\n\n", channel, why);
  if (channel[0])
    complain(L"cannot change to channel %s: %s", channel, why);
  else
    complain(L"no channel was given: the digits to send, e.g. varnok 42 (varnok --help)");
  closeRecord();
  return kExitUsage;
}

}  // namespace

int changeChannel(const wchar_t* channel) {
  deadline = monotonicMilliseconds() + kTurnMilliseconds;
  if (!channel[0] || channel[wcsspn(channel, L"0123456789")] != 0) return refuseChannel(channel);
  useSettings();
  takeTurn();
  openRecord(settings.file != kFileMissing);
  writeRunHeader(channel);
  int status = sendChannel(channel);
  closeRecord();
  return status;
}
