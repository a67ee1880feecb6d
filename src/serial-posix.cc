// The serial device on POSIX systems: termios, raw bytes, DTR up, every
// write bounded in time.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <wchar.h>

#include "platform-posix.h"

namespace {

// A device is its file descriptor plus one, so that descriptor 0 (a
// program started with stdin closed) is not taken for no device.
int fdOf(Device device) {
  return int(device - 1);
}

// "COM" and one to nine digits fit an int; longer is a path.
const size_t kLongestComName = 12;

// Opens the device at `path`. EBUSY: another program set the tty's
// exclusive mode; it may let go before `deadline`. Only a terminal device
// is a serial port: a setting that names a file (a bare "notes.txt" is a
// path here) must not have it overwritten.
int openDevice(const char* path, int64_t deadline, Error* error) {
  // O_NONBLOCK: a modem line without carrier must not hold up the open.
  int fd;
  while ((fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EBUSY &&
         pauseUntil(deadline)) {
  }
  if (fd < 0) {
    *error = errorFrom(errno);
    // A folder is no more a port than a file is.
    if (error->kind == kErrorNotRegular) error->kind = kErrorNotSerial;
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    *error = Error{kErrorNotSerial, 0};
    close(fd);
    return -1;
  }
  return fd;
}

// The turn on the port is flock on the device: it holds against every
// process, root included, and dies with the process that took it. The
// tty's own exclusive mode (TIOCEXCL) is not used: it outlives a killed run
// while anything else holds the tty open, and would keep every later run
// out.
bool takeTurn(int fd, int64_t deadline, Error* error) {
  int locked;
  while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK &&
         pauseUntil(deadline)) {
  }
  if (locked == 0) return true;
  *error = errno == EWOULDBLOCK ? Error{kErrorBusy, 0} : errorFrom(errno);
  return false;
}

}  // namespace

bool devicePath(const wchar_t* name, char* path, size_t capacity) {
  bool comName = (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' && (name[2] | 0x20) == 'm' &&
                 name[3] >= L'1' && name[3] <= L'9' && wcslen(name) <= kLongestComName;
  for (size_t i = 4; comName && name[i]; ++i) comName = name[i] >= L'0' && name[i] <= L'9';
  if (comName) {
    // COM1 is the first serial port, /dev/ttyS0.
    long number = wcstol(name + 3, nullptr, 10);
    int written = snprintf(path, capacity, "/dev/ttyS%ld", number - 1);
    return written > 0 && size_t(written) < capacity;
  }
  return narrowPath(name, path, capacity);
}

Device deviceOpen(const wchar_t* name, uint32_t patience, Error* error) {
  int64_t deadline = monotonicMilliseconds() + patience;
  int fd = queuedDevice();
  if (fd < 0) {
    char path[4096];
    if (!devicePath(name, path, sizeof path)) {
      *error = errorFrom(name[0] ? ENAMETOOLONG : ENOENT);
      return kBadDevice;
    }
    if ((fd = openDevice(path, deadline, error)) < 0) return kBadDevice;
    joinPortQueue(fd);
  }
  while (earlierRunQueued()) {
    if (!pauseUntil(deadline)) {
      *error = Error{kErrorBusy, 0};  // the place is kept for a later call
      return kBadDevice;
    }
  }
  if (!takeTurn(fd, deadline, error)) {
    if (error->kind != kErrorBusy) leavePortQueue();
    return kBadDevice;
  }
  leftQueueForPort();
  return Device(fd) + 1;
}

namespace {

// Raw bytes both ways at 9600 8N1: no echo, no line editing, no CR/LF
// mapping, no software flow control. A box that ignores XON/XOFF must
// never see the line held by a stray 0x13.
void makeRaw(struct termios* t) {
  t->c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                          IXANY | INPCK);
  t->c_oflag &= ~tcflag_t(OPOST);
  t->c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CRTSCTS
  t->c_cflag &= ~tcflag_t(CRTSCTS);
#endif
  t->c_cflag |= CS8 | CLOCAL | CREAD;
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
  cfsetispeed(t, B9600);
  cfsetospeed(t, B9600);
}

}  // namespace

Error deviceConfigure(Device device, const wchar_t* definition) {
  // The tuner's settings are the only ones the program asks for.
  if (wcscmp(definition, L"9600,N,8,1") != 0) return Error{kErrorRefused, 0};
  int fd = fdOf(device);
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return errorFrom(errno);
  makeRaw(&t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return errorFrom(errno);
  // DTR stays up while the port is open: the nearest thing to Windows' DTR
  // handshaking. Raised after tcsetattr, since some drivers reset the modem
  // lines there. A pseudo-terminal has no modem lines and answers ENOTTY.
  int dtr = TIOCM_DTR;
  ioctl(fd, TIOCMBIS, &dtr);
  return Error{kErrorNone, 0};
}

namespace {

// Set when a write gave up on a stalled line; the close then drops what the
// line still holds.
bool lineStalled = false;

// Writes every byte, retrying EINTR and partial writes, and waits for room
// while the device takes nothing, but not for ever.
bool writeAll(int fd, const unsigned char* bytes, uint32_t count, Error* error) {
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
      *error = errorFrom(errno);
      return false;
    }
    int64_t left = kStallMilliseconds - (monotonicMilliseconds() - lastProgress);
    if (left <= 0) {
      *error = Error{kErrorStalled, 0};
      return false;
    }
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, int(left)) < 0 && errno != EINTR) {
      *error = errorFrom(errno);
      return false;
    }
  }
  return true;
}

// Waits until the device has sent what it holds, giving up when its queue
// makes no progress for kStallMilliseconds: tcdrain alone has no limit, and
// a real line held after the kernel took the bytes would hang the run.
bool drain(int fd, Error* error) {
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;  // no queue to watch
  int lastQueued = queued;
  int64_t lastProgress = monotonicMilliseconds();
  while (queued > 0) {
    if (queued < lastQueued) {
      lastQueued = queued;
      lastProgress = monotonicMilliseconds();
    } else if (monotonicMilliseconds() - lastProgress >= kStallMilliseconds) {
      *error = Error{kErrorStalled, 0};
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
    *error = errorFrom(errno);
    return false;
  }
  return true;
}

}  // namespace

bool deviceWrite(Device device, const unsigned char* bytes, uint32_t count, Error* error) {
  // The pause after a digit starts once its message is on the wire.
  int fd = fdOf(device);
  bool written = writeAll(fd, bytes, count, error) && drain(fd, error);
  if (!written && error->kind == kErrorStalled) lineStalled = true;
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
  // Which drops the turn and the place in the queue with it.
  close(fd);
}
