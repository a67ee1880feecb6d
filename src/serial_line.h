// The serial line to the tuner: open the device named by portName, set it
// up (9600 baud, no parity, 8 data bits, 1 stop bit, DTR handshake), write
// buffers to it, close it. Nothing is read from it.
//
// Called in this order: claimPort (so that a run takes its turn before its
// record begins), openPort once, writeBuffer any number of times, closePort
// once. The opening's progress and failures, and the closing, go to the run
// log; writes are not logged.
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

/// Why the latest claimPort, openPort or writeBuffer failed, caught at the
/// moment of failure. Only the serial line writes it.
extern Error lineError;

/// How long a run waits in all for its turn on a port that another run (or
/// another program) holds.
const uint32_t kTurnMilliseconds = 10000;

/// How the port is set up for the tuner, the only settings ever asked for.
extern const wchar_t kLineSettings[];

/// Opens the device `name` and sets it up for the tuner, waiting up to
/// `patience` milliseconds for its turn. True, with `*device` open, when it
/// took its settings. False otherwise, with `*error` set and the device let
/// go: `*device` is then kNoDevice when the definition was refused (the
/// device did open), or kBadDevice. Touches no program-wide state: the run
/// and varnok --check both open their port with it.
bool openLine(const wchar_t* name, uint32_t patience, Device* device, Error* error);

/// Opens the port in portName for this run, waiting up to `patience`
/// milliseconds for its turn, and logs nothing: the run claims the port
/// before it writes its record, so that the records of runs that take turns
/// stay whole in a log they share. A claim that ran out of patience keeps
/// the run's place in the queue for another try. True when the port is
/// open; a later claim does nothing then.
bool claimPort(uint32_t patience);

/// Gives up the port's queue after a claim that failed, at once, so that
/// no run after this one waits for it.
void giveUpPort();

/// Logs the port line, claims the port unless that was done, and logs how
/// the opening went. True when it is open and took its settings; false,
/// with the failure logged, otherwise: hPort is then kBadDevice, or
/// kNoDevice when the definition string was refused.
bool openPort();

/// Writes `count` bytes and waits until they have left. True only when
/// every byte was written; writes nothing when the port is not open.
bool writeBuffer(const uint8_t* buffer, uint32_t count);

/// Logs the closing line and releases the device, unless hPort is
/// kNoDevice: then it does nothing.
void closePort();

#endif  // VARNOK_SERIAL_LINE_H
