// capture.h - recording a port's link frames, both directions, into a pcap file.
//
// When the environment variable DRUMMEL_PCAP<n> names a file as port n opens, the file
// is created anew (an earlier one is replaced) and every link frame that passes the port
// is appended as it completes: the bytes from a start byte 0x12 to the end byte 0x0D, as
// they were on the line, one record each, link type USER1 (148), the record's first
// byte telling the direction seen from this port (0 received, 1 sent).  Bytes outside
// a frame (line noise) are not recorded; a new 0x12 starts the frame again, as the
// link's receiver does; a frame longer than 16 KiB without its end byte is recorded as
// far as it went.  Each record is flushed at once, so the file can be read while the
// port is open.  tools/wireshark/varnek_link.lua dissects it.
#pragma once

#include <cstddef>
#include <cstdint>

void Capture_Open(short port);
void Capture_Close(short port);
void Capture_Sent(short port, const uint8_t *bytes, size_t length);
void Capture_Received(short port, const uint8_t *bytes, size_t length);
