// The run log, varnok.out, and the one-line messages on stderr.
//
// The log's content is what binds: each line is its format with the values
// put in, one byte per character (a character above 255, which one byte
// cannot hold, becomes '?'), every line feed written as CR LF. Each call
// reaches the file before it returns, so a run stopped half-way keeps the
// lines it wrote.
//
// Formats know two conversions: "%s" puts in a wide string and "%d" a
// signed int; every other character stands for itself.
#ifndef VARNOK_RUN_LOG_H
#define VARNOK_RUN_LOG_H

#include <stdio.h>

/// The run log stream; opened and closed by the run, null while it is not
/// open (then logPrint writes nothing).
extern FILE* logFile;

/// Writes `format` with its values to the run log and flushes it.
void logPrint(const wchar_t* format, ...);

/// Writes "varnok: ", `format` with its values and a line feed to stderr,
/// characters as UTF-8.
void complain(const wchar_t* format, ...);

/// Writes `format` with its values and a line feed to stdout, as UTF-8.
void say(const wchar_t* format, ...);

#endif  // VARNOK_RUN_LOG_H
