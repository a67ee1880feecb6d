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

/// The UTF-8 path for a wide file name, backslashes made slashes; false
/// when it is empty or does not fit.
bool narrowPath(const wchar_t* name, char* path, size_t capacity);

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
/// pieces of any size, as Windows' GetPrivateProfileStringW reads it:
///  - a line ends at LF, CR or both;
///  - a section header runs from a line's "[" to its last "]"; a line with
///    no "]" is no header, and the section before it goes on;
///  - section and key names are matched without regard to the case of
///    ASCII letters; the first matching section counts, and in it the
///    first matching key;
///  - blanks (space, tab, VT, FF and ^Z) around names and values are
///    trimmed, one pair of matching quotes around a value removed; lines
///    starting with ';' are comments;
///  - a NUL ends a name or a value where it stands, once the line's own
///    shape (its last "]", its "=", its blanks) is known: what is compared,
///    and what the quotes are judged on, is the text before it.
/// The bytes are UTF-16 with a byte-order mark, or UTF-8 with one, or with
/// none: then a file that is valid UTF-8 is read as such, and any other as
/// Windows-1252, the ANSI code page of Western Windows. Memory stays fixed
/// whatever the size of the file or its lines.
const size_t kProfileNameMax = 261;  // longer names match nothing
const size_t kProfileValueKeep = 261;
const size_t kProfileMaxBytes = size_t(16) << 20;  // what is read of a file

/// One reading of the file's lines, a character at a time.
struct ProfileLines {
  const wchar_t* section;
  const wchar_t* key;
  int state;
  wchar_t name[kProfileNameMax];
  size_t nameLength, nameTrimmed;
  size_t bracketAt;  // the name's length before the line's last ']'; 0 for none
  wchar_t value[kProfileValueKeep];
  size_t valueLength, valueTrimmed;
  wchar_t valueLast;       // the last character that is not a blank
  size_t valueNulAt;       // where the value's first NUL stands; SIZE_MAX for none
  wchar_t valueBeforeNul;  // the character before it
  bool inSection, sectionSeen, found;
};

struct ProfileScan {
  unsigned char head[3];
  int headCount;
  int encoding;  // 0 undecided, 1 UTF-8 with a mark, 2 UTF-16LE, 3 UTF-16BE, 4 no mark
  Utf8Decoder utf8;
  int utf16Odd;  // a first byte of a UTF-16 unit is waiting
  unsigned char utf16First;
  uint32_t highSurrogate;
  // Without a byte-order mark the bytes are read both ways at once, as
  // UTF-8 into `lines` and as Windows-1252 into `ansiLines`, until the end
  // shows which they were.
  ProfileLines lines, ansiLines;
};

void profileScanStart(ProfileScan* scan, const wchar_t* section, const wchar_t* key);
/// Returns true once the answer is known, so the rest need not be read.
bool profileScanFeed(ProfileScan* scan, const unsigned char* bytes, size_t count);
/// Copies the value into `value` (at most capacity - 1 characters,
/// terminated) and returns its length; 0 when there is none.
uint32_t profileScanFinish(ProfileScan* scan, wchar_t* value, uint32_t capacity);

#endif  // VARNOK_PLATFORM_POSIX_H
