// The channel-change run: one channel sent to the tuner.
//
// It reads the port and the pause from varnok.ini in the working directory,
// takes its turn on the port, appends a framed header to the run log, opens
// the serial line, has one key command sent per digit with a pause after
// each (the last included), closes the line and the log, and gives the
// exit status. A failure is said once on stderr, and in the record where it
// happened, so that the record of a failed run never reads like a good one.
#ifndef VARNOK_CHANNEL_CHANGE_H
#define VARNOK_CHANNEL_CHANGE_H

/// Writes the header for `channel` to the run log: a rule, the local time,
/// the channel as given, the number of its characters, the rule again.
void writeRunHeader(const wchar_t* channel);

/// Changes the tuner to `channel`. A channel with anything but the digits 0
/// to 9 is refused before the port is touched, with a record that says so.
/// Returns the exit status.
int changeChannel(const wchar_t* channel);

#endif  // VARNOK_CHANNEL_CHANGE_H
