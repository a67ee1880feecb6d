// The command line: what the caller asks for, and the one thing done for
// it. Options come first, in any order: "-C DIR" (or "-CDIR") works in DIR,
// as make and git do; then the channel, unless an option asked for
// something else. Whatever follows the channel is named on stderr as
// ignored, so that callers that add arguments keep working.
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
  int ignored;             // the index of the first argument ignored, or 0
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
