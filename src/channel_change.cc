#include "channel_change.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "key_command.h"
#include "platform.h"
#include "run_log.h"
#include "serial_line.h"

wchar_t settingValue[kSettingCapacity];
int32_t sleepTime = 200;

// Named the Windows way, relative to the working directory.
const wchar_t kSettingsFile[] = L".\\varnok.ini";

const wchar_t* readSetting(const wchar_t* key) {
  if (readProfileString(L"Settings", key, settingValue, kSettingCapacity, kSettingsFile) == 0)
    return nullptr;
  return settingValue;
}

int32_t pauseFromText(const wchar_t* text) {
  // wcstol saturates where the value overflows, so any number of digits is
  // safe here.
  long value = wcstol(text, nullptr, 10);
  if (value < 0) return 0;  // the wait takes an unsigned count: -1 would be forever
  if (value > kLongestPause) return kLongestPause;
  return int32_t(value);
}

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

const size_t kReasonCapacity = 1400;

// Why the port did not open, in words for stderr, into `text`; returns the
// part of it that the record adds to its own line on the port. No port set:
// say whether the settings file is missing, cannot be read, or has no port
// in it, and where it was looked for.
const wchar_t* openFailure(wchar_t* text) {
  wchar_t reason[200];
  if (portName[0]) {
    lineErrorText(reason, 200);
    int prefix = swprintf(text, kReasonCapacity, L"cannot open port %ls: ", portName);
    swprintf(text + prefix, kReasonCapacity - prefix, L"%ls", reason);
    return text + prefix;
  }
  wchar_t folder[1024];
  workingDirectory(folder, 1024);
  unsigned long error = 0;
  switch (fileState(kSettingsFile, &error)) {
    case kFileMissing:
      swprintf(text, kReasonCapacity,
               L"no varnok.ini in the working directory %ls: put port=... under [Settings] in "
               L"a varnok.ini there",
               folder);
      break;
    case kFileUnreadable:
      if (error == kErrorNotRegular)
        wcscpy(reason, L"not a regular file");
      else
        errorText(error, reason, 200);
      swprintf(text, kReasonCapacity, L"cannot read varnok.ini in %ls: %ls", folder, reason);
      break;
    case kFileReadable:
      swprintf(text, kReasonCapacity,
               L"varnok.ini in %ls has no port under [Settings]: put port=... there", folder);
      break;
  }
  return text;
}

void readSettings() {
  const wchar_t* port = readSetting(L"port");
  memset(portName, 0, sizeof portName);
  if (port) wcsncpy(portName, port, kPortNameCapacity - 1);
  const wchar_t* pause = readSetting(L"sleepTime");
  if (pause) sleepTime = pauseFromText(pause);
}

// Everything from opening the port to closing it, for a channel already
// known to be all digits. A failure is said once on stderr, and in the
// record where it happened, so that the record of a failed run never reads
// like a good one.
int sendChannel(const wchar_t* channel) {
  bool opened = openPort();
  wchar_t reason[kReasonCapacity];
  if (!opened) {
    const wchar_t* logged = openFailure(reason);
    complain(L"%s", reason);
    if (hPort == kBadDevice) logPrint(L"Reason: %s; no digit will be sent\n", logged);
  }
  bool allSent = true;
  int n = int(wcslen(channel));
  for (int i = 0; i < n; ++i) {
    int d = channel[i] - L'0';
    logPrint(L"digit %d of channel: %d\n", i + 1, d);
    if (!sendKeyCode(keyCodes[d]) && opened) {
      lineErrorText(reason, kReasonCapacity);
      logPrint(L"digit %d was not sent: %s\n", i + 1, reason);
      // Complain once: a dead line fails every digit that follows.
      if (allSent) complain(L"cannot write to port %s: %s", portName, reason);
      allSent = false;
    }
    sleepMilliseconds(uint32_t(sleepTime));
  }
  closePort();
  return opened && allSent ? kExitChanged : kExitFailed;
}

