// The platform services on POSIX systems: termios for the serial line, our
// own profile reader, nanosleep, and a time text that does not depend on
// the locale.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>
#include <wctype.h>

#include "platform-posix.h"
#include "platform.h"
#include "utf8.h"

const char kLogLineEnd[] = "\r\n";

namespace {

// A device is its file descriptor plus one, so that descriptor 0 (a
// program started with stdin closed) is not taken for no device.
int fdOf(Device device) {
  return int(device - 1);
}

// 64 bits: a 32-bit long of milliseconds would overflow after 25 days of
// uptime.
int64_t monotonicMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits a moment before trying a held device again; false once `deadline`
// has passed. errno is kept for the caller's verdict.
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

// The line of runs waiting for one port. flock, which keeps the turn, lets
// any waiter in next; runs are served in the order they came through a
// queue file per device in /run/lock, shared by every user: bytes 0 to 7
// hold the next ticket number, and each run holds a write lock on the byte
// kTicketBase + its ticket until it is done. POSIX record locks die with
// their process, so a run that is killed leaves no place behind: a waiter
// only looks for locks below its own.
int queueFd = -1;
uint64_t ticket = 0;
const off_t kTicketBase = 64;

bool lockRange(int fd, short type, off_t start, off_t length, int64_t deadline) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = length;
  // The counter's lock is held for microseconds, but a run stopped with
  // SIGSTOP could hold it: poll rather than wait without a bound.
  while (fcntl(fd, F_SETLK, &range) != 0)
    if ((errno != EACCES && errno != EAGAIN) || !pauseUntil(deadline)) return false;
  return true;
}

void leaveLine() {
  if (queueFd >= 0) close(queueFd);  // which drops every lock on it
  queueFd = -1;
}

// Takes this run's place in line for the character device at `path`. Where
// the queue cannot be had (no /run/lock, a file another user made private)
// the run goes without one, waiting as flock lets it.
void joinLine(const char* path, int64_t deadline) {
  struct stat device;
  if (queueFd >= 0 || stat(path, &device) != 0 || !S_ISCHR(device.st_mode)) return;
  // By the device's numbers: /dev/ttyUSB0 and its by-id link are one port.
  char name[64];
  snprintf(name, sizeof name, "/run/lock/varnok-%u-%u.queue", major(device.st_rdev),
           minor(device.st_rdev));
  // Opened without O_CREAT where it exists: in a sticky folder the kernel
  // refuses O_CREAT on another user's file (protected_regular).
  const int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = open(name, kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = open(name, kFlags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0)
      fchmod(fd, 0666);  // whatever our umask: every user's runs share it
    else if (errno == EEXIST)
      fd = open(name, kFlags);
  }
  struct stat queue;
  if (fd < 0) return;
  if (fstat(fd, &queue) != 0 || !S_ISREG(queue.st_mode) ||
      !lockRange(fd, F_WRLCK, 0, 1, deadline)) {
    close(fd);
    return;
  }
  unsigned char bytes[8] = {};
  uint64_t next = 0;
  if (pread(fd, bytes, 8, 0) == 8)
    for (int i = 7; i >= 0; --i) next = next << 8 | bytes[i];
  if (next >= uint64_t(1) << 40) next = 0;  // a damaged file must not reach past off_t
  for (int i = 0; i < 8; ++i) bytes[i] = (unsigned char)((next + 1) >> (8 * i));
  bool placed = pwrite(fd, bytes, 8, 0) == 8 &&
                lockRange(fd, F_WRLCK, kTicketBase + off_t(next), 1, deadline);
  lockRange(fd, F_UNLCK, 0, 1, deadline);
  if (!placed) {
    close(fd);
    return;
  }
  queueFd = fd;
  ticket = next;
}

// Whether a run that came earlier is still in line or on the port.
bool earlierRunInLine() {
  if (queueFd < 0 || ticket == 0) return false;
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kTicketBase;
  range.l_len = off_t(ticket);
  return fcntl(queueFd, F_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

}  // namespace

// Backslashes become slashes: the program names its settings file the
// Windows way, ".\\varnok.ini".
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

bool devicePath(const wchar_t* name, char* path, size_t capacity) {
  bool comName = (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' && (name[2] | 0x20) == 'm' &&
                 name[3] >= L'1' && name[3] <= L'9' && wcslen(name) <= 12;
  for (size_t i = 4; comName && name[i]; ++i) comName = name[i] >= L'0' && name[i] <= L'9';
  if (comName) {
    // COM1 is the first serial port, /dev/ttyS0.
    long number = wcstol(name + 3, nullptr, 10);
    int written = snprintf(path, capacity, "/dev/ttyS%ld", number - 1);
    return written > 0 && size_t(written) < capacity;
  }
  return narrowPath(name, path, capacity);
}

void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free descriptor, which is this one.
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) close(null);
  }
}

