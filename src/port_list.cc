#include "port_list.h"

#include <stdio.h>

#include "exit_status.h"
#include "platform.h"
#include "run_log.h"

namespace {

void printPort(const wchar_t* line, void*) {
  say(L"%s", line);
}

}  // namespace

int listSerialPorts() {
  if (listPorts(printPort, nullptr) == 0) say(L"no serial ports found");
  return fflush(stdout) == 0 ? kExitOk : kExitFailed;
}
