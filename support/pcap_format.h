// pcap_format.h - the headers of a classic pcap capture file (the format tcpdump and
// Wireshark read), written little-endian with microsecond times.
//
// Link types used by this project:
//   PCAP_ETHERNET  a TCP conversation rebuilt with Ethernet, IPv4 and TCP headers
//   PCAP_USER0     one bare serial link frame, 0x12 ... 0x0D, as it was on the line
//   PCAP_USER1     one direction byte (PCAP_RECEIVED or PCAP_SENT, seen from the port
//                  that recorded), then the bare link frame
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

constexpr uint32_t PCAP_ETHERNET = 1;
constexpr uint32_t PCAP_USER0 = 147;
constexpr uint32_t PCAP_USER1 = 148;
constexpr uint8_t PCAP_RECEIVED = 0;
constexpr uint8_t PCAP_SENT = 1;
constexpr uint32_t PCAP_SNAPLEN = 65535;
constexpr size_t PCAP_FILE_HEADER = 24;
constexpr size_t PCAP_RECORD_HEADER = 16;

// The file header: magic, version 2.4, no time zone, snapshot length, link type.
inline void Pcap_FileHeader(uint8_t out[PCAP_FILE_HEADER], uint32_t linkType)
{
    Bytes_PutLE32(out, 0xA1B2C3D4u);
    out[4] = 2;
    out[5] = 0;
    out[6] = 4;
    out[7] = 0;
    Bytes_PutLE32(out + 8, 0);
    Bytes_PutLE32(out + 12, 0);
    Bytes_PutLE32(out + 16, PCAP_SNAPLEN);
    Bytes_PutLE32(out + 20, linkType);
}

// A record header for length bytes at the given time (microseconds since 1970); the
// bytes kept are cut to the snapshot length.  Returns how many bytes to write after it.
inline uint32_t Pcap_RecordHeader(uint8_t out[PCAP_RECORD_HEADER], uint64_t microseconds, size_t length)
{
    uint32_t kept = length > PCAP_SNAPLEN ? PCAP_SNAPLEN : static_cast<uint32_t>(length);
    Bytes_PutLE32(out, static_cast<uint32_t>(microseconds / 1000000));
    Bytes_PutLE32(out + 4, static_cast<uint32_t>(microseconds % 1000000));
    Bytes_PutLE32(out + 8, kept);
    Bytes_PutLE32(out + 12, length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length));
    return kept;
}
