#include "command_line.h"

#include <stdio.h>
#include <wchar.h>

#include "advice.h"
#include "channel_change.h"
#include "exit_status.h"
#include "platform.h"
#include "port_list.h"
#include "run_log.h"
#include "setup_check.h"

namespace {

const char kHelp[] =
    "usage: varnok [-C DIR] CHANNEL\n"
    "       varnok [-C DIR] --check   (options in any order, before the channel)\n"
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
    "  --ports          list the serial ports present, one a line, the name for\n"
    "                   varnok.ini first\n"
    "  -h, --help, /?   this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status:\n"
    "  0  every digit was sent\n"
    "  1  the port could not be opened or set up (a file is no port), a write\n"
    "     failed, or the folder given with -C cannot be entered (with --check: a\n"
    "     run would not open the port; with --ports: no port was found)\n"
    "  2  no channel (or an empty one), an unknown option, or a channel with\n"
    "     something other than the digits 0 to 9; nothing was sent\n"
    "\n"
    "More in the manual: man varnok (on Windows, README.txt beside varnok.exe).\n";

bool isOneOf(const wchar_t* argument, const wchar_t* const* options) {
  for (; *options; ++options)
    if (wcscmp(argument, *options) == 0) return true;
  return false;
}

const wchar_t kNoFolder[] = L"-C needs a folder: varnok -C DIR CHANNEL (varnok --help)";
const wchar_t kNoChannel[] =
    L"usage: varnok CHANNEL (the digits to send, e.g. varnok 42; varnok --help)";
const wchar_t kUnknownOption[] = L"unknown option %s; usage: varnok CHANNEL (varnok --help)";

// No channel starts with "-": a mistyped option must not leave a record
// wherever one happens to stand.
bool isOption(const wchar_t* argument) {
  return argument[0] == L'-' || wcscmp(argument, L"/?") == 0;
}

// What the option `argument` asks for; kBadUsage for one unknown.
Action actionOf(const wchar_t* argument) {
  static const wchar_t* const kHelpOptions[] = {L"--help", L"-h", L"/?", nullptr};
  if (isOneOf(argument, kHelpOptions)) return kShowHelp;
  if (wcscmp(argument, L"--version") == 0) return kShowVersion;
  if (wcscmp(argument, L"--check") == 0) return kCheckSetup;
  if (wcscmp(argument, L"--ports") == 0) return kListPorts;
  return kBadUsage;
}

// Names on stderr, in one line, the arguments from `first` on.
void sayIgnored(int argc, wchar_t** argv, int first) {
  wchar_t list[kMessageCapacity] = L"";
  size_t used = 0;
  for (int i = first; i < argc && argv[i] && used + 1 < kMessageCapacity; ++i) {
    int n =
        swprintf(list + used, kMessageCapacity - used, L"%ls%ls", i > first ? L" " : L"", argv[i]);
    if (n < 0) break;
    used += size_t(n);
  }
  complain(L"ignoring what follows %s: %s (options go before the channel)", argv[first - 1], list);
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
  *command = Command{kChangeChannel, nullptr, nullptr, nullptr, 0};
  int i = 1;
  for (; i < argc && argv[i] && isOption(argv[i]); ++i) {
    if (wcsncmp(argv[i], L"-C", 2) == 0) {
      command->folder = argv[i][2] ? argv[i] + 2 : i + 1 < argc ? argv[++i] : nullptr;
      if (!command->folder || !command->folder[0]) {
        *command = Command{kBadUsage, nullptr, nullptr, kNoFolder, 0};
        return;
      }
    } else if (command->action == kChangeChannel) {
      command->action = actionOf(argv[i]);
      command->channel = argv[i];
      if (command->action == kBadUsage) return void(command->problem = kUnknownOption);
    }
  }
  if (command->action == kChangeChannel) {
    if (i >= argc || !argv[i]) {
      *command = Command{kBadUsage, nullptr, nullptr, kNoChannel, 0};
      return;
    }
    command->channel = argv[i++];
  }
  if (i < argc && argv[i]) command->ignored = i;
}

int run(int argc, wchar_t** argv) {
  Command command;
  readCommand(argc, argv, &command);
  if (command.action == kBadUsage) {
    complain(command.problem, command.channel);
    return kExitUsage;
  }
  if (command.ignored) sayIgnored(argc, argv, command.ignored);
  if (command.folder && !enterFolder(command.folder)) return kExitFailed;
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
