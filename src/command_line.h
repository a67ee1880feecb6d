// The command line: what the caller asks for, and the one thing done for
// it. "-C DIR" (or "-CDIR") first works in DIR, as make and git do; then
// the channel, or one of the options below. Further arguments are ignored.
#ifndef VARNOK_COMMAND_LINE_H
#define VARNOK_COMMAND_LINE_H

/// What the command line asks for.
enum Action {
  kChangeChannel,
  kCheckSetup,   // --check
  kListPorts,    // --ports
  kShowHelp,     // --help, -h, /?
  kShowVersion,  // --version
  kBadUsage,     // nothing to do, or an unknown option: `problem` says
};

struct Command {
  Action action;
  const wchar_t* folder;   // -C's folder, or nullptr
  const wchar_t* channel;  // for kChangeChannel; the unknown option for kBadUsage
  const wchar_t* problem;  // for kBadUsage: the message, "%s" the option
};

/// Reads the arguments (argv[0] is the program) into `command`. Touches
/// nothing.
void readCommand(int argc, wchar_t** argv, Command* command);

/// The program's entry: reads the command line, enters -C's folder, and
/// does what it asks. Asking for help, the version, a check or the ports
/// touches neither log nor line; an unknown option leaves no record.
/// Returns the exit status.
int run(int argc, wchar_t** argv);

#endif  // VARNOK_COMMAND_LINE_H
