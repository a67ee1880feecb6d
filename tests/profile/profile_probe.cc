// profile_probe: what the settings reader finds in each file, for the test
// that holds our POSIX reader to Windows' own GetPrivateProfileStringW.
// Built for both platforms from this one source.
//
//   profile_probe FILE...
//
// Each FILE is read from the working directory, named ".\FILE" as the
// program names varnok.ini, and asked for the two keys the program reads.
// One line per file and key: the file, the key, the count the reader
// returned, then the characters it copied in hexadecimal, as the platform
// holds them (UTF-16 units on Windows, code points elsewhere).
#include <stdio.h>

#include "platform.h"

int main(int argc, char** argv) {
  static const char* const kKeys[] = {"port", "sleepTime"};
  for (int i = 1; i < argc; ++i) {
    wchar_t file[300] = L".\\";
    size_t used = 2;
    for (const char* c = argv[i]; *c && used < 299; ++c) file[used++] = wchar_t(*c);
    file[used] = 0;
    for (const char* key : kKeys) {
      wchar_t wideKey[16];
      size_t k = 0;
      for (; key[k]; ++k) wideKey[k] = wchar_t(key[k]);
      wideKey[k] = 0;
      wchar_t value[260];
      uint32_t count = readProfileString(L"Settings", wideKey, value, 260, file);
      printf("%s %s %u", argv[i], key, unsigned(count));
      for (uint32_t c = 0; c < count && c < 260; ++c) printf(" %X", unsigned(value[c]));
      printf("\n");
    }
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
