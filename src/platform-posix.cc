// The platform on POSIX systems, but for the serial device, its queue and
// the set-up facts: errors, text, files, our own profile reader's glue,
// waiting, a time text that does not depend on the locale, and the run
// log's file.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform-posix.h"
#include "profile.h"
#include "utf8.h"

const char kLogLineEnd[] = "\r\n";

Error errorFrom(int code) {
  ErrorKind kind = kErrorOther;
  switch (code) {
    case 0:
      kind = kErrorNone;
      break;
    case ENOENT:
    case ENODEV:
    case ENOTDIR:
      kind = kErrorNotFound;
      break;
    case EACCES:
    case EPERM:
      kind = kErrorDenied;
      break;
    case EBUSY:
      kind = kErrorBusy;
      break;
    case EISDIR:
      kind = kErrorNotRegular;
      break;
  }
  return Error{kind, (unsigned long)code};
}

void systemErrorText(unsigned long code, wchar_t* text, size_t capacity) {
  // The program never sets a locale: strerror speaks English.
  widenInto(strerror(int(code)), text, capacity);
}

void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free descriptor, which is this one.
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) close(null);
  }
}

// Backslashes become slashes: the program names its files the Windows way,
// ".\\varnok.ini".
bool narrowPath(const wchar_t* name, char* path, size_t capacity) {
  size_t used = 0;
  for (const wchar_t* c = name; *c; ++c) {
    unsigned char bytes[4];
    size_t count = encodeUtf8(uint32_t(*c) == L'\\' ? '/' : uint32_t(*c), bytes);
    if (used + count >= capacity) return false;
    memcpy(path + used, bytes, count);
    used += count;
  }
  path[used] = 0;
  return used > 0;
}

void widenInto(const char* text, wchar_t* wide, size_t capacity) {
  struct Sink {
    wchar_t* next;
    wchar_t* end;
  } sink = {wide, wide + capacity - 1};
  EmitChar put = [](void* context, uint32_t c) {
    Sink* s = static_cast<Sink*>(context);
    if (s->next < s->end) *s->next++ = wchar_t(c);
  };
  Utf8Decoder decoder;
  utf8Start(&decoder);
  for (const char* p = text; *p; ++p) utf8Feed(&decoder, (unsigned char)*p, put, &sink);
  utf8Finish(&decoder, put, &sink);
  *sink.next = 0;
}

wchar_t* widenUtf8(const char* text) {
  // A character is never more than one byte's worth of wide characters.
  size_t capacity = strlen(text) + 1;
  wchar_t* wide = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
  if (wide) widenInto(text, wide, capacity);
  return wide;
}

int64_t monotonicMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool pauseUntil(int64_t deadline) {
  int saved = errno;
  int64_t left = deadline - monotonicMilliseconds();
  if (left > 0) {
    struct timespec nap = {0, long(left < 20 ? left : 20) * 1000000L};
    nanosleep(&nap, nullptr);
  }
  errno = saved;
  return left > 0;
}

void sleepMilliseconds(uint32_t milliseconds) {
  if (milliseconds == 0) return;
  struct timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

FileState fileState(const wchar_t* file, Error* error) {
  char path[4096];
  if (!narrowPath(file, path, sizeof path)) return kFileMissing;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errorFrom(errno);
    return errno == ENOENT ? kFileMissing : kFileUnreadable;
  }
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  close(fd);
  if (known && !S_ISREG(st.st_mode)) {
    *error = Error{kErrorNotRegular, S_ISDIR(st.st_mode) ? (unsigned long)EISDIR : 0};
    return kFileUnreadable;
  }
  return kFileReadable;
}

uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t* file) {
  if (capacity) value[0] = 0;
  char path[4096];
  if (!narrowPath(file, path, sizeof path)) return 0;
  // Without waiting: a FIFO would hold the open until a writer came, and a
  // device such as /dev/zero never ends. Only a regular file is read, and
  // only its first kProfileMaxBytes, so that the answer comes in time.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 0;
  }
  ProfileScan scan;
  profileScanStart(&scan, section, key);
  unsigned char chunk[4096];
  ssize_t n = 0;
  size_t total = 0;
  while (total < kProfileMaxBytes && (n = read(fd, chunk, sizeof chunk)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    total += size_t(n);
    if (profileScanFeed(&scan, chunk, size_t(n))) break;
  }
  close(fd);
  // A file that fails half-way (a bad disk) gives no value rather than one
  // read from part of it.
  if (n < 0) return 0;
  return profileScanFinish(&scan, value, capacity);
}

void formatTimeText(const struct tm* when, char text[25]) {
  // The program never sets a locale: strftime speaks the C locale's
  // English, and pads the day with a zero as ctime does on Windows. A year
  // past 9999 would not fit; its first 24 characters are kept.
  char rendered[64];
  if (strftime(rendered, sizeof rendered, "%a %b %d %H:%M:%S %Y", when) < 24)
    strcpy(rendered, "Thu Jan 01 00:00:00 1970");
  memcpy(text, rendered, 24);
  text[24] = 0;
}

void timeText(int64_t seconds, char text[25]) {
  time_t when = time_t(seconds);
  struct tm local;
  if (!localtime_r(&when, &local)) memset(&local, 0, sizeof local);
  formatTimeText(&local, text);
}

void localTimeText(char text[25]) {
  timeText(int64_t(time(nullptr)), text);
}

namespace {

bool regularOrFifo(const struct stat& st) {
  return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode);
}

}  // namespace

FILE* openRunLog(bool create, Error* error) {
  // Looked at before it is opened: opening a device has effects of its own
  // (a tty raises its modem lines), and closing the tuner's own port here
  // would drop this run's record locks on it, its place in the queue.
  struct stat st;
  if (stat("varnok.out", &st) == 0 && !regularOrFifo(st)) {
    *error = Error{kErrorNotRegular, S_ISDIR(st.st_mode) ? (unsigned long)EISDIR : 0};
    return nullptr;
  }
  // O_NONBLOCK: a FIFO named varnok.out must not hold the run (and the
  // port) until a reader comes; with none the open fails (ENXIO), and a
  // full one fails the write, which the run reports.
  int fd =
      open("varnok.out",
           O_WRONLY | O_APPEND | (create ? O_CREAT : 0) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd >= 0 && (fstat(fd, &st) != 0 || !regularOrFifo(st))) {
    close(fd);  // changed since it was looked at
    *error = Error{kErrorNotRegular, 0};
    return nullptr;
  }
  FILE* log = fd < 0 ? nullptr : fdopen(fd, "a");
  if (!log) {
    *error = errorFrom(errno);
    if (fd >= 0) close(fd);
  }
  return log;
}

bool runLogEndsLine(FILE* log) {
  // The log is open for writing only; the last byte is read through a
  // reading descriptor of its own, on the same file.
  struct stat st, same;
  if (fstat(fileno(log), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return true;
  int fd = open("varnok.out", O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  unsigned char last = '\n';
  if (fd >= 0 && fstat(fd, &same) == 0 && same.st_ino == st.st_ino && same.st_dev == st.st_dev &&
      pread(fd, &last, 1, st.st_size - 1) != 1)
    last = '\n';
  if (fd >= 0) close(fd);
  return last == '\n';
}

bool lockRunLog(FILE* log, uint32_t patience) {
  int64_t deadline = monotonicMilliseconds() + patience;
  int fd = fileno(log);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // A file system without locks: nothing to wait for.
    if (errno != EWOULDBLOCK && errno != EINTR) return true;
    if (!pauseUntil(deadline)) return false;
  }
  return true;
}