Device deviceOpen(const wchar_t* name, uint32_t patience, unsigned long* error) {
  char path[4096];
  if (!devicePath(name, path, sizeof path)) {
    *error = name[0] ? ENAMETOOLONG : ENOENT;
    return kBadDevice;
  }
  int64_t deadline = monotonicMilliseconds() + patience;
  joinLine(path, deadline);
  while (earlierRunInLine()) {
    if (!pauseUntil(deadline)) {
      *error = kErrorBusy;  // the place is kept for a later call
      return kBadDevice;
    }
  }
  // O_NONBLOCK: a modem line without carrier must not hold up the open.
  // EBUSY: another program set the tty's exclusive mode; it may let go.
  int fd;
  while ((fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EBUSY &&
         pauseUntil(deadline)) {
  }
  if (fd < 0) {
    *error = errno == EBUSY ? kErrorBusy : errno == EACCES || errno == EPERM ? kErrorDenied : errno;
    if (*error != kErrorBusy) leaveLine();
    return kBadDevice;
  }
  // Only a terminal device is a serial port. A setting that names a file
  // (a bare "notes.txt" is a path here) must not have it overwritten.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    *error = kErrorNotSerial;
    close(fd);
    leaveLine();
    return kBadDevice;
  }
  // The turn on the port is flock on the device: it holds against every
  // process, root included, and dies with the process that took it. The
  // tty's own exclusive mode (TIOCEXCL) is not used: it outlives a killed
  // run while anything else holds the tty open, and would keep every later
  // run out.
  int locked;
  while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK &&
         pauseUntil(deadline)) {
  }
  if (locked != 0) {
    *error = errno == EWOULDBLOCK ? kErrorBusy : errno;
    close(fd);
    if (*error != kErrorBusy) leaveLine();
    return kBadDevice;
  }
  return Device(fd) + 1;
}

bool parseDefinition(const wchar_t* definition, LineSettings* settings) {
  static const struct {
    long baud;
    speed_t speed;
  } kSpeeds[] = {{300, B300},     {600, B600},      {1200, B1200},   {2400, B2400},
                 {4800, B4800},   {9600, B9600},    {19200, B19200}, {38400, B38400},
                 {57600, B57600}, {115200, B115200}};
  wchar_t* end;
  long baud = wcstol(definition, &end, 10);
  settings->speed = 0;
  for (const auto& s : kSpeeds)
    if (s.baud == baud) settings->speed = s.speed;
  if (settings->speed == 0 || *end != L',') return false;
  wchar_t parity = towupper(end[1]);
  if ((parity != L'N' && parity != L'E' && parity != L'O') || end[2] != L',') return false;
  settings->parity = char(parity);
  settings->dataBits = int(wcstol(end + 3, &end, 10));
  if (settings->dataBits < 5 || settings->dataBits > 8 || *end != L',') return false;
  settings->stopBits = int(wcstol(end + 1, &end, 10));
  if ((settings->stopBits != 1 && settings->stopBits != 2) || *end != 0) return false;
  return true;
}

ConfigureResult deviceConfigure(Device device, const wchar_t* definition, unsigned long* error) {
  LineSettings settings;
  if (!parseDefinition(definition, &settings)) return kDefinitionRefused;
  int fd = fdOf(device);
  struct termios t;
  if (tcgetattr(fd, &t) != 0) {
    *error = errno;
    return kApplyFailed;
  }
  // Raw bytes both ways: no echo, no line editing, no CR/LF mapping, no
  // software flow control. A box that ignores XON/XOFF must never see the
  // line held by a stray 0x13.
  t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                         IXANY | INPCK);
  t.c_oflag &= ~tcflag_t(OPOST);
  t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CRTSCTS
  t.c_cflag &= ~tcflag_t(CRTSCTS);
#endif
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[settings.dataBits - 5] | CLOCAL | CREAD;
  if (settings.parity != 'N') t.c_cflag |= PARENB | (settings.parity == 'O' ? PARODD : 0);
  if (settings.stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, settings.speed);
  cfsetospeed(&t, settings.speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    *error = errno;
    return kApplyFailed;
  }
  // DTR stays up while the port is open: the nearest thing to Windows' DTR
  // handshaking. Raised after tcsetattr, since some drivers reset the modem
  // lines there. A pseudo-terminal has no modem lines and answers ENOTTY.
  int dtr = TIOCM_DTR;
  ioctl(fd, TIOCMBIS, &dtr);
  return kConfigured;
}

