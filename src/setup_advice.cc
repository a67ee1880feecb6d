#include "setup_advice.h"

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include "channel_change.h"
#include "platform.h"
#include "serial_line.h"

const wchar_t kExamplePort[] = L"CHANGE-ME";

namespace {

void copyText(const wchar_t* from, wchar_t* to, size_t capacity) {
  wcsncpy(to, from, capacity - 1);
  to[capacity - 1] = 0;
}

}  // namespace

bool comNameMeant(const wchar_t* port, wchar_t meant[16]) {
  // A device path, or Windows' own "\\.\COM5", is meant as written.
  if (port[0] == L'/' || port[0] == L'\\') return false;
  for (const wchar_t* c = port; c[0] && c[1] && c[2]; ++c) {
    if (towupper(c[0]) != L'C' || towupper(c[1]) != L'O' || towupper(c[2]) != L'M') continue;
    const wchar_t* digits = c + 3;
    while (*digits == L' ') ++digits;
    if (*digits < L'0' || *digits > L'9') continue;
    long number = wcstol(digits, nullptr, 10);
    if (number < 1 || number > 256) return false;
    swprintf(meant, 16, L"COM%ld", number);
    return wcscmp(meant, port) != 0;
  }
  return false;
}

const wchar_t* portFailure(wchar_t* text, size_t capacity) {
  int prefix = swprintf(text, capacity, L"cannot open port %ls: ", portName);
  if (prefix < 0) prefix = 0;
  wchar_t* reason = text + prefix;
  size_t left = capacity - size_t(prefix);
  if (wcscmp(portName, kExamplePort) == 0) {
    copyText(
        L"varnok.ini still has the example's port: put yours there (varnok --ports lists "
        L"them)",
        reason, left);
    return reason;
  }
  lineErrorText(reason, left);
  size_t used = wcslen(reason);
  wchar_t meant[16];
  wchar_t advice[400] = L"";
  if (comNameMeant(portName, meant))
    swprintf(advice, 400, L"; did you mean %ls?", meant);
  else if (lineError == kErrorDenied)
    accessAdvice(portName, advice, 400);
  if (advice[0]) copyText(advice, reason + used, left - used);
  return reason;
}

void settingsFailure(wchar_t* text, size_t capacity) {
  wchar_t folder[1024];
  workingDirectory(folder, 1024);
  unsigned long error = 0;
  switch (fileState(kSettingsFile, &error)) {
    case kFileMissing:
      // Windows hides known extensions: Notepad's "varnok.ini" is
      // varnok.ini.txt on disk.
      if (fileState(L".\\varnok.ini.txt", &error) == kFileReadable)
        swprintf(text, capacity,
                 L"no varnok.ini in the working directory %ls, but a varnok.ini.txt: rename it "
                 L"to varnok.ini",
                 folder);
      else
        swprintf(text, capacity,
                 L"no varnok.ini in the working directory %ls: put port=... under [Settings] in "
                 L"a varnok.ini there",
                 folder);
      break;
    case kFileUnreadable: {
      wchar_t reason[200];
      if (error == kErrorNotRegular)
        copyText(L"not a regular file", reason, 200);
      else
        errorText(error, reason, 200);
      swprintf(text, capacity, L"cannot read varnok.ini in %ls: %ls", folder, reason);
      break;
    }
    case kFileReadable:
      swprintf(text, capacity,
               L"varnok.ini in %ls has no port under [Settings]: put port=... there", folder);
      break;
  }
}

bool pauseWarning(const wchar_t* value, wchar_t* warning, size_t capacity) {
  int32_t used = pauseFromText(value);
  const wchar_t* digits = value;
  while (*digits == L' ' || *digits == L'\t') ++digits;
  size_t count = wcsspn(digits, L"0123456789");
  bool plain = count > 0 && digits[count] == 0;
  if (plain && wcstol(digits, nullptr, 10) <= kLongestPause) return false;
  swprintf(warning, capacity,
           plain ? L"sleepTime=%ls is over the longest pause: the pause is %d milliseconds"
                 : L"sleepTime=%ls is not a plain number: the pause is %d milliseconds",
           value, int(used));
  return true;
}

void runLogFailure(unsigned long error, wchar_t* text, size_t capacity) {
  wchar_t reason[200];
  errorText(error, reason, 200);
  wchar_t advice[600] = L"";
  runLogAdvice(error, advice, 600);
  swprintf(text, capacity, L"cannot open the run log varnok.out: %ls%ls", reason, advice);
}
