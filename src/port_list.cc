#include "port_list.h"

#include <stdio.h>
#include <wchar.h>

#include "advice.h"
#include "exit_status.h"
#include "platform.h"
#include "run_log.h"

namespace {

// More serial ports than any machine has: the rest are not listed.
const int kMostPorts = 64;

struct Ports {
  PortInfo ports[kMostPorts];
  int count;
};

// Keeps a port for the list, or says why the console is not in it.
void keep(const PortInfo& port, void* context) {
  Ports* found = static_cast<Ports*>(context);
  if (port.console && port.alias[0])
    complain(L"%s (%s) is the system console, not listed: no place for a tuner", port.name,
             port.alias);
  else if (port.console)
    complain(L"%s is the system console, not listed: no place for a tuner", port.name);
  else if (found->count < kMostPorts)
    found->ports[found->count++] = port;
}

// The second column: the device a by-id name leads to, or the COM name.
const wchar_t* secondColumn(const PortInfo& port) {
  return port.device[0] ? port.device : port.alias[0] ? port.alias : L"-";
}

size_t widest(const Ports& found, int column) {
  size_t width = 0;
  for (int i = 0; i < found.count; ++i) {
    const PortInfo& p = found.ports[i];
    size_t w = wcslen(column == 0 ? p.name : column == 1 ? secondColumn(p) : p.driver);
    if (w > width) width = w;
  }
  return width;
}

void sayTaken(const wchar_t* words) {
  complain(L"%s", words);
}

}  // namespace

int listSerialPorts() {
  static Ports found;
  found.count = 0;
  listPorts(keep, &found);
  size_t widths[3] = {widest(found, 0), widest(found, 1), widest(found, 2)};
  for (int i = 0; i < found.count; ++i) {
    const PortInfo& p = found.ports[i];
    wchar_t line[kMessageCapacity];
    swprintf(line, kMessageCapacity, L"%-*ls  %-*ls  %-*ls  %ls", int(widths[0]), p.name,
             int(widths[1]), secondColumn(p), int(widths[2]), p.driver, p.about);
    // No blanks at the end of a line.
    for (size_t n = wcslen(line); n > 0 && line[n - 1] == L' '; --n) line[n - 1] = 0;
    say(L"%s", line);
  }
  takenAdapterWords(sayTaken);
  if (found.count == 0) complain(L"no serial ports found (a USB adapter: is it plugged in?)");
  return fflush(stdout) == 0 && found.count > 0 ? kExitOk : kExitFailed;
}
