// The platform services on Windows: the Win32 serial, profile and wait
// services and the C runtime, called as the program has always called them.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <wctype.h>

#include "platform.h"

// The log stream is opened in text mode: the runtime writes each line feed
// as CR LF.
const char kLogLineEnd[] = "\n";

void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    int null = _open("NUL", _O_RDWR);
    if (null >= 0 && null != fd) {
      _dup2(null, fd);
      _close(null);
    }
  }
}

namespace {

// The line of runs waiting for one port, shared by every run of the program
// on it whoever started it: run n holds a named mutex "...-port-COM5#n" for
// as long as it is in line or on the port, and goes once no lower number is
// held. Windows removes a named object with its last handle, so a run that
// dies, however it dies, leaves no place behind. A newcomer takes the
// number after the highest one held: a lower one freed by a run that is
// done is never handed out while a later run still waits.
const int kPlaces = 256;
HANDLE place = NULL;
int placeNumber = 0;
int firstMaybeHeld = 0;  // every number below it is known to be free
wchar_t lineName[300];

// "COM5", "com5" and "\\.\COM5" are one port and one line. An object
// name may hold no backslash after its namespace.
void setLineName(const wchar_t* port) {
  if (wcsncmp(port, L"\\\\.\\", 4) == 0) port += 4;
  size_t used = _snwprintf(lineName, 299, L"Global\\varnok-port-");
  for (; *port && used + 12 < 300; ++port, ++used)
    lineName[used] = *port == L'\\' ? L'/' : towupper(*port);
  lineName[used] = 0;
}

void placeName(int number, wchar_t* name) {
  _snwprintf(name, 320, L"%ls#%d", lineName, number);
  name[319] = 0;
}

bool placeHeld(int number) {
  wchar_t name[320];
  placeName(number, name);
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name);
  if (h) CloseHandle(h);
  // Another user's run may keep us from opening it; it is there all the same.
  return h != NULL || GetLastError() == ERROR_ACCESS_DENIED;
}

void leaveLine() {
  if (place) CloseHandle(place);
  place = NULL;
}

// Takes this run's place; where all are taken the run goes without one.
void joinLine(const wchar_t* port) {
  if (place) return;
  setLineName(port);
  int highest = -1;
  for (int n = 0; n < kPlaces; ++n)
    if (placeHeld(n)) highest = n;
  for (int n = highest + 1; n < kPlaces && !place; ++n) {
    wchar_t name[320];
    placeName(n, name);
    HANDLE h = CreateMutexW(NULL, FALSE, name);
    if (h && GetLastError() != ERROR_ALREADY_EXISTS) {
      place = h;
      placeNumber = n;
    } else if (h) {
      CloseHandle(h);  // a run that came at the same moment took it
    }
  }
  firstMaybeHeld = 0;
}

bool earlierRunInLine() {
  if (!place) return false;
  while (firstMaybeHeld < placeNumber && !placeHeld(firstMaybeHeld)) ++firstMaybeHeld;
  return firstMaybeHeld < placeNumber;
}

}  // namespace

Device deviceOpen(const wchar_t* name, uint32_t patience, unsigned long* error) {
  DWORD start = GetTickCount();
  joinLine(name);
  while (earlierRunInLine()) {
    if (GetTickCount() - start >= patience) {
      *error = kErrorBusy;  // the place is kept for a later call
      return kBadDevice;
    }
    Sleep(20);
  }
  // Through the device namespace, so that COM10 and above open too; a name
  // that already is a device path is used as it stands.
  wchar_t path[4 + 260];
  if (wcsncmp(name, L"\\\\.\\", 4) == 0)
    wcsncpy(path, name, 263);
  else
    _snwprintf(path, 263, L"\\\\.\\%ls", name);
  path[263] = 0;
  HANDLE h;
  // Another program holding the port makes the open fail with access
  // denied; it may let go within our patience.
  while ((h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL)) ==
             INVALID_HANDLE_VALUE &&
         GetLastError() == ERROR_ACCESS_DENIED && GetTickCount() - start < patience)
    Sleep(50);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    DWORD attributes = GetFileAttributesW(path);
    if (*error == ERROR_ACCESS_DENIED)
      *error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? kErrorNotSerial
                   : kErrorBusy;
    if (*error != kErrorBusy) leaveLine();
    return kBadDevice;
  }
  // "\\.\C:\notes.txt" opens the file: the messages would overwrite it.
  // NUL, CON and LPT1 are character devices too, but have no line
  // settings: only a device that gives its DCB is a serial port.
  DCB current;
  memset(&current, 0, sizeof current);
  current.DCBlength = sizeof current;
  if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &current)) {
    CloseHandle(h);
    leaveLine();
    *error = kErrorNotSerial;
    return kBadDevice;
  }
  return Device(h);
}

