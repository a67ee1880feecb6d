// Any bytes as varnok.ini, any key: the reader must not crash or read out
// of bounds, must give the same answer however the bytes arrive, never more
// than 259 characters, and no value for a key or section that is not there.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

#include <string>

#include "platform.h"
#include "profile.h"

namespace {

// Whether `name` can be in `data` at all: as ASCII (either letter case),
// or as UTF-16 in either byte order. A name that is not there in any of
// these forms cannot be matched.
bool mayContain(const uint8_t* data, size_t size, const std::wstring& name) {
  if (name.empty()) return true;
  for (int width : {1, 2}) {
    for (int offset = 0; offset < width; ++offset) {
      size_t span = name.size() * size_t(width);
      for (size_t at = size_t(offset); at + span <= size; ++at) {
        size_t i = 0;
        for (; i < name.size(); ++i) {
          wchar_t c = name[i];
          uint8_t b = data[at + i * size_t(width)];
          if (b != c && !(c < 128 && isalpha(c) && (b | 0x20) == (c | 0x20))) break;
        }
        if (i == name.size()) return true;
      }
    }
  }
  return false;
}

uint32_t scanInPieces(const uint8_t* data, size_t size, size_t piece, const wchar_t* key,
                      wchar_t* value) {
  ProfileScan scan;
  profileScanStart(&scan, L"Settings", key);
  for (size_t at = 0; at < size; at += piece)
    if (profileScanFeed(&scan, data + at, size - at < piece ? size - at : piece)) break;
  return profileScanFinish(&scan, value, 260);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the key, the second the size of the pieces.
  static const wchar_t* kKeys[] = {L"port", L"sleepTime", L"PORT", L"p", L"", L" port"};
  std::wstring key = kKeys[data[0] % 6];
  if (data[0] >= 0xF0) key = std::wstring(size_t(data[0] - 0xEF) * 30, L'k');
  size_t piece = 1 + data[1];
  data += 2;
  size -= 2;

  wchar_t whole[260], pieces[260];
  uint32_t n = scanInPieces(data, size, size ? size : 1, key.c_str(), whole);
  if (n > 259 || whole[n] != 0 || wcslen(whole) != n) abort();
  if (scanInPieces(data, size, piece, key.c_str(), pieces) != n || wmemcmp(whole, pieces, n))
    abort();
  if (n && (!mayContain(data, size, key) || !mayContain(data, size, L"Settings"))) abort();

  // The same bytes through the file reader.
  static char path[64];
  if (!path[0]) snprintf(path, sizeof path, "/tmp/varnok-fuzz-%d.ini", int(getpid()));
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  wchar_t wpath[64];
  swprintf(wpath, 64, L"%s", path);
  wchar_t fromFile[260];
  if (readProfileString(L"Settings", key.c_str(), fromFile, 260, wpath) != n ||
      wmemcmp(whole, fromFile, n))
    abort();
  return 0;
}