namespace {

// Set when a write gave up on a stalled line; the close then drops what the
// line still holds.
bool lineStalled = false;

// Writes every byte, retrying EINTR and partial writes, and waits for room
// while the device takes nothing, but not for ever.
bool writeAll(int fd, const unsigned char* bytes, uint32_t count, unsigned long* error) {
  uint32_t done = 0;
  int64_t lastProgress = monotonicMilliseconds();
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n > 0) {
      done += uint32_t(n);
      lastProgress = monotonicMilliseconds();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      *error = errno;
      return false;
    }
    int64_t left = kStallMilliseconds - (monotonicMilliseconds() - lastProgress);
    if (left <= 0) {
      *error = kErrorStalled;
      return false;
    }
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, int(left)) < 0 && errno != EINTR) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// Waits until the device has sent what it holds, giving up when its queue
// makes no progress for kStallMilliseconds: tcdrain alone has no limit, and
// a real line held after the kernel took the bytes would hang the run.
bool drain(int fd, unsigned long* error) {
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;  // no queue to watch
  int lastQueued = queued;
  int64_t lastProgress = monotonicMilliseconds();
  while (queued > 0) {
    if (queued < lastQueued) {
      lastQueued = queued;
      lastProgress = monotonicMilliseconds();
    } else if (monotonicMilliseconds() - lastProgress >= kStallMilliseconds) {
      *error = kErrorStalled;
      return false;
    }
    // A byte is about a millisecond at 9600 baud: look again when the
    // queue could be empty, but at least every 20 ms.
    struct timespec nap = {0, long(queued < 20 ? queued : 20) * 1000000L};
    nanosleep(&nap, nullptr);
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;
  }
  // The queue is empty; the driver's own wait for the last character to
  // leave the shift register is short and bounded.
  while (tcdrain(fd) != 0) {
    if (errno == EINTR) continue;
    if (errno == ENOTTY || errno == EINVAL) break;
    *error = errno;
    return false;
  }
  return true;
}

}  // namespace

bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, unsigned long* error) {
  // The pause after a digit starts once its message is on the wire.
  int fd = fdOf(device);
  bool written = writeAll(fd, bytes, count, error) && drain(fd, error);
  if (!written && *error == kErrorStalled) lineStalled = true;
  return written;
}

void deviceClose(Device device) {
  if (device == kNoDevice || device == kBadDevice) return;
  int fd = fdOf(device);
  // After a stall the line still holds bytes the drain gave up on, and
  // close would wait for them: a UART driver waits up to 30 s. Only then:
  // on a pseudo-terminal the flush would also take back what the far end
  // has not read yet.
  if (lineStalled) tcflush(fd, TCOFLUSH);
  lineStalled = false;
  close(fd);
  // The port first, then the place: the next run's open must find it free.
  leaveLine();
}

void errorText(unsigned long error, wchar_t* text, size_t capacity) {
  const char* message = strerror(int(error));
  size_t i = 0;
  for (; message[i] && i + 1 < capacity; ++i) text[i] = (unsigned char)message[i];
  if (capacity) text[i] = 0;
}

FileState fileState(const wchar_t* file, unsigned long* error) {
  char path[4096];
  if (!narrowPath(file, path, sizeof path)) return kFileMissing;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno;
    return errno == ENOENT ? kFileMissing : kFileUnreadable;
  }
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  close(fd);
  if (known && !S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegular;
    return kFileUnreadable;
  }
  return kFileReadable;
}

void workingDirectory(wchar_t* text, size_t capacity) {
  char path[4096];
  if (!getcwd(path, sizeof path)) strcpy(path, ".");
  widenInto(path, text, capacity);
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

void sleepMilliseconds(uint32_t milliseconds) {
  if (milliseconds == 0) return;
  struct timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
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

FILE* openRunLog(unsigned long* error) {
  // O_NONBLOCK: a FIFO named varnok.out must not hold the run (and the
  // port) until a reader comes; with none the open fails (ENXIO), and a
  // full one fails the write, which the run reports.
  int fd =
      open("varnok.out", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  FILE* log = fd < 0 ? nullptr : fdopen(fd, "a");
  if (!log) {
    *error = errno;
    if (fd >= 0) close(fd);
  }
  return log;
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
