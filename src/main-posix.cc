// The program's entry on POSIX: arguments arrive as UTF-8 and are widened,
// as Windows hands them to a wide-character program.
#include <signal.h>
#include <stdlib.h>

#include "command_line.h"
#include "exit_status.h"
#include "platform-posix.h"
#include "platform.h"
#include "run_log.h"

int main(int argc, char** argv) {
  openStandardStreams();
  // A caller that closed its end of our stderr must not kill the run half-way.
  signal(SIGPIPE, SIG_IGN);
  wchar_t** wideArgs = static_cast<wchar_t**>(calloc(size_t(argc) + 1, sizeof(wchar_t*)));
  for (int i = 0; wideArgs && i < argc; ++i) {
    wideArgs[i] = widenUtf8(argv[i]);
    if (!wideArgs[i]) wideArgs = nullptr;
  }
  if (!wideArgs) {
    complain(L"out of memory");
    return kExitFailed;
  }
  int status = run(argc, wideArgs);
  for (int i = 0; i < argc; ++i) free(wideArgs[i]);
  free(wideArgs);
  return status;
}
