// The settings, from section "Settings" of varnok.ini in the working
// directory: the port and the pause after each digit, and what is odd
// about them. The run and varnok --check both read them here, once each.
#ifndef VARNOK_SETTINGS_H
#define VARNOK_SETTINGS_H

#include <stdint.h>

#include "platform.h"

const int kSettingCapacity = 260;

/// The settings file, named the Windows way, relative to the working
/// directory.
extern const wchar_t kSettingsFile[];

/// The value of the latest settings read; every read overwrites it.
extern wchar_t settingValue[kSettingCapacity];

/// The value of `key` in section "Settings" of varnok.ini, held in
/// settingValue and cut to 259 characters; nullptr when the file, the
/// section or the key is missing or the value is empty.
const wchar_t* readSetting(const wchar_t* key);

/// The pause after each digit where "sleepTime" gives none.
const int32_t kDefaultPause = 200;

/// The longest pause taken after a digit, in milliseconds. A box needs well
/// under a second per key; a pause of days would leave the recorder that
/// called us waiting as if we hung.
const int32_t kLongestPause = 10000;

/// The pause a "sleepTime" value gives: leading blanks, a sign and decimal
/// digits up to the first other character; no digits give 0, a negative
/// value 0, a value beyond kLongestPause (however many digits) that.
int32_t pauseFromText(const wchar_t* text);

/// What a "sleepTime" value is, for the warning about it.
enum PauseForm {
  kPausePlain,      // absent, or decimal digits alone up to kLongestPause
  kPauseTooLong,    // digits alone, over kLongestPause
  kPauseBelowZero,  // a minus and digits alone
  kPauseNotPlain,   // anything else: units, a fraction, words
};

/// What the settings file gives.
struct Settings {
  FileState file;   // whether varnok.ini is there and can be read
  Error fileError;  // why not, where it cannot
  bool hasPort;
  wchar_t port[kSettingCapacity];  // "" when there is none
  bool hasPause;
  wchar_t pauseText[kSettingCapacity];  // "sleepTime" as written
  int32_t pause;                        // the pause it gives, or kDefaultPause
  PauseForm pauseForm;
};

/// Reads "port", then "sleepTime", into `settings`.
void readSettings(Settings* settings);

#endif  // VARNOK_SETTINGS_H
