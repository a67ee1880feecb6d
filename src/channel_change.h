// The channel-change run: the whole life of the program.
//
// It takes the channel from the command line, appends a framed header to
// the run log, reads the port and the pause from varnok.ini in the working
// directory, opens the serial line, has one key command sent per digit with
// a pause after each (the last included), closes the line and the log, and
// gives the exit status.
#ifndef VARNOK_CHANNEL_CHANGE_H
#define VARNOK_CHANNEL_CHANGE_H

#include <stdint.h>

const int kSettingCapacity = 260;

/// Exit statuses of the run.
enum {
  kExitChanged = 0,  // every digit was written (or help was asked for)
  kExitFailed = 1,   // the port did not open or a write failed
  kExitUsage = 2,    // no channel, an unknown option, or a channel not all digits
};

/// The settings file, named the Windows way, relative to the working
/// directory.
extern const wchar_t kSettingsFile[];

/// The value of the latest settings read; every read overwrites it.
extern wchar_t settingValue[kSettingCapacity];

/// The pause after each digit in milliseconds; 200 unless "sleepTime" says
/// otherwise.
extern int32_t sleepTime;

/// The value of `key` in section "Settings" of varnok.ini, held in
/// settingValue and cut to 259 characters; nullptr when the file, the
/// section or the key is missing or the value is empty.
const wchar_t* readSetting(const wchar_t* key);

/// The longest pause taken after a digit, in milliseconds. A box needs well
/// under a second per key; a pause of days would leave the recorder that
/// called us waiting as if we hung.
const int32_t kLongestPause = 10000;

/// The pause a "sleepTime" value gives: leading blanks, a sign and decimal
/// digits up to the first other character; no digits give 0, a negative
/// value 0, a value beyond kLongestPause (however many digits) that.
int32_t pauseFromText(const wchar_t* text);

/// Writes the header for `channel` to the run log: a rule, the local time,
/// the channel as given, the number of its characters, the rule again.
void writeRunHeader(const wchar_t* channel);

/// The run. argv[1] is the channel, or "-C DIR" comes first and the
/// channel after it; further arguments are ignored. "--help", "-h" and "/?"
/// print the usage, "--version" the version, "--check" checks the set-up
/// and "--ports" lists the serial ports, on stdout, touching neither log nor
/// line; any other argument that starts with "-" is refused as an unknown
/// option, with no record.
int run(int argc, wchar_t** argv);

#endif  // VARNOK_CHANNEL_CHANGE_H
