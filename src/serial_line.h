// The serial line to the tuner: open the device named by portName,
// configure it (9600 baud, no parity, 8 data bits, 1 stop bit, DTR
// handshake), write buffers to it, close it. Nothing is read from it.
//
// Called in this order: openPort once, writeBuffer any number of times,
// closePort once. The opening's progress and failures, and the closing, go
// to the run log; writes are not logged.
//
// hPort is in one of three states: kNoDevice (at start, after closePort, and
// after the definition string was refused), open, or kBadDevice (after a
// failed open; closePort still writes its closing line then).
#ifndef VARNOK_SERIAL_LINE_H
#define VARNOK_SERIAL_LINE_H

#include <stddef.h>
#include <stdint.h>

#include "platform.h"

const int kPortNameCapacity = 260;

/// The "port" setting, whole, as configured; empty when there is none. The
/// run fills it; the line opens the device by it and quotes it in the log.
extern wchar_t portName[kPortNameCapacity];

extern Device hPort;

/// Why the latest openPort or writeBuffer failed: the platform's error
/// code, caught at the moment of failure (0 for a refused definition).
extern unsigned long lineError;

/// A short text for lineError, for a message on stderr.
void lineErrorText(wchar_t* text, size_t capacity);

/// How long a run waits in all for its turn on a port that another run (or
/// another program) holds; after a second it says so on stderr.
const uint32_t kTurnMilliseconds = 10000;

/// Opens the device named by portName for this run alone, logging nothing.
/// Runs on one port take turns: while another holds it, this waits, up to
/// kTurnMilliseconds, and then fails as any open that fails. The run claims
/// the port before it writes its record, so that the records of runs that
/// take turns stay whole in a log they share. True when the device is open.
bool claimPort();

/// Logs the port line, opens the device unless claimPort did, and
/// configures it. True when it is open and took its settings; false, with
/// the failure logged, otherwise: hPort is then kBadDevice, or kNoDevice
/// when the definition string was refused.
bool openPort();

/// Writes `count` bytes and waits until they have left. True only when
/// every byte was written; writes nothing when the port is not open.
bool writeBuffer(const uint8_t* buffer, uint32_t count);

/// Logs the closing line and releases the device, unless hPort is
/// kNoDevice: then it does nothing.
void closePort();

#endif  // VARNOK_SERIAL_LINE_H
