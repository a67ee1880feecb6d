#include "channel_change.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "key_command.h"
#include "platform.h"
#include "port_list.h"
#include "run_log.h"
#include "serial_line.h"
#include "setup_advice.h"
#include "setup_check.h"

wchar_t settingValue[kSettingCapacity];
int32_t sleepTime = 200;

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
// part of it that the record adds to its own line on the port.
const wchar_t* openFailure(wchar_t* text) {
  if (portName[0]) return portFailure(text, kReasonCapacity);
  settingsFailure(text, kReasonCapacity);
  return text;
}

void readSettings() {
  const wchar_t* port = readSetting(L"port");
  memset(portName, 0, sizeof portName);
  if (port) wcsncpy(portName, port, kPortNameCapacity - 1);
  const wchar_t* pause = readSetting(L"sleepTime");
  if (pause) {
    sleepTime = pauseFromText(pause);
    wchar_t warning[400];
    if (pauseWarning(pause, warning, 400)) complain(L"%s", warning);
  }
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
    "usage: varnok [-C DIR] CHANNEL\n"
    "       varnok [-C DIR] --check\n"
    "       varnok --ports\n"
    "       varnok -h | --help | /?\n"
    "       varnok --version\n"
    "\n"
    "Changes a DCT2xxx cable-TV tuner to CHANNEL (decimal digits, e.g. 42 or 007)\n"
    "over a serial line: one key command per digit at 9600 baud, 8N1, with a\n"
    "pause after each. Every run appends a record to varnok.out.\n"
    "\n"
    "Settings, in varnok.ini in the working directory (or the -C folder):\n"
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
    "  -C DIR           work in DIR: varnok.ini is read and varnok.out written\n"
    "                   there (a recorder's command: varnok -C /var/lib/varnok)\n"
    "  --check          do all a run does up to the first byte, send nothing,\n"
    "                   write no record, and say what was found; exit 0 when a\n"
    "                   run would open the port, 1 when it would not\n"
    "  --ports          list the serial ports present\n"
    "  -h, --help, /?   this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status:\n"
    "  0  every digit was sent\n"
    "  1  the port could not be opened or set up (a file is no port), a write\n"
    "     failed, or the folder given with -C cannot be entered (with --check: a\n"
    "     run would not open the port)\n"
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
  // "-C DIR" (or "-CDIR") first: work in DIR, as make and git do.
  int first = 1;
  if (argc >= 2 && argv[1] && wcsncmp(argv[1], L"-C", 2) == 0) {
    const wchar_t* folder = argv[1][2] ? argv[1] + 2 : argc >= 3 ? argv[2] : nullptr;
    first = argv[1][2] ? 2 : 3;
    unsigned long error = 0;
    if (!folder || !folder[0]) {
      complain(L"-C needs a folder: varnok -C DIR CHANNEL (varnok --help)");
      return kExitUsage;
    }
    if (!changeDirectory(folder, &error)) {
      wchar_t reason[200];
      errorText(error, reason, 200);
      complain(L"cannot work in folder %s: %s", folder, reason);
      return kExitFailed;
    }
  }
  if (argc <= first || !argv[first]) {
    complain(L"usage: varnok CHANNEL (the digits to send, e.g. varnok 42; varnok --help)");
    return kExitUsage;
  }
  const wchar_t* channel = argv[first];
  // Asking for help, the version, a check or the ports touches neither the
  // log nor the line.
  static const wchar_t* const kHelpOptions[] = {L"--help", L"-h", L"/?", nullptr};
  if (isOneOf(channel, kHelpOptions)) {
    fputs(kHelp, stdout);
    return fflush(stdout) == 0 ? kExitChanged : kExitFailed;
  }
  if (wcscmp(channel, L"--version") == 0) {
    fputs("varnok " VARNOK_VERSION "\n", stdout);
    return fflush(stdout) == 0 ? kExitChanged : kExitFailed;
  }
  if (wcscmp(channel, L"--check") == 0) return checkSetup();
  if (wcscmp(channel, L"--ports") == 0) return listSerialPorts();
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
    wchar_t reason[kReasonCapacity];
    runLogFailure(error, reason, kReasonCapacity);
    complain(L"%s (changing the channel all the same)", reason);
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
