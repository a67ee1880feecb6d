// Pieces of the POSIX platform that stand in for Win32 services, exposed so
// that they can be tested without a device.
#ifndef VARNOK_PLATFORM_POSIX_H
#define VARNOK_PLATFORM_POSIX_H

#include <stddef.h>
#include <stdint.h>
#include <termios.h>
#include <time.h>

#include "utf8.h"

/// The device path for a configured port name: "COMn" (any letter case)
/// names /dev/ttyS(n-1); any other name is a path used as it stands. False
/// when the name is empty or the path does not fit.
bool devicePath(const wchar_t* name, char* path, size_t capacity);

/// Line settings read from a definition string such as "9600,N,8,1".
struct LineSettings {
  speed_t speed;
  char parity;  // 'N', 'E' or 'O'
  int dataBits;
  int stopBits;
};

/// Reads "baud,parity,data bits,stop bits"; false for a string it cannot
/// read or settings a serial port cannot take.
bool parseDefinition(const wchar_t* definition, LineSettings* settings);

/// Renders `when` as "Www Mmm dd hh:mm:ss yyyy" in English.
void formatTimeText(const struct tm* when, char text[25]);

/// The UTF-8 text `text` as wide characters in `wide`, cut to capacity - 1
/// and terminated.
void widenInto(const char* text, wchar_t* wide, size_t capacity);

/// The UTF-8 text `text` as a new wide string (malloc), or nullptr when
/// there is no memory.
wchar_t* widenUtf8(const char* text);

/// Looks up one key of one section in the bytes of a profile file, fed in
/// pieces of any size, as Windows reads profile files: section and key
/// names matched without regard to the case of ASCII letters, blanks around
/// names and values trimmed, one pair of matching quotes around a value
/// removed, ';' lines are comments, the first matching key in the first
/// matching section wins. The bytes are UTF-8 (with or without a byte-order
/// mark) or UTF-16 with a byte-order mark; lines end in LF or CR LF. Memory
/// stays fixed whatever the size of the file or its lines.
const size_t kProfileNameMax = 261;  // longer names match nothing
const size_t kProfileValueKeep = 261;

struct ProfileScan {
  const wchar_t* section;
  const wchar_t* key;
  // Encoding detection and decoding.
  unsigned char head[3];
  int headCount;
  int encoding;  // 0 undecided, 1 UTF-8, 2 UTF-16LE, 3 UTF-16BE
  Utf8Decoder utf8;
  int utf16Odd;  // a first byte of a UTF-16 unit is waiting
  unsigned char utf16First;
  uint32_t highSurrogate;
  // The line being read.
  int state;
  wchar_t name[kProfileNameMax];
  size_t nameLength, nameTrimmed;
  wchar_t value[kProfileValueKeep];
  size_t valueLength, valueTrimmed;
  wchar_t valueLast;  // the last character that is not a blank
  bool inSection, sectionSeen, found;
};

void profileScanStart(ProfileScan* scan, const wchar_t* section, const wchar_t* key);
/// Returns true once the answer is known, so the rest need not be read.
bool profileScanFeed(ProfileScan* scan, const unsigned char* bytes, size_t count);
/// Copies the value into `value` (at most capacity - 1 characters,
/// terminated) and returns its length; 0 when there is none.
uint32_t profileScanFinish(ProfileScan* scan, wchar_t* value, uint32_t capacity);

#endif  // VARNOK_PLATFORM_POSIX_H
