#include "advice.h"

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include "serial_line.h"

const wchar_t kExamplePort[] = L"CHANGE-ME";

namespace {

void copyText(const wchar_t* from, wchar_t* to, size_t capacity) {
  wcsncpy(to, from, capacity - 1);
  to[capacity - 1] = 0;
}

// The highest COM port number Windows gives.
const long kHighestCom = 256;

// What would let this user open a device the system refused: the group to
// join, or the process to restart; "" where the platform does not say.
void accessWords(const wchar_t* port, wchar_t* text, size_t capacity) {
  DeviceAccess a;
  deviceAccess(port, &a);
  text[0] = 0;
  if (!a.known) return;
  if (!a.group[0] || !a.groupMayUse) {
    swprintf(text, capacity, L"; only %ls may open %ls", a.owner, a.device);
  } else if (a.userInGroup) {
    // In the group by the user database, but not this process: it started
    // before the user joined, and a group takes effect in processes started
    // after that.
    swprintf(text, capacity,
             L"; %ls is in the group %ls of %ls, but this process started before that: restart "
             L"it (the recorder, or log in again)",
             a.user, a.group, a.device);
  } else {
    swprintf(text, capacity,
             L"; %ls belongs to the group %ls: add %ls to it (sudo usermod -aG %ls %ls), then "
             L"restart the recorder or log in again",
             a.device, a.group, a.user, a.group, a.user);
  }
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
    if (number < 1 || number > kHighestCom) return false;
    swprintf(meant, 16, L"COM%ld", number);
    return wcscmp(meant, port) != 0;
  }
  return false;
}

void errorWords(Error error, wchar_t* text, size_t capacity) {
  switch (error.kind) {
    case kErrorRefused:
      return copyText(L"the line settings were refused", text, capacity);
    case kErrorStalled:
      swprintf(text, capacity, L"the device took no bytes for %d seconds",
               kStallMilliseconds / 1000);
      return;
    case kErrorNotSerial:
      return copyText(L"not a serial device", text, capacity);
    case kErrorBusy:
      swprintf(text, capacity, L"in use by another run or program (waited %d seconds)",
               int(kTurnMilliseconds / 1000));
      return;
    case kErrorDenied:
      return copyText(L"Permission denied", text, capacity);
    case kErrorNotRegular:
      if (error.code == 0) return copyText(L"not a regular file", text, capacity);
      break;
    default:
      break;
  }
  systemErrorText(error.code, text, capacity);
}

const wchar_t* portFailure(const wchar_t* port, Error error, wchar_t* text, size_t capacity) {
  int prefix = swprintf(text, capacity, L"cannot open port %ls: ", port);
  if (prefix < 0) prefix = 0;
  wchar_t* reason = text + prefix;
  size_t left = capacity - size_t(prefix);
  if (wcscmp(port, kExamplePort) == 0) {
    copyText(
        L"varnok.ini still has the example's port: put yours there (varnok --ports lists "
        L"them)",
        reason, left);
    return reason;
  }
  errorWords(error, reason, left);
  size_t used = wcslen(reason);
  wchar_t meant[16];
  wchar_t advice[400] = L"";
  if (comNameMeant(port, meant))
    swprintf(advice, 400, L"; did you mean %ls?", meant);
  else if (error.kind == kErrorDenied)
    accessWords(port, advice, 400);
  if (advice[0]) copyText(advice, reason + used, left - used);
  return reason;
}

void deviceWords(const wchar_t* port, wchar_t* text, size_t capacity) {
  wchar_t path[kPathCapacity], target[kPathCapacity];
  deviceTarget(port, path, target);
  if (wcscmp(path, target) != 0)
    swprintf(text, capacity, L"%ls (through %ls)", target, path);
  else
    copyText(path, text, capacity);
}

void holderWords(const wchar_t* port, wchar_t* text, size_t capacity) {
  Holder holders[16];
  int count = portHolders(port, holders, 16);
  text[0] = 0;
  size_t used = 0;
  for (int i = 0; i < count && used < capacity; ++i) {
    int n = swprintf(text + used, capacity - used, L"%ls pid %ld (%ls)", i ? L"," : L":",
                     holders[i].pid, holders[i].name);
    if (n < 0) break;
    used += size_t(n);
  }
}

void settingsFailure(wchar_t* text, size_t capacity) {
  wchar_t folder[kPathCapacity];
  workingDirectory(folder, kPathCapacity);
  Error error = {kErrorNone, 0};
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
      errorWords(error, reason, 200);
      swprintf(text, capacity, L"cannot read varnok.ini in %ls: %ls", folder, reason);
      break;
    }
    case kFileReadable:
      swprintf(text, capacity,
               L"varnok.ini in %ls has no port under [Settings]: put port=... there", folder);
      break;
  }
}

bool pauseWarning(const Settings& settings, wchar_t* warning, size_t capacity) {
  if (settings.pausePlain) return false;
  const wchar_t* digits = settings.pauseText;
  while (*digits == L' ' || *digits == L'\t') ++digits;
  size_t count = wcsspn(digits, L"0123456789");
  bool number = count > 0 && digits[count] == 0;
  swprintf(warning, capacity,
           number ? L"sleepTime=%ls is over the longest pause: the pause is %d milliseconds"
                  : L"sleepTime=%ls is not a plain number: the pause is %d milliseconds",
           settings.pauseText, int(settings.pause));
  return true;
}

void runLogFailure(Error error, wchar_t* text, size_t capacity) {
  wchar_t reason[200];
  if (error.code)
    systemErrorText(error.code, reason, 200);
  else
    errorWords(error, reason, 200);
  wchar_t advice[600] = L"";
  RunLogOwner o;
  runLogOwner(&o);
  if (error.kind == kErrorDenied && o.known && !o.mine) {
    if (o.logExists)
      swprintf(advice, 600, L" (it belongs to %ls: sudo chown %ls '%ls/varnok.out')", o.owner,
               o.user, o.folder);
    else
      swprintf(advice, 600, L" (the folder belongs to %ls: sudo chown %ls '%ls')", o.owner, o.user,
               o.folder);
  }
  swprintf(text, capacity, L"cannot open the run log varnok.out: %ls%ls", reason, advice);
}
