#include "profile.h"

#include <string.h>
#include <wchar.h>

namespace {

// ^Z is what old DOS tools leave at the end of a file.
bool isBlank(uint32_t c) {
  return c == ' ' || c == '\t' || c == 0x0B || c == 0x0C || c == 0x1A;
}

bool isLineEnd(uint32_t c) {
  return c == '\n' || c == '\r';
}

uint32_t foldCase(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined stand
// for the control characters of the same value, as Windows reads them.
const uint16_t kAnsiHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void startName(ProfileLines* lines) {
  lines->nameLength = 0;
  lines->nameTrimmed = 0;
  lines->bracketAt = 0;
}

void addToName(ProfileLines* lines, uint32_t c) {
  if (lines->nameLength == 0 && isBlank(c)) return;
  if (lines->nameLength < kProfileNameMax) lines->name[lines->nameLength] = wchar_t(c);
  ++lines->nameLength;
  if (!isBlank(c)) lines->nameTrimmed = lines->nameLength;
}

bool nameIs(const ProfileLines* lines, size_t length, const wchar_t* wanted) {
  // Windows compares the name as a C string: a NUL ends it.
  for (size_t i = 0; i < length && i < kProfileNameMax; ++i)
    if (lines->name[i] == 0) length = i;
  if (wcslen(wanted) != length || length > kProfileNameMax) return false;
  for (size_t i = 0; i < length; ++i)
    if (foldCase(uint32_t(lines->name[i])) != foldCase(uint32_t(wanted[i]))) return false;
  return true;
}

void addToValue(ProfileLines* lines, uint32_t c) {
  if (lines->valueLength == 0 && isBlank(c)) return;
  if (lines->valueNulAt == SIZE_MAX) {
    if (c == 0)
      lines->valueNulAt = lines->valueLength;
    else
      lines->valueBeforeNul = wchar_t(c);
  }
  if (lines->valueLength < kProfileValueKeep) lines->value[lines->valueLength] = wchar_t(c);
  ++lines->valueLength;
  if (!isBlank(c)) {
    lines->valueTrimmed = lines->valueLength;
    lines->valueLast = wchar_t(c);
  }
}

// A key line ends; `hasValue` is false for a line with no '='.
void endKey(ProfileLines* lines, bool hasValue) {
  if (!lines->inSection || !nameIs(lines, lines->nameTrimmed, lines->key)) return;
  if (!hasValue) lines->valueLength = lines->valueTrimmed = 0;
  lines->found = true;
}

// A line that started with '[' ends. Without a ']' it is no header but a
// key whose name starts with '[', which is never one looked up.
void endSection(ProfileLines* lines) {
  if (lines->bracketAt == 0) return;
  // The name runs to the line's last ']', blanks trimmed. Only the first
  // section of the name counts; a later one of the same name is passed
  // over, as Windows does.
  size_t length = lines->bracketAt - 1;
  while (length > 0 && length <= kProfileNameMax && isBlank(uint32_t(lines->name[length - 1])))
    --length;
  bool match = nameIs(lines, length, lines->section);
  lines->inSection = match && !lines->sectionSeen;
  if (match) lines->sectionSeen = true;
}

void takeChar(void* context, uint32_t c);

void takeLineStart(ProfileLines* lines, uint32_t c) {
  if (isLineEnd(c) || isBlank(c)) return;
  if (c == ';') {
    lines->state = kRestOfLine;
  } else if (c == '[') {
    startName(lines);
    lines->state = kSectionName;
  } else {
    startName(lines);
    lines->state = kKeyName;
    takeChar(lines, c);
  }
}

void takeSectionName(ProfileLines* lines, uint32_t c) {
  if (isLineEnd(c)) {
    endSection(lines);
    lines->state = kLineStart;
    return;
  }
  // Every ']' may be the last: remember where the name would end.
  addToName(lines, c);
  if (c == ']') lines->bracketAt = lines->nameLength;
}

void takeKeyName(ProfileLines* lines, uint32_t c) {
  if (c == '=') {
    lines->valueLength = lines->valueTrimmed = 0;
    lines->valueNulAt = SIZE_MAX;
    lines->state = kValue;
  } else if (isLineEnd(c)) {
    endKey(lines, false);
    lines->state = kLineStart;
  } else {
    addToName(lines, c);
  }
}

void takeChar(void* context, uint32_t c) {
  ProfileLines* lines = static_cast<ProfileLines*>(context);
  if (lines->found) return;
  switch (lines->state) {
    case kLineStart:
      return takeLineStart(lines, c);
    case kSectionName:
      return takeSectionName(lines, c);
    case kKeyName:
      return takeKeyName(lines, c);
    case kValue:
      if (isLineEnd(c)) {
        endKey(lines, true);
        lines->state = kLineStart;
      } else {
        addToValue(lines, c);
      }
      return;
    case kRestOfLine:
      if (isLineEnd(c)) lines->state = kLineStart;
      return;
  }
}

void takeUtf16Unit(ProfileScan* scan, uint32_t unit) {
  ProfileLines* lines = &scan->lines;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (scan->highSurrogate) takeChar(lines, 0xFFFD);
    scan->highSurrogate = unit;
    return;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (scan->highSurrogate)
      takeChar(lines, 0x10000 + ((scan->highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
    else
      takeChar(lines, 0xFFFD);
    scan->highSurrogate = 0;
    return;
  }
  if (scan->highSurrogate) takeChar(lines, 0xFFFD);
  scan->highSurrogate = 0;
  takeChar(lines, unit);
}

void takeByte(ProfileScan* scan, unsigned char byte) {
  if (scan->encoding == kUtf8Marked || scan->encoding == kUnmarked) {
    utf8Feed(&scan->utf8, byte, takeChar, &scan->lines);
    if (scan->encoding == kUnmarked)
      takeChar(&scan->ansiLines, byte >= 0x80 && byte < 0xA0 ? kAnsiHigh[byte - 0x80] : byte);
  } else if (!scan->utf16Odd) {
    scan->utf16First = byte;
    scan->utf16Odd = true;
  } else {
    scan->utf16Odd = false;
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
  } else if (scan->headCount == 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF) {
    scan->encoding = kUtf8Marked;
    skip = 3;
  } else {
    scan->encoding = kUnmarked;
  }
  for (int i = skip; i < scan->headCount; ++i) takeByte(scan, h[i]);
}

// The reading that holds the answer: without a mark, the UTF-8 one as long
// as the bytes are valid UTF-8.
const ProfileLines* answer(const ProfileScan* scan) {
  return scan->encoding == kUnmarked && scan->utf8.invalid ? &scan->ansiLines : &scan->lines;
}

void startLines(ProfileLines* lines, const wchar_t* section, const wchar_t* key) {
  memset(lines, 0, sizeof *lines);
  lines->section = section;
  lines->key = key;
  lines->state = kLineStart;
}

}  // namespace

void profileScanStart(ProfileScan* scan, const wchar_t* section, const wchar_t* key) {
  memset(scan, 0, sizeof *scan);
  scan->encoding = kUndecided;
  utf8Start(&scan->utf8);
  startLines(&scan->lines, section, key);
  startLines(&scan->ansiLines, section, key);
}

bool profileScanFeed(ProfileScan* scan, const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (scan->encoding == kUndecided) {
      scan->head[scan->headCount++] = bytes[i];
      if (scan->headCount == 3) decideEncoding(scan);
    } else {
      takeByte(scan, bytes[i]);
    }
    // Without a mark, a byte further on may yet show the file is no UTF-8.
    bool settled = scan->encoding != kUnmarked || scan->utf8.invalid;
    if (settled && answer(scan)->found) return true;
  }
  return false;
}

uint32_t profileScanFinish(ProfileScan* scan, wchar_t* value, uint32_t capacity) {
  if (scan->encoding == kUndecided) decideEncoding(scan);
  if (scan->encoding != kUtf16Le && scan->encoding != kUtf16Be)
    utf8Finish(&scan->utf8, takeChar, &scan->lines);
  if (scan->highSurrogate) takeChar(&scan->lines, 0xFFFD);
  // The last line may have no line feed.
  takeChar(&scan->lines, '\n');
  takeChar(&scan->ansiLines, '\n');

  if (capacity == 0) return 0;
  value[0] = 0;
  const ProfileLines* lines = answer(scan);
  if (!lines->found) return 0;
  // A NUL ends the value, and the quotes are judged on the text before it.
  size_t length = lines->valueTrimmed;
  wchar_t last = lines->valueLast;
  if (lines->valueNulAt < length) {
    length = lines->valueNulAt;
    last = lines->valueBeforeNul;
  }
  // One pair of matching quotes around the value goes.
  size_t start = 0;
  wchar_t first = lines->value[0];
  if (length >= 2 && (first == '"' || first == '\'') && last == first) {
    start = 1;
    length -= 2;
  }
  if (length > capacity - 1) length = capacity - 1;
  if (length > kProfileValueKeep - start) length = kProfileValueKeep - start;
  for (size_t i = 0; i < length; ++i) value[i] = lines->value[start + i];
  value[length] = 0;
  return uint32_t(length);
}
