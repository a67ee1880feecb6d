// What the POSIX platform files share among themselves, exposed too so that
// it can be tested without a device. Nothing outside the platform uses it.
#ifndef VARNOK_PLATFORM_POSIX_H
#define VARNOK_PLATFORM_POSIX_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "platform.h"

/// The kind of the errno value `code`, with the code kept for its words.
Error errorFrom(int code);

/// The device path for a configured port name: "COMn" (any letter case)
/// names /dev/ttyS(n-1); any other name is a path used as it stands. False
/// when the name is empty or the path does not fit.
bool devicePath(const wchar_t* name, char* path, size_t capacity);

/// The UTF-8 path for a wide file name, backslashes made slashes; false
/// when it is empty or does not fit.
bool narrowPath(const wchar_t* name, char* path, size_t capacity);

/// The UTF-8 text `text` as wide characters in `wide`, cut to capacity - 1
/// and terminated.
void widenInto(const char* text, wchar_t* wide, size_t capacity);

/// The UTF-8 text `text` as a new wide string (malloc), or nullptr when
/// there is no memory.
wchar_t* widenUtf8(const char* text);

/// Renders `when` as "Www Mmm dd hh:mm:ss yyyy" in English.
void formatTimeText(const struct tm* when, char text[25]);

/// Waits a moment before something held is tried again; false once
/// `deadline` (monotonicMilliseconds) has passed. errno is kept for the
/// caller's verdict.
bool pauseUntil(int64_t deadline);

/// Takes the place in the queue of runs for the open serial device `fd`
/// that this moment of arrival gives; the queue keeps `fd` until
/// leftQueueForPort or leavePortQueue. Where the device takes no record
/// locks the run goes without a place.
void joinPortQueue(int fd);

/// Whether a run that came earlier is still in the queue or on the port.
bool earlierRunQueued();

/// The device waiting in the queue from an earlier deviceOpen that ran out
/// of patience, or -1.
int queuedDevice();

/// The device in the queue is this run's port now: its place is held until
/// the device is closed.
void leftQueueForPort();

#endif  // VARNOK_PLATFORM_POSIX_H
