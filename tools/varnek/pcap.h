// pcap.h - captures that Wireshark opens: a link script file turned into link frames,
// and a TCP conversation rebuilt from the bytes a relay passed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "station.h"

// A TCP conversation written as Ethernet/IPv4/TCP packets with correct sequence numbers
// and checksums: the handshake when it starts, one segment per piece sent, the two FINs
// at the end.  Side 0 is the caller (127.0.0.1, port 40000), side 1 the listener
// (127.0.0.1, port 5005, where the dissector looks by default).
struct PcapTcp {
    FILE *file = nullptr;
    uint32_t seq[2] = {1000, 5000};
    uint16_t ipId = 1;
};

// Creates the file and writes the handshake; false when it cannot be written.
bool PcapTcp_Open(PcapTcp &tcp, const std::string &path);
// One segment from side (0 caller, 1 listener) carrying the bytes.
void PcapTcp_Segment(PcapTcp &tcp, int side, const uint8_t *data, size_t length);
// The closing FINs; closes the file.
void PcapTcp_Close(PcapTcp &tcp);

// `varnek script pcap FILE`: every frame record of a link script file as one USER0 record
// on standard output, a time-out or a pause only moving the clock.  Exit code.
int ExportScript(const std::string &path);
