// address.h - the address text of an open, read in one place.
//
// An address text is 16 bytes, NUL-terminated: a dotted IPv4 address in the zero-padded
// form "%3.3d.%3.3d.%3.3d.%3.3d" (a TCP session), or a decimal serial port number.  A
// text with a full stop in its first 16 bytes is a TCP address; any other is a serial
// port number, read as atoi reads it (blanks, a sign, digits; no number reads 0).  Both
// the session layer's choice of transport and the TCP transport's opens read the text
// here, with the one number reader below.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t ADDRESS_TEXT_SIZE = 16;
constexpr uint16_t ADDRESS_NO_PORT = 0xFFFF;  // a serial port number no port has

// Whether the text is a TCP address: a full stop within its first 16 bytes.
bool ADDRESS_IsDotted(const char *text);

// The serial port a text that is not dotted names: its number, 0 when it holds none,
// ADDRESS_NO_PORT for a number above 65535 or below 0.
uint16_t ADDRESS_SerialPort(const char *text);

// Reads a dotted text at its fixed positions (0, 4, 8, 12), each number taken modulo
// 256, writing NUL over the separators at 3, 7 and 11 that lie inside the text, so a
// text can be read again.  The text ends at a NUL that is not at a separator position,
// or after 16 bytes; nothing is read or written past that.
void TCPAPI_ParseAddress(char *text, uint8_t addr[4]);