ConfigureResult deviceConfigure(Device device, const wchar_t* definition, unsigned long* error) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;  // 28 bytes
  if (!BuildCommDCBW(definition, &dcb)) return kDefinitionRefused;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  if (!SetCommState(HANDLE(device), &dcb)) {
    *error = GetLastError();
    return kApplyFailed;
  }
  // Without a time-out a write on a line that takes nothing never ends.
  // Reads are never made; they would return at once.
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = 2;  // a byte is about 1 ms at 9600 baud
  timeouts.WriteTotalTimeoutConstant = kStallMilliseconds;
  if (!SetCommTimeouts(HANDLE(device), &timeouts)) {
    *error = GetLastError();
    return kApplyFailed;
  }
  return kConfigured;
}

bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, unsigned long* error) {
  OVERLAPPED osWrite;
  memset(&osWrite, 0, sizeof osWrite);
  osWrite.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (osWrite.hEvent == NULL) {
    *error = GetLastError();
    return false;
  }
  DWORD dwWritten = 0;
  bool done;
  if (WriteFile(HANDLE(device), bytes, count, &dwWritten, &osWrite)) {
    done = true;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    done = GetOverlappedResult(HANDLE(device), &osWrite, &dwWritten, TRUE) != 0;
  } else {
    done = false;
  }
  if (!done) *error = GetLastError();
  CloseHandle(osWrite.hEvent);
  // A write that fell short ran into the time-out: the line took nothing,
  // and the tuner would take the next message for garbage.
  if (done && dwWritten != count) {
    *error = kErrorStalled;
    done = false;
  }
  return done;
}

void deviceClose(Device device) {
  if (device == kNoDevice || device == kBadDevice) return;
  // The port first, then the turn: the next run's open must not find the
  // port still held.
  CloseHandle(HANDLE(device));
  leaveLine();
}

void errorText(unsigned long error, wchar_t* text, size_t capacity) {
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                error, 0, text, DWORD(capacity), NULL);
  // The system's messages end in CR LF and a full stop; one line is wanted.
  while (length && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                    text[length - 1] == L'.' || text[length - 1] == L' '))
    text[--length] = 0;
  if (length == 0) _snwprintf(text, capacity, L"error %lu", error);
}

uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t* file) {
  // A device as the settings file (CON, or under Wine a link to /dev/zero)
  // would be read without end.
  unsigned long error = 0;
  if (fileState(file, &error) == kFileUnreadable && error == kErrorNotRegular) {
    if (capacity) value[0] = 0;
    return 0;
  }
  return GetPrivateProfileStringW(section, key, L"", value, capacity, file);
}

FileState fileState(const wchar_t* file, unsigned long* error) {
  HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD type = GetFileType(h);
    CloseHandle(h);
    if (type == FILE_TYPE_DISK) return kFileReadable;
    *error = kErrorNotRegular;
    return kFileUnreadable;
  }
  *error = GetLastError();
  return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? kFileMissing
                                                                          : kFileUnreadable;
}

void workingDirectory(wchar_t* text, size_t capacity) {
  DWORD length = GetCurrentDirectoryW(DWORD(capacity), text);
  if (length == 0 || length >= capacity) wcscpy(text, L".");
}

void sleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

void timeText(int64_t seconds, char text[25]) {
  // The 64-bit forms: time and ctime of the 32-bit runtime end in 2038.
  __time64_t currTime = seconds;
  // ctime gives "Www Mmm dd hh:mm:ss yyyy\n", the day zero-padded; the line
  // feed is not wanted.
  const char* rendered = _ctime64(&currTime);
  if (!rendered || strlen(rendered) < 24) rendered = "Thu Jan 01 00:00:00 1970";
  memcpy(text, rendered, 24);
  text[24] = 0;
}

void localTimeText(char text[25]) {
  timeText(_time64(NULL), text);
}

FILE* openRunLog(unsigned long* error) {
  FILE* log = fopen(".\\varnok.out", "a+");
  if (!log) *error = GetLastError();
  return log;
}

bool lockRunLog(FILE* log, uint32_t patience) {
  // A lock far past the end of any log: it keeps out the next run's lock,
  // not anyone's writes.
  HANDLE h = HANDLE(_get_osfhandle(_fileno(log)));
  DWORD start = GetTickCount();
  for (;;) {
    OVERLAPPED at;
    memset(&at, 0, sizeof at);
    at.OffsetHigh = 0x7FFFFFFF;
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
      return true;
    if (GetLastError() != ERROR_LOCK_VIOLATION) return true;  // no locks here
    if (GetTickCount() - start >= patience) return false;
    Sleep(20);
  }
}
