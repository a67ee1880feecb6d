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

// The turn on the port: a named mutex shared by every run of the program on
// that port. Windows lets go of it, abandoned, when its owner dies however
// it dies, and a waiter then gets it (WAIT_ABANDONED counts as acquired).
// The open without sharing alone would not do: Wine does not enforce it.
HANDLE portTurn = NULL;

// "COM5", "com5" and "\\.\COM5" are one port and one turn. A mutex name
// may hold no backslash.
void turnName(const wchar_t* port, wchar_t* name, size_t capacity) {
  if (wcsncmp(port, L"\\\\.\\", 4) == 0) port += 4;
  size_t used = _snwprintf(name, capacity - 1, L"Global\\varnok-port-");
  for (; *port && used + 1 < capacity; ++port, ++used)
    name[used] = *port == L'\\' ? L'/' : towupper(*port);
  name[used] = 0;
}

void releaseTurn() {
  if (!portTurn) return;
  ReleaseMutex(portTurn);
  CloseHandle(portTurn);
  portTurn = NULL;
}

// Waits for the turn on `port` until `patience` milliseconds after `start`
// (GetTickCount); true when it is ours, or there is none to take. A mutex
// that another user's run made may refuse us access; it lives only as long
// as some run holds it open, so it is tried again until the deadline.
bool takeTurn(const wchar_t* port, DWORD start, DWORD patience) {
  wchar_t name[300];
  turnName(port, name, 300);
  while ((portTurn = CreateMutexW(NULL, FALSE, name)) == NULL) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return true;  // the open alone decides
    if (GetTickCount() - start >= patience) return false;
    Sleep(50);
  }
  DWORD spent = GetTickCount() - start;
  DWORD waited = WaitForSingleObject(portTurn, spent < patience ? patience - spent : 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return true;
  CloseHandle(portTurn);
  portTurn = NULL;
  return false;
}

}  // namespace

Device deviceOpen(const wchar_t* name, uint32_t patience, unsigned long* error) {
  DWORD start = GetTickCount();
  if (!takeTurn(name, start, patience)) {
    *error = kErrorBusy;
    return kBadDevice;
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
    releaseTurn();
    return kBadDevice;
  }
  // "\\.\C:\notes.txt" opens the file: the messages would overwrite it.
  if (GetFileType(h) != FILE_TYPE_CHAR) {
    CloseHandle(h);
    releaseTurn();
    *error = kErrorNotSerial;
    return kBadDevice;
  }
  return Device(h);
}

ConfigureResult deviceConfigure(Device device, const wchar_t* definition) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;  // 28 bytes
  if (!BuildCommDCBW(definition, &dcb)) return kDefinitionRefused;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  bool applied = SetCommState(HANDLE(device), &dcb) != 0;
  // Without a time-out a write on a line that takes nothing never ends.
  // Reads are never made; they would return at once.
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = 2;  // a byte is about 1 ms at 9600 baud
  timeouts.WriteTotalTimeoutConstant = kStallMilliseconds;
  applied = SetCommTimeouts(HANDLE(device), &timeouts) != 0 && applied;
  return applied ? kConfigured : kApplyFailed;
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
  releaseTurn();
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
  return GetPrivateProfileStringW(section, key, L"", value, capacity, file);
}

FileState fileState(const wchar_t* file, unsigned long* error) {
  HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return kFileReadable;
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
