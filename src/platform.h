// The few services varnok needs from the system it runs on.
//
// The rest of the program is written once against this header. Each
// platform implements it in a few files chosen by CMake: *-win32.cc with
// the Win32 serial, profile and wait services and the C runtime, *-posix.cc
// with termios and stand-ins of our own. The unit tests link a fake in
// their place that records what the program asked for.
//
// The platform gives facts: what failed, in one closed set of kinds, who
// owns a device or a file, which processes hold a port. It writes no
// sentence for people; the advice unit words every fact, alike on every
// platform.
#ifndef VARNOK_PLATFORM_H
#define VARNOK_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/// What went wrong. Each platform maps its own codes to these in one place,
/// so that the same situation gives the same kind everywhere.
enum ErrorKind {
  kErrorNone,
  kErrorNotFound,    // no such device, file or folder
  kErrorDenied,      // this user may not open it
  kErrorBusy,        // another run or program holds the port
  kErrorNotSerial,   // the port names something that is no serial device
  kErrorStalled,     // the device took no bytes for kStallMilliseconds
  kErrorNotRegular,  // a file that is a folder, a FIFO or a device
  kErrorRefused,     // the line settings' definition could not be read
  kErrorOther,       // anything else: the system's own words tell
};

/// A failure: its kind, and the system's own code (errno, GetLastError)
/// caught at the moment it happened, for the system's words.
struct Error {
  ErrorKind kind;
  unsigned long code;
};

/// The system's own words for `code`, on one line, in English where the
/// system has them (the run log holds one byte per character).
void systemErrorText(unsigned long code, wchar_t* text, size_t capacity);

/// Room for a path, a user's or a group's name in the facts below.
const size_t kPathCapacity = 1024;
const size_t kNameCapacity = 64;

/// Opens whichever of descriptors 0 to 2 (stdin, stdout, stderr) the caller
/// left closed on the null device, so that a file the program opens later
/// never takes their place. Call it before anything else is opened.
void openStandardStreams();

// The serial device.

/// An open serial device. `kNoDevice` is no device at all; `kBadDevice` is
/// what a failed open leaves behind (Win32's INVALID_HANDLE_VALUE).
typedef intptr_t Device;
const Device kNoDevice = 0;
const Device kBadDevice = -1;

/// How long a device may take no bytes at all before a write gives up.
const int kStallMilliseconds = 2000;

/// Opens the serial device `name` (as configured, e.g. "COM3" or a device
/// path) for reading and writing, without waiting for carrier. Runs of the
/// program take turns on one device, in the order they came: the first
/// call takes this run's place in the queue, and the device is opened once
/// every run that came earlier has let go of it (a run that died is
/// skipped) and no other program that locks it holds it, waiting up to
/// `patience` milliseconds in all. A later call after kErrorBusy keeps the
/// place. The place and the turn are held until deviceClose or the end of
/// the process, however it ends. Returns kBadDevice and sets `*error` when
/// it cannot open: kErrorBusy when the device stayed held, kErrorNotSerial
/// when the name leads to something that is no serial device (a file would
/// be overwritten by the messages).
Device deviceOpen(const wchar_t* name, uint32_t patience, Error* error);

/// Sets `device` to `definition` ("baud,parity,data bits,stop bits"; the
/// program asks only for the tuner's "9600,N,8,1"), with DTR handshaking or
/// the nearest thing the platform has, and a bound on every write.
/// kErrorRefused when the definition cannot be read; any other kind when
/// the device refused the settings; kErrorNone when they were applied.
Error deviceConfigure(Device device, const wchar_t* definition);

/// Writes all `count` bytes and returns once they have left for the line.
/// Returns false, with `*error` set, when the write failed or fell short;
/// kErrorStalled when the device took nothing for about kStallMilliseconds,
/// so that a line held by flow control never holds up the run for long.
bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, Error* error);

/// Releases `device` and its place in the queue; does nothing for
/// kNoDevice or kBadDevice.
void deviceClose(Device device);

/// Leaves the queue of the port without having opened it, at once: a run
/// that gave up must not hold up those after it.
void leavePortQueue();

// Files, time and waiting.

/// Copies the value of `key` in `section` of the profile file `file` into
/// `value` (at most capacity - 1 characters, always terminated) and returns
/// the number of characters copied; 0 when there is no such value, or the
/// file is not a regular file.
uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t* file);

/// Blocks the thread for `milliseconds`.
void sleepMilliseconds(uint32_t milliseconds);

/// Milliseconds on a clock that never goes back, 64 bits wide: a 32-bit
/// count would overflow after 25 days of uptime.
int64_t monotonicMilliseconds();

/// Whether the file `file` can be read, for telling a missing settings file
/// from one that cannot be read; the reason in `*error` for the latter
/// (kErrorNotRegular for a folder, a FIFO or a device, which the profile
/// reader does not read: it could keep it waiting for ever).
enum FileState { kFileReadable, kFileMissing, kFileUnreadable };
FileState fileState(const wchar_t* file, Error* error);

