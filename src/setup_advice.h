// Words for what is wrong with a set-up, each with the fix where one is
// known: a port name written the wrong way, the example's port left as it
// was, a settings file saved under another name, a pause that is not a plain
// number, a device or log this user may not use. The run says them on its
// stderr line and in its record; varnok --check says them too.
#ifndef VARNOK_SETUP_ADVICE_H
#define VARNOK_SETUP_ADVICE_H

#include <stddef.h>

/// The "port" of the shipped example, which fails loudly until edited.
extern const wchar_t kExamplePort[];

/// Whether `port` is a COM port written another way ("COM5:", "COM 5",
/// "COM05", Device Manager's "USB Serial Port (COM5)"); the name meant goes
/// to `meant`. False for a right name, or one that names no COM port.
bool comNameMeant(const wchar_t* port, wchar_t meant[16]);

/// Why the port in portName did not open (lineError says), with the fix:
/// "cannot open port X: REASON", REASON perhaps followed by "; did you mean
/// COM5?" or by what would let this user open it. Returns REASON's start.
const wchar_t* portFailure(wchar_t* text, size_t capacity);

/// Why no port is set: varnok.ini missing (named with the folder, and a
/// varnok.ini.txt beside it pointed out), unreadable, or without a port.
void settingsFailure(wchar_t* text, size_t capacity);

/// A warning for a "sleepTime" value that is not a plain number of
/// milliseconds, or is over the cap, naming the pause that is used; false
/// when the value is plain.
bool pauseWarning(const wchar_t* value, wchar_t* warning, size_t capacity);

/// Why varnok.out cannot be opened for `error`, with the fix where the
/// platform knows one (the file's owner and the command that hands it over).
void runLogFailure(unsigned long error, wchar_t* text, size_t capacity);

#endif  // VARNOK_SETUP_ADVICE_H
