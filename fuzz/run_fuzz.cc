// Any argument, as wide characters, through the whole run with a fake
// line: an option (anything starting with "-", and "/?") touches neither
// the line nor the log, but --check, which opens and sets the line and
// writes nothing; a channel is either refused, with nothing sent, or
// gives exactly one 33-byte message per digit, the right one; every line of
// the log ends in CR LF and each character is one byte.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "exit_status.h"
#include "fake_platform.h"
#include "key_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring channel;
  for (size_t i = 0; i + 1 < size; i += 2) {
    wchar_t c = wchar_t(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    channel += c;
  }
  fake::reset();
  fake::settings[L"port"] = L"COM1";
  fake::settings[L"sleepTime"] = L"0";
  std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"varnok"), &channel[0], nullptr};
  int status = run(2, argv.data());

  if ((!channel.empty() && channel[0] == L'-') || channel == L"/?") {
    bool known = channel == L"-h" || channel == L"--help" || channel == L"/?" ||
                 channel == L"--version" || channel == L"--ports" || channel == L"--check";
    bool touchesLine = channel == L"--check";
    if (status != (known ? kExitOk : kExitUsage) || touchesLine == fake::calls.empty() ||
        !fake::writes().empty() || !fake::logBytes().empty())
      abort();
    return 0;
  }

  bool digits = !channel.empty() && channel.find_first_not_of(L"0123456789") == std::wstring::npos;
  std::vector<std::string> writes = fake::writes();
  if (digits) {
    if (status != kExitOk || writes.size() != channel.size()) abort();
    for (size_t i = 0; i < channel.size(); ++i) {
      const uint8_t* m = fillKeySlot(keyCodes[channel[i] - L'0']);
      if (writes[i] != fake::hex(m, kKeyMessageSize)) abort();
    }
  } else if (status != kExitUsage || !fake::calls.empty()) {
    abort();
  }

  std::string log = fake::logBytes();
  if (log.size() < 2 || log.compare(log.size() - 2, 2, "\r\n") != 0) abort();
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i] == '\n' && (i == 0 || log[i - 1] != '\r')) abort();
  std::string channelLine = "| Changing to channel ";
  for (wchar_t c : channel)
    channelLine += c == L'\n' ? std::string("\r\n") : std::string(1, c > 255 ? '?' : char(c));
  if (log.find(channelLine + "\r") == std::string::npos) abort();
  return 0;
}
