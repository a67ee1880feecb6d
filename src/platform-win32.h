// What the Windows platform files share among themselves.
#ifndef VARNOK_PLATFORM_WIN32_H
#define VARNOK_PLATFORM_WIN32_H

#include "platform.h"

/// The kind of the GetLastError code `code`, with the code kept for its
/// words.
Error errorFrom(unsigned long code);

#endif  // VARNOK_PLATFORM_WIN32_H
