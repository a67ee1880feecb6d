// The program's entry on Windows: the wide-character argument vector goes
// straight to the run.
#include "command_line.h"
#include "exit_status.h"
#include "platform.h"

int wmain(int argc, wchar_t** argv) {
  openStandardStreams();
  return run(argc, argv);
}
