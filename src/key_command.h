// The key-command message: the one message the tuner is ever sent.
//
// A message is three frames back to back, 33 bytes in all, each frame
//   DLE, type, length (2 bytes, high first), payload, check (2 bytes, high
//   first, CRC-16/KERMIT of type, length and payload), DLE ETX.
// The first two frames never change. The third carries the key: its last
// payload byte and its check form the three-byte key code that fills the
// key slot at bytes 28 to 30 before each send.
#ifndef VARNOK_KEY_COMMAND_H
#define VARNOK_KEY_COMMAND_H

#include <stdint.h>

const int kKeyMessageSize = 33;
const int kKeySlot = 28;

/// Key byte, then the high and low byte of the third frame's check.
typedef uint8_t KeyCode[3];

/// The message, changed in place by every send and never restored; holds
/// FF FF FF in its key slot until the first send.
extern uint8_t keyMessage[kKeyMessageSize];

/// The key codes of the digits 0 to 9, their checks computed beforehand.
extern const KeyCode keyCodes[10];

/// Copies `code` into the key slot and returns keyMessage.
const uint8_t* fillKeySlot(const KeyCode code);

/// Fills the key slot with `code` and writes the whole message to the
/// serial line. Returns the write's result (true when every byte went).
bool sendKeyCode(const KeyCode code);

#endif  // VARNOK_KEY_COMMAND_H