/// The local time at `seconds` since 1970 (UTC) as "Www Mmm dd hh:mm:ss
/// yyyy" (24 characters and a terminator), English names, the day
/// zero-padded; correct past 2038.
void timeText(int64_t seconds, char text[25]);

/// timeText for the time now.
void localTimeText(char text[25]);

/// Opens the run log for appending, creating it, without waiting on it (a
/// FIFO with no reader is refused, one that is full fails the write);
/// nullptr when it cannot, with `*error` set. A varnok.out that is neither
/// a regular file nor a FIFO (a device, a socket, a link to one) is not
/// opened at all: kErrorNotRegular. A device opened by mistake could be
/// the tuner's own port.
/// With `create` false a missing varnok.out is not made: kErrorNotFound.
FILE* openRunLog(bool create, Error* error);

/// Whether the log is empty or ends with a line feed: false where a record
/// was cut short (a full disk), so that the next one starts on a line of
/// its own.
bool runLogEndsLine(FILE* log);

/// Waits up to `patience` milliseconds until no other run writes its record
/// to `log`, and keeps others from writing theirs until `log` is closed.
/// False when the wait ran out (the record is written all the same).
bool lockRunLog(FILE* log, uint32_t patience);

/// What a line feed of the run log becomes when written to the stream from
/// openRunLog, so that the file holds CR LF: "\n" where the stream is in
/// text mode and the runtime adds the CR, "\r\n" where it writes bytes as
/// they are.
extern const char kLogLineEnd[];

// Facts for setting up: what varnok --check and --ports report, and what
// the messages name. A fact a platform cannot tell is reported unknown.

/// Makes `folder` the working directory; false, with `*error` set, when it
/// cannot.
bool changeDirectory(const wchar_t* folder, Error* error);

/// The working directory, cut to capacity - 1 characters.
void workingDirectory(wchar_t* text, size_t capacity);

/// The full path of `file` (named relative to the working directory).
void fullPath(const wchar_t* file, wchar_t* text, size_t capacity);

/// The device path the port name stands for (COMn's path, Windows'
/// "\\.\COM5") and the device it leads to once links are followed (the
/// same where there is no link).
void deviceTarget(const wchar_t* port, wchar_t path[kPathCapacity], wchar_t target[kPathCapacity]);

/// Who may open a device: its owner, its group, whether the group may read
/// and write it, and whether this user is in that group by the user
/// database. `known` is false where the platform does not say.
struct DeviceAccess {
  bool known;
  wchar_t device[kPathCapacity];  // links followed
  wchar_t owner[kNameCapacity];
  wchar_t group[kNameCapacity];
  bool groupMayUse;
  wchar_t user[kNameCapacity];  // this process's user
  bool userInGroup;
};
void deviceAccess(const wchar_t* port, DeviceAccess* access);

/// A process that has a device open.
struct Holder {
  long pid;
  wchar_t name[kNameCapacity];
};

/// The processes other than this one that hold the device `port` open, as
/// far as this user may look; up to `capacity` of them. Returns how many,
/// 0 where none are seen or the platform does not say.
int portHolders(const wchar_t* port, Holder* holders, int capacity);

/// Who owns varnok.out, or the working directory where there is none yet:
/// `known` is false where the platform does not say; `mine` when it is
/// this process's user.
struct RunLogOwner {
  bool known;
  bool logExists;
  bool mine;
  wchar_t owner[kNameCapacity];
  wchar_t user[kNameCapacity];
  wchar_t folder[kPathCapacity];
};
void runLogOwner(RunLogOwner* owner);

/// Whether varnok.out could be opened for appending, writing nothing to
/// it and leaving none behind where there was none; `*error` says why not.
bool runLogAppendable(Error* error);

/// A serial port present, as varnok --ports lists it.
struct PortInfo {
  wchar_t name[kPathCapacity];    // for varnok.ini: a name that survives replugging if any
  wchar_t device[kPathCapacity];  // the device it leads to, where the name is a link
  wchar_t alias[16];              // the COM name that stands for it, where one does
  wchar_t driver[kNameCapacity];  // its driver, and a UART's type
  wchar_t about[256];             // what tells it apart: USB ids, maker, product, serial
  bool console;                   // the system console: no place for a tuner
};

/// Calls `found` once for each serial port present, opening none; returns
/// how many.
typedef void (*PortFound)(const PortInfo& port, void* context);
int listPorts(PortFound found, void* context);

/// A USB serial adapter whose interface a program took for itself through
/// usbfs (the braille display service does so), so that it has no port.
struct TakenAdapter {
  wchar_t about[256];           // USB ids, maker, product, serial
  wchar_t node[kPathCapacity];  // its usbfs device
  Holder holders[4];            // who has that open, as far as this user may see
  int holderCount;
};

/// The adapters taken so, up to `capacity`; how many.
int takenAdapters(TakenAdapter* adapters, int capacity);

#endif  // VARNOK_PLATFORM_H
