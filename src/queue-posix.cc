// The queue of runs waiting for one port, kept in the port's own record
// locks. flock, which keeps the turn, lets any waiter in next; runs are
// served in the order they came because each holds a POSIX write lock on
// one byte of the device, far past anything a driver reads, at an offset
// that is its arrival: the monotonic time in milliseconds, then its pid
// for runs of the same millisecond. A run waits while any lock below its
// own is held.
//
// Only a process that could open the device can lock it, so no one who
// may not use the port can stall or reorder the runs; no file is shared,
// so no folder needs to be writable by all; the locks die with their
// process and with the descriptor's close, so a run that is killed or that
// gives up leaves no place behind. Two names of one port (/dev/ttyUSB0 and
// its by-id link) are one inode and meet in one queue.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform-posix.h"

namespace {

// 2^61: clear of any offset a driver or another program uses, with room
// for 2^38 milliseconds (8 years of uptime) shifted past a 22-bit pid.
const off_t kQueueBase = off_t(1) << 61;
const int kPidBits = 22;
const int64_t kArrivalLimit = int64_t(1) << 38;

int queueFd = -1;  // the device, while it waits in the queue
off_t place = 0;

}  // namespace

void joinPortQueue(int fd) {
  int64_t arrival = monotonicMilliseconds() % kArrivalLimit;
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kQueueBase + off_t(arrival << kPidBits | (getpid() & ((1 << kPidBits) - 1)));
  range.l_len = 1;
  // No one else locks this byte: the lock is ours at once, or the file
  // system has no record locks and the run goes without a place.
  if (fcntl(fd, F_SETLK, &range) != 0) return;
  queueFd = fd;
  place = range.l_start;
}

bool earlierRunQueued() {
  if (queueFd < 0) return false;
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kQueueBase;
  range.l_len = place - kQueueBase;
  return fcntl(queueFd, F_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

int queuedDevice() {
  return queueFd;
}

void leftQueueForPort() {
  // The lock stays with the open device until deviceClose.
  queueFd = -1;
}

void leavePortQueue() {
  if (queueFd >= 0) close(queueFd);  // which drops its lock
  queueFd = -1;
}
