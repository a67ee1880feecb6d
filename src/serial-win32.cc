// The serial device on Windows: the Win32 serial services, and the queue
// of runs that take turns on one port.
#include <windows.h>

#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "platform-win32.h"

namespace {

// The queue of runs waiting for one port, shared by every run of the program
// on it whoever started it: run n holds a named mutex "...-port-COM5#n" for
// as long as it is in the queue or on the port, and goes once no lower number is
// held. Windows removes a named object with its last handle, so a run that
// dies, however it dies, leaves no place behind. A newcomer takes the
// number after the highest one held: a lower one freed by a run that is
// done is never handed out while a later run still waits.
const int kPlaces = 256;
HANDLE place = NULL;
int placeNumber = 0;
int firstMaybeHeld = 0;  // every number below it is known to be free
// A port's name and "#" with a place number fit in kPlaceNameCapacity.
const size_t kQueueNameCapacity = 300;
const size_t kPlaceNameCapacity = kQueueNameCapacity + 8;
wchar_t queueName[kQueueNameCapacity];

// "COM5", "com5" and "\\.\COM5" are one port and one queue. An object
// name may hold no backslash after its namespace.
void setQueueName(const wchar_t* port) {
  if (wcsncmp(port, L"\\\\.\\", 4) == 0) port += 4;
  size_t used = _snwprintf(queueName, kQueueNameCapacity - 1, L"Global\\varnok-port-");
  for (; *port && used + 1 < kQueueNameCapacity; ++port, ++used)
    queueName[used] = *port == L'\\' ? L'/' : towupper(*port);
  queueName[used] = 0;
}

void placeName(int number, wchar_t* name) {
  _snwprintf(name, kPlaceNameCapacity, L"%ls#%d", queueName, number);
  name[kPlaceNameCapacity - 1] = 0;
}

bool placeHeld(int number) {
  wchar_t name[kPlaceNameCapacity];
  placeName(number, name);
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name);
  if (h) CloseHandle(h);
  // Another user's run may keep us from opening it; it is there all the same.
  return h != NULL || GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

void leavePortQueue() {
  if (place) CloseHandle(place);
  place = NULL;
}

namespace {

// Takes this run's place; where all are taken the run goes without one.
void joinQueue(const wchar_t* port) {
  if (place) return;
  setQueueName(port);
  int highest = -1;
  for (int n = 0; n < kPlaces; ++n)
    if (placeHeld(n)) highest = n;
  for (int n = highest + 1; n < kPlaces && !place; ++n) {
    wchar_t name[kPlaceNameCapacity];
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

bool earlierRunQueued() {
  if (!place) return false;
  while (firstMaybeHeld < placeNumber && !placeHeld(firstMaybeHeld)) ++firstMaybeHeld;
  return firstMaybeHeld < placeNumber;
}

}  // namespace

Device deviceOpen(const wchar_t* name, uint32_t patience, Error* error) {
  DWORD start = GetTickCount();
  joinQueue(name);
  while (earlierRunQueued()) {
    if (GetTickCount() - start >= patience) {
      *error = Error{kErrorBusy, 0};  // the place is kept for a later call
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
    *error = errorFrom(GetLastError());
    // A port another program holds refuses access, as does a folder.
    DWORD attributes = GetFileAttributesW(path);
    if (error->kind == kErrorDenied)
      error->kind = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                        ? kErrorNotSerial
                        : kErrorBusy;
    if (error->kind != kErrorBusy) leavePortQueue();
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
    leavePortQueue();
    *error = Error{kErrorNotSerial, 0};
    return kBadDevice;
  }
  return Device(h);
}

Error deviceConfigure(Device device, const wchar_t* definition) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;  // 28 bytes
  if (!BuildCommDCBW(definition, &dcb)) return Error{kErrorRefused, 0};
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  if (!SetCommState(HANDLE(device), &dcb)) return errorFrom(GetLastError());
  // Without a time-out a write on a line that takes nothing never ends.
  // Reads are never made; they would return at once.
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = 2;  // a byte is about 1 ms at 9600 baud
  timeouts.WriteTotalTimeoutConstant = kStallMilliseconds;
  if (!SetCommTimeouts(HANDLE(device), &timeouts)) return errorFrom(GetLastError());
  return Error{kErrorNone, 0};
}

bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, Error* error) {
  OVERLAPPED osWrite;
  memset(&osWrite, 0, sizeof osWrite);
  osWrite.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (osWrite.hEvent == NULL) {
    *error = errorFrom(GetLastError());
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
  if (!done) *error = errorFrom(GetLastError());
  CloseHandle(osWrite.hEvent);
  // A write that fell short ran into the time-out: the line took nothing,
  // and the tuner would take the next message for garbage.
  if (done && dwWritten != count) {
    *error = Error{kErrorStalled, 0};
    done = false;
  }
  return done;
}

void deviceClose(Device device) {
  if (device == kNoDevice || device == kBadDevice) return;
  // The port first, then the turn: the next run's open must not find the
  // port still held.
  CloseHandle(HANDLE(device));
  leavePortQueue();
}
