// serial.h - the varnek station's serial side: opening a link port, the centre
// simulator's log-in, and the dump of script files.
#pragma once

#include <string>

#include "serial_options.h"
#include "station.h"

// Points the component at the port's line (when spec is given) and opens the port with
// the settings.
bool OpenSerialPort(short port, const std::string &lineSpec, const char *program,
                    const SerialSettings &settings = SerialSettings());

// Records the port's link frames, both directions, in a pcap file from its opening on
// (the serial-port component does it; DRUMMEL_PCAP<port> names the file).
void CaptureSerialPort(short port, const std::string &file);

// The centre's side of a log-in on an open port: the greeting, the 71-byte record
// checked, the answer.  False (with a line on standard output) when it went wrong.
bool CentreLogIn(short port);

// One line per record of a script file.
int DumpScript(const std::string &path);
