// The platform on Windows: the Win32 serial, profile and wait services and
// the C runtime, called as the program has always called them.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <wctype.h>

#include "platform-win32.h"

// The log stream is opened in text mode: the runtime writes each line feed
// as CR LF.
const char kLogLineEnd[] = "\n";

Error errorFrom(unsigned long code) {
  ErrorKind kind = kErrorOther;
  switch (code) {
    case ERROR_SUCCESS:
      kind = kErrorNone;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      kind = kErrorNotFound;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      kind = kErrorDenied;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      kind = kErrorBusy;
      break;
  }
  return Error{kind, code};
}

void systemErrorText(unsigned long code, wchar_t* text, size_t capacity) {
  // English first: the run log holds one byte per character, and a message
  // in another script would come out as question marks.
  const DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = FormatMessageW(kFlags, NULL, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                text, DWORD(capacity), NULL);
  if (length == 0) length = FormatMessageW(kFlags, NULL, code, 0, text, DWORD(capacity), NULL);
  // The system's messages end in CR LF and a full stop; one line is wanted.
  while (length && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                    text[length - 1] == L'.' || text[length - 1] == L' '))
    text[--length] = 0;
  if (length == 0) _snwprintf(text, capacity, L"error %lu", code);
}

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

uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t* file) {
  // A device as the settings file (CON, or under Wine a link to /dev/zero)
  // would be read without end.
  Error error = {kErrorNone, 0};
  if (fileState(file, &error) == kFileUnreadable && error.kind == kErrorNotRegular) {
    if (capacity) value[0] = 0;
    return 0;
  }
  return GetPrivateProfileStringW(section, key, L"", value, capacity, file);
}

FileState fileState(const wchar_t* file, Error* error) {
  HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD type = GetFileType(h);
    CloseHandle(h);
    if (type == FILE_TYPE_DISK) return kFileReadable;
    *error = Error{kErrorNotRegular, 0};
    return kFileUnreadable;
  }
  DWORD code = GetLastError();
  // A folder opened without backup semantics refuses access.
  DWORD attributes = GetFileAttributesW(file);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = Error{kErrorNotRegular, code};
    return kFileUnreadable;
  }
  *error = errorFrom(code);
  return error->kind == kErrorNotFound ? kFileMissing : kFileUnreadable;
}

void sleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

int64_t monotonicMilliseconds() {
  return int64_t(GetTickCount64());
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

FILE* openRunLog(bool create, Error* error) {
  // A device (CON, or under Wine a link to a tty, perhaps the tuner's own
  // port) is not written to.
  Error state = {kErrorNone, 0};
  FileState found = fileState(L".\\varnok.out", &state);
  if ((found == kFileUnreadable && state.kind == kErrorNotRegular && state.code == 0) ||
      (found == kFileMissing && !create)) {
    *error = state;
    return nullptr;
  }
  _doserrno = 0;
  FILE* log = fopen(".\\varnok.out", "a+");
  // The runtime keeps the system's code of its failed open; GetLastError
  // may have been changed by its clean-up since.
  if (!log) *error = _doserrno ? errorFrom(_doserrno) : Error{kErrorOther, 0};
  return log;
}

bool runLogEndsLine(FILE* log) {
  // Read through the stream's own handle, which "a+" opened for reading
  // too; the runtime goes back to the end before each write.
  HANDLE h = HANDLE(_get_osfhandle(_fileno(log)));
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) || size.QuadPart == 0)
    return true;
  OVERLAPPED at;
  memset(&at, 0, sizeof at);
  at.Offset = DWORD(size.QuadPart - 1);
  at.OffsetHigh = DWORD((size.QuadPart - 1) >> 32);
  char last = '\n';
  DWORD read = 0;
  if (!ReadFile(h, &last, 1, &read, &at) || read != 1) last = '\n';
  return last == '\n';
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
