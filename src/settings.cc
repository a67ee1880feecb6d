#include "settings.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

wchar_t settingValue[kSettingCapacity];

const wchar_t kSettingsFile[] = L".\\varnok.ini";

const wchar_t* readSetting(const wchar_t* key) {
  if (readProfileString(L"Settings", key, settingValue, kSettingCapacity, kSettingsFile) == 0)
    return nullptr;
  return settingValue;
}

int32_t pauseFromText(const wchar_t* text) {
  // wcstol saturates where the value overflows, so any number of digits is
  // safe here.
  long value = wcstol(text, nullptr, 10);
  if (value < 0) return 0;  // the wait takes an unsigned count: -1 would be forever
  if (value > kLongestPause) return kLongestPause;
  return int32_t(value);
}

namespace {

// What `text` is, leading blanks aside.
PauseForm pauseForm(const wchar_t* text) {
  while (*text == L' ' || *text == L'\t') ++text;
  bool negative = *text == L'-';
  text += negative;
  size_t count = wcsspn(text, L"0123456789");
  if (count == 0 || text[count] != 0) return kPauseNotPlain;
  if (negative) return kPauseBelowZero;
  return wcstol(text, nullptr, 10) > kLongestPause ? kPauseTooLong : kPausePlain;
}

}  // namespace

void readSettings(Settings* settings) {
  memset(settings, 0, sizeof *settings);
  settings->file = fileState(kSettingsFile, &settings->fileError);
  // settingValue holds one value at a time: the port is copied out before
  // the pause is read.
  const wchar_t* port = readSetting(L"port");
  settings->hasPort = port != nullptr;
  if (port) wcscpy(settings->port, port);
  const wchar_t* pause = readSetting(L"sleepTime");
  settings->hasPause = pause != nullptr;
  settings->pause = pause ? pauseFromText(pause) : kDefaultPause;
  settings->pauseForm = pause ? pauseForm(pause) : kPausePlain;
  if (pause) wcscpy(settings->pauseText, pause);
}
