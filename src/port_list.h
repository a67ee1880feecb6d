// varnok --ports: the serial ports present, one a line, with what tells
// them apart, so that the right name goes into varnok.ini. No port is
// opened.
#ifndef VARNOK_PORT_LIST_H
#define VARNOK_PORT_LIST_H

/// Prints the list on stdout, or a line saying there is none; kExitOk, or
/// kExitFailed when stdout cannot be written.
int listSerialPorts();

#endif  // VARNOK_PORT_LIST_H
