#include "run_log.h"

#include <stdarg.h>
#include <stdint.h>
#include <string.h>

#include "platform.h"
#include "utf8.h"

FILE* logFile = nullptr;

namespace {

typedef void (*PutChar)(uint32_t c);

// Walks `format`, handing every character of the finished text to `put`.
void formatText(PutChar put, const wchar_t* format, va_list values) {
  for (const wchar_t* f = format; *f; ++f) {
    if (f[0] == L'%' && f[1] == L's') {
      for (const wchar_t* s = va_arg(values, const wchar_t*); *s; ++s) put(uint32_t(*s));
      ++f;
    } else if (f[0] == L'%' && f[1] == L'd') {
      char digits[16];
      snprintf(digits, sizeof digits, "%d", va_arg(values, int));
      for (const char* d = digits; *d; ++d) put(uint32_t(*d));
      ++f;
    } else {
      put(uint32_t(*f));
    }
  }
}

// Bytes on their way to one stream, handed over in blocks so that a long
// channel number costs few writes.
unsigned char pending[512];
size_t pendingCount = 0;
FILE* pendingStream = nullptr;

void flushPending() {
  if (pendingCount) fwrite(pending, 1, pendingCount, pendingStream);
  pendingCount = 0;
}

void putByte(unsigned char byte) {
  if (pendingCount == sizeof pending) flushPending();
  pending[pendingCount++] = byte;
}

void putLogChar(uint32_t c) {
  if (c == '\n') {
    for (const char* e = kLogLineEnd; *e; ++e) putByte((unsigned char)*e);
  } else {
    putByte(c > 255 ? '?' : (unsigned char)c);
  }
}

void putUtf8Char(uint32_t c) {
  unsigned char bytes[4];
  size_t count = encodeUtf8(c, bytes);
  for (size_t i = 0; i < count; ++i) putByte(bytes[i]);
}

}  // namespace

void logPrint(const wchar_t* format, ...) {
  if (!logFile) return;
  pendingStream = logFile;
  va_list values;
  va_start(values, format);
  formatText(putLogChar, format, values);
  va_end(values);
  flushPending();
  // A full disk loses the record; say so once, where the caller can see it.
  static bool failed = false;
  if (fflush(logFile) != 0 && !failed) {
    failed = true;
    complain(L"cannot write to the run log varnok.out: the record of this run is incomplete");
  }
}

namespace {

void printLine(FILE* stream, const char* prefix, const wchar_t* format, va_list values) {
  fputs(prefix, stream);
  pendingStream = stream;
  formatText(putUtf8Char, format, values);
  putUtf8Char('\n');
  flushPending();
  fflush(stream);
}

}  // namespace

void complain(const wchar_t* format, ...) {
  va_list values;
  va_start(values, format);
  printLine(stderr, "varnok: ", format, values);
  va_end(values);
}

void say(const wchar_t* format, ...) {
  va_list values;
  va_start(values, format);
  printLine(stdout, "", format, values);
  va_end(values);
}
