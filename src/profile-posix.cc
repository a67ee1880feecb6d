// Reading a profile (INI) file the way Windows does, for platforms without
// GetPrivateProfileStringW. The file is scanned in one pass, a character at
// a time, keeping only what a match needs, so a huge file or a line of any
// length costs no more memory than a short one.
#include "platform-posix.h"

#include <string.h>
#include <wchar.h>

namespace {

enum Encoding { kUndecided, kUtf8, kUtf16Le, kUtf16Be };
enum LineState { kLineStart, kSectionName, kKeyName, kValue, kRestOfLine };

bool isBlank(uint32_t c) {
  return c == ' ' || c == '\t' || c == '\r';
}

uint32_t foldCase(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

void startName(ProfileScan* scan) {
  scan->nameLength = 0;
  scan->nameTrimmed = 0;
}

void addToName(ProfileScan* scan, uint32_t c) {
  if (scan->nameLength == 0 && isBlank(c)) return;
  if (scan->nameLength < kProfileNameMax) scan->name[scan->nameLength] = wchar_t(c);
  ++scan->nameLength;
  if (!isBlank(c)) scan->nameTrimmed = scan->nameLength;
}

bool nameIs(const ProfileScan* scan, const wchar_t* wanted) {
  size_t length = wcslen(wanted);
  if (scan->nameTrimmed != length || length > kProfileNameMax) return false;
  for (size_t i = 0; i < length; ++i)
    if (foldCase(uint32_t(scan->name[i])) != foldCase(uint32_t(wanted[i]))) return false;
  return true;
}

void addToValue(ProfileScan* scan, uint32_t c) {
  if (scan->valueLength == 0 && isBlank(c)) return;
  if (scan->valueLength < kProfileValueKeep) scan->value[scan->valueLength] = wchar_t(c);
  ++scan->valueLength;
  if (!isBlank(c)) {
    scan->valueTrimmed = scan->valueLength;
    scan->valueLast = wchar_t(c);
  }
}

// A key line ends; `hasValue` is false for a line with no '='.
void endKey(ProfileScan* scan, bool hasValue) {
  if (!scan->inSection || !nameIs(scan, scan->key)) return;
  if (!hasValue) scan->valueLength = scan->valueTrimmed = 0;
  scan->found = true;
}

void endSection(ProfileScan* scan) {
  // Only the first section of the name counts; a later one of the same
  // name is passed over, as Windows does.
  bool match = nameIs(scan, scan->section);
  scan->inSection = match && !scan->sectionSeen;
  if (match) scan->sectionSeen = true;
}

void takeChar(void* context, uint32_t c) {
  ProfileScan* scan = static_cast<ProfileScan*>(context);
  if (scan->found) return;
  switch (scan->state) {
    case kLineStart:
      if (c == '\n' || isBlank(c)) return;
      if (c == ';') {
        scan->state = kRestOfLine;
      } else if (c == '[') {
        startName(scan);
        scan->state = kSectionName;
      } else {
        startName(scan);
        scan->state = kKeyName;
        takeChar(scan, c);
      }
      return;
    case kSectionName:
      if (c == ']' || c == '\n') {
        endSection(scan);
        scan->state = c == '\n' ? kLineStart : kRestOfLine;
      } else {
        addToName(scan, c);
      }
      return;
    case kKeyName:
      if (c == '=') {
        scan->valueLength = scan->valueTrimmed = 0;
        scan->state = kValue;
      } else if (c == '\n') {
        endKey(scan, false);
        scan->state = kLineStart;
      } else {
        addToName(scan, c);
      }
      return;
    case kValue:
      if (c == '\n') {
        endKey(scan, true);
        scan->state = kLineStart;
      } else {
        addToValue(scan, c);
      }
      return;
    case kRestOfLine:
      if (c == '\n') scan->state = kLineStart;
      return;
  }
}

void takeUtf16Unit(ProfileScan* scan, uint32_t unit) {
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (scan->highSurrogate) takeChar(scan, 0xFFFD);
    scan->highSurrogate = unit;
    return;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (scan->highSurrogate)
      takeChar(scan, 0x10000 + ((scan->highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
    else
      takeChar(scan, 0xFFFD);
    scan->highSurrogate = 0;
    return;
  }
  if (scan->highSurrogate) takeChar(scan, 0xFFFD);
  scan->highSurrogate = 0;
  takeChar(scan, unit);
}

void takeByte(ProfileScan* scan, unsigned char byte) {
  if (scan->encoding == kUtf8) {
    utf8Feed(&scan->utf8, byte, takeChar, scan);
  } else if (!scan->utf16Odd) {
    scan->utf16First = byte;
    scan->utf16Odd = 1;
  } else {
    scan->utf16Odd = 0;
    uint32_t unit = scan->encoding == kUtf16Le ? uint32_t(byte) << 8 | scan->utf16First
                                               : uint32_t(scan->utf16First) << 8 | byte;
    takeUtf16Unit(scan, unit);
  }
}

// Settles the encoding from the byte-order mark, if any, and hands on the
// bytes held while deciding.
void decideEncoding(ProfileScan* scan) {
  const unsigned char* h = scan->head;
  int skip = 0;
  if (scan->headCount >= 2 && h[0] == 0xFF && h[1] == 0xFE) {
    scan->encoding = kUtf16Le;
    skip = 2;
  } else if (scan->headCount >= 2 && h[0] == 0xFE && h[1] == 0xFF) {
    scan->encoding = kUtf16Be;
    skip = 2;
  } else {
    scan->encoding = kUtf8;
    if (scan->headCount == 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF) skip = 3;
  }
  for (int i = skip; i < scan->headCount; ++i) takeByte(scan, h[i]);
}

}  // namespace

void profileScanStart(ProfileScan* scan, const wchar_t* section, const wchar_t* key) {
  memset(scan, 0, sizeof *scan);
  scan->section = section;
  scan->key = key;
  scan->encoding = kUndecided;
  scan->state = kLineStart;
  utf8Start(&scan->utf8);
}

bool profileScanFeed(ProfileScan* scan, const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count && !scan->found; ++i) {
    if (scan->encoding == kUndecided) {
      scan->head[scan->headCount++] = bytes[i];
      if (scan->headCount == 3) decideEncoding(scan);
    } else {
      takeByte(scan, bytes[i]);
    }
  }
  return scan->found;
}

uint32_t profileScanFinish(ProfileScan* scan, wchar_t* value, uint32_t capacity) {
  if (scan->encoding == kUndecided) decideEncoding(scan);
  if (scan->encoding == kUtf8) utf8Finish(&scan->utf8, takeChar, scan);
  if (scan->highSurrogate) takeChar(scan, 0xFFFD);
  takeChar(scan, '\n');  // the last line may have no line feed

  if (capacity == 0) return 0;
  value[0] = 0;
  if (!scan->found) return 0;
  // One pair of matching quotes around the value goes.
  size_t start = 0;
  size_t length = scan->valueTrimmed;
  wchar_t first = scan->value[0];
  if (length >= 2 && (first == '"' || first == '\'') && scan->valueLast == first) {
    start = 1;
    length -= 2;
  }
  if (length > capacity - 1) length = capacity - 1;
  if (length > kProfileValueKeep - start) length = kProfileValueKeep - start;
  uint32_t copied = 0;
  // A NUL in the value ends it: the caller sees a terminated string.
  while (copied < length && scan->value[start + copied] != 0) {
    value[copied] = scan->value[start + copied];
    ++copied;
  }
  value[copied] = 0;
  return copied;
}
