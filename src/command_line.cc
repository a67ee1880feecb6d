#include "command_line.h"

#include <stdio.h>
#include <wchar.h>

#include "channel_change.h"
#include "exit_status.h"
#include "platform.h"
#include "port_list.h"
#include "run_log.h"
#include "setup_check.h"

namespace {

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
    "10 seconds in all for a port and a log that another run holds, then sends\n"
    "its whole channel. A line that takes no bytes for 2 seconds fails the digit; the\n"
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

// What `argument`, in the channel's place, asks for.
Action actionOf(const wchar_t* argument) {
  static const wchar_t* const kHelpOptions[] = {L"--help", L"-h", L"/?", nullptr};
  if (isOneOf(argument, kHelpOptions)) return kShowHelp;
  if (wcscmp(argument, L"--version") == 0) return kShowVersion;
  if (wcscmp(argument, L"--check") == 0) return kCheckSetup;
  if (wcscmp(argument, L"--ports") == 0) return kListPorts;
  // No channel starts with "-": a mistyped option must not leave a record
  // wherever one happens to stand.
  if (argument[0] == L'-') return kBadUsage;
  return kChangeChannel;
}

int printText(const char* text) {
  fputs(text, stdout);
  return fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// Enters -C's folder; false, said on stderr, when it cannot.
bool enterFolder(const wchar_t* folder) {
  Error error = {kErrorNone, 0};
  if (changeDirectory(folder, &error)) return true;
  wchar_t reason[200];
  systemErrorText(error.code, reason, 200);
  complain(L"cannot work in folder %s: %s", folder, reason);
  return false;
}

}  // namespace

void readCommand(int argc, wchar_t** argv, Command* command) {
  *command = Command{kBadUsage, nullptr, nullptr, nullptr};
  int first = 1;
  if (argc >= 2 && argv[1] && wcsncmp(argv[1], L"-C", 2) == 0) {
    command->folder = argv[1][2] ? argv[1] + 2 : argc >= 3 ? argv[2] : nullptr;
    first = argv[1][2] ? 2 : 3;
    if (!command->folder || !command->folder[0]) {
      command->folder = nullptr;
      command->problem = L"-C needs a folder: varnok -C DIR CHANNEL (varnok --help)";
      return;
    }
  }
  if (argc <= first || !argv[first]) {
    command->problem = L"usage: varnok CHANNEL (the digits to send, e.g. varnok 42; varnok --help)";
    return;
  }
  command->channel = argv[first];
  command->action = actionOf(argv[first]);
  if (command->action == kBadUsage)
    command->problem = L"unknown option %s; usage: varnok CHANNEL (varnok --help)";
}

int run(int argc, wchar_t** argv) {
  Command command;
  readCommand(argc, argv, &command);
  if (command.folder && !enterFolder(command.folder)) return kExitFailed;
  if (command.action == kBadUsage) {
    complain(command.problem, command.channel);
    return kExitUsage;
  }
  switch (command.action) {
    case kShowHelp:
      return printText(kHelp);
    case kShowVersion:
      return printText("varnok " VARNOK_VERSION "\n");
    case kCheckSetup:
      return checkSetup();
    case kListPorts:
      return listSerialPorts();
    default:
      return changeChannel(command.channel);
  }
}
