/* bytes.h - 16- and 32-bit numbers read from and written to byte strings in a fixed
 * order, whatever the host's own.
 *
 * Big-endian (most significant byte first): the session frame, the application block,
 * the centre log-in record, the message words and long words, IPv4 and TCP headers.
 * Little-endian (least significant byte first): the length fields of link script files
 * and the headers of pcap capture files.
 *
 * The pointers need no alignment.  Compiles as C and C++ (the serial-port component and
 * the tests use it too). */
#ifndef VARNEK_SUPPORT_BYTES_H
#define VARNEK_SUPPORT_BYTES_H

#include <stdint.h>

static inline uint16_t Bytes_GetBE16(const uint8_t *p)
{
    return (uint16_t)((unsigned)p[0] << 8 | p[1]);
}

static inline uint32_t Bytes_GetBE32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static inline void Bytes_PutBE16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

static inline void Bytes_PutBE32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

static inline uint16_t Bytes_GetLE16(const uint8_t *p)
{
    return (uint16_t)((unsigned)p[1] << 8 | p[0]);
}

static inline uint32_t Bytes_GetLE32(const uint8_t *p)
{
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

static inline void Bytes_PutLE16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static inline void Bytes_PutLE32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

#endif
