// Reading a profile (INI) file the way Windows' GetPrivateProfileStringW
// does, for platforms without it. The file's bytes are fed in pieces of any
// size and scanned in one pass, a character at a time, keeping only what a
// match needs, so a huge file or a line of any length costs no more memory
// than a short one. No system call: the platform reads the bytes.
//
// How a file is read:
//  - a line ends at LF, CR or both;
//  - a section header runs from a line's "[" to its last "]"; a line with
//    no "]" is no header, and the section before it goes on;
//  - section and key names are matched without regard to the case of
//    ASCII letters; the first matching section counts, and in it the first
//    matching key;
//  - blanks (space, tab, VT, FF and ^Z) around names and values are
//    trimmed, one pair of matching quotes around a value removed; lines
//    starting with ';' are comments;
//  - a NUL ends a name or a value where it stands, once the line's own
//    shape (its last "]", its "=", its blanks) is known: what is compared,
//    and what the quotes are judged on, is the text before it.
// The bytes are UTF-16 with a byte-order mark, or UTF-8 with one, or with
// none: then a file that is valid UTF-8 is read as such, and any other as
// Windows-1252, the ANSI code page of Western Windows.
#ifndef VARNOK_PROFILE_H
#define VARNOK_PROFILE_H

#include <stddef.h>
#include <stdint.h>

#include "utf8.h"

const size_t kProfileNameMax = 261;  // longer names match nothing
const size_t kProfileValueKeep = 261;
const size_t kProfileMaxBytes = size_t(16) << 20;  // what is read of a file

enum ProfileEncoding { kUndecided, kUtf8Marked, kUtf16Le, kUtf16Be, kUnmarked };
enum ProfileLineState { kLineStart, kSectionName, kKeyName, kValue, kRestOfLine };

/// One reading of the file's lines, a character at a time.
struct ProfileLines {
  const wchar_t* section;
  const wchar_t* key;
  ProfileLineState state;
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
  ProfileEncoding encoding;
  Utf8Decoder utf8;
  bool utf16Odd;  // a first byte of a UTF-16 unit is waiting
  unsigned char utf16First;
  uint32_t highSurrogate;
  // Without a byte-order mark the bytes are read both ways at once, as
  // UTF-8 into `lines` and as Windows-1252 into `ansiLines`, until the end
  // shows which they were.
  ProfileLines lines, ansiLines;
};

/// Starts a look-up of `key` in `section`; both must outlive the scan.
void profileScanStart(ProfileScan* scan, const wchar_t* section, const wchar_t* key);

/// Feeds the next `count` bytes. Returns true once the answer is known, so
/// the rest need not be read.
bool profileScanFeed(ProfileScan* scan, const unsigned char* bytes, size_t count);

/// Copies the value into `value` (at most capacity - 1 characters,
/// terminated) and returns its length; 0 when there is none.
uint32_t profileScanFinish(ProfileScan* scan, wchar_t* value, uint32_t capacity);

#endif  // VARNOK_PROFILE_H
