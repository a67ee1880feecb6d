// The few services varnok needs from the system it runs on.
//
// The core of the program (the run, the key-command message, the serial
// line and the run log) is written once against this header. Each platform
// implements it in one file: platform-win32.cc with the Win32 serial,
// profile and wait services and the C runtime, platform-posix.cc with
// termios and a profile reader of our own. The unit tests link a fake in
// their place that records what the core asked for.
#ifndef VARNOK_PLATFORM_H
#define VARNOK_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

/// An open serial device. `kNoDevice` is no device at all; `kBadDevice` is
/// what a failed open leaves behind (Win32's INVALID_HANDLE_VALUE).
typedef intptr_t Device;
const Device kNoDevice = 0;
const Device kBadDevice = -1;

/// Failures of our own, beside the system's error codes (errno values on
/// POSIX, GetLastError codes on Windows). Bit 29 marks an application's own
/// code on Windows, and no errno comes near it.
const unsigned long kErrorStalled = 0x20000001;     // the device took no bytes for 2 s
const unsigned long kErrorNotSerial = 0x20000002;   // the port names a file, not a device
const unsigned long kErrorDenied = 0x20000003;      // the user may not use the port (POSIX)
const unsigned long kErrorBusy = 0x20000004;        // another run or program holds the port
const unsigned long kErrorNotRegular = 0x20000005;  // a settings file that is a FIFO or a device

/// How long a device may take no bytes at all before a write gives up.
const int kStallMilliseconds = 2000;

/// Opens whichever of descriptors 0 to 2 (stdin, stdout, stderr) the caller
/// left closed on the null device, so that a file the program opens later
/// never takes their place. Call it before anything else is opened.
void openStandardStreams();

/// Outcome of configuring an open device.
enum ConfigureResult {
  kConfigured,         // definition read and applied
  kApplyFailed,        // definition read, the device refused it
  kDefinitionRefused,  // the definition string could not be read
};

/// Opens the serial device `name` (as configured, e.g. "COM3" or a device
/// path) for reading and writing, without waiting for carrier. Runs of the
/// program take turns on one device, in the order they came: the first
/// call takes this run's place in line, and the device is opened once
/// every run that came earlier has let go of it (a run that died is
/// skipped) and no other program that locks it holds it, waiting up to
/// `patience` milliseconds in all. A later call after kErrorBusy keeps the
/// place. The place and the turn are held until deviceClose or the end of
/// the process, however it ends. Returns kBadDevice and sets `*error` when
/// it cannot open:
/// kErrorBusy when the device stayed held, kErrorNotSerial when the name
/// leads to something that is no serial device (a file would be overwritten
/// by the messages).
Device deviceOpen(const wchar_t* name, uint32_t patience, unsigned long* error);

/// Reads `definition` ("baud,parity,data bits,stop bits") and applies it to
/// `device`, with DTR handshaking or the nearest thing the platform has,
/// and a bound on every write. kApplyFailed, with `*error` set, when the
/// device refused any of it.
ConfigureResult deviceConfigure(Device device, const wchar_t* definition, unsigned long* error);

/// Writes all `count` bytes and returns once they have left for the line.
/// Returns false, with `*error` set, when the write failed or fell short;
/// kErrorStalled when the device took nothing for about kStallMilliseconds,
/// so that a line held by flow control never holds up the run for long.
bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, unsigned long* error);

/// Releases `device` and the turn on it; does nothing for kNoDevice or
/// kBadDevice.
void deviceClose(Device device);

/// A short text for a system error code from this header's functions.
void errorText(unsigned long error, wchar_t* text, size_t capacity);

/// Copies the value of `key` in `section` of the profile file `file` into
/// `value` (at most capacity - 1 characters, always terminated) and returns
/// the number of characters copied; 0 when there is no such value, or the
/// file is not a regular file.
uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t* file);

/// Blocks the thread for `milliseconds`.
void sleepMilliseconds(uint32_t milliseconds);

/// Whether the file `file` can be read, for telling a missing settings file
/// from one that cannot be read; the reason in `*error` for the latter
/// (kErrorNotRegular for a FIFO or a device, which the profile reader
/// does not read: it could keep it waiting for ever).
enum FileState { kFileReadable, kFileMissing, kFileUnreadable };
FileState fileState(const wchar_t* file, unsigned long* error);

/// The working directory, cut to capacity - 1 characters.
void workingDirectory(wchar_t* text, size_t capacity);

/// The local time at `seconds` since 1970 (UTC) as "Www Mmm dd hh:mm:ss
/// yyyy" (24 characters and a terminator), English names, the day
/// zero-padded; correct past 2038.
void timeText(int64_t seconds, char text[25]);

/// timeText for the time now.
void localTimeText(char text[25]);

/// Opens the run log for appending, creating it, without waiting on it (a
/// FIFO with no reader is refused, one that is full fails the write);
/// nullptr when it cannot, with `*error` set.
FILE* openRunLog(unsigned long* error);

/// Waits up to `patience` milliseconds until no other run writes its record
/// to `log`, and keeps others from writing theirs until `log` is closed.
/// False when the wait ran out (the record is written all the same).
bool lockRunLog(FILE* log, uint32_t patience);

// Set-up: what varnok --check and --ports report, and the fixes the
// messages name. Each platform says what it can; "" where it knows nothing.

/// Makes `folder` the working directory; false, with `*error` set, when it
/// cannot.
bool changeDirectory(const wchar_t* folder, unsigned long* error);

/// The full path of `file` (named relative to the working directory).
void fullPath(const wchar_t* file, wchar_t* text, size_t capacity);

/// The device the port name leads to (a link's target, the path COMn
/// stands for, Windows' "\.\COM5").
void deviceTarget(const wchar_t* port, wchar_t* text, size_t capacity);

/// After the device `port` was refused for lack of permission: what would
/// let this user open it ("; the device's group is dialout: ..."), or "".
void accessAdvice(const wchar_t* port, wchar_t* text, size_t capacity);

/// The processes that hold the device `port` open, where the system tells
/// ("pid 123 (minicom)"), or "".
void portHolders(const wchar_t* port, wchar_t* text, size_t capacity);

/// After the run log could not be opened with `error`: who owns it and the
/// command that fixes it (" (owned by root: ...)"), or "".
void runLogAdvice(unsigned long error, wchar_t* text, size_t capacity);

/// Whether varnok.out could be opened for appending, writing nothing to
/// it and leaving none behind where there was none; `*error` says why not.
bool runLogAppendable(unsigned long* error);

/// Calls `line` once for each serial port present, with a line that names
/// it and what tells it apart (driver, USB ids, serial number, other
/// names), opening none; returns how many.
typedef void (*PortLine)(const wchar_t* line, void* context);
int listPorts(PortLine line, void* context);

/// What a line feed of the run log becomes when written to the stream from
/// openRunLog, so that the file holds CR LF: "\n" where the stream is in
/// text mode and the runtime adds the CR, "\r\n" where it writes bytes as
/// they are.
extern const char kLogLineEnd[];

#endif  // VARNOK_PLATFORM_H
