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

// The names of the ports present, for a message: "; present: COM3, COM5"
// or the by-id names; "" where there are none.
void presentPorts(wchar_t* text, size_t capacity) {
  struct List {
    wchar_t* text;
    size_t capacity, used;
  } list = {text, capacity, 0};
  text[0] = 0;
  listPorts(
      [](const PortInfo& port, void* context) {
        List* l = static_cast<List*>(context);
        if (port.console || l->used + 1 >= l->capacity) return;
        int n = swprintf(l->text + l->used, l->capacity - l->used, L"%ls%ls",
                         l->used ? L", " : L"; present: ", port.name);
        if (n > 0) l->used += size_t(n);
      },
      &list);
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
  if (comNameMeant(port, meant)) {
    swprintf(advice, 400, L"; did you mean %ls?", meant);
  } else if (error.kind == kErrorDenied) {
    accessWords(port, advice, 400);
  } else if (error.kind == kErrorNotFound) {
    wchar_t present[300];
    presentPorts(present, 300);
    swprintf(advice, 400, L"; is it plugged in? varnok --ports lists the ports%ls", present);
  }
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

void settingsFailure(const Settings& settings, wchar_t* text, size_t capacity) {
  wchar_t folder[kPathCapacity];
  workingDirectory(folder, kPathCapacity);
  Error error = {kErrorNone, 0};
  switch (settings.file) {
    case kFileMissing:
      // Windows hides known extensions: Notepad's "varnok.ini" is
      // varnok.ini.txt on disk. Anywhere else a recorder may have started
      // us in a folder of its own (even /): the fix is to name the right
      // one, never to take this one over.
      if (fileState(L".\\varnok.ini.txt", &error) == kFileReadable)
        swprintf(text, capacity,
                 L"no varnok.ini in the working directory %ls, but a varnok.ini.txt: rename it "
                 L"to varnok.ini",
                 folder);
      else
        swprintf(text, capacity,
                 L"no varnok.ini in the working directory %ls: name the folder that holds it "
                 L"with -C (varnok -C /path/to/folder CHANNEL)",
                 folder);
      break;
    case kFileUnreadable: {
      wchar_t reason[200];
      errorWords(settings.fileError, reason, 200);
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
  const wchar_t* what = L"is not a plain number";
  switch (settings.pauseForm) {
    case kPausePlain:
      return false;
    case kPauseTooLong:
      what = L"is over the longest pause";
      break;
    case kPauseBelowZero:
      what = L"is below zero";
      break;
    case kPauseNotPlain:
      break;
  }
  swprintf(warning, capacity, L"sleepTime=%ls %ls: the pause is %d milliseconds",
           settings.pauseText, what, int(settings.pause));
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

int takenAdapterWords(void (*say)(const wchar_t* words)) {
  TakenAdapter adapters[8];
  int count = takenAdapters(adapters, 8);
  for (int i = 0; i < count; ++i) {
    const TakenAdapter& a = adapters[i];
    wchar_t who[200] = L"a program (root may see which)";
    if (a.holderCount) swprintf(who, 200, L"%ls (pid %ld)", a.holders[0].name, a.holders[0].pid);
    // brltty takes these chips for braille displays the moment they are
    // plugged in; it is the usual taker on Ubuntu and Raspberry Pi OS.
    const wchar_t* fix =
        a.holderCount && wcscmp(a.holders[0].name, L"brltty") == 0
            ? L"the braille display service takes such adapters: remove it (sudo apt remove "
              L"brltty) or disable its udev rule, then plug the adapter in again"
            : L"stop it, then plug the adapter in again";
    wchar_t words[kMessageCapacity];
    swprintf(words, kMessageCapacity,
             L"the USB serial adapter %ls has no port: %ls took it for itself through usbfs "
             L"(%ls); %ls",
             a.about, who, a.node, fix);
    say(words);
  }
  return count;
}
