// Words for what is wrong, each with the fix where one is known: why a port
// did not open, a port name written the wrong way, the example's port left
// as it was, a settings file saved under another name, a pause that is not
// a plain number, a device or log this user may not use. The platform gives
// the facts and the kind of each failure; every sentence is written here,
// the same on every platform. The run says them on stderr and in its
// record; varnok --check says them too.
#ifndef VARNOK_ADVICE_H
#define VARNOK_ADVICE_H

#include <stddef.h>

#include "platform.h"
#include "settings.h"

/// Room for any one message built here.
const size_t kMessageCapacity = 1400;

/// The "port" of the shipped example, which fails loudly until edited.
extern const wchar_t kExamplePort[];

/// Whether `port` is a COM port written another way ("COM5:", "COM 5",
/// "COM05", Device Manager's "USB Serial Port (COM5)"); the name meant goes
/// to `meant`. False for a right name, or one that names no COM port.
bool comNameMeant(const wchar_t* port, wchar_t meant[16]);

/// A short text for `error`: our own words for our kinds, the system's for
/// the rest.
void errorWords(Error error, wchar_t* text, size_t capacity);

/// Why the port `port` did not open with `error`, with the fix: "cannot
/// open port X: REASON", REASON perhaps followed by "; did you mean COM5?"
/// or by what would let this user open it. Returns REASON's start.
const wchar_t* portFailure(const wchar_t* port, Error error, wchar_t* text, size_t capacity);

/// For each USB serial adapter that a program took for itself through
/// usbfs (so that it has no port), calls `say` with what took it and the
/// fix; returns how many.
int takenAdapterWords(void (*say)(const wchar_t* words));

/// The device `port` leads to: "/dev/ttyUSB0 (through /dev/serial/...)".
void deviceWords(const wchar_t* port, wchar_t* text, size_t capacity);

/// The processes that hold `port` open, as ": pid 123 (minicom), ...", or
/// "" where none are known.
void holderWords(const wchar_t* port, wchar_t* text, size_t capacity);

/// Why `settings` give no port: varnok.ini missing (named with the folder,
/// a varnok.ini.txt beside it pointed out, and -C to name the right folder),
/// unreadable, or without a port.
void settingsFailure(const Settings& settings, wchar_t* text, size_t capacity);

/// A warning for a "sleepTime" value that is not a plain number of
/// milliseconds, or is over the cap, naming the pause that is used; false
/// when the value is plain (or absent).
bool pauseWarning(const Settings& settings, wchar_t* warning, size_t capacity);

/// Why varnok.out cannot be opened with `error`, with the fix where the
/// facts give one (the file's owner and the command that hands it over).
void runLogFailure(Error error, wchar_t* text, size_t capacity);

#endif  // VARNOK_ADVICE_H
