// varnok --ports: the serial ports present, one a line, the name to put in
// varnok.ini first and the rest in aligned columns, so that a script can
// take the first word and a person can tell the ports apart. No port is
// opened. The system console is left out, with a word on stderr, and so
// is, with its fix, a USB adapter that another program took for itself.
#ifndef VARNOK_PORT_LIST_H
#define VARNOK_PORT_LIST_H

/// Prints the list on stdout; kExitOk, or kExitFailed when no port was
/// found (said on stderr) or stdout cannot be written.
int listSerialPorts();

#endif  // VARNOK_PORT_LIST_H
