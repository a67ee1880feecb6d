// The program's exit statuses, as varnok --help and the manual state them.
#ifndef VARNOK_EXIT_STATUS_H
#define VARNOK_EXIT_STATUS_H

enum ExitStatus {
  kExitOk = 0,      // every digit was sent; or the check, help or list asked for was given
  kExitFailed = 1,  // the port did not open or a write failed; the folder could not be entered
  kExitUsage = 2,   // no channel, an unknown option, or a channel not all digits
};

#endif  // VARNOK_EXIT_STATUS_H
