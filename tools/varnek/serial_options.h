// serial_options.h - the varnek station's serial line settings (--baud, --data-bits,
// --parity, --stop-bits, --flow), the reason a port did not open, and `varnek ports`.
#pragma once

#include <cstdint>
#include <string>

// The seven settings the station opens a link port with (the serial-port component's).
struct SerialSettings {
    uint32_t baud = 9600;
    uint16_t dataBits = 8;
    char parity = 'N';
    uint16_t stopBits = 1;
    uint16_t flow = 0;       // 0 none, 1 RTS/CTS, 2 XON/XOFF
    uint16_t waitMs = 1000;  // the component's character wait
};

extern const char *SERIAL_OPTIONS_HELP;

// True for a word that names a serial setting (each takes one value).
bool Serial_IsOption(const std::string &word);
// Stores the value of a serial setting; false (with a line on standard error) when the
// value is not one the port can take.
bool Serial_SetOption(SerialSettings &settings, const std::string &word, const std::string &value);

// Why the component refused the last open, or "" when it does not say.
std::string Serial_OpenError();

// Lists the serial ports of this machine, one a line; returns the exit code.
int Serial_ListPorts();