const char kHelp[] =
    "usage: varnok CHANNEL\n"
    "       varnok -h | --help | /?\n"
    "       varnok --version\n"
    "\n"
    "Changes a DCT2xxx cable-TV tuner to CHANNEL (decimal digits, e.g. 42 or 007)\n"
    "over a serial line: one key command per digit at 9600 baud, 8N1, with a\n"
    "pause after each. Every run appends a record to varnok.out.\n"
    "\n"
    "Settings, in varnok.ini in the working directory:\n"
    "  [Settings]\n"
    "  port=COM1        the serial port: COM1, COM12, or a device path such as\n"
    "                   /dev/ttyUSB0 (COMn is /dev/ttyS(n-1) outside Windows)\n"
    "  sleepTime=250    the pause after each digit in milliseconds (default 200,\n"
    "                   at most 10000)\n"
    "\n"
    "Runs on one port take turns in the order they started: a run waits up to\n"
    "10 seconds for a port that another run holds, then sends its whole\n"
    "channel. A line that takes no bytes for 2 seconds fails the digit; the\n"
    "record in varnok.out says what failed.\n"
    "\n"
    "Options:\n"
    "  -h, --help, /?   this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status:\n"
    "  0  every digit was sent\n"
    "  1  the port could not be opened or set up (a file is no port), or a\n"
    "     write failed\n"
    "  2  no channel, an unknown option, or a channel with something other than\n"
    "     the digits 0 to 9; nothing was sent\n"
    "\n"
    "More in the manual: man varnok (on Windows, README.txt beside varnok.exe).\n";

bool isOneOf(const wchar_t* argument, const wchar_t* const* options) {
  for (; *options; ++options)
    if (wcscmp(argument, *options) == 0) return true;
  return false;
}

}  // namespace

int run(int argc, wchar_t** argv) {
  if (argc < 2 || !argv[1]) {
    complain(L"usage: varnok CHANNEL (the digits to send, e.g. varnok 42; varnok --help)");
    return kExitUsage;
  }
  const wchar_t* channel = argv[1];
  // Asking for help or the version touches neither the log nor the port.
  static const wchar_t* const kHelpOptions[] = {L"--help", L"-h", L"/?", nullptr};
  static const wchar_t* const kVersionOptions[] = {L"--version", nullptr};
  if (isOneOf(channel, kHelpOptions)) {
    fputs(kHelp, stdout);
    return fflush(stdout) == 0 ? kExitChanged : kExitFailed;
  }
  if (isOneOf(channel, kVersionOptions)) {
    fputs("varnok " VARNOK_VERSION "\n", stdout);
    return fflush(stdout) == 0 ? kExitChanged : kExitFailed;
  }
  // No channel starts with "-": a mistyped option must not leave a record
  // wherever one happens to stand.
  if (channel[0] == L'-') {
    complain(L"unknown option %s; usage: varnok CHANNEL (varnok --help)", channel);
    return kExitUsage;
  }

  // Sending the digits before a stray character would tune the box to
  // another channel: such a channel is refused before the port is touched.
  bool allDigits = channel[wcsspn(channel, L"0123456789")] == 0;
  if (allDigits) {
    // The run takes its turn on the port before it writes its record: the
    // records of runs that overlap stay whole, and the later one's channel
    // is the one the box ends on.
    readSettings();
    claimPort();
  }

  unsigned long error = 0;
  logFile = openRunLog(&error);
  if (!logFile) {
    wchar_t reason[200];
    errorText(error, reason, 200);
    complain(L"cannot open the run log varnok.out: %s (changing the channel all the same)", reason);
  }
  // Records stay whole in a log that runs share: one that did not get
  // the port (or never asked for it) waits for the holder's record to end.
  if (logFile) lockRunLog(logFile, kTurnMilliseconds);
  writeRunHeader(channel);

  int status;
  if (!allDigits) {
    logPrint(L"Cannot change to channel %s: only the digits 0 to 9 are allowed\n\n\n", channel);
    complain(L"cannot change to channel %s: only the digits 0 to 9 are allowed", channel);
    status = kExitUsage;
  } else {
    status = sendChannel(channel);
  }

  if (logFile) fclose(logFile);
  logFile = nullptr;
  return status;
}
