// A platform that touches no device: it records what the program asked of
// it, in order, and answers as the test sets it up to.
#ifndef VARNOK_TESTS_FAKE_PLATFORM_H
#define VARNOK_TESTS_FAKE_PLATFORM_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

namespace fake {

/// What the program did, one entry a call: "open COM1", "configure
/// 9600,N,8,1", "write <33 bytes in hex>", "sleep 200", "close".
extern std::vector<std::string> calls;

/// Values in section "Settings"; a key that is absent yields no value.
extern std::map<std::wstring, std::wstring> settings;

extern bool openFails;
extern ErrorKind configureResult;  // kErrorRefused, kErrorOther or kErrorNone
extern int failWriteNumber;        // the 1-based write that fails; 0 for none
extern bool logFails;
extern uint32_t heldFor;       // milliseconds another run keeps the port
extern std::string logAtOpen;  // the log's bytes when the port was opened
extern int64_t now;            // the clock, moved on by every wait

/// Where the fake run log lives, in the working directory.
extern const char kLogPath[];

/// Back to a working device, no settings, an empty log file.
void reset();

/// The bytes of the run log file.
std::string logBytes();

/// The bytes of the messages written, one string of hex per write.
std::vector<std::string> writes();

std::string hex(const uint8_t* bytes, size_t count);

}  // namespace fake

#endif  // VARNOK_TESTS_FAKE_PLATFORM_H
