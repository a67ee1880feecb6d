// varnok --check: everything a run does up to its first byte, and a line
// for each fact found, so that a set-up can be proven before a recorder is
// given the command. It reads varnok.ini, opens the port and sets the line
// as a run does, then lets go: no byte crosses the line and no record is
// written.
#ifndef VARNOK_SETUP_CHECK_H
#define VARNOK_SETUP_CHECK_H

/// Prints one fact a line on stdout, each marked "ok", "warn" (a run would
/// still send) or "FAIL" (it would not), the fix named where one is known.
/// Returns kExitOk when a run would open the port, kExitFailed when it
/// would not.
int checkSetup();

#endif  // VARNOK_SETUP_CHECK_H
